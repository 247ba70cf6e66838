// Findings, cure and the end of a scan, through kxscan.exe with the stand-in
// engine (or the slow test engine) over real folders; and the rules of the
// result texts.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/kxscan_run.h"
#include "window/result_texts.h"

namespace {

const std::string kProduct = "SOFTWARE\\Tarnwick Systems\\Korvex";

std::string Hex(const std::string& text) {
    std::string hex;
    char byte[4];
    for (unsigned char c : text) {
        std::snprintf(byte, sizeof(byte), "%02x ", c);
        hex += byte;
    }
    return hex;
}

using kxtest::Escaped;
using kxtest::KxscanRun;
using kxtest::ScannerText;

// The scan has ended once the pause button has changed or gone.
bool WaitForEnd(const KxscanRun& run) {
    const std::string pause = ScannerText("PAUSE");
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < 20000; ::Sleep(20))
        if (run.Text(1011) != pause || !::IsWindowVisible(::GetDlgItem(run.window, 1011))) return true;
    return false;
}

// A list-view message whose parameter points into the list's own process.
LRESULT RemoteListCall(HWND list, UINT message, WPARAM wParam, void* data, size_t size) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(list, &pid);
    HANDLE process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    char* remote = static_cast<char*>(::VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    if (auto* item = static_cast<LVITEMA*>(data); message == LVM_GETITEMTEXTA)
        item->pszText = remote + sizeof(LVITEMA);
    ::WriteProcessMemory(process, remote, data, size, nullptr);
    const LRESULT result = ::SendMessageA(list, message, wParam, reinterpret_cast<LPARAM>(remote));
    ::ReadProcessMemory(process, remote, data, size, nullptr);
    ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    ::CloseHandle(process);
    return result;
}

struct Row {
    std::string name, path, state, code;
    bool checked;
};

std::vector<Row> Rows(HWND window) {
    HWND list = ::GetDlgItem(window, 1003);
    std::vector<Row> rows;
    const int count = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        std::string cells[4];
        for (int column = 0; column < 4; ++column) {
            struct {
                LVITEMA item;
                char text[520];
            } call{};
            call.item.iSubItem = column;
            call.item.cchTextMax = sizeof(call.text);
            RemoteListCall(list, LVM_GETITEMTEXTA, row, &call, sizeof(call));
            cells[column] = call.text;
        }
        const auto state = ::SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK);
        rows.push_back({cells[0], cells[1], cells[2], cells[3], (state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2)});
    }
    return rows;
}

void Uncheck(HWND window, int row) {
    LVITEMA item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(1);
    RemoteListCall(::GetDlgItem(window, 1003), LVM_SETITEMSTATE, row, &item, sizeof(item));
}

