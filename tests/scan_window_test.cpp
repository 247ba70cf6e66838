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

#include "tests/support/kxscan_run.h"
#include "window/progress_refresh.h"

namespace {

using kxtest::KxscanRun;
using kxtest::ScannerText;

TEST(ScanWindowLayout, ControlsTextsShapeAndTheUntitledTitleLine) {
    KxscanRun run(KxscanRun::kNoEngine);  // the window stays as the layout left it, but for the failure
    ASSERT_TRUE(run.Start({}));
    HWND window = run.window;

    RECT client;
    ::GetClientRect(window, &client);
    EXPECT_TRUE(client.right == 594 && client.bottom == 300);
    // Each control's place (left, top, width, height) and text.
    const std::pair<int, std::string> controls[] = {
        {1012, "10,10,200,17 Korvex - " + ScannerText("Title")}, {1007, "514,2,25,18 "}, {1008, "540,2,43,18 "},
        {1010, "93,53,416,14 " + ScannerText("ENGININITFAILED")},        {1002, "93,75,447,12 "}, {1005, "547,75,35,12 0%"},
        {1003, "12,114,570,140 "},                                {1009, "12,272,16,18 "},
        {1006, "37,275,300,12 " + ScannerText("SHUTDOWN")},       {1011, "460,269,60,25 " + ScannerText("PAUSE")},
        {1001, "525,269,60,25 " + ScannerText("FINISH")}};
    for (const auto& [id, expected] : controls) {
        RECT r;
        ::GetWindowRect(::GetDlgItem(window, id), &r);
        ::MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&r), 2);
        char place[64];
        std::snprintf(place, sizeof(place), "%ld,%ld,%ld,%ld ", r.left, r.top, r.right - r.left, r.bottom - r.top);
        EXPECT_EQ(place + run.Text(id), expected) << id;
    }
    EXPECT_FALSE(run.Text(1010).empty()) << "the texts come from the installed library";
    EXPECT_TRUE(::GetWindowLongA(::GetDlgItem(window, 1010), GWL_STYLE) & SS_PATHELLIPSIS);
    EXPECT_EQ(::GetWindowLongA(::GetDlgItem(window, 1002), GWL_EXSTYLE), 0x8000);
    std::string widths;
    for (int column = 0; column < 4; ++column)
        widths += std::to_string(::SendDlgItemMessageA(window, 1003, LVM_GETCOLUMNWIDTH, column, 0)) + " ";
    EXPECT_EQ(widths, "170 270 85 0 ");

    // The rounded shape: an 11 x 11 ellipse cuts each corner, and a press
    // there reaches what lies behind the window.
    HRGN shape = ::CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(::GetWindowRgn(window, shape), ERROR);
    const int points[][3] = {{297, 0, 1}, {0, 150, 1}, {593, 150, 1}, {297, 299, 1}, {3, 3, 1},  // x, y, inside
                             {0, 0, 0},   {593, 0, 0}, {0, 299, 0},   {593, 299, 0}, {1, 1, 0}};
    for (const auto& p : points) EXPECT_EQ(::PtInRegion(shape, p[0], p[1]) != 0, p[2] != 0) << p[0] << "," << p[1];
    ::DeleteObject(shape);
    RECT frame;
    ::GetWindowRect(window, &frame);
    EXPECT_NE(::WindowFromPoint({frame.left, frame.top}), window);
    EXPECT_EQ(::GetAncestor(::WindowFromPoint({frame.left + 297, frame.top + 40}), GA_ROOT), window);

    // Without an engine there is no scan to ask about: a close request closes
    // (the keys: Desktop.Keyboard...).
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(run.Ended());

    // A library without the two title keys leaves the blank, hyphen, blank.
    for (const char* name : {"kor", "jpn", "eng"}) ::DeleteFileA(run.install.File(std::string("locale\\") + name + ".lib").c_str());
    run.install.Write("locale\\default.lib", "[SCANNER]\r\nPAUSE=P\r\n");
    ASSERT_TRUE(run.Start({}));
    EXPECT_EQ(run.Text(1012), " - ");
}

TEST(ProgressRefresh, ElapsedPercentPositionAndSlowFiles) {
    // visited, total, counting done, targets given, /PR; percent, position (-1: the bar is left alone), floor.
    const long long cases[][8] = {
        {15000, 0, 0, 1, 0, 50, 15000, 301},  // provisional 30,000 until the count ends
        {0, 0, 1, 1, 0, 100, 1, 1},           // a final total of 0
        {0, 500, 1, 1, 0, 0, -1, 6},          {2, 500, 1, 1, 0, 0, -1, 6},
        {5, 500, 1, 1, 0, 1, 6, 6},           // never below the floor
        {40, 50, 0, 0, 1, 80, 40, 1},         // the system areas alone know their total early
        {40, 50, 0, 1, 1, 0, -1, 301},        {900, 300, 1, 1, 0, 100, 900, 4}};
    for (const auto& c : cases) {
        ProgressState state;
        const ProgressView view = ComputeProgress(
            {static_cast<DWORD>(c[0]), static_cast<DWORD>(c[1]), 30000, c[2] != 0, c[3] != 0, c[4] != 0}, &state);
        EXPECT_TRUE(view.percent == c[5] && view.position == c[6] && state.floor == c[7]) << c[0] << "/" << c[1];
    }
    ProgressState kept{7};
    EXPECT_EQ(ComputeProgress({1, 10, 30000, true, true, false}, &kept).position, 7) << "the floor is never recomputed";

    char elapsed[16];
    FormatElapsed(25 * 3600 + 3 * 60 + 4, elapsed, sizeof(elapsed));
    EXPECT_STREQ(elapsed, "01:03:04") << "whole days are not shown";

    // The 67th tick on one file records 65; each later tick the next number.
    // The ten ticks of a held scan neither count nor record.
    SlowFileWatch watch;
    std::vector<DWORD> records;
    for (int tick = 1; tick <= 79; ++tick) records.push_back(watch.Tick("C:\\slow.bin", tick > 30 && tick <= 40));
    EXPECT_EQ(std::count(records.begin(), records.begin() + 76, 0u), 76);
    EXPECT_EQ(records[76], 65u);
    EXPECT_EQ(records[78], 67u);
    EXPECT_EQ(watch.Tick("C:\\other.bin", false), 0u);
    EXPECT_EQ(watch.Tick("C:\\other.bin", false), 0u) << "another file starts again";
}

}  // namespace
