// kxscan.exe in real X windows (cmake/desktop-tests.sh runs these under
// Xvfb): screenshots and real input through the X server.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "logs/debug_log.h"
#include "resources/resource.h"
#include "tests/support/kxscan_run.h"

namespace {

using kxtest::Shell;

// A screenshot of the X screen, kept as desktop/NAME.png in the build tree
// for people to look at, and read back as 8-bit RGB.
struct Screenshot {
    explicit Screenshot(const std::string& name) {
        const std::string file = "desktop/" + name;
        Shell("import -window root " + file + ".png && convert " + file + ".png -depth 8 rgb:" + file + ".rgb");
        rgb = kxtest::ReadFile(kxtest::BuildFolder() + "\\desktop\\" + name + ".rgb");
    }
    COLORREF At(POINT p) const {
        const size_t at = (static_cast<size_t>(p.y) * ::GetSystemMetrics(SM_CXSCREEN) + p.x) * 3;
        return at + 2 < rgb.size() ? RGB(rgb[at], rgb[at + 1], rgb[at + 2]) : CLR_INVALID;
    }
    std::string rgb;
};

bool Light(COLORREF c) { return GetRValue(c) > 180 && GetGValue(c) > 180 && GetBValue(c) > 180; }

// One of the program's pictures in a memory context, for its pixels.
struct Picture {
    explicit Picture(int id) : bitmap(::LoadBitmapA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id))) {
        ::SelectObject(dc, bitmap);
    }
    ~Picture() {
        ::DeleteDC(dc);
        ::DeleteObject(bitmap);
    }
    COLORREF At(int x, int y) const { return ::GetPixel(dc, x, y); }
    HBITMAP bitmap;
    HDC dc = ::CreateCompatibleDC(nullptr);
};

// Rows of a 60 x 25 area holding a pixel for which `light` holds, inside
// the focus mark of a button (2 pixels in from its edge).
template <typename Light>
int LightRows(Light light) {
    int rows = 0;
    for (int y = 3; y < 22; ++y)
        for (int x = 3; x < 57; ++x)
            if (light(x, y)) {
                ++rows;
                break;
            }
    return rows;
}

// Rows of the 60 x 25 button at `origin` where a light pixel stands over a
// dark one of its face (black is the face's transparent colour): the caption.
int CaptionRows(const Screenshot& shot, POINT origin) {
    const Picture face(IDB_BUTTON_NORMAL);
    return LightRows([&](int x, int y) {
        const COLORREF under = face.At(x, y);
        return Light(shot.At({origin.x + x, origin.y + y})) && !Light(under) && under != 0;
    });
}

