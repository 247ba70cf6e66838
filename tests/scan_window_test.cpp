// The scan window as kxscan.exe shows it: layout, the stop question and the
// close paths by state, pause, the keys and the move band; and the arithmetic
// of the progress refresh.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "logs/debug_log.h"
#include "tests/support/kxscan_run.h"
#include "window/progress_refresh.h"

namespace {

using kxtest::KxscanRun;
using kxtest::ScannerText;

std::string BoxText(HWND box) {
    char text[1024] = {};
    ::GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
    return text;
}

void Key(HWND target, WPARAM key) {
    ::PostMessageA(target, WM_KEYDOWN, key, 0);
    ::PostMessageA(target, WM_KEYUP, key, 0);
}

bool InMoveLoop(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info) &&
           (info.flags & GUI_INMOVESIZE) != 0;
}

TEST(ScanWindowLayout, ControlsTextsShapeAndTheUntitledTitleLine) {
    KxscanRun run(KxscanRun::kNoEngine);  // the window stays as the layout left it
    ASSERT_TRUE(run.Start({}));
    HWND window = run.window;

    RECT client;
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, 594);
    EXPECT_EQ(client.bottom, 300);

    struct Control {
        int id, x, y, width, height;
        std::string text;
    };
    const Control controls[] = {
        {1012, 10, 10, 200, 17, "Korvex - " + ScannerText("Title")},
        {1007, 514, 2, 25, 18, ""},
        {1008, 540, 2, 43, 18, ""},
        {1010, 93, 53, 416, 14, ScannerText("INITSCAN")},
        {1002, 93, 75, 447, 12, ""},
        {1005, 547, 75, 35, 12, "0%"},
        {1003, 12, 114, 570, 140, ""},
        {1009, 12, 272, 16, 18, ""},
        {1006, 37, 275, 300, 12, ScannerText("SHUTDOWN")},
        {1011, 460, 269, 60, 25, ScannerText("PAUSE")},
        {1001, 525, 269, 60, 25, ScannerText("CANCEL")},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.id);
        HWND control = ::GetDlgItem(window, c.id);
        RECT place;
        ::GetWindowRect(control, &place);
        ::MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&place), 2);
        EXPECT_EQ(place.left, c.x);
        EXPECT_EQ(place.top, c.y);
        EXPECT_EQ(place.right - place.left, c.width);
        EXPECT_EQ(place.bottom - place.top, c.height);
        EXPECT_EQ(run.Text(c.id), c.text);
    }
    EXPECT_FALSE(run.Text(1010).empty()) << "the texts come from the installed library";
    EXPECT_TRUE(::GetWindowLongA(::GetDlgItem(window, 1010), GWL_STYLE) & SS_PATHELLIPSIS);
    EXPECT_EQ(::GetWindowLongA(::GetDlgItem(window, 1002), GWL_EXSTYLE), 0x8000);
    HWND list = ::GetDlgItem(window, 1003);
    const int widths[] = {170, 270, 85, 0};
    for (int column = 0; column < 4; ++column)
        EXPECT_EQ(::SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0), widths[column]) << column;

    // The rounded shape: an 11 x 11 ellipse cuts each corner, and a press
    // there reaches what lies behind the window.
    HRGN shape = ::CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(::GetWindowRgn(window, shape), ERROR);
    const POINT inside[] = {{297, 0}, {0, 150}, {593, 150}, {297, 299}, {3, 3}};
    const POINT outside[] = {{0, 0}, {593, 0}, {0, 299}, {593, 299}, {1, 1}};
    for (POINT p : inside) EXPECT_TRUE(::PtInRegion(shape, p.x, p.y)) << p.x << "," << p.y;
    for (POINT p : outside) EXPECT_FALSE(::PtInRegion(shape, p.x, p.y)) << p.x << "," << p.y;
    ::DeleteObject(shape);
    RECT frame;
    ::GetWindowRect(window, &frame);
    EXPECT_NE(::WindowFromPoint({frame.left, frame.top}), window);
    EXPECT_EQ(::GetAncestor(::WindowFromPoint({frame.left + 297, frame.top + 40}), GA_ROOT), window);

    // Without an engine there is no scan to ask about: a close request closes.
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(run.Ended());

    // A library without the two title keys leaves the blank, hyphen, blank.
    for (const char* name : {"kor", "jpn", "eng"}) ::DeleteFileA(run.install.File(std::string("locale\\") + name + ".lib").c_str());
    run.install.Write("locale\\default.lib", "[SCANNER]\r\nPAUSE=P\r\n");
    ASSERT_TRUE(run.Start({}));
    EXPECT_EQ(run.Text(1012), " - ");
    kxtest::ClickButton(run.window, 1011);  // the pause button has nothing to hold
    kxtest::ClickButton(run.window, 1001);
    EXPECT_TRUE(run.Ended());
}

