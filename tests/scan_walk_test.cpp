// What a scan visits (scan/): the targets from the command line or the fixed
// drives, the single-instance test, the walk of the file system with its
// exclusions and quick-scan filter, and the system areas (autostart entries,
// modules, drivers). The walkers run on a ScanJob of the test's own with an
// engine that records the paths it is handed.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/local_text.h"
#include "app/startup.h"
#include "scan/autostart.h"
#include "scan/file_walk.h"
#include "scan/modules.h"
#include "scan/scan_job.h"
#include "scan/scan_targets.h"
#include "tests/support/recording_engine.h"
#include "tests/support/test_support.h"

namespace {

using kxtest::g_recorder;
using kxtest::RegisteredInstall;
using kxtest::TempInstallDir;
using Paths = std::vector<std::string>;

Paths PathsOf(const ScanTargetList& list) {
    Paths paths;
    for (const ScanTarget& target : list) paths.push_back(target.path);
    return paths;
}

ScanTargetList List(const Paths& paths) {
    ScanTargetList list(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) std::snprintf(list[i].path, sizeof(list[i].path), "%s", paths[i].c_str());
    return list;
}

TEST(ScanTargets, EachDriveLetterOfAnArgumentStartsATargetCutAtQuotesWithinItsBuffer) {
    const std::string overlong = "Q:\\" + std::string(700, 'x');
    const std::pair<Paths, Paths> rows[] = {
        {{"Q:\\a\"R:\\b"}, {"Q:\\a", "R:\\b"}}, {{"Q:\\a R:\\b"}, {"Q:\\a R:\\b", "R:\\b"}},
        {{"Q:\\one", "R:\\two"}, {"Q:\\one", "R:\\two"}}, {{"no colon here", "/PR", "/X:\\y"}, {}}, {{"C:"}, {"C:\\"}},
        {{"Q:\\not\\there.txt"}, {"Q:\\not\\there.txt"}}, {{":"}, {}}, {{":Q:\\a"}, {"Q:\\a"}},
        {{"::"}, {"?:\\"}},  // the first colon is already marked when the second is cut
        {{overlong}, {overlong.substr(0, 519)}}};
    for (auto [args, targets] : rows) {
        std::vector<char*> argv{const_cast<char*>("kxscan.exe")};
        for (std::string& arg : args) argv.push_back(arg.data());
        ScanTargetList list;
        EXPECT_EQ(AddArgumentTargets(&list, static_cast<int>(argv.size()), argv.data()), static_cast<int>(targets.size()));
        EXPECT_EQ(PathsOf(list), targets) << args[0];
    }
    // A path the search finds becomes a full path.
    TempInstallDir folder(false);
    folder.Write("found.txt", "x");
    char previous[MAX_PATH] = {};
    ::GetCurrentDirectoryA(sizeof(previous), previous);
    ::SetCurrentDirectoryA(folder.Path().c_str());
    ScanTargetList list;
    AddScanTarget(&list, "found.txt");
    ::SetCurrentDirectoryA(previous);
    EXPECT_EQ(::lstrcmpiA(list.at(0).path, folder.File("found.txt").c_str()), 0) << list[0].path;
}

TEST(ScanMutex, NamedByTheSumOfLowerCasedChecksumsAndOwnedOnce) {
    auto name = [](const Paths& paths) {
        char text[32];
        ScanMutexName(List(paths), text, sizeof(text));
        return std::string(text);
    };
    EXPECT_EQ(name({}) + name({"C:\\"}) + name({"c:\\"}), "Kxscan_0Kxscan_f2a46fcdKxscan_f2a46fcd");
    EXPECT_EQ(name({"C:\\Data", "D:\\Backup\\"}), name({"d:\\BACKUP\\", "c:\\data"}));
    EXPECT_NE(name({"C:\\Data"}), name({"C:\\Data2"}));
    TempInstallDir folder(false);
    EXPECT_EQ(IsScanRunning(List({folder.Path()})), 0);
    EXPECT_EQ(IsScanRunning(List({folder.Path()})), 1);
}

// An installation with the stand-in engine whose debug log shows each file
// that reaches it.
struct EngineInstall : RegisteredInstall {
    EngineInstall() : RegisteredInstall(true) {
        dir.CopyFromBuild("kxsoc.dll");
        ::CreateDirectoryA(dir.File("Logs").c_str(), nullptr);
        kxtest::RegSetDword("SOFTWARE\\Tarnwick Systems\\Korvex", "DbgLevel", 2);
    }
};

TEST(ScanMutex, ASecondKxscanOnTheSameTargetsEndsWithoutScanning) {
    EngineInstall install;
    install.dir.Write("data\\one.txt", "hello");
    kxtest::ChildProcess first, second;
    ASSERT_TRUE(kxtest::StartKxscan(&first, install.dir, kxtest::Quote(install.dir.File("data"))));
    HWND window = first.FindWindow(20000);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(kxtest::StartKxscan(&second, install.dir, kxtest::Quote(install.dir.File("DATA"))));
    EXPECT_TRUE(second.Wait(10000)) << "the second process must end by itself";
    EXPECT_TRUE(::IsWindow(window)) << "the first one's window stays";
    const std::string line = "ScanVirus (" + install.dir.File("data\\one.txt") + ")";
    std::string log;
    for (int wait = 0; wait < 100 && log.find(line) == std::string::npos; ++wait, ::Sleep(50))
        log = install.dir.Read("Logs\\kxlog.01");
    EXPECT_NE(log.find(line), std::string::npos) << log;
    EXPECT_EQ(log.find(line, log.find(line) + 1), std::string::npos) << "scanned once only:\n" << log;
    // Closing asks to stop the scan if it still runs.
    char title[260] = {};
    GetLocalText("SCANNER", "TITLE", title, sizeof(title));
    kxtest::MessageBoxAnswerer stop(title, IDYES);
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(first.Wait(10000));
}

// Builds the targets of a scan of every fixed drive while a path argument is
// given too, and prints them.
KX_PROBE(all_local_drives) {
    ProcessOptions().allLocalDrives = 1;
    ScanJob job;
    job.StartCounting();
    for (const ScanTarget& target : job.targets) std::printf("%s|", target.path);
    return 0;
}

TEST(AllLocalDrives, EveryFixedDriveInTheSystemsOrderAndNoPathArgument) {
    EngineInstall install;
    // Both drives excluded: the count that starts ends at once.
    install.dir.Write("qmrkx.ini", "[MAIN]\nexcludepath=C:\\|Z:\\\n");
    std::string fixed;
    for (char drive = 'A'; drive <= 'Z'; ++drive)
        if (::GetDriveTypeA((std::string(1, drive) + ":\\").c_str()) == DRIVE_FIXED) fixed += drive + std::string(":\\|");
    EXPECT_EQ(fixed.substr(0, 3), "C:\\");
    EXPECT_EQ(kxtest::RunProbe("all_local_drives", {install.dir.File("one.txt")}).output, fixed);
}

// A ScanJob whose engine records the paths it is handed.
class Walk : public ::testing::Test {
protected:
    void SetUp() override {
        g_recorder = kxtest::RecordingEngine{};
        job.engine.scanFile = kxtest::RecordScan;
    }
    void TearDown() override { ProcessOptions().quickScan = 0; }
    std::string Path(const std::string& relative) const { return root.File(relative); }
    Paths Scan(const std::string& path, int recurse) {
        char buffer[520];
        std::snprintf(buffer, sizeof(buffer), "%s", path.c_str());
        ScanFolder(buffer, recurse, job);
        return g_recorder.paths;
    }
    DWORD Count(const std::string& path) {
        char buffer[520];
        std::snprintf(buffer, sizeof(buffer), "%s", path.c_str());
        return CountFolderFiles(buffer, 1, job);
    }
    TempInstallDir root{false};
    ScanJob job;
};

TEST(Exclusions, APrefixAsWrittenWithoutRegardToCase) {
    ExcludedPathTable table{};
    ParseExcludedPaths("C:\\Temp|D:\\Data\\", &table);
    for (auto [path, excluded] : {std::pair{"C:\\Temp\\", 1}, {"c:\\TEMPORARY\\x.txt", 1}, {"C:\\Tem\\", 0},
                                  {"D:\\data\\sub\\", 1}, {"D:\\Database\\", 0}, {"", 0}})
        EXPECT_EQ(IsExcludedPathIn(table, path), excluded) << path;
}

TEST_F(Walk, EveryFileIsCountedAndScannedOnceInOrderUntilAStop) {
    for (const char* name : {"a.txt", "sub\\b.bin", "sub\\deeper\\c", "sub\\deeper\\d.doc", "z.exe"}) root.Write(name, "x");
    ::CreateDirectoryA(Path("empty").c_str(), nullptr);
    EXPECT_EQ(std::to_string(Count(root.Path())) + std::to_string(Count(root.Path() + "\\")) + std::to_string(Count(Path("missing"))), "550");
    EXPECT_EQ(Scan(root.Path(), 1), (Paths{Path("a.txt"), Path("sub\\b.bin"), Path("sub\\deeper\\c"), Path("sub\\deeper\\d.doc"), Path("z.exe")}));
    EXPECT_EQ(Scan(Path("missing"), 1).size(), 5u) << "an unreadable folder is skipped";
    char current[520];
    job.CopyCurrentFile(current, sizeof(current));
    EXPECT_EQ(current + std::to_string(job.filesVisited), Path("z.exe") + "5");

    for (int i = 0; i < 200; ++i) root.Write("big\\f" + std::to_string(1000 + i), "x");
    g_recorder = kxtest::RecordingEngine{{}, &job, 7};
    job.filesVisited = 0;
    EXPECT_EQ(Scan(root.Path(), 1).size(), 7u) << "a stop ends the walk at the next entry";
    EXPECT_EQ(job.filesVisited, 7u);
    EXPECT_EQ(Count(root.Path()), 0u) << "a cancelled scan stops counting too";
}

TEST_F(Walk, QuickScanTakesListedExtensionsAndProgramStartsOfSmallFilesOnly) {
    ProcessOptions().quickScan = 1;
    std::snprintf(ProcessOptions().quickScanExtensions, 520, "exe,com,bat,doc,ppt,xls");
    for (const auto& [name, content] : {std::pair<const char*, std::string>{"readme.txt", "MZ rest"}, {"notes.txt", "plain"},
                                        {"setup.exe", std::string(3 << 20, 'M')}, {"small.EXE", "x"}, {"a.ex", "x"},
                                        {"archive.html", "<html>"}, {"archive2.html", "MZ"},
                                        {"archive3.html", "\xD0\xCF\x11\xE0"}, {"one.bin", "M"}})
        root.Write(name, content);
    EXPECT_EQ(Scan(root.Path(), 1), (Paths{Path("a.ex"), Path("archive2.html"), Path("archive3.html"), Path("readme.txt"), Path("small.EXE")}));
    EXPECT_EQ(std::to_string(job.filesVisited) + " " + std::to_string(Count(root.Path())), "9 9") << "filtered files are visited and counted";
    g_recorder.paths.clear();
    EXPECT_EQ(Scan(Path("setup.exe"), 0), Paths{Path("setup.exe")}) << "a named file is always scanned";
    EXPECT_EQ(QuickScanWants(Path("small.EXE").c_str(), L"small.EXE", 1, 10, "exe"), 0) << "4 GiB and more";
}

TEST_F(Walk, NamesWithoutAnAnsiFormReachTheEngineByTheirShortNames) {
    const std::wstring folder(root.Path().begin(), root.Path().end());
    Paths expected = {Path("plain.txt")};
    root.Write("plain.txt", "x");
    for (const wchar_t* name : {L"\uD55C\uAE00 \uBB38\uC11C.txt", L"caf\u0101.txt"}) {
        ::CloseHandle(::CreateFileW((folder + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        wchar_t shortPath[MAX_PATH] = {};
        ASSERT_GT(::GetShortPathNameW((folder + L"\\" + name).c_str(), shortPath, MAX_PATH), 0u);
        char ansi[MAX_PATH] = {};
        ::WideCharToMultiByte(CP_ACP, 0, std::wcsrchr(shortPath, L'\\') + 1, -1, ansi, sizeof(ansi), nullptr, nullptr);
        expected.push_back(Path(ansi));
    }
    Paths scanned = Scan(root.Path(), 1);
    std::sort(scanned.begin(), scanned.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(scanned, expected);
    for (const std::string& path : scanned) EXPECT_TRUE(path.find('?') == std::string::npos && kxtest::FileExists(path)) << path;
}

TEST_F(Walk, PathsTooLongForTheBufferAreSkippedNotCut) {
    // A folder whose path leaves room for short names only.
    std::wstring folder = L"\\\\?\\" + std::wstring(root.Path().begin(), root.Path().end());
    std::string ansiFolder = root.Path();
    while (ansiFolder.size() < 470) {
        folder += L"\\" + std::wstring(40, L'd');
        ansiFolder += "\\" + std::string(40, 'd');
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    }
    const std::string tooLong(519 - ansiFolder.size(), 'n'), fits(518 - ansiFolder.size(), 'f');  // 520 and 519 characters
    for (const std::string& name : {tooLong, fits})
        ::CloseHandle(::CreateFileW((folder + L"\\" + std::wstring(name.begin(), name.end())).c_str(), GENERIC_WRITE, 0,
                                    nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_EQ(Scan(ansiFolder, 1), Paths{ansiFolder + "\\" + fits});
    EXPECT_EQ(Count(ansiFolder), 1u);
    // A 519-character folder cannot take its backslash: nothing is written past the buffer.
    struct {
        char path[520];
        char guard[8];
    } buffer;
    std::memset(buffer.path, 'p', 519);
    std::memcpy(buffer.path + 519, "\0GUARD!", 8);
    ScanFolder(buffer.path, 1, job);
    EXPECT_EQ(CountFolderFiles(buffer.path, 1, job), 0u);
    EXPECT_STREQ(buffer.guard, "GUARD!");
}

// Counts and scans each "path:recurse" with the settings' exclusions; prints
// the counts, then the scanned paths.
KX_PROBE(walk_with_exclusions) {
    ScanJob job;
    job.engine.scanFile = kxtest::RecordScan;
    for (const std::string& arg : args) {
        char buffer[520];
        std::snprintf(buffer, sizeof(buffer), "%s", arg.substr(0, arg.rfind(':')).c_str());
        if (arg.back() == '1') std::printf("%lu|", CountFolderFiles(buffer, 1, job));
        ScanFolder(buffer, arg.back() == '1', job);
    }
    for (const std::string& path : g_recorder.paths) std::printf("%s|", path.c_str());
    return 0;
}

TEST(WalkExclusions, ExcludedFoldersAndNamedFilesAreNeitherCountedNorScanned) {
    RegisteredInstall install;
    for (const char* name : {"data\\keep.txt", "data\\Skip\\a.txt", "data\\Skipped\\b.txt", "data\\Other\\c.txt",
                             "data\\Other\\hidden.txt", "data\\Other\\shown.txt"})
        install.dir.Write(name, "x");
    // "Skip" without a backslash also covers "Skipped". Inside a walked
    // folder only folders are tested; a named file is tested itself.
    auto file = [&](const char* name) { return install.dir.File(std::string("data\\") + name); };
    install.dir.Write("qmrkx.ini", "[MAIN]\nexcludepath=" + file("skip") + "|" + file("Other\\hidden.txt") + "\n");
    EXPECT_EQ(kxtest::RunProbe("walk_with_exclusions", {file("") + ":1", file("Skip") + ":1", file("Other\\hidden.txt") + ":0",
                                                        file("Other\\shown.txt") + ":0"}).output,
              "4|0|" + file("keep.txt") + "|" + file("Other\\c.txt") + "|" + file("Other\\hidden.txt") + "|" +
                  file("Other\\shown.txt") + "|" + file("Other\\shown.txt") + "|");
}

constexpr REGSAM kView = KEY_WOW64_64KEY;

// One fixture value; the value it replaces is put back afterwards, or the
// value deleted.
class ScopedValue {
public:
    ScopedValue(HKEY root, const std::string& key, std::string name, const std::string& data, DWORD type = REG_SZ)
        : name_(std::move(name)) {
        ::RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kView, nullptr, key_.put(), nullptr);
        DWORD size = 0;
        had_ = ::RegQueryValueExA(key_.get(), name_.c_str(), nullptr, &type_, nullptr, &size) == ERROR_SUCCESS;
        old_.resize(size);
        ::RegQueryValueExA(key_.get(), name_.c_str(), nullptr, &type_, reinterpret_cast<BYTE*>(old_.data()), &size);
        set_ = ::RegSetValueExA(key_.get(), name_.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                                static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
    }
    ~ScopedValue() {
        if (had_)
            ::RegSetValueExA(key_.get(), name_.c_str(), 0, type_, reinterpret_cast<const BYTE*>(old_.data()), static_cast<DWORD>(old_.size()));
        else
            ::RegDeleteValueA(key_.get(), name_.c_str());
    }
    bool Set() const { return set_; }

private:
    fw::UniqueKey key_;
    std::string name_, old_;
    DWORD type_ = 0;
    bool had_ = false, set_ = false;
};

const std::string kRun = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\", kServices = "System\\CurrentControlSet\\Services\\",
                  kClasses = "SOFTWARE\\Classes\\CLSID\\", kClassData = "{6A1B1D4E-0000-4000-8000-4B5843534E31}",
                  kClassName = "{6A1B1D4E-0000-4000-8000-4B5843534E32}", kNoServer = "{6A1B1D4E-0000-4000-8000-4B5843534E33}",
                  kHelper = "{6A1B1D4E-0000-4000-8000-4B5843534E34}";

std::string Searched(const char* name) {
    char found[260] = {};
    ::SearchPathA(nullptr, name, nullptr, sizeof(found), found, nullptr);
    return found;
}

// Every kind of entry, one or two per location, and the keys they need.
struct AutostartFixtures {
    std::vector<std::unique_ptr<kxtest::ScopedHklmKey>> keys;
    std::vector<std::unique_ptr<ScopedValue>> values;
    AutostartFixtures() {
        for (const std::string& key : {kClasses + kClassData, kClasses + kClassName, kClasses + kNoServer, kServices + "KxTestSvc",
                                       kRun + "RunOnceEx\\KxSub", kRun + "Explorer\\Browser Helper Objects\\" + kHelper})
            keys.push_back(std::make_unique<kxtest::ScopedHklmKey>(key));
        const HKEY cu = HKEY_CURRENT_USER, lm = HKEY_LOCAL_MACHINE;
        const std::string winlogon = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
        for (const auto& [root, key, name, data] : std::vector<std::tuple<HKEY, std::string, std::string, std::string>>{
                 {cu, kRun + "Run", "KxQuoted", "\"C:\\Program Files\\Tool\\tool.exe\" /start"},
                 {cu, kRun + "RunOnce", "KxRundll", "C:\\WINDOWS\\system32\\RUNDLL32.EXE C:\\x\\y.dll,Start"},
                 {lm, kRun + "Run", "KxRundllLower", "rundll32.exe C:\\x\\y.dll,Start"},
                 {lm, kRun + "RunOnce", "KxUnc", "\\\\server\\share\\x.exe"},
                 {lm, kRun + "RunOnceEx\\KxSub", "1", "C:\\kxtest\\subkey.exe"},
                 {lm, kRun + "RunServices", "KxSame1", "C:\\kxtest\\same.exe"},
                 {lm, kRun + "RunServices", "KxSame2", "C:\\KXTEST\\same.exe"},
                 {lm, kRun + "ShellServiceObjectDelayLoad", "KxObject", kClassData},
                 {lm, kClasses + kClassData + "\\InProcServer32", "", "C:\\kxtest\\clsid_data.dll"},
                 {lm, kRun + "Shell Extensions\\Approved", kClassName, "Kx extension"},
                 {lm, kRun + "Shell Extensions\\Approved", kNoServer, "Kx without server"},
                 {lm, kClasses + kClassName + "\\InProcServer32", "", "C:\\kxtest\\clsid_name.dll"},
                 {lm, kClasses + kNoServer, "", "C:\\kxtest\\no_server.dll"},
                 {lm, kRun + "Explorer\\Browser Helper Objects\\" + kHelper, "", "C:\\kxtest\\bho.dll"},
                 {lm, kServices + "KxTestSvc", "ImagePath", "%SystemRoot%\\system32\\lsass.exe /x"},
                 {lm, kServices + "KxTestSvc\\Parameters", "ServiceDll", "C:\\kxtest\\svc.dll"},
                 {lm, kServices + "KxTestSvc\\Parameters\\Deep", "ImagePath", "C:\\kxtest\\deep.exe"},
                 {lm, winlogon, "userinit", "C:\\kxtest\\userinit.exe,"}, {lm, winlogon, "Shell", "C:\\kxtest\\shell.exe"}}) {
            values.push_back(std::make_unique<ScopedValue>(root, key, name, data));
            EXPECT_TRUE(values.back()->Set()) << key << " " << name;
        }
        values.push_back(std::make_unique<ScopedValue>(lm, "System\\CurrentControlSet\\Control\\Session Manager",
                                                       "BootExecute", std::string("C:\\kxtest\\boot.exe\0", 20), REG_MULTI_SZ));
    }
};

TEST_F(Walk, AutostartEntriesGiveTheirPathsInLocationOrderCountedAsScanned) {
    AutostartFixtures fixtures;
    char lsass[260] = {}, longLsass[260] = {};
    ::ExpandEnvironmentStringsA("%SystemRoot%\\system32\\lsass.exe", lsass, sizeof(lsass));
    ::GetLongPathNameA(lsass, longLsass, sizeof(longLsass));
    // Quoted with an argument; the RUNDLL32.EXE host dropped; rundll32.exe
    // found by the search; two entries in a row for one file once; a CLSID as
    // data and as value name; the deepest service key first; variables
    // expanded and the argument cut; ServiceDll after every ImagePath. No
    // network path, no subkey of a value-list key, no helper object, no class
    // without InProcServer32.
    const Paths expected = {"C:\\Program Files\\Tool\\tool.exe", "C:\\x\\y.dll", Searched("rundll32.exe"),
                            "C:\\kxtest\\same.exe", "C:\\kxtest\\clsid_data.dll", "C:\\kxtest\\clsid_name.dll",
                            "C:\\kxtest\\deep.exe", longLsass[0] ? longLsass : lsass, "C:\\kxtest\\svc.dll",
                            "C:\\kxtest\\userinit.exe", "C:\\kxtest\\shell.exe", "C:\\kxtest\\boot.exe"};
    const DWORD counted = ScanAutostart(0, job);
    EXPECT_EQ(ScanAutostart(1, job), counted);
    EXPECT_EQ(job.filesVisited, g_recorder.paths.size());
    EXPECT_EQ(counted, g_recorder.paths.size());
    Paths ours;  // the prefix's own entries left out
    for (const std::string& path : g_recorder.paths)
        if (std::find_if(expected.begin(), expected.end(), [&](auto& e) { return ::lstrcmpiA(e.c_str(), path.c_str()) == 0; }) != expected.end() ||
            path.find("kxtest") != std::string::npos || path.find("server") != std::string::npos)
            ours.push_back(path);
    EXPECT_EQ(ours, expected);

    // A scan pass after a count pass that ended on its first path still scans it.
    const Paths first = g_recorder.paths;
    g_recorder.paths.clear();
    EXPECT_EQ(ScanAutostartFile(first.front().c_str(), 0, job), 1);
    EXPECT_EQ(ScanAutostartFile(first.front().c_str(), 0, job), 0) << "a repeat does not count";
    ScanAutostart(1, job);
    EXPECT_EQ(g_recorder.paths, first);
    // A stop before the pass, or at its first entry.
    g_recorder = kxtest::RecordingEngine{{}, &job, 1};
    job.cancel = 1;
    EXPECT_EQ(ScanAutostart(1, job), 0u);
    job.cancel = 0;
    EXPECT_EQ(ScanAutostart(1, job), 1u);
    EXPECT_EQ(g_recorder.paths.size(), 1u) << "no further entry or location once stopped";
    // The kernel's form loses its prefix; a repeat in other case is no new file.
    g_recorder.paths.clear();
    job.cancel = 0;
    EXPECT_EQ(ScanAutostartFile("\\??\\C:\\kxtest\\kernel.sys", 1, job) + ScanAutostartFile("\\??\\c:\\KXTEST\\kernel.sys", 1, job), 1);
    EXPECT_EQ(g_recorder.paths, Paths{"C:\\kxtest\\kernel.sys"});
}

TEST(CommandPaths, TextsBecomeTheFileTheyNameOrNothing) {
    char windows[260];
    ::GetWindowsDirectoryA(windows, sizeof(windows));
    std::string long1023(1023, 'a');
    long1023.replace(0, 10, "C:\\kxtest\\");
    // After the cut at ".EXE" nothing may follow the host: the bytes behind
    // the cut are no path. Tree values are read into 1024 bytes; the path
    // still fits 260. ".exe" is tried before ".Dll".
    const std::pair<std::string, std::string> rows[] = {
        {"C:\\x\\RUNDLL32.EXEX:\\evil.sys", ""}, {"C:\\nowhere\\RUNDLL32.EXE", ""}, {"C:\\nowhere\\RUNDLL32.EXE ", ""},
        {"\"notepad.exe\" /p x.txt", Searched("notepad.exe")}, {"kx_no_such_program.exe /x", ""}, {"", ""},
        {"C:\\a\\\\b.exe", ""}, {long1023, long1023.substr(0, 259)}, {"C:\\k\\a.Dll\\b.exe", "C:\\k\\a.Dll\\b.exe"}};
    for (const auto& [text, path] : rows) {
        char buffer[1024];
        std::snprintf(buffer, sizeof(buffer), "%s", text.c_str());
        EXPECT_EQ(ExtractCommandPath(buffer), path.empty() ? 0 : 1) << text.substr(0, 40);
        if (!path.empty()) { EXPECT_EQ(buffer, path); }
    }
    ::SetEnvironmentVariableA("KX_LONG", std::string(250, 'L').c_str());
    for (const auto& [in, out] : {std::pair<std::string, std::string>{"%SystemRoot%\\system32\\\\x.exe\\", windows + std::string("\\system32\\x.exe")},
                                  {"%KX_NOT_SET%\\y.dll", "%KX_NOT_SET%\\y.dll"}, {"%KX_LONG%\\%KX_LONG%\\z.dll", "%KX_LONG%\\%KX_LONG%\\z.dll"}}) {
        char path[260];
        std::snprintf(path, sizeof(path), "%s", in.c_str());
        ExpandPathVariables(path);
        EXPECT_EQ(path, out) << "components expanded, empty ones dropped, unknown and over-long ones left";
    }
}

constexpr const char* kReady = "kxtest_modules_ready";
constexpr const char* kDone = "kxtest_modules_done";

// Keeps the library args[0] loaded until the test is done with it.
KX_PROBE(hold_library) {
    if (!::LoadLibraryA(args.at(0).c_str())) return 2;
    fw::UniqueHandle ready(::OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, kReady)), done(::OpenEventA(SYNCHRONIZE, FALSE, kDone));
    ::ReleaseSemaphore(ready.get(), 1, nullptr);
    ::WaitForSingleObject(done.get(), 60000);
    return 0;
}

TEST_F(Walk, ModulesOfEveryProcessOncePerPassAndDriversCountedAsScanned) {
    const std::string library = kxtest::BuildFolder() + "\\kxsoc.dll";
    fw::UniqueHandle ready(::CreateSemaphoreA(nullptr, 0, 16, kReady)), done(::CreateEventA(nullptr, TRUE, FALSE, kDone));
    kxtest::ChildProcess children[3];
    for (kxtest::ChildProcess& child : children) ASSERT_TRUE(kxtest::StartProbe(&child, "hold_library", {library}));
    for (int i = 0; i < 3; ++i) ASSERT_EQ(::WaitForSingleObject(ready.get(), 20000), WAIT_OBJECT_0);
    const DWORD counted = ScanProcessModules(0, job);
    EXPECT_EQ(ScanProcessModules(1, job), counted);
    ::SetEvent(done.get());
    EXPECT_EQ(counted, g_recorder.paths.size());
    EXPECT_EQ(job.filesVisited, counted);
    Paths sorted = g_recorder.paths;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "scanned twice";
    char own[520] = {};
    ::GetModuleFileNameA(nullptr, own, sizeof(own));  // the children run this program too
    for (const std::string& module : {library, std::string(own), Searched("kernel32.dll"), Searched("ntdll.dll")})
        EXPECT_EQ(std::count_if(sorted.begin(), sorted.end(), [&](auto& p) { return ::lstrcmpiA(p.c_str(), module.c_str()) == 0; }), 1) << module;

    // Wine lists no drivers, Windows many: either way both passes agree.
    g_recorder.paths.clear();
    const DWORD drivers = ScanLoadedDrivers(0, job);
    EXPECT_TRUE(g_recorder.paths.empty()) << "the count pass hands nothing over";
    EXPECT_EQ(ScanLoadedDrivers(1, job), drivers);
    EXPECT_EQ(g_recorder.paths.size(), drivers);
    g_recorder = kxtest::RecordingEngine{{}, &job, 1};
    EXPECT_EQ(ScanProcessModules(1, job), 1u);
    EXPECT_EQ(ScanProcessModules(0, job) + ScanLoadedDrivers(0, job) + ScanLoadedDrivers(1, job), 0u);
    EXPECT_EQ(g_recorder.paths.size(), 1u) << "no further module or driver once stopped";

    ModulePathsSeen seen;
    DWORD added = 0;
    for (int i = 0; i < 12000; ++i) added += seen.Add(("C:\\Windows\\System32\\module" + std::to_string(i % 6000) + ".dll").c_str());
    EXPECT_EQ(std::to_string(added) + " " + std::to_string(seen.Count()), "6000 6000") << "each new past 4096, none twice";
    EXPECT_TRUE(seen.Add("C:\\WINDOWS\\System32\\module1.dll")) << "another letter case is another path";
}

TEST(NormaliseDriverPath, KernelFormsBecomeOrdinaryWidenedPaths) {
    char windows[260];
    ::GetWindowsDirectoryA(windows, sizeof(windows));
    const std::string folder = windows;
    TempInstallDir root(false);
    root.Write("Long Driver Folder\\driver.sys", "x");
    char shortPath[260] = {};
    ::GetShortPathNameA(root.File("Long Driver Folder\\driver.sys").c_str(), shortPath, sizeof(shortPath));
    ASSERT_NE(std::strchr(shortPath, '~'), nullptr) << shortPath;
    char tooLong[520];
    std::snprintf(tooLong, sizeof(tooLong), "%%Windows%%\\%s", std::string(509, 'd').c_str());
    const std::pair<std::string, std::string> rows[] = {
        {"\\SystemRoot\\System32\\drivers\\x.sys", folder + "\\System32\\drivers\\x.sys"}, {"\\systemroot\\x.sys", folder + "\\x.sys"},
        {"%SystemRoot%\\drivers\\x.sys", folder + "\\drivers\\x.sys"}, {"%windows%\\kx\\z.sys", folder + "\\kx\\z.sys"},
        {"\\Windows\\kx\\w.sys", folder + "\\kx\\w.sys"}, {"\\??\\C:\\Drivers\\y.sys", "C:\\Drivers\\y.sys"},
        {"\\\\?\\C:\\Drivers\\v.sys", "C:\\Drivers\\v.sys"}, {"\\??\\\\SystemRoot\\kept.sys", "\\SystemRoot\\kept.sys"},
        {"System32\\drivers\\relative.sys", "System32\\drivers\\relative.sys"}, {tooLong, tooLong},
        {"\\??\\" + std::string(shortPath), root.File("Long Driver Folder\\driver.sys")},
        {"C:\\NOSUCH~1\\FILE~1.SYS", "C:\\NOSUCH~1\\FILE~1.SYS"}};  // what cannot be widened stays
    for (const auto& [in, out] : rows) {
        char path[520];
        std::snprintf(path, sizeof(path), "%s", in.c_str());
        NormaliseDriverPath(path);
        EXPECT_EQ(::lstrcmpiA(path, out.c_str()), 0) << in << " gave " << path;
    }
}

}  // namespace
