// Modules of every process and loaded drivers against an engine that records
// what reaches it: each module path once per pass however many processes
// load it, the seen list past 4096 paths, drivers, stopping, and the driver
// path forms.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "scan/modules.h"
#include "scan/scan_job.h"
#include "tests/support/recording_engine.h"
#include "tests/support/test_support.h"
#include "scan/scan_job.h"

namespace {

using kxtest::RecordingEngine;
using kxtest::RecordScan;
RecordingEngine& g_engine = kxtest::g_recorder;

constexpr const char* kReadySemaphore = "kxtest_modules_ready";
constexpr const char* kDoneEvent = "kxtest_modules_done";

// Keeps the library named by args[0] loaded until the test is done with it.
KX_PROBE(hold_library) {
    if (args.empty() || !::LoadLibraryA(args[0].c_str())) return 2;
    HANDLE ready = ::OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, kReadySemaphore);
    HANDLE done = ::OpenEventA(SYNCHRONIZE, FALSE, kDoneEvent);
    if (!ready || !done) return 3;
    ::ReleaseSemaphore(ready, 1, nullptr);
    ::WaitForSingleObject(done, 60000);
    ::CloseHandle(ready);
    ::CloseHandle(done);
    return 0;
}

class Modules : public ::testing::Test {
protected:
    void SetUp() override {
        g_engine = RecordingEngine{};
        job.engine.scanFile = RecordScan;
    }
    void TearDown() override { job.engine.scanFile = nullptr; }

    static size_t Occurrences(const std::string& path) {
        size_t count = 0;
        for (const std::string& each : g_engine.paths) count += ::lstrcmpiA(each.c_str(), path.c_str()) == 0;
        return count;
    }
    static std::string ModulePath(HMODULE module) {
        char path[520] = {};
        ::GetModuleFileNameA(module, path, sizeof(path));
        return path;
    }

    ScanJob job;
};

TEST_F(Modules, OwnProcessAndItsModulesAreScannedOncePerPass) {
    DWORD counted = ScanProcessModules(0, job);
    DWORD scanned = ScanProcessModules(1, job);
    EXPECT_EQ(counted, scanned) << "the count pass sees what the scan pass sees";
    EXPECT_EQ(scanned, g_engine.paths.size());
    EXPECT_EQ(job.filesVisited, g_engine.paths.size());
    EXPECT_EQ(Occurrences(ModulePath(nullptr)), 1u);
    EXPECT_EQ(Occurrences(ModulePath(::GetModuleHandleA("kernel32.dll"))), 1u);
    EXPECT_EQ(Occurrences(ModulePath(::GetModuleHandleA("ntdll.dll"))), 1u);
    for (size_t i = 0; i < g_engine.paths.size(); ++i)
        for (size_t j = i + 1; j < g_engine.paths.size(); ++j)
            EXPECT_NE(g_engine.paths[i], g_engine.paths[j]) << "scanned twice";
}

TEST_F(Modules, LibraryOfSeveralProcessesIsScannedOnce) {
    const std::string library = kxtest::BuildFolder() + "\\kxsoc.dll";
    HANDLE ready = ::CreateSemaphoreA(nullptr, 0, 16, kReadySemaphore);
    HANDLE done = ::CreateEventA(nullptr, TRUE, FALSE, kDoneEvent);
    ASSERT_TRUE(ready && done);
    kxtest::ChildProcess children[3];
    int started = 0;
    for (kxtest::ChildProcess& child : children)
        if (kxtest::StartProbe(&child, "hold_library", {library})) ++started;
    ASSERT_EQ(started, 3);
    for (int i = 0; i < started; ++i) ASSERT_EQ(::WaitForSingleObject(ready, 20000), WAIT_OBJECT_0);

    DWORD counted = ScanProcessModules(0, job);
    DWORD scanned = ScanProcessModules(1, job);
    ::SetEvent(done);
    for (kxtest::ChildProcess& child : children) EXPECT_TRUE(child.Wait(20000));
    ::CloseHandle(ready);
    ::CloseHandle(done);

    EXPECT_EQ(Occurrences(library), 1u) << "loaded by three processes, scanned once";
    EXPECT_EQ(Occurrences(ModulePath(nullptr)), 1u) << "the children run this same program";
    EXPECT_EQ(counted, scanned);
    EXPECT_EQ(scanned, g_engine.paths.size());
}

