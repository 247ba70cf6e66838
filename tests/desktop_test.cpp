// kxscan.exe in real X windows (tests/e2e/run-desktop.sh runs these under
// Xvfb): screenshots and real input through the X server.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "resources/resource.h"
#include "tests/support/kxscan_run.h"

namespace {

// Runs a shell command on the Linux side (drive Z: is the Linux root) and
// returns what it printed. Wine does not report a Unix child's end reliably,
// so the command leaves a mark when it is done.
std::string Shell(const std::string& command) {
    static int counter = 0;
    const std::string base = "/tmp/kxdesktop_" + std::to_string(::GetCurrentProcessId()) + "_" +
                             std::to_string(counter++);
    auto windows = [](std::string path) {
        for (char& c : path) c = c == '/' ? '\\' : c;
        return "Z:" + path;
    };
    std::string script = "(" + command + ") >" + base + ".out 2>&1; touch " + base + ".done";
    std::string quoted;
    for (char c : script) quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
    kxtest::ChildProcess shell;
    if (!shell.Start("Z:\\bin\\sh -c \"" + quoted + "\"")) return "";
    for (int wait = 0; wait < 1500 && !kxtest::FileExists(windows(base + ".done")); ++wait) ::Sleep(20);
    std::string output = kxtest::ReadFile(windows(base + ".out"));
    ::DeleteFileA(windows(base + ".out").c_str());
    ::DeleteFileA(windows(base + ".done").c_str());
    return output;
}

// The colour of a pixel of a PNG file, as 0xRRGGBB; -1 when unreadable.
long PixelOf(const std::string& png, int x, int y) {
    const std::string text = Shell("convert " + png + " -crop 1x1+" + std::to_string(x) + "+" + std::to_string(y) +
                                   " -depth 8 txt:- | sed -n 's/.*#\\([0-9A-Fa-f]\\{6\\}\\).*/\\1/p'");
    return text.size() >= 6 ? std::strtol(text.substr(0, 6).c_str(), nullptr, 16) : -1;
}

// The colour of a pixel of one of the program's pictures, as 0xRRGGBB.
long BitmapPixel(int id, int x, int y) {
    HBITMAP bitmap = ::LoadBitmapA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    const COLORREF colour = ::GetPixel(dc, x, y);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    ::DeleteObject(bitmap);
    return static_cast<long>(GetRValue(colour)) << 16 | GetGValue(colour) << 8 | GetBValue(colour);
}

// Where a client point of the window lies on the X screen.
POINT Screen(HWND window, int x, int y) {
    POINT point{x, y};
    ::ClientToScreen(window, &point);
    return point;
}

std::string ScreenshotPath(const char* name) {
    return kxtest::BuildFolder() + "\\desktop\\" + name;
}

std::string UnixPath(std::string path) {
    char full[MAX_PATH];
    ::GetFullPathNameA(path.c_str(), sizeof(full), full, nullptr);
    path = full;
    if (path.size() > 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') path = path.substr(2);
    for (char& c : path) c = c == '\\' ? '/' : c;
    return path;
}

TEST(Desktop, ScreenshotOfTheRunningWindowMatchesTheLayout) {
    kxtest::KxscanRun run;
    ASSERT_TRUE(run.Start(kxtest::NumberedFiles(20, 2), "", 300));
    ::Sleep(1500);  // two findings listed and the bar on its way
    const std::string png = UnixPath(ScreenshotPath("window_running.png"));
    Shell("import -window root " + png);

    struct Spot {
        const char* what;
        int x, y;      // client pixel
        int bitmap;    // picture that must show there, at (bx, by)
        int bx, by;
    };
    const Spot spots[] = {
        {"title band", 300, 5, IDB_BACKGROUND, 300, 5},
        {"picture beside the progress", 40, 60, IDB_BACKGROUND, 40, 60},
        {"bottom band", 400, 285, IDB_BACKGROUND, 400, 285},
        {"close button", 545, 11, IDB_CLOSE_NORMAL, 5, 9},
        {"pause button face", 464, 275, IDB_BUTTON_NORMAL, 4, 6},
        {"progress fill", 95, 80, 140, 0, 4},
    };
    for (const Spot& spot : spots) {
        SCOPED_TRACE(spot.what);
        const POINT at = Screen(run.window, spot.x, spot.y);
        EXPECT_EQ(PixelOf(png, at.x, at.y), BitmapPixel(spot.bitmap, spot.bx, spot.by));
    }
    // The rounded corner lets the black screen show through.
    const POINT corner = Screen(run.window, 0, 0);
    EXPECT_NE(BitmapPixel(IDB_BACKGROUND, 0, 0), 0);
    EXPECT_EQ(PixelOf(png, corner.x, corner.y), 0);
}

}  // namespace