TEST(ScanWindowStates, StopQuestionPauseKeysAndMoveBandWhileScanning) {
    KxscanRun run;
    ASSERT_TRUE(run.Start(kxtest::NumberedFiles(60), "", 150));
    HWND window = run.window;
    ASSERT_TRUE(run.WaitForLines("ScanVirus (", 2));

    // Neither key does anything in the window.
    for (HWND target : {window, ::GetDlgItem(window, 1011)}) {
        Key(target, VK_ESCAPE);
        Key(target, VK_RETURN);
    }
    ::Sleep(300);
    EXPECT_EQ(run.WaitForBox(200), nullptr);
    ASSERT_TRUE(::IsWindow(window));

    // The move band is the top 24 rows.
    ::PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 24));
    ::Sleep(200);
    EXPECT_FALSE(InMoveLoop(window));
    ::PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 23));
    bool moving = false;
    for (int wait = 0; wait < 50 && !moving; ++wait, ::Sleep(20)) moving = InMoveLoop(window);
    EXPECT_TRUE(moving);
    Key(window, VK_ESCAPE);  // ends the move, not the window
    for (int wait = 0; wait < 50 && InMoveLoop(window); ++wait) ::Sleep(20);

    // Close while running: the scan is held while asked, and No lets it go on.
    kxtest::ClickButton(window, 1008);
    HWND box = run.WaitForBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(BoxText(box), ScannerText("SCANNIG"));
    int held = run.Lines("ScanVirus (");
    ::Sleep(600);
    EXPECT_LE(run.Lines("ScanVirus ("), held + 1) << "held while the question is open";
    kxtest::ClickButton(box, IDNO);
    EXPECT_TRUE(run.WaitForLines("ScanVirus (", held + 3, 5000)) << "No lets the scan run on";

    // Pause holds the walk within one file; a question leaves it held after No.
    kxtest::ClickButton(window, 1011);
    for (int wait = 0; wait < 50 && run.Text(1011) != ScannerText("RESTART"); ++wait) ::Sleep(20);
    EXPECT_EQ(run.Text(1011), ScannerText("RESTART"));
    int paused = run.Lines("ScanVirus (");
    ::Sleep(700);
    EXPECT_LE(run.Lines("ScanVirus ("), paused + 1);
    paused = run.Lines("ScanVirus (");
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    box = run.WaitForBox();
    ASSERT_NE(box, nullptr);
    kxtest::ClickButton(box, IDNO);
    ::Sleep(500);
    EXPECT_EQ(run.Lines("ScanVirus ("), paused) << "still paused after No";
    EXPECT_EQ(run.Text(1011), ScannerText("RESTART"));

    // Yes releases the paused scan to its cancelled end; Enter answers a box.
    kxtest::ClickButton(window, 1001);
    box = run.WaitForBox();
    ASSERT_NE(box, nullptr);
    Key(::GetDlgItem(box, IDYES), VK_RETURN);
    int last = -1;
    for (int quiet = 0; quiet < 10; ::Sleep(50)) quiet = run.Lines("ScanVirus (") == last ? quiet + 1 : (last = run.Lines("ScanVirus ("), 0);
    EXPECT_LT(run.Lines("ScanVirus ("), 60) << "cancelled";
    EXPECT_TRUE(::IsWindow(window)) << "the window stays after a confirmed stop";
    const std::string stopped = ScannerText("SCANCANCEL");
    EXPECT_NE(run.Text(1010).find(stopped.substr(0, stopped.find('%'))), std::string::npos) << run.Text(1010);
    std::string lastScan;
    EXPECT_FALSE(kxtest::RegGetString("SOFTWARE\\Tarnwick Systems\\Korvex\\Events\\status", "LastScan", &lastScan));

    // The scan has ended without findings: a close closes.
    kxtest::ClickButton(window, 1008);
    EXPECT_TRUE(run.Ended());
}