// The same for `text` drawn white on the button face in the window's font:
// the default GUI font at 12 pixels.
int LightRowsOfText(const std::string& text) {
    LOGFONTA font;
    ::GetObjectA(::GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
    font.lfHeight = 12;
    const Picture canvas(IDB_BUTTON_NORMAL);  // 60 x 25 and dark: the text is the only light
    ::SelectObject(canvas.dc, ::CreateFontIndirectA(&font));
    RECT area{0, 0, 60, 25};
    ::SetTextColor(canvas.dc, RGB(255, 255, 255));
    ::SetBkMode(canvas.dc, TRANSPARENT);
    ::DrawTextA(canvas.dc, text.c_str(), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    const int rows = LightRows([&](int x, int y) { return Light(canvas.At(x, y)); });
    ::DeleteObject(::SelectObject(canvas.dc, ::GetStockObject(SYSTEM_FONT)));
    return rows;
}

// Where a client point of the window lies on the X screen.
POINT Screen(HWND window, int x, int y) {
    POINT point{x, y};
    ::ClientToScreen(window, &point);
    return point;
}

using kxtest::KxscanRun;
using kxtest::ScannerText;

// A real click of the X server at a client point of the window.
void Click(HWND window, int x, int y) {
    const POINT at = Screen(window, x, y);
    Shell("xdotool mousemove " + std::to_string(at.x) + " " + std::to_string(at.y) + " click 1");
}

// Real keys of the X server (xdotool key names) to a window of the program:
// the visible X window at its place gets the input focus first.
void Keys(HWND window, const std::string& keys) {
    RECT place;
    ::GetWindowRect(window, &place);
    Shell("for w in $(xdotool search --onlyvisible --class kxscan); do eval $(xdotool getwindowgeometry --shell $w); "
          "[ $X = " + std::to_string(place.left) + " ] && [ $Y = " + std::to_string(place.top) +
          " ] && xdotool windowfocus $w && sleep 0.2 && xdotool key --delay 150 " + keys + "; done");
    ::Sleep(300);
}

// Answers the window's open message box with a real key (y or n).
bool AnswerBox(const KxscanRun& run, const char* key) {
    HWND box = run.WaitForBox();
    if (!box) return false;
    ::Sleep(300);
    Keys(box, key);
    return kxtest::Until([&] { return !::IsWindow(box); }, 2000);
}

// The control of the window that has the keyboard focus.
int FocusedId(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info) ? ::GetDlgCtrlID(info.hwndFocus) : 0;
}

bool WaitForCaption(const KxscanRun& run, int id, const char* key) { return run.WaitForText(id, ScannerText(key), 5000); }

// Visible X windows of kxscan.exe now.
int VisibleWindows() {
    const std::string ids = Shell("xdotool search --onlyvisible --class kxscan");
    return static_cast<int>(std::count(ids.begin(), ids.end(), '\n'));
}

TEST(Desktop, ScreenshotOfTheRunningWindowMatchesTheLayout) {
    kxtest::KxscanRun run;
    ASSERT_TRUE(run.Start(kxtest::NumberedFiles(20, 2), "", 300));
    ::Sleep(1500);  // two findings listed and the bar on its way
    const Screenshot shot("window_running");
    // client pixel, and the picture that must show there at (bx, by): title
    // band, picture beside the progress, bottom band, close button, pause
    // button face, progress fill
    const int spots[][5] = {{300, 5, IDB_BACKGROUND, 300, 5},   {40, 60, IDB_BACKGROUND, 40, 60},
                            {400, 285, IDB_BACKGROUND, 400, 285}, {545, 11, IDB_CLOSE_NORMAL, 5, 9},
                            {464, 275, IDB_BUTTON_NORMAL, 4, 6},  {95, 80, 140, 0, 4}};
    for (const auto& spot : spots)
        EXPECT_EQ(shot.At(Screen(run.window, spot[0], spot[1])), Picture(spot[2]).At(spot[3], spot[4])) << spot[0];
    // The pause button's caption stands as high as its text in the window font.
    EXPECT_EQ(CaptionRows(shot, Screen(run.window, 460, 269)), LightRowsOfText(ScannerText("PAUSE")));
    // The rounded corner lets the black screen show through.
    EXPECT_NE(Picture(IDB_BACKGROUND).At(0, 0), 0u);
    EXPECT_EQ(shot.At(Screen(run.window, 0, 0)), 0u);
}

}  // namespace

// A drag of the X server's mouse from a client point by (60, 40): how far the window moved.
POINT Drag(HWND window, int x, int y) {
    RECT before, after;
    ::GetWindowRect(window, &before);
    const POINT grip = Screen(window, x, y);
    Shell("xdotool mousemove " + std::to_string(grip.x) + " " + std::to_string(grip.y) +
          " mousedown 1 sleep 0.3 mousemove_relative -- 60 40 sleep 0.3 mouseup 1");
    ::GetWindowRect(window, &after);
    return {after.left - before.left, after.top - before.top};
}

KX_PROBE(hold_debug_log_lock) {
    const int lock = OpenLockFile((args[0] + "\\Logs\\kxlog.lock").c_str());
    std::printf("locked\n");
    std::fflush(stdout);
    ::Sleep(1500);
    CloseLockFile(lock);
    return lock == -1;
}

KX_PROBE(write_debug_line) { return AppendDebugLine((args[0] + "\\Logs").c_str(), "another process") != 0; }