TEST(ScanResults, RowsByKindThenOnePassWithEveryOutcomeAndTheLogs) {
    KxscanRun run(KxscanRun::kStandIn, {"Test.Adware | 5 | 0x0001 | delete | " + Hex("KXT:ADWARE"),
                      "Test.Eight | 0 | 0x0008 | fail | " + Hex("KXT:EIGHT"),
                      "Test.Hack | 9 | 0x0004 | repair | " + Hex("KXT:HACK"),
                      "Test.Injure | 7 | 0x0002 | fail | " + Hex("KXT:INJURE"),
                      "Test.Note | 0 | 0x1000 | fail | " + Hex("KXT:NOTE"),
                      "Test.Zipped | 0 | 0x1001 | fail | " + Hex("KXT:ZIPPED")});
    ASSERT_TRUE(run.Start({{"a.txt", "KXT:ADWARE"},
                           {"b.txt", "KXT:EIGHT"},
                           {"c.txt", "one KXT:HACK two"},
                           {"d.txt", "KXT:INJURE"},
                           {"e.txt", "KXT:NOTE"},
                           {"f.txt", "KXT:ZIPPED"},
                           {"g.txt", "clean"}}));
    ASSERT_TRUE(WaitForEnd(run));
    auto path = [&](const char* name) { return run.Data(name); };
    const std::string virus = ScannerText("Virus");
    // The newest finding at the top; 0x1000 alone is listed without a state
    // and is no infection; 0x0008 alone is not listed.
    const std::vector<Row> expected = {
        {"Test.Zipped", path("f.txt"), virus + "(" + ScannerText("IncurableZip") + ")", "16", true},
        {"Test.Note", path("e.txt"), "", "16", true},
        {"Test.Injure", path("d.txt"), ScannerText("InjureProgram"), "16", true},
        {"Test.Hack", path("c.txt"), ScannerText("HackingTool"), "16", true},
        {"Test.Adware", path("a.txt"), ScannerText("AdSpyware"), "16", true},
    };
    std::vector<Row> rows = Rows(run.window);
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(rows[i].name, expected[i].name);
        EXPECT_EQ(rows[i].path, expected[i].path);
        EXPECT_EQ(rows[i].state, expected[i].state);
        EXPECT_EQ(rows[i].code, "16");
        EXPECT_TRUE(rows[i].checked);
    }
    EXPECT_NE(run.Text(1010).find("7 files scanned, 4 threats"), std::string::npos) << run.Text(1010);
    const std::string trace = run.install.Read("Logs\\kxlog.01");
    for (const std::string& line : {"ScanVirus (" + path("g.txt") + ") (0)", "ScanVirus (" + path("b.txt") + ") (8)",
                                     std::string("CheckScan (1) (5) (Test.Adware)")})
        EXPECT_NE(trace.find(line), std::string::npos) << line;
    EXPECT_EQ(run.Text(1005), "100%");
    EXPECT_EQ(run.Text(1011), ScannerText("CURE"));
    std::string lastScan;
    EXPECT_TRUE(kxtest::RegGetString(kProduct + "\\Events\\status", "LastScan", &lastScan));
    EXPECT_NE(run.Log("events.log").find(ScannerText("CANCEL") + "(" + Escaped(run.install.File("data")) + ")"),
              std::string::npos)
        << run.Log("events.log");

    // One pass: every checked row coded 16, top to bottom; the fifth outcome
    // passes the four infections, so the count-down ends empty and finished.
    kxtest::ClickButton(run.window, 1011);
    ASSERT_TRUE(run.WaitForText(1001, ScannerText("FINISH")));
    rows = Rows(run.window);
    const char* codes[] = {"16", "16", "16", "8", "512"};
    const char* states[] = {"IncurableAD", "IncurableAD", "IncurableAD", "CURE", "DEL"};
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].code, codes[i]) << i;
        EXPECT_EQ(rows[i].state, ScannerText(states[i])) << i;
        EXPECT_FALSE(rows[i].checked) << i;
    }
    EXPECT_EQ(run.Text(1005), "");
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(run.window, 1011)));
    EXPECT_FALSE(kxtest::FileExists(path("a.txt"))) << "deleted";
    EXPECT_EQ(run.install.Read("data\\c.txt"), "one  two") << "repaired";

    const std::string log = run.Log("virus.log");
    for (const char* record : {"|Test.Zipped|f.txt|3|2", "|Test.Note|e.txt|3|2", "|Test.Injure|d.txt|3|2",
                               "|Test.Hack|c.txt|1|2", "|Test.Adware|a.txt|2|2"}) {
        std::string line = record;
        line.replace(line.find('|', 1) + 1, 0, Escaped(run.install.File("data\\")));
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
    DWORD counter = 0;
    EXPECT_TRUE(kxtest::RegGetDword(kProduct + "\\Events\\access", "Test.Hack|2|1", &counter));
    EXPECT_EQ(counter, 1u);

    // Everything handled: a close closes without asking or recording more.
    ::PostMessageA(run.window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(run.child.Wait(10000));
    EXPECT_EQ(run.Log("virus.log"), log);
}

TEST(ScanResults, CureStopsRestartsWithoutOverlapAndLeavesTheRestRecorded) {
    KxscanRun run;
    std::vector<std::pair<std::string, std::string>> files;
    for (char c = 'a'; c <= 'e'; ++c) files.push_back({std::string(1, c) + ".txt", "INFECTED"});
    ASSERT_TRUE(run.Start(files, "", 400));
    ASSERT_TRUE(WaitForEnd(run));
    Uncheck(run.window, 4);  // the first finding, at the bottom, stays uncured

    // Cancel during a pass: no question; at most the row in progress is finished.
    kxtest::ClickButton(run.window, 1011);
    ASSERT_TRUE(run.WaitForText(1005, "80%")) << run.Text(1005);
    kxtest::ClickButton(run.window, 1001);
    EXPECT_EQ(run.WaitForBox(1200), nullptr);
    const int cured = run.Lines("VirusCure (");
    EXPECT_LE(cured, 2);
    EXPECT_EQ(run.Text(1005), cured == 1 ? "80%" : "60%");
    EXPECT_EQ(run.Text(1001), ScannerText("CANCEL"));

    // Close during the next pass, answered No: that pass stops after its row
    // and a new one cures what is still checked, never two at once.
    kxtest::ClickButton(run.window, 1011);
    run.WaitForLines("VirusCure (", cured + 1);
    kxtest::ClickButton(run.window, 1008);
    kxtest::MessageBoxAnswerer no(ScannerText("TITLE"), IDNO);
    for (int wait = 0; wait < 200 && run.Lines("VirusCure (") < 4; ++wait) ::Sleep(20);
    ::Sleep(1500);
    EXPECT_TRUE(no.Answered());
    EXPECT_EQ(run.Lines("VirusCure ("), 4) << "each row once";
    for (char c = 'a'; c <= 'e'; ++c) {
        const std::string line = "VirusCure (8) (0) (" + run.install.File(std::string("data\\") + c + ".txt") + ")";
        EXPECT_EQ(run.Lines(line.c_str()), c == 'a' ? 0 : 1) << line;
    }
    EXPECT_EQ(run.Text(1005), "20%");
    EXPECT_EQ(run.Text(1001), ScannerText("CANCEL")) << "one infection left: no FINISH";

    // Closing with an uncured row asks; Yes records it as left uncured.
    kxtest::MessageBoxAnswerer yes(ScannerText("TITLE"), IDYES);
    ::PostMessageA(run.window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(run.child.Wait(10000));
    EXPECT_EQ(yes.Text(), ScannerText("NotIncurable"));
    const std::string log = run.Log("virus.log");
    EXPECT_NE(log.find("|Test.Infected|" + Escaped(run.install.File("data\\a.txt")) + "|0|2"), std::string::npos) << log;
    EXPECT_EQ(log.find("|0|2", log.find("|0|2") + 1), std::string::npos) << "only the uncured row";
}

TEST(ScanEnd, AutoCureCloseWhenCleanTheCheckBoxAndHiddenMode) {
    const std::vector<std::pair<std::string, std::string>> clean = {{"x.txt", "clean"}, {"y.txt", "clean"}};
    {
        SCOPED_TRACE("/AC cures at once");
        KxscanRun run;
        ASSERT_TRUE(run.Start({{"x.txt", "INFECTED"}}, "/AC"));
        ASSERT_TRUE(run.WaitForText(1001, ScannerText("FINISH")));
        EXPECT_NE(run.Log("virus.log").find("|Test.Infected|"), std::string::npos);
    }
    for (const char* options : {"/SC", "/HD", ""}) {
        SCOPED_TRACE(options);
        KxscanRun run;
        ASSERT_TRUE(run.Start(clean, options, 300));
        bool shown = ::IsWindowVisible(run.window);
        if (options[0] == '\0') kxtest::ClickButton(run.window, 1009);  // the check box
        for (int wait = 0; wait < 500 && ::WaitForSingleObject(run.child.Handle(), 0) == WAIT_TIMEOUT; ++wait) {
            shown = shown || ::IsWindowVisible(run.window);
            ::Sleep(10);
        }
        EXPECT_TRUE(run.child.Wait(1000)) << "a clean scan closes by itself";
        EXPECT_EQ(shown, options != std::string("/HD"));
    }
    {
        SCOPED_TRACE("/HD shows a scan with findings");
        KxscanRun run;
        ASSERT_TRUE(run.Start({{"x.txt", "INFECTED"}}, "/HD"));
        EXPECT_FALSE(::IsWindowVisible(run.window));
        bool shown = false;
        for (int wait = 0; wait < 500 && !shown; ++wait, ::Sleep(20)) shown = ::IsWindowVisible(run.window);
        EXPECT_TRUE(shown);
    }
    {
        SCOPED_TRACE("no file visited");
        KxscanRun run;
        ASSERT_TRUE(run.Start({}));
        ASSERT_TRUE(run.WaitForText(1005, "100%"));
        EXPECT_EQ(::SendDlgItemMessageA(run.window, 1002, PBM_GETPOS, 0, 0), 0);
        std::string lastScan;
        EXPECT_FALSE(kxtest::RegGetString(kProduct + "\\Events\\status", "LastScan", &lastScan));
    }
}

TEST(ScanEnd, SummaryStateTextTargetsAndTheLastScanRules) {
    struct Format {
        const char* format;
        const char* text;
    };
    const Format formats[] = {{"%d files, %d found", "120 files, 2 found"},
                              {"no fields", "no fields"},
                              {"%d%% %s %n %d %d", "120% %s %n 2 %d"}};
    for (const Format& f : formats) {
        char out[64];
        FormatCounts(f.format, 120, 2, out, sizeof(out));
        EXPECT_STREQ(out, f.text);
    }

    const std::string category(250, 'c');
    char state[260];
    BuildStateText(category.c_str(), "in archive", state, sizeof(state));
    EXPECT_EQ(std::string(state), category + "(in arch)") << "the category stays whole";
    BuildStateText(std::string(259, 'c').c_str(), "in archive", state, sizeof(state));
    EXPECT_EQ(std::strlen(state), 259u);
    BuildStateText("Virus", "", state, sizeof(state));
    EXPECT_STREQ(state, "Virus");

    struct Decision {
        int argc;
        bool systemAreas, quickScan, hidden, writes;
    };
    const Decision decisions[] = {{2, false, false, false, true}, {2, true, false, false, false},
                                  {4, true, true, false, false}, {3, true, false, true, false},
                                  {3, true, false, false, true}, {3, false, true, true, true},
                                  {5, true, true, false, true}};
    for (const Decision& d : decisions)
        EXPECT_EQ(ShouldWriteLastScan(d.argc, d.systemAreas, d.quickScan, d.hidden), d.writes) << d.argc;

    ScanTargetList targets;
    for (const char* path : {"C:\\", "D:\\data"}) {
        ScanTarget target{};
        std::strcpy(target.path, path);
        targets.push_back(target);
    }
    char text[2048] = "done";
    AppendTargetPart(text, sizeof(text), targets, false, "all");
    EXPECT_STREQ(text, "done(C:\\,D:\\data)");
    std::strcpy(text, "done");
    AppendTargetPart(text, sizeof(text), targets, true, "Full scan");
    EXPECT_STREQ(text, "done(Full scan)");
    ScanTarget longOne{};
    std::memset(longOne.path, 'p', 240);
    targets.push_back(longOne);
    std::strcpy(text, "");
    AppendTargetPart(text, sizeof(text), targets, false, "");
    EXPECT_STREQ(text, "(C:\\,D:\\data,......)");
    std::strcpy(text, "x");
    AppendTargetPart(text, sizeof(text), {}, false, "");
    EXPECT_STREQ(text, "x");
}

}  // namespace