// Holds the debug log's lock of the installation for a while.
KX_PROBE(hold_debug_log_lock) {
    int lock = OpenLockFile((args[0] + "\\Logs\\kxlog.lock").c_str());
    if (lock == -1) return 1;
    std::printf("locked\n");
    std::fflush(stdout);
    ::Sleep(std::stoul(args[1]));
    CloseLockFile(lock);
    return 0;
}

KX_PROBE(write_debug_line) {
    return AppendDebugLine((args[0] + "\\Logs").c_str(), "another process") == 0 ? 0 : 1;
}

TEST(ScanWindowPause, APausedScanHoldsNoLockThatOtherProcessesWaitFor) {
    KxscanRun run;
    ASSERT_TRUE(run.Start(kxtest::NumberedFiles(40), "", 100));
    ASSERT_TRUE(run.WaitForLines("ScanVirus (", 2));

    // Another process holds the debug log while the user pauses: the window
    // answers at once, and once the lock is free the walk stays held.
    kxtest::ChildProcess holder;
    ASSERT_TRUE(kxtest::StartProbe(&holder, "hold_debug_log_lock", {run.install.Path(), "1500"}));
    for (int wait = 0; wait < 100 && holder.Output().find("locked") == std::string::npos; ++wait) ::Sleep(20);
    kxtest::ClickButton(run.window, 1011);
    DWORD_PTR answer = 0;
    EXPECT_TRUE(::SendMessageTimeoutA(run.window, WM_NULL, 0, 0, SMTO_BLOCK, 500, &answer));
    const int atPause = run.Lines("ScanVirus (");
    EXPECT_TRUE(holder.Wait(10000));
    ::Sleep(700);
    EXPECT_LE(run.Lines("ScanVirus ("), atPause + 1);

    // The paused walk holds no lock: another writer gets through at once.
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(kxtest::RunProbe("write_debug_line", {run.install.Path()}, {}, 10000).exitCode, 0u);
    EXPECT_LT(::GetTickCount() - start, 3000u);
    const int held = run.Lines("ScanVirus (");
    kxtest::ClickButton(run.window, 1011);
    EXPECT_TRUE(run.WaitForLines("ScanVirus (", held + 3, 5000)) << "resumed";
    EXPECT_EQ(run.Text(1011), ScannerText("PAUSE"));
}