TEST(Desktop, MoveBandPauseAndTheStopQuestionByState) {
    KxscanRun run;
    ASSERT_TRUE(run.Start(kxtest::NumberedFiles(50), "", 150));
    auto scanned = [&] { return run.Lines("ScanVirus ("); };
    ASSERT_TRUE(run.WaitForLines("ScanVirus (", 2));
    const POINT band = Drag(run.window, 300, 23), below = Drag(run.window, 300, 24);
    EXPECT_TRUE(band.x == 60 && band.y == 40 && below.x == 0 && below.y == 0);

    Click(run.window, 561, 11);  // close while running: held while asked, No lets it run on
    char question[512] = {};
    ::GetDlgItemTextA(run.WaitForBox(), 0xFFFF, question, sizeof(question));
    EXPECT_EQ(question, ScannerText("SCANNIG"));
    int count = scanned();
    ::Sleep(600);
    EXPECT_LE(scanned(), count + 1);
    ASSERT_TRUE(AnswerBox(run, "n"));
    EXPECT_TRUE(run.WaitForLines("ScanVirus (", scanned() + 2));

    // Pause while another process holds the debug log: the window answers at
    // once, the walk stays held within one file, and holds no lock others need.
    kxtest::ChildProcess holder;
    ASSERT_TRUE(kxtest::StartProbe(&holder, "hold_debug_log_lock", {run.install.Path()}));
    for (int wait = 0; wait < 100 && holder.Output().find("locked") == std::string::npos; ++wait) ::Sleep(20);
    Click(run.window, 490, 281);
    ASSERT_TRUE(WaitForCaption(run, 1011, "RESTART"));
    count = scanned();
    EXPECT_TRUE(holder.Wait(10000));
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(kxtest::RunProbe("write_debug_line", {run.install.Path()}, {}, 10000).exitCode, 0u);
    EXPECT_LT(::GetTickCount() - start, 3000u);
    Click(run.window, 561, 11);
    ASSERT_TRUE(AnswerBox(run, "n"));
    ::Sleep(600);
    EXPECT_LE(scanned(), count + 1);
    EXPECT_EQ(run.Text(1011), ScannerText("RESTART"));
    Click(run.window, 490, 281);
    EXPECT_TRUE(WaitForCaption(run, 1011, "PAUSE"));
    EXPECT_TRUE(run.WaitForLines("ScanVirus (", count + 3));

    Click(run.window, 490, 281);
    ASSERT_TRUE(WaitForCaption(run, 1011, "RESTART"));
    Click(run.window, 555, 281);  // cancel while paused: Enter answers Yes and releases it
    ASSERT_TRUE(AnswerBox(run, "Return"));
    const std::string stopped = ScannerText("SCANCANCEL").substr(0, 8);
    EXPECT_TRUE(kxtest::Until([&] { return run.Text(1010).find(stopped) != std::string::npos; }, 5000)) << run.Text(1010);
    EXPECT_LT(scanned(), 50);
    EXPECT_TRUE(::IsWindowVisible(run.window)) << "the window stays after a confirmed stop";
    std::string lastScan;
    EXPECT_FALSE(kxtest::RegGetString("SOFTWARE\\Tarnwick Systems\\Korvex\\Events\\status", "LastScan", &lastScan));
}

