// The scan job: findings passed on once per file, the worker threads against
// a window object of the test's own, and kxscan.exe end to end with the
// stand-in engine and the debug log.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/startup.h"
#include "scan/scan_job.h"
#include "tests/support/test_support.h"

namespace {

struct FakeEngine {
    std::vector<std::string> paths;
    std::vector<DWORD> sizes;
    std::vector<FILETIME> times;
    LONG result = 0;
};
FakeEngine g_fake;

LONG WINAPI FakeScan(const char* path, DWORD size, DWORD mode, char* name, LONG* kind, const FILETIME* lastWrite,
                     DWORD caller) {
    if (mode != 0 || caller != 2 || name[0] != '\0' || *kind != 0) return -2;
    g_fake.paths.push_back(path);
    g_fake.sizes.push_back(size);
    g_fake.times.push_back(lastWrite ? *lastWrite : FILETIME{1, 1});
    std::snprintf(name, 260, "Fake-Name");
    *kind = 7;
    return g_fake.result;
}

struct FindingCounter : ScanReports {
    int findings = 0;
    void ProgressRange(DWORD) override {}
    void Finding(LONG, LONG, const char*, const char*) override { ++findings; }
    void ScanEnded() override {}
};

class ScanJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake = FakeEngine{};
        job.engine.scanFile = FakeScan;
    }
    void TearDown() override { job.engine.scanFile = nullptr; }
    void AddTarget(const std::string& path) {
        ScanTarget target{};
        std::snprintf(target.path, sizeof(target.path), "%s", path.c_str());
        job.targets.push_back(target);
    }

    kxtest::TempInstallDir root{false};
    FindingCounter counter;
    ScanJob job{&counter};
};

TEST_F(ScanJobTest, FindingOfTheSameFileInARowIsPassedOnOnce) {
    std::string a = root.File("A.bin");
    std::string b = root.File("b.bin");
    g_fake.result = 0x0001;
    ScanOneFile(a.c_str(), 1, nullptr, job);
    EXPECT_EQ(ScanOneFile(root.File("a.BIN").c_str(), 1, nullptr, job), 0x0001) << "same file, other case";
    EXPECT_EQ(counter.findings, 1);
    ScanOneFile(b.c_str(), 1, nullptr, job);
    ScanOneFile(a.c_str(), 1, nullptr, job);
    EXPECT_EQ(counter.findings, 3) << "another file in between resets it";

    g_fake.result = 0x1000;
    ScanOneFile(b.c_str(), 1, nullptr, job);
    g_fake.result = -1;
    ScanOneFile(a.c_str(), 1, nullptr, job);
    g_fake.result = 0x0004 | 0x0200;
    ScanOneFile(b.c_str(), 1, nullptr, job);
    EXPECT_EQ(counter.findings, 6) << "every other non-zero result is passed on";
    EXPECT_EQ(g_fake.paths.size(), 7u);
}

TEST_F(ScanJobTest, ListedFileTakesSizeAndTimeFromTheFile) {
    ASSERT_TRUE(root.Write("listed.dll", "12345"));
    ScanListedFile(root.File("listed.dll").c_str(), job);
    ScanListedFile(root.File("gone.dll").c_str(), job);
    ASSERT_EQ(g_fake.paths.size(), 2u);
    EXPECT_EQ(g_fake.sizes[0], 5u);
    EXPECT_NE(g_fake.times[0].dwLowDateTime | g_fake.times[0].dwHighDateTime, 0u);
    EXPECT_EQ(g_fake.sizes[1], 0u) << "an unreadable file is still handed over";
    EXPECT_EQ(g_fake.times[1].dwLowDateTime | g_fake.times[1].dwHighDateTime, 0u);
    EXPECT_EQ(job.filesVisited, 2u);
}

TEST_F(ScanJobTest, WithoutTargetsTheCountIsZeroAndTheScanEndsAtOnce) {
    DWORD start = ::GetTickCount();
    CountThread(&job);
    EXPECT_GE(::GetTickCount() - start, 100u) << "it waits about 128 ms for targets";
    EXPECT_EQ(job.total, 0u);
    EXPECT_EQ(job.countingDone, 1u);
    ScanThread(&job);
    EXPECT_EQ(job.scanState, static_cast<DWORD>(kStateScanning));
    EXPECT_TRUE(g_fake.paths.empty());
}

TEST_F(ScanJobTest, ThreadsCountAndScanEveryTarget) {
    for (const char* name : {"dir\\one", "dir\\two", "dir\\sub\\three", "single.txt"}) ASSERT_TRUE(root.Write(name, "x"));
    AddTarget(root.File("dir"));
    AddTarget(root.File("single.txt"));
    AddTarget(root.File("missing"));
    CountThread(&job);
    EXPECT_EQ(job.total, 4u);
    ScanThread(&job);
    EXPECT_EQ(g_fake.paths, (std::vector<std::string>{root.File("dir\\one"), root.File("dir\\sub\\three"),
                                                      root.File("dir\\two"), root.File("single.txt")}));
    EXPECT_EQ(job.filesVisited, 4u);
    EXPECT_STREQ(job.targets[0].path, root.File("dir").c_str()) << "the list itself is not changed";
}

constexpr const char* kEicar = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";

