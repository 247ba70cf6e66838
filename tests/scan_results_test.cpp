// Findings, cure and the end of a scan, through kxscan.exe with the stand-in
// engine (or the slow test engine) over real folders; and the rules of the
// result texts.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/kxscan_run.h"
#include "window/result_texts.h"

namespace {

using kxtest::Escaped;
using kxtest::KxscanRun;
using kxtest::RemoteListCall;
using kxtest::Rows;
using kxtest::ScannerText;

const std::string kStatus = "SOFTWARE\\Tarnwick Systems\\Korvex\\Events\\status";

// A signature line of kxsoc.sig for the marker `name` of the test files.
std::string Signature(const std::string& name, const char* kindResultAction) {
    return "Test." + name + " | " + kindResultAction + " | " + kxtest::Hex(("KXT:" + name).data(), name.size() + 4);
}

TEST(ScanResults, RowsByKindThenOnePassWithEveryOutcomeAndTheLogs) {
    KxscanRun run(KxscanRun::kStandIn,
                  {Signature("ADWARE", "5 | 0x0001 | delete"), Signature("EIGHT", "0 | 0x0008 | fail"),
                   Signature("HACK", "9 | 0x0004 | repair"), Signature("INJURE", "7 | 0x0002 | fail"),
                   Signature("NOTE", "0 | 0x1000 | fail"), Signature("ZIPPED", "0 | 0x1001 | fail")});
    ASSERT_TRUE(run.Start({{"a.txt", "KXT:ADWARE"}, {"b.txt", "KXT:EIGHT"}, {"c.txt", "one KXT:HACK two"},
                           {"d.txt", "KXT:INJURE"}, {"e.txt", "KXT:NOTE"}, {"f.txt", "KXT:ZIPPED"},
                           {"g.txt", "clean"}}));
    ASSERT_TRUE(run.WaitForText(1011, ScannerText("CURE")));
    auto row = [&](const char* name, const char* file, const std::string& state, const char* code, bool checked) {
        return std::string("Test.") + name + "|" + run.Data(file) + "|" + state + "|" + code + (checked ? "|1" : "|0");
    };
    // The newest finding at the top; 0x1000 alone is listed without a state
    // and is no infection; 0x0008 alone is not listed.
    EXPECT_EQ(Rows(run.window),
              (std::vector<std::string>{
                  row("ZIPPED", "f.txt", ScannerText("Virus") + "(" + ScannerText("IncurableZip") + ")", "16", true),
                  row("NOTE", "e.txt", "", "16", true), row("INJURE", "d.txt", ScannerText("InjureProgram"), "16", true),
                  row("HACK", "c.txt", ScannerText("HackingTool"), "16", true),
                  row("ADWARE", "a.txt", ScannerText("AdSpyware"), "16", true)}));
    EXPECT_NE(run.Text(1010).find("7 files scanned, 4 threats"), std::string::npos) << run.Text(1010);
    EXPECT_EQ(run.Text(1005), "100%");
    ::SendMessageA(run.window, WM_APP + 6, 0, 30000);  // a count's range that arrives after the end
    EXPECT_EQ(::SendDlgItemMessageA(run.window, 1002, PBM_GETRANGE, FALSE, 0), 4) << "the end's range stays";
    EXPECT_EQ(run.Lines("ScanVirus (" + run.Data("b.txt") + ") (8)") + run.Lines("CheckScan (1) (5) (Test.ADWARE)"), 2);
    std::string lastScan;
    EXPECT_TRUE(kxtest::RegGetString(kStatus, "LastScan", &lastScan));
    EXPECT_NE(run.Log("events.log").find(ScannerText("CANCEL") + "(" + Escaped(run.install.File("data")) + ")"),
              std::string::npos);

    // One pass, top to bottom; the fifth outcome passes the four infections,
    // so the count-down ends empty and the window is finished.
    kxtest::ClickButton(run.window, 1011);
    ASSERT_TRUE(run.WaitForText(1001, ScannerText("FINISH")));
    const std::string failed = ScannerText("IncurableAD");
    EXPECT_EQ(Rows(run.window), (std::vector<std::string>{row("ZIPPED", "f.txt", failed, "16", false),
                                                          row("NOTE", "e.txt", failed, "16", false),
                                                          row("INJURE", "d.txt", failed, "16", false),
                                                          row("HACK", "c.txt", ScannerText("CURE"), "8", false),
                                                          row("ADWARE", "a.txt", ScannerText("DEL"), "512", false)}));
    EXPECT_EQ(run.Text(1005), "");
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(run.window, 1011)));
    EXPECT_FALSE(kxtest::FileExists(run.Data("a.txt")));
    EXPECT_EQ(run.install.Read("data\\c.txt"), "one  two");
    const std::string log = run.Log("virus.log");
    for (const char* record : {"ZIPPED|f.txt|3", "NOTE|e.txt|3", "INJURE|d.txt|3", "HACK|c.txt|1", "ADWARE|a.txt|2"}) {
        std::string line = std::string("|Test.") + record + "|2";
        line.insert(line.find('|', 1) + 1, Escaped(run.install.File("data\\")));
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
    DWORD counter = 0;
    EXPECT_TRUE(kxtest::RegGetDword("SOFTWARE\\Tarnwick Systems\\Korvex\\Events\\access", "Test.HACK|2|1", &counter));
    EXPECT_EQ(counter, 1u);

    // Everything handled: a close closes without asking or recording more.
    ::PostMessageA(run.window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(run.Ended());
    EXPECT_EQ(run.Log("virus.log"), log);
}

TEST(ScanResults, LongStatusLineCureStopsRestartsAndAClosedWindowWaitsForItsPass) {
    KxscanRun run;
    // A file of a 519-character path: with the time in front the status line
    // is longer, and still ends in the whole name.
    std::string deep = run.install.File("data");
    while (deep.size() < 506) {
        const size_t length = std::min<size_t>(120, 505 - deep.size());
        deep.append(1, '\\').append(length, 'd');
    }
    deep.append("\\deep_end.txt");
    std::wstring exact = L"\\\\?\\";
    for (char c : deep) {
        if (c == '\\') ::CreateDirectoryW(exact.c_str(), nullptr);
        exact += static_cast<wchar_t>(c);
    }
    HANDLE file = ::CreateFileW(exact.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(file, "INFECTED", 8, &written, nullptr);
    ::CloseHandle(file);
    ASSERT_TRUE(run.Start(kxtest::NumberedFiles(4, 4), "", 400));
    EXPECT_TRUE(kxtest::Until([&] { return run.Text(1010).find(deep) != std::string::npos; }, 3000)) << run.Text(1010);
    ASSERT_TRUE(run.WaitForText(1011, ScannerText("CURE")));
    ::SendMessageA(run.window, WM_USER + 103, 1, 0);  // never a second walk
    ::Sleep(300);
    EXPECT_EQ(run.Lines("ScanVirus ("), 5);
    HWND list = ::GetDlgItem(run.window, 1003);
    LVITEMA check{};  // the first finding, at the bottom, stays uncured for now
    check.stateMask = LVIS_STATEIMAGEMASK;
    check.state = INDEXTOSTATEIMAGEMASK(1);
    RemoteListCall(list, LVM_SETITEMSTATE, 4, &check, nullptr);

    // Cancel during a pass: no question; at most the row in progress is finished.
    kxtest::ClickButton(run.window, 1011);
    ASSERT_TRUE(run.WaitForText(1005, "80%")) << run.Text(1005);
    kxtest::ClickButton(run.window, 1001);
    EXPECT_EQ(run.WaitForBox(1200), nullptr);
    const int cured = run.Lines("VirusCure (");
    EXPECT_LE(cured, 2);
    EXPECT_EQ(run.Text(1005), cured == 1 ? "80%" : "60%");

    // Close during the next pass, answered No: that pass stops after its row
    // and a new one cures what is still checked, never two at once.
    kxtest::ClickButton(run.window, 1011);
    run.WaitForLines("VirusCure (", cured + 1);
    kxtest::ClickButton(run.window, 1008);
    kxtest::MessageBoxAnswerer no(ScannerText("TITLE"), IDNO);
    run.WaitForLines("VirusCure (", 4, 4000);
    ::Sleep(1500);
    EXPECT_TRUE(no.Answered());
    for (int file = 100; file < 104; ++file)
        EXPECT_EQ(run.Lines("VirusCure (8) (0) (" + run.Data("file" + std::to_string(file) + ".txt") + ")"), 1) << file;
    EXPECT_EQ(run.Text(1005), "20%");
    EXPECT_EQ(run.Text(1001), ScannerText("CANCEL")) << "one infection left: not finished";

    // A close confirmed during a pass hides the window at once; the process
    // ends once the pass has recorded its row, and nothing is left uncured.
    check.state = INDEXTOSTATEIMAGEMASK(2);
    RemoteListCall(list, LVM_SETITEMSTATE, 4, &check, nullptr);
    kxtest::ClickButton(run.window, 1011);
    ::Sleep(150);
    kxtest::MessageBoxAnswerer yes(ScannerText("TITLE"), IDYES);
    kxtest::ClickButton(run.window, 1008);
    EXPECT_TRUE(kxtest::Until([&] { return !::IsWindowVisible(run.window); }, 1000)) << "hidden at once";
    EXPECT_EQ(::WaitForSingleObject(run.child.Handle(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "still curing";
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(yes.Text(), ScannerText("NotIncurable"));
    const std::string log = run.Log("virus.log");
    EXPECT_NE(log.find("deep_end.txt|1|2"), std::string::npos) << log;
    EXPECT_EQ(log.find("|0|2"), std::string::npos) << log;
}

// More findings than one batch holds, with the window's thread stopped for a
// while: the scan waits rather than queue without end; every finding is then
// listed, newest first, and a pass cures them all with the list following it.
TEST(ScanResults, ABatchFullOfFindingsHoldsTheScanAndThousandsAreListedAndCuredInOrder) {
    KxscanRun run;
    const int count = 1100;
    ASSERT_TRUE(run.Start(kxtest::NumberedFiles(count, count), "", 1));
    HANDLE thread = ::OpenThread(THREAD_SUSPEND_RESUME, FALSE, ::GetWindowThreadProcessId(run.window, nullptr));
    ASSERT_NE(thread, nullptr);
    ::SuspendThread(thread);
    // ScanVirus is logged before a finding is reported, CheckScan after.
    EXPECT_TRUE(run.WaitForLines("CheckScan (", 1023));
    int reported = 0;
    EXPECT_TRUE(kxtest::Until([&] { return std::exchange(reported, run.Lines("CheckScan (")) == reported; }, 5000));
    ::Sleep(1000);
    EXPECT_EQ(run.Lines("CheckScan ("), reported) << "the scan waits for the window";
    EXPECT_EQ(run.Lines("ScanVirus ("), reported + 1);
    ::ResumeThread(thread);
    ::CloseHandle(thread);

    ASSERT_TRUE(run.WaitForText(1011, ScannerText("CURE"), 30000));
    std::vector<std::string> names;
    for (const auto& file : kxtest::NumberedFiles(count, count)) names.push_back(file.first);
    std::sort(names.begin(), names.end());  // the walk's order
    HWND list = ::GetDlgItem(run.window, 1003);
    ASSERT_EQ(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), count);
    for (int row = 0; row < count; ++row) {
        LVITEMA item{};
        item.iSubItem = 1;
        char path[520] = {};
        RemoteListCall(list, LVM_GETITEMTEXTA, row, &item, path);
        ASSERT_EQ(std::string(path), run.Data(names[count - 1 - row])) << row;
    }

    kxtest::ClickButton(run.window, 1011);
    ASSERT_TRUE(run.WaitForText(1001, ScannerText("FINISH"), 60000));
    EXPECT_EQ(run.Text(1005), "");
    const auto top = ::SendMessageA(list, LVM_GETTOPINDEX, 0, 0);
    EXPECT_GE(top + ::SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0), count) << "the last row cured is in view";
    EXPECT_EQ(kxtest::Occurrences(run.Log("virus.log"), "|1|2\r\n"), count);
}

// Each run also hands over to the updater by ExecuteUpdate as the window closes.
TEST(ScanEnd, AutoCureCloseWhenCleanTheCheckBoxNoFileVisitedAndTheUpdater) {
    const std::string config = "SOFTWARE\\Tarnwick Systems\\Korvex\\Events\\config";
    struct Case {
        const char* options;
        DWORD executeUpdate, afterwards;  // 9: no value
        bool updater, updated;            // update.exe there, and run
    };
    const Case cases[] = {{"/AC", 1, 0, true, true}, {"/SC", 2, 2, true, false}, {"", 1, 0, false, false},
                          {"/QS", 9, 9, true, false}};
    for (const Case& c : cases) {
        KxscanRun run;
        if (c.executeUpdate != 9) kxtest::RegSetDword(config, "ExecuteUpdate", c.executeUpdate);
        if (!c.updater) ::DeleteFileA(run.install.File("update.exe").c_str());
        ASSERT_TRUE(run.Start(kxtest::NumberedFiles(c.options[1] == 'Q' ? 0 : 2, c.options[1] == 'A'), c.options, 300));
        if (!*c.options) kxtest::ClickButton(run.window, 1009);  // the check box
        if (c.options[1] == 'A') {
            ASSERT_TRUE(run.WaitForText(1001, ScannerText("FINISH"))) << "/AC cures at once";
            EXPECT_NE(run.Log("virus.log").find("|Test.Infected|"), std::string::npos);
            ::PostMessageA(run.window, WM_CLOSE, 0, 0);
        } else if (c.options[1] == 'Q') {  // no file visited
            ASSERT_TRUE(run.WaitForText(1005, "100%"));
            EXPECT_EQ(::SendDlgItemMessageA(run.window, 1002, PBM_GETPOS, 0, 0), 0) << "the bar keeps its place";
            std::string lastScan;
            EXPECT_FALSE(kxtest::RegGetString(kStatus, "LastScan", &lastScan));
            ::PostMessageA(run.window, WM_CLOSE, 0, 0);
        }
        EXPECT_TRUE(run.Ended()) << c.options << ": a clean scan closes by itself, a finished one on request";
        DWORD value = 9;
        kxtest::RegGetDword(config, "ExecuteUpdate", &value);
        EXPECT_EQ(value, c.afterwards) << c.options;
        EXPECT_EQ(run.install.Read("update.log").find("/hide /scan") != std::string::npos, c.updated) << c.options;
    }
    KxscanRun run;  // without arguments nothing opens, is read or is written
    EXPECT_EQ(kxtest::Run(kxtest::Quote(run.install.File("kxscan.exe")), 10000).exitCode, 0u);
    EXPECT_FALSE(kxtest::RegKeyExists("SOFTWARE\\Tarnwick Systems\\Korvex\\Events"));
    EXPECT_FALSE(kxtest::FileExists(run.install.File("Logs\\kxlog.01")));
}

// A full disk: a tmpfs of five pages mounted on the Logs folder (only root
// may mount one), the virus log 8 bytes short of the end of its page, the
// debug log due to rotate, one page free for its new file. The cure's
// records that do not fit are lost whole, each with a debug-log line, and
// the results are shown; with room again the next cure's records follow the
// old ones, all whole. The rotation keeps every older generation.
TEST(ScanResults, AFullDiskLosesOnlyTheRecordsThatDoNotFit) {
    KxscanRun run;
    if (kxtest::Shell("id -u") != "0\n") GTEST_SKIP() << "mounting a tmpfs takes root";
    std::string logs = "\"$WINEPREFIX/drive_c" + run.install.File("Logs").substr(2) + "\"", old = "QMR!LOGS", lines;
    std::replace(logs.begin(), logs.end(), '\\', '/');
    ASSERT_EQ(kxtest::Shell("mount -t tmpfs -o size=20k tmpfs " + logs + " && echo mounted"), "mounted\n");
    const std::unique_ptr<const char, void (*)(const char*)> unmount(logs.c_str(), [](const char* at) { kxtest::Shell("umount " + std::string(at)); });
    for (char c : {'a', 'b', 'c', 'd'}) old += kxtest::EncryptedRecord(std::string(1000, c)), lines += std::string(1000, c) + "\r\n";
    run.install.Write("Logs\\virus.log", old);
    const std::string generations = "cd " + logs + " && stat -c %s kxlog.0[2-5]";
    kxtest::Shell("cd " + logs + " && truncate -s 5000001 kxlog.01 && for n in 2 3 4; do truncate -s $n kxlog.0$n; done && (cat /dev/zero >fill; truncate -s -4096 fill)");
    for (const char* folder : {"data", "more"}) {
        kxtest::ChildProcess again;
        run.install.Write(std::string(folder) + "\\x.txt", "INFECTED"), run.install.Write(std::string(folder) + "\\y.txt", "INFECTED");
        ASSERT_TRUE(kxtest::StartKxscan(&again, run.install, "/AC " + kxtest::Quote(run.install.File(folder))));
        run.window = again.FindWindow(20000);
        ASSERT_TRUE(run.WaitForText(1001, ScannerText("FINISH")));
        for (const std::string& row : Rows(run.window)) EXPECT_TRUE(row.ends_with(ScannerText("CURE") + "|8|0")) << row;
        EXPECT_EQ(kxtest::Shell(generations), "5000001\n2\n3\n4\n");
        ::PostMessageA(run.window, WM_CLOSE, 0, 0);
        EXPECT_TRUE(again.Wait(10000));
        EXPECT_EQ(run.Lines("virus.log: a record is lost, 8 of its"), 2);
        kxtest::Shell("rm -f " + logs + "/fill");
    }
    const kxtest::RunResult log = kxtest::Run(kxtest::Quote(kxtest::BuildFolder() + "\\kxlogcat.exe") + " " + kxtest::Quote(run.install.File("Logs\\virus.log")), 20000);
    EXPECT_EQ(log.exitCode, 0u) << log.output;
    EXPECT_TRUE(log.output.starts_with(lines) && kxtest::Lines(log.output.substr(lines.size())).size() == 2) << log.output;
}

TEST(ScanEnd, SummaryStateTextTargetsAndTheLastScanRules) {
    const std::pair<const char*, const char*> formats[] = {
        {"%d files, %d found", "120 files, 2 found"}, {"no fields", "no fields"}, {"%d%% %s %n %d %d", "120% %s %n 2 %d"}};
    for (const auto& [format, text] : formats) {
        char out[64];
        FormatCounts(format, 120, 2, out, sizeof(out));
        EXPECT_STREQ(out, text);
    }

    char state[260];
    BuildStateText(std::string(250, 'c').c_str(), "in archive", state, sizeof(state));
    EXPECT_EQ(std::string(state), std::string(250, 'c') + "(in arch)") << "the category stays whole";
    BuildStateText(std::string(259, 'c').c_str(), "in archive", state, sizeof(state));
    EXPECT_EQ(std::string(state), std::string(259, 'c'));

    // argc, /PR, /QS, /HD: whether LastScan is written.
    const int decisions[][5] = {{2, 0, 0, 0, 1}, {2, 1, 0, 0, 0}, {4, 1, 1, 0, 0}, {3, 1, 0, 1, 0},
                                {3, 1, 0, 0, 1}, {3, 0, 1, 1, 1}, {5, 1, 1, 0, 1}};
    for (const auto& d : decisions) EXPECT_EQ(ShouldWriteLastScan(d[0], d[1], d[2], d[3]), d[4] != 0) << d[0];

    ScanTargetList targets(3);
    std::strcpy(targets[0].path, "C:\\");
    std::strcpy(targets[1].path, "D:\\data");
    std::memset(targets[2].path, 'p', 240);
    // targets, all local drives: the text after "done"
    const std::tuple<size_t, bool, const char*> parts[] = {
        {2, false, "done(C:\\,D:\\data)"}, {2, true, "done(Full scan)"}, {3, false, "done(C:\\,D:\\data,......)"}, {0, false, "done"}};
    for (const auto& [count, allDrives, expected] : parts) {
        char text[2048] = "done";
        AppendTargetPart(text, sizeof(text), ScanTargetList(targets.begin(), targets.begin() + count), allDrives, "Full scan");
        EXPECT_STREQ(text, expected);
    }
}

}  // namespace