// Six findings: through a target named by a folder link, through a target
// named by its short name, and four in data\ (one in data\sub, one in
// data\dot.). After the scan, sub becomes a link to a folder holding a file of
// the same name, and so does dot, which Win32 rules read for dot.: both cures
// are refused and that file stays; the other checked findings are cured.
TEST(Desktop, HiddenModeACureRefusedThroughASwappedFolderOneLeftUncuredAndTheKoreanTitle) {
    for (int wait = 0; wait < 100 && VisibleWindows(); ++wait) ::Sleep(50);  // those of the tests before have gone
    {
        KxscanRun clean;
        ASSERT_TRUE(clean.Start(kxtest::NumberedFiles(8), "/HD", 100));
        int shown = 0;
        while (::WaitForSingleObject(clean.child.Handle(), 0) == WAIT_TIMEOUT) shown += VisibleWindows();
        EXPECT_EQ(shown, 0);
    }
    KxscanRun found;
    kxtest::Files files = kxtest::NumberedFiles(2, 2);
    files.push_back({"sub\\file102.txt", "INFECTED"});
    for (const char* file :
         {"victim\\file102.txt", "victim\\file105.txt", "real\\file103.txt", "Long Folder\\file104.txt"})
        found.install.Write(file, "INFECTED");
    std::string folder = "$WINEPREFIX/drive_c" + found.install.Path().substr(2);
    std::replace(folder.begin(), folder.end(), '\\', '/');
    Shell("cd \"" + folder + "\" && ln -s real via && mkdir data 'data/dot.' && echo INFECTED >'data/dot./file105.txt'");
    char shortName[MAX_PATH] = {};
    ::GetShortPathNameA(found.install.File("Long Folder").c_str(), shortName, MAX_PATH);
    const std::string targets = kxtest::Quote(found.install.File("via")) + " " + kxtest::Quote(shortName);
    ASSERT_TRUE(found.Start(files, "/HD " + targets, 100));
    EXPECT_EQ(VisibleWindows(), 0);
    EXPECT_TRUE(kxtest::Until([] { return VisibleWindows() == 1; }, 5000)) << "shown with findings";
    ASSERT_TRUE(WaitForCaption(found, 1011, "CURE"));
    Shell("cd \"" + folder + "/data\" && rm -r sub && ln -s ../victim sub && ln -s ../victim dot");

    // A click on the second finding's check glyph, below the list's header.
    HWND list = ::GetDlgItem(found.window, 1003);
    RECT header;
    ::GetWindowRect(::FindWindowExA(list, nullptr, "SysHeader32", nullptr), &header);
    POINT row{0, header.bottom};
    ::ScreenToClient(found.window, &row);
    Click(found.window, 22, row.y + 18 + 9);
    auto unchecked = [&] { return ::SendMessageA(list, LVM_GETITEMSTATE, 1, LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(1); };
    EXPECT_TRUE(kxtest::Until(unchecked, 2000));
    Click(found.window, 490, 281);  // cure the five still checked
    EXPECT_TRUE(found.WaitForText(1005, "16%"));
    EXPECT_EQ(found.Lines("VirusCure ("), 3);
    EXPECT_EQ(found.Lines("CureRefused (" + found.Data("sub\\file102.txt") + ") (" + found.Data("sub") + ")"), 1);
    EXPECT_EQ(found.Lines("CureRefused (" + found.Data("dot.\\file105.txt") + ") (" + found.Data("dot") + ")"), 1);
    EXPECT_EQ(found.install.Read("victim\\file102.txt") + found.install.Read("victim\\file105.txt"), "INFECTEDINFECTED");
    for (const char* cured : {"data\\file100.txt", "real\\file103.txt", "Long Folder\\file104.txt"})
        EXPECT_EQ(found.install.Read(cured), "") << cured;
    EXPECT_EQ(kxtest::Rows(found.window)[0], "Test.Infected|" + found.Data("sub\\file102.txt") + "|" +
                                                 ScannerText("IncurableAD") + "|16|0");
    Click(found.window, 561, 11);  // one left: the question, and Yes records it
    ASSERT_TRUE(AnswerBox(found, "y"));
    ASSERT_TRUE(found.Ended());
    const std::string log = found.Log("virus.log");
    // A close records every row still coded 16 once more, the refused one too.
    for (const std::string& record :
         {found.Data("sub\\file102.txt|3"), found.Data("file100.txt|1"), found.Data("dot.\\file105.txt|3"),
          std::string(shortName) + "\\file104.txt|1",
          found.install.File("via\\file103.txt|1"), found.Data("file101.txt|0"), found.Data("sub\\file102.txt|0")})
        EXPECT_NE(log.find(kxtest::Escaped(record) + "|2"), std::string::npos) << record << "\n" << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8) << log;

    const std::string locales = std::getenv("KXSCAN_LOCPATH") ? std::getenv("KXSCAN_LOCPATH") : "";
    Shell("cd \"$(/usr/lib/wine/wine64 winepath -u '" + found.install.Path() + "')\" && LOCPATH='" + locales +
          "' LANG=ko_KR.UTF-8 LC_ALL=ko_KR.UTF-8 /usr/lib/wine/wine64 kxscan.exe /QS >/dev/null 2>&1 &");
    HWND korean = nullptr;
    for (int wait = 0; wait < 100 && !korean; ++wait, ::Sleep(100)) korean = ::FindWindowW(nullptr, L"Korvex \uac80\uc0ac");
    ASSERT_NE(korean, nullptr) << "Korvex and the Korean word for scan";
    std::string shown;
    kxtest::Until([&] { return !(shown = Shell("xdotool search --onlyvisible --name '^Korvex [^S]' getwindowname")).empty(); }, 5000);
    EXPECT_EQ(shown, "Korvex \xea\xb2\x80\xec\x82\xac\n") << "the X server shows the same title";
    ::PostMessageA(korean, WM_CLOSE, 0, 0);
}