std::string LowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// An installation with the stand-in engine and the debug log going to its file.
struct EngineInstall {
    EngineInstall() {
        install.Register();
        ::CopyFileA((kxtest::BuildFolder() + "\\kxsoc.dll").c_str(), install.File("kxsoc.dll").c_str(), FALSE);
        ::CreateDirectoryA(install.File("Logs").c_str(), nullptr);
        kxtest::RegSetDword("SOFTWARE\\Tarnwick Systems\\Korvex", "DbgLevel", 2);
    }
    kxtest::ProductRegistry registry;
    kxtest::TempInstallDir install;
};

// The result the stand-in engine gives for the file, asked directly.
LONG EngineResult(const std::string& path) {
    HMODULE library = ::LoadLibraryA((kxtest::BuildFolder() + "\\kxsoc.dll").c_str());
    if (!library) return -100;
    auto scan = reinterpret_cast<ScanFileFunction>(reinterpret_cast<void*>(::GetProcAddress(library, "ScanFile")));
    char name[260] = {};
    LONG kind = 0;
    FILETIME time{};
    LONG result = scan ? scan(path.c_str(), kxtest::FileSize(path), 0, name, &kind, &time, 2) : -100;
    ::FreeLibrary(library);
    return result;
}

TEST(ScanEndToEnd, EveryFileOfTheFolderReachesTheEngineAndTheDebugLog) {
    EngineInstall setup;
    const kxtest::TempInstallDir& install = setup.install;
    const std::vector<std::string> files = {install.File("data\\clean.txt"), install.File("data\\eicar.com"),
                                            install.File("data\\sub\\other.bin")};
    ASSERT_TRUE(install.Write("data\\clean.txt", "nothing to see"));
    ASSERT_TRUE(install.Write("data\\eicar.com", kEicar));
    ASSERT_TRUE(install.Write("data\\sub\\other.bin", "more"));

    kxtest::ChildProcess child;
    ASSERT_TRUE(kxtest::StartKxscan(&child, install, kxtest::Quote(install.File("data"))));
    HWND window = child.FindWindow(20000);
    ASSERT_NE(window, nullptr);

    std::string log;
    for (int wait = 0; wait < 100; ++wait) {
        log = install.Read("Logs\\kxlog.01");
        if (log.find("ScanVirus (" + files.back() + ")") != std::string::npos) break;
        ::Sleep(100);
    }
    for (const std::string& file : files) {
        std::string line = "ScanVirus (" + file + ") (" + std::to_string(EngineResult(file)) + ")";
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
    if (EngineResult(files[1]) == 1)
        EXPECT_NE(log.find("CheckScan (1) (0) (EICAR-Test-File)"), std::string::npos) << log;
    else
        ADD_FAILURE() << "the stand-in engine does not detect EICAR yet; only the paths were checked";

    ::PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(child.Wait(10000));
}

TEST(ScanEndToEnd, WithoutTargetsTheProgressRangeBecomesZero) {
    EngineInstall setup;
    kxtest::ChildProcess child;
    ASSERT_TRUE(kxtest::StartKxscan(&child, setup.install, "/QS"));
    HWND window = child.FindWindow(20000);
    ASSERT_NE(window, nullptr);
    HWND progress = ::GetDlgItem(window, 1002);
    ASSERT_NE(progress, nullptr);
    LRESULT high = -1;
    for (int wait = 0; wait < 50 && high != 0; ++wait) {
        high = ::SendMessageA(progress, PBM_GETRANGE, FALSE, 0);
        if (high != 0) ::Sleep(100);
    }
    EXPECT_EQ(high, 0);
    EXPECT_EQ(::SendMessageA(progress, PBM_GETRANGE, TRUE, 0), 0);
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(child.Wait(10000));
}

TEST(ScanEndToEnd, SystemAreasAloneScanWhatTheyCountedStartingWithTheProgramItself) {
    EngineInstall setup;
    kxtest::ChildProcess child;
    ASSERT_TRUE(kxtest::StartKxscan(&child, setup.install, "/PR"));
    HWND window = child.FindWindow(30000);
    ASSERT_NE(window, nullptr);

    // The scan has ended once the log stops growing.
    std::string log;
    for (int quiet = 0, wait = 0; quiet < 15 && wait < 300; ++wait) {
        ::Sleep(100);
        std::string now = setup.install.Read("Logs\\kxlog.01");
        quiet = (!now.empty() && now == log) ? quiet + 1 : 0;
        log = now;
    }
    size_t scanned = 0;
    for (size_t at = log.find("ScanVirus ("); at != std::string::npos; at = log.find("ScanVirus (", at + 1)) ++scanned;
    EXPECT_GT(scanned, 0u);
    // The count is the progress range. The window itself loads a library or
    // two while it first paints (msimg32 here), after the count and before
    // the scan of its own modules, so the scan may see slightly more.
    const size_t counted = static_cast<size_t>(::SendMessageA(::GetDlgItem(window, 1002), PBM_GETRANGE, FALSE, 0));
    EXPECT_GE(scanned, counted) << log;
    EXPECT_LE(scanned, counted + 3) << log;

    const std::string lower = LowerCase(log);
    EXPECT_NE(lower.find("\\kxscan.exe)"), std::string::npos) << "the program's own module is scanned";
    EXPECT_EQ(lower.find(LowerCase(setup.install.File("locale"))), std::string::npos)
        << "no target: the installation folder is not walked";

    ::PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(child.Wait(10000));
}

}  // namespace
