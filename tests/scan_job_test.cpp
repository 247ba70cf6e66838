// The scan job without a window: findings passed on once per file, listed
// files, and both threads over their targets; and kxsoc.exe's scans of the
// system areas and of nothing.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "scan/scan_job.h"
#include "tests/support/test_support.h"

namespace {

struct Recorder : ScanReports {
    std::vector<std::string> paths;  // handed to the engine
    std::vector<DWORD> sizes;
    std::vector<bool> timed;
    int findings = 0;
    DWORD range = 0xFFFFFFFF;
    bool ended = false;
    void ProgressRange(DWORD maximum) override { range = maximum; }
    void Finding(LONG, LONG, const char*, const char*) override { ++findings; }
    void ScanEnded() override { ended = true; }
};
Recorder* g_recorder = nullptr;
LONG g_result = 0;

LONG WINAPI RecordingScan(const char* path, DWORD size, DWORD, char* name, LONG*, const FILETIME* time, DWORD) {
    g_recorder->paths.push_back(path);
    g_recorder->sizes.push_back(size);
    g_recorder->timed.push_back(time && (time->dwLowDateTime | time->dwHighDateTime));
    std::snprintf(name, 260, "Fake");
    return g_result;
}

class ScanJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_recorder = &recorder;
        g_result = 0;
        job.engine.scanFile = RecordingScan;
    }
    void AddTarget(const std::string& path) {
        ScanTarget target{};
        std::snprintf(target.path, sizeof(target.path), "%s", path.c_str());
        job.targets.push_back(target);
    }
    kxtest::TempInstallDir root{false};
    Recorder recorder;
    ScanJob job{&recorder};
};

TEST_F(ScanJobTest, FindingsArePassedOnOncePerFileInARowAndListedFilesKeepTheirSizeAndTime) {
    const std::string a = root.File("A.bin"), b = root.File("b.bin");
    struct Step {
        std::string path;
        LONG result;
        int findings;  // passed on so far
    };
    const Step steps[] = {{a, 1, 1}, {root.File("a.BIN"), 1, 1}, {b, 1, 2}, {a, 1, 3},
                          {a, 0, 3}, {a, -1, 3},                 {b, 0x1000, 4}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.path);
        g_result = step.result;
        EXPECT_EQ(ScanOneFile(step.path.c_str(), 1, nullptr, job), step.result);
        EXPECT_EQ(recorder.findings, step.findings);
    }

    ASSERT_TRUE(root.Write("listed.dll", "12345"));
    recorder.sizes.clear();
    recorder.timed.clear();
    ScanListedFile(root.File("listed.dll").c_str(), job);
    ScanListedFile(root.File("gone.dll").c_str(), job);
    EXPECT_EQ(recorder.sizes, (std::vector<DWORD>{5, 0})) << "an unreadable file is still handed over";
    EXPECT_EQ(recorder.timed, (std::vector<bool>{true, false}));
    EXPECT_EQ(job.filesVisited, 2u);
    job.Cancel();
    EXPECT_EQ(ScanListedFile(root.File("listed.dll").c_str(), job), -1) << "nothing once cancelled";
    EXPECT_EQ(job.filesVisited, 2u);
}

TEST_F(ScanJobTest, ThreadsCountAndScanEveryTargetOrEndAtOnceWithoutOne) {
    DWORD start = ::GetTickCount();
    CountThread(&job);
    EXPECT_GE(::GetTickCount() - start, 100u) << "it waits about 128 ms for targets";
    EXPECT_EQ(recorder.range, 0u);
    EXPECT_EQ(job.countingDone, 1u);
    ScanThread(&job);
    EXPECT_TRUE(recorder.ended);
    EXPECT_EQ(job.scanState, kStateScanning);
    EXPECT_TRUE(recorder.paths.empty());

    for (const char* name : {"dir\\one", "dir\\two", "dir\\sub\\three", "single.txt"}) ASSERT_TRUE(root.Write(name, "x"));
    ScanJob full(&recorder);
    full.engine.scanFile = RecordingScan;
    for (const char* name : {"dir", "single.txt", "missing"}) {
        ScanTarget target{};
        std::snprintf(target.path, sizeof(target.path), "%s", root.File(name).c_str());
        full.targets.push_back(target);
    }
    CountThread(&full);
    EXPECT_EQ(full.total, 4u);
    EXPECT_EQ(recorder.range, 4u);
    ScanThread(&full);
    EXPECT_EQ(recorder.paths, (std::vector<std::string>{root.File("dir\\one"), root.File("dir\\sub\\three"),
                                                        root.File("dir\\two"), root.File("single.txt")}));
    EXPECT_EQ(full.filesVisited, 4u);
    EXPECT_STREQ(full.targets[0].path, root.File("dir").c_str()) << "the list itself is not changed";
}

std::string LowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

TEST(ScanEndToEnd, SystemAreasAloneAndAScanOfNothing) {
    kxtest::ProductRegistry registry;
    kxtest::TempInstallDir install;
    install.Register();
    ::CopyFileA((kxtest::BuildFolder() + "\\kxsoc.dll").c_str(), install.File("kxsoc.dll").c_str(), FALSE);
    ::CreateDirectoryA(install.File("Logs").c_str(), nullptr);
    kxtest::RegSetDword("SOFTWARE\\Tarnwick Systems\\Korvex", "DbgLevel", 2);

    // No target: the progress range is 0..0 and the scan ends at once.
    kxtest::ChildProcess nothing;
    ASSERT_TRUE(kxtest::StartKxscan(&nothing, install, "/QS"));
    HWND window = nothing.FindWindow(20000);
    ASSERT_NE(window, nullptr);
    LRESULT high = -1;
    for (int wait = 0; wait < 50 && high != 0; ++wait, ::Sleep(50))
        high = ::SendDlgItemMessageA(window, 1002, PBM_GETRANGE, FALSE, 0);
    EXPECT_EQ(high, 0);
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(nothing.Wait(10000));

    // /PR alone scans the modules (the program's own first of all) and not
    // the installation folder.
    kxtest::ChildProcess areas;
    ASSERT_TRUE(kxtest::StartKxscan(&areas, install, "/PR /SC"));
    EXPECT_TRUE(areas.Wait(60000)) << "a clean scan of the system areas closes by itself with /SC";
    const std::string log = LowerCase(install.Read("Logs\\kxlog.01"));
    EXPECT_NE(log.find("\\kxscan.exe)"), std::string::npos) << log;
    EXPECT_EQ(log.find(LowerCase(install.File("locale"))), std::string::npos);
}

}  // namespace