// The keyboard, after a scan of two infections and a finding that is none
// (0x1000 alone): the unchecked infection keeps Cure and is recorded as
// left uncured when the window closes.
TEST(Desktop, KeyboardTabOrderFocusTheListAndACureThatLeavesAnInfection) {
    {
        KxscanRun none(KxscanRun::kNoEngine);  // Pause is disabled: neither the first focus nor Tab lands on it
        ASSERT_TRUE(none.Start({}));
        Keys(none.window, "Escape Return");  // neither key does anything in the window
        std::string stops;
        for (int stop = 0; stop < 6; ++stop, Keys(none.window, "Tab")) stops += std::to_string(FocusedId(none.window)) + " ";
        EXPECT_EQ(stops, "1001 1009 1007 1008 1003 1001 ");
        Keys(none.window, "shift+Tab space");
        EXPECT_TRUE(none.Ended()) << "back to Finish, and Space presses it";
    }
    KxscanRun run(KxscanRun::kStandIn, {"Test.Infected | 0 | 1 | repair | 494e464543544544",
                                        "Test.Note | 0 | 0x1000 | repair | " + kxtest::Hex("KXT:NOTE", 8)});
    ASSERT_TRUE(run.Start({{"a.txt", "INFECTED"}, {"b.txt", "INFECTED"}, {"c.txt", "KXT:NOTE"}}, "", 300));
    EXPECT_EQ(FocusedId(run.window), 1011) << "on Pause";
    ASSERT_TRUE(WaitForCaption(run, 1011, "CURE"));
    EXPECT_EQ(FocusedId(run.window), 1011) << "on Cure";

    // Rows c, b, a. A click on b's name selects it; Down and Up move the
    // selection; Space unchecks b.
    HWND list = ::GetDlgItem(run.window, 1003);
    RECT header;
    ::GetWindowRect(::FindWindowExA(list, nullptr, "SysHeader32", nullptr), &header);
    auto rowY = [&](int row) { POINT at{0, header.bottom + 18 * row + 9}; return ::ScreenToClient(run.window, &at), static_cast<int>(at.y); };
    auto selected = [&] { return ::SendMessageA(list, LVM_GETNEXTITEM, -1, LVNI_SELECTED); };
    auto checks = [&] { std::string marks; for (int row : {0, 1, 2}) marks += ::SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2) ? "1" : "0"; return marks; };
    Click(run.window, 92, rowY(1));
    EXPECT_TRUE(selected() == 1 && checks() == "111");
    Keys(run.window, "Down");
    EXPECT_EQ(selected(), 2);
    Keys(run.window, "Up space");
    EXPECT_TRUE(selected() == 1 && checks() == "101") << checks();

    Keys(run.window, "Tab space");  // Cure: the pass disables it, and the keyboard goes on to Cancel
    EXPECT_TRUE(kxtest::Until([&] { return FocusedId(run.window) == 1001; }, 2000));
    EXPECT_TRUE(run.WaitForLines("VirusCure (", 2));
    ::Sleep(500);
    EXPECT_EQ(run.Text(1001), ScannerText("CANCEL")) << "an infection is left: not finished";
    Click(run.window, 561, 11);
    ASSERT_TRUE(AnswerBox(run, "y"));
    ASSERT_TRUE(run.Ended());
    const std::string log = run.Log("virus.log");
    EXPECT_NE(log.find("b.txt|0|2"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
}