TEST(ProgressRefresh, ElapsedPercentPositionAndSlowFiles) {
    struct Case {
        DWORD visited, total;
        bool countingDone, targetsGiven, systemAreas;
        int percent;
        long long position;
        DWORD floor;
    };
    const Case cases[] = {
        {15000, 0, false, true, false, 50, 15000, 301},  // provisional 30,000 until the count ends
        {0, 0, true, true, false, 100, 1, 1},            // a final total of 0
        {0, 500, true, true, false, 0, -1, 6},           // 0%: the bar is left alone
        {2, 500, true, true, false, 0, -1, 6},
        {5, 500, true, true, false, 1, 6, 6},            // never below the floor
        {40, 50, false, false, true, 80, 40, 1},         // system areas alone know their total
        {40, 50, false, true, true, 0, -1, 301},
        {900, 300, true, true, false, 100, 900, 4},      // capped at 100
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.visited);
        ProgressState state;
        ProgressView view =
            ComputeProgress({c.visited, c.total, 30000, c.countingDone, c.targetsGiven, c.systemAreas}, &state);
        EXPECT_EQ(view.percent, c.percent);
        EXPECT_EQ(view.position, c.position);
        EXPECT_EQ(state.floor, c.floor);
    }
    ProgressState kept{7};
    EXPECT_EQ(ComputeProgress({1, 10, 30000, true, true, false}, &kept).position, 7) << "the floor is never recomputed";

    const std::pair<time_t, const char*> spans[] = {{0, "00:00:00"}, {59, "00:00:59"}, {25 * 3600 + 3 * 60 + 4, "01:03:04"}};
    for (const auto& [seconds, text] : spans) {
        char out[16];
        FormatElapsed(seconds, out, sizeof(out));
        EXPECT_STREQ(out, text);
    }

    // The 67th tick on one file records 65; each later tick the next number.
    SlowFileWatch watch;
    std::vector<DWORD> records;
    for (int tick = 1; tick <= 69; ++tick) records.push_back(watch.Tick("C:\\slow.bin"));
    EXPECT_EQ(std::count(records.begin(), records.begin() + 66, 0u), 66);
    EXPECT_EQ(records[66], 65u);
    EXPECT_EQ(records[68], 67u);
    EXPECT_EQ(watch.Tick("C:\\other.bin"), 0u);
    EXPECT_EQ(watch.Tick("C:\\other.bin"), 0u) << "another file starts again";
}

}  // namespace

TEST(ScanWindowEnd, LongStatusLineNoSecondScanAndAClosedWindowWaitsForItsPass) {
    KxscanRun run;
    // A path of 519 characters: with the time in front the status line is longer.
    std::wstring folder = L"\\\\?\\" + std::wstring(run.install.Path().begin(), run.install.Path().end()) + L"\\data";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const size_t room = 519 - (folder.size() - 4) - std::string("\\deep_end.txt").size();
    for (size_t used = 0; used + 2 <= room;) {
        const size_t length = std::min<size_t>(120, room - used - 1);
        folder += L"\\" + std::wstring(length, L'd');
        used += length + 1;
        ::CreateDirectoryW(folder.c_str(), nullptr);
    }
    const std::wstring file = folder + L"\\deep_end.txt";
    HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(handle, "INFECTED", 8, &written, nullptr);
    ::CloseHandle(handle);
    ASSERT_TRUE(run.Start({}, "", 1500));
    const std::string path(file.begin() + 4, file.end());
    bool whole = false;
    for (int wait = 0; wait < 150 && !whole; ++wait, ::Sleep(20)) whole = run.Text(1010).find(path) != std::string::npos;
    EXPECT_TRUE(whole) << run.Text(1010);

    // The engine's start message never starts a second walk.
    for (int wait = 0; wait < 250 && run.Text(1011) != ScannerText("CURE"); ++wait) ::Sleep(20);
    ::SendMessageA(run.window, WM_USER + 103, 1, 0);
    ::Sleep(300);
    EXPECT_EQ(run.Lines("ScanVirus ("), 1);

    // A close confirmed during a pass hides the window at once; the process
    // ends once the pass has recorded its row.
    kxtest::ClickButton(run.window, 1011);
    ::Sleep(200);
    kxtest::ClickButton(run.window, 1008);
    HWND box = run.WaitForBox();
    ASSERT_NE(box, nullptr);
    kxtest::ClickButton(box, IDYES);
    ::Sleep(300);
    EXPECT_FALSE(::IsWindowVisible(run.window));
    EXPECT_EQ(::WaitForSingleObject(run.child.Handle(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "still curing";
    ASSERT_TRUE(run.Ended());
    const std::string log = run.Log("virus.log");
    EXPECT_NE(log.find("deep_end.txt|1|2"), std::string::npos) << log;
    EXPECT_EQ(log.find("|0|2"), std::string::npos) << "the cured row is not left uncured";
}