TEST_F(Modules, StopRequestEndsTheWalkOfModulesAndDrivers) {
    g_engine.stopJob = &job;
    EXPECT_EQ(ScanProcessModules(1, job), 1u);
    EXPECT_EQ(g_engine.paths.size(), 1u) << "no further module once stopped";
    EXPECT_EQ(ScanProcessModules(0, job), 0u);
    EXPECT_EQ(ScanLoadedDrivers(0, job), 0u);
    EXPECT_EQ(ScanLoadedDrivers(1, job), 0u);
    EXPECT_EQ(g_engine.paths.size(), 1u);
}

TEST_F(Modules, DriversCountedAsScannedEvenWhenNoneAreListed) {
    // Wine lists no drivers; Windows lists many. Either way both passes agree.
    DWORD counted = ScanLoadedDrivers(0, job);
    EXPECT_TRUE(g_engine.paths.empty()) << "the count pass hands nothing over";
    DWORD scanned = ScanLoadedDrivers(1, job);
    EXPECT_EQ(counted, scanned);
    EXPECT_EQ(scanned, g_engine.paths.size());
}

TEST(ModulePathsSeen, EveryDistinctPathOnceWellPastFourThousand) {
    ModulePathsSeen seen;
    char path[520];
    DWORD added = 0;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 6000; ++i) {
            std::snprintf(path, sizeof(path), "C:\\Windows\\System32\\module%05d.dll", i);
            added += seen.Add(path);
        }
    }
    EXPECT_EQ(added, 6000u) << "each new past 4096, none twice";
    EXPECT_EQ(seen.Count(), 6000u);
    EXPECT_TRUE(seen.Add("C:\\WINDOWS\\System32\\module00001.dll")) << "another letter case is another path";
    EXPECT_FALSE(seen.Add("C:\\WINDOWS\\System32\\module00001.dll"));
}

TEST(NormaliseDriverPath, KernelFormsBecomeOrdinaryPaths) {
    char windows[260];
    ::GetWindowsDirectoryA(windows, sizeof(windows));
    const std::string folder = windows;
    struct Case {
        const char* in;
        std::string out;
    };
    const Case cases[] = {
        {"\\SystemRoot\\System32\\drivers\\x.sys", folder + "\\System32\\drivers\\x.sys"},
        {"\\systemroot\\x.sys", folder + "\\x.sys"},
        {"%SystemRoot%\\drivers\\x.sys", folder + "\\drivers\\x.sys"},
        {"%windows%\\kx\\z.sys", folder + "\\kx\\z.sys"},
        {"\\Windows\\kx\\w.sys", folder + "\\kx\\w.sys"},
        {"\\??\\C:\\Drivers\\y.sys", "C:\\Drivers\\y.sys"},
        {"\\\\?\\C:\\Drivers\\v.sys", "C:\\Drivers\\v.sys"},
        {"\\??\\\\SystemRoot\\kept.sys", "\\SystemRoot\\kept.sys"},
        {"System32\\drivers\\relative.sys", "System32\\drivers\\relative.sys"},
    };
    for (const Case& each : cases) {
        char path[520];
        std::snprintf(path, sizeof(path), "%s", each.in);
        NormaliseDriverPath(path);
        EXPECT_STREQ(path, each.out.c_str()) << each.in;
    }

    char tooLong[520];
    std::snprintf(tooLong, sizeof(tooLong), "%%Windows%%\\%s", std::string(519 - 10, 'd').c_str());
    const std::string before = tooLong;
    NormaliseDriverPath(tooLong);
    EXPECT_EQ(before, tooLong) << "a path that would not fit stays as it is";
}

TEST(NormaliseDriverPath, ShortComponentIsWidened) {
    kxtest::TempInstallDir root{false};
    ASSERT_TRUE(root.Write("Long Driver Folder\\driver.sys", "x"));
    char shortPath[260] = {};
    ASSERT_GT(::GetShortPathNameA(root.File("Long Driver Folder\\driver.sys").c_str(), shortPath, sizeof(shortPath)),
              0u);
    ASSERT_NE(std::string(shortPath).find('~'), std::string::npos);
    char path[520];
    std::snprintf(path, sizeof(path), "\\??\\%s", shortPath);
    NormaliseDriverPath(path);
    char expected[260] = {};
    ::GetLongPathNameA(shortPath, expected, sizeof(expected));
    EXPECT_STREQ(path, expected);
    EXPECT_NE(std::string(path).find("Long Driver Folder"), std::string::npos);
}

}  // namespace
