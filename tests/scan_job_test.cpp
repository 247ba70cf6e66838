// The scan job without a window: findings passed on once per file, listed
// files, both threads over their targets and the start of a cure pass; and
// kxscan.exe's scan of the system areas.
#include <windows.h>

#include <gtest/gtest.h>
#include <process.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "scan/scan_job.h"
#include "tests/support/kxscan_run.h"

namespace {

// What reaches the engine ("path size timed") and what reaches the owner.
struct Recorder : ScanReports {
    std::vector<std::string> calls;
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
    const bool timed = time && (time->dwLowDateTime | time->dwHighDateTime);
    g_recorder->calls.push_back(std::string(path) + " " + std::to_string(size) + (timed ? " timed" : ""));
    std::snprintf(name, 260, "Fake");
    return g_result;
}

struct RecordingJob : ScanJob {
    explicit RecordingJob(Recorder* recorder) : ScanJob(recorder) {
        g_recorder = recorder;
        engine.scanFile = RecordingScan;
    }
};

// The run-time's thread start that StartCure calls, pointed at one that
// notes the scan state at the moment the thread is asked for.
using BeginThread = decltype(&_beginthreadex);
#ifdef _WIN64
extern "C" BeginThread g_beginThread asm("__imp__beginthreadex");
#else
extern "C" BeginThread g_beginThread asm("__imp___beginthreadex");
#endif
BeginThread g_realBeginThread;
DWORD g_stateAtStart = 0;

TEST(ScanJobTest, FindingsOncePerFileListedFilesBothThreadsOverTheirTargetsAndTheCuringStateBeforeItsThread) {
    kxtest::TempInstallDir root(false);
    Recorder recorder;
    RecordingJob job(&recorder);
    const std::string a = root.File("A.bin"), b = root.File("b.bin");
    // path, engine result, findings passed on so far
    const std::tuple<std::string, LONG, int> steps[] = {{a, 1, 1}, {root.File("a.BIN"), 1, 1}, {b, 1, 2}, {a, 1, 3},
                                                        {a, 0, 3}, {a, -1, 3},                 {b, 0x1000, 4}};
    for (const auto& [path, result, findings] : steps) {
        g_result = result;
        EXPECT_EQ(ScanOneFile(path.c_str(), 1, nullptr, job), result);
        EXPECT_EQ(recorder.findings, findings) << path << " " << result;
    }

    ASSERT_TRUE(root.Write("listed.dll", "12345"));
    recorder.calls.clear();
    // An unreadable file is still handed over, but not visited.
    EXPECT_EQ(ScanListedFile(root.File("listed.dll").c_str(), job) + ScanListedFile(root.File("gone.dll").c_str(), job), 1u);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{root.File("listed.dll") + " 5 timed", root.File("gone.dll") + " 0"}));
    EXPECT_EQ(job.filesVisited, 1u);
    job.Cancel();
    EXPECT_EQ(ScanListedFile(root.File("listed.dll").c_str(), job), 0u) << "nothing once cancelled";
    EXPECT_TRUE(job.filesVisited == 1 && recorder.calls.size() == 2);

    // The threads: without a target the count waits a moment and ends at 0.
    recorder.calls.clear();
    RecordingJob empty(&recorder);
    const DWORD start = ::GetTickCount();
    CountThread(&empty);
    EXPECT_GE(::GetTickCount() - start, 100u) << "it waits about 128 ms for targets";
    EXPECT_TRUE(recorder.range == 0 && empty.countingDone == 1);
    ScanThread(&empty);
    EXPECT_TRUE(recorder.ended && empty.scanState == kStateScanning && recorder.calls.empty());

    for (const char* name : {"dir\\one", "dir\\two", "dir\\sub\\three", "single.txt"}) ASSERT_TRUE(root.Write(name, "x"));
    // A name Win32 would rewrite, given as a target, is a file of its own.
    const std::string trailing = root.File("trail.");
    ::CloseHandle(::CreateFileW((L"\\\\?\\" + std::wstring(trailing.begin(), trailing.end())).c_str(), GENERIC_WRITE, 0,
                                nullptr, CREATE_ALWAYS, 0, nullptr));
    RecordingJob full(&recorder);
    for (const char* name : {"dir", "single.txt", "missing", "trail."}) {
        full.targets.emplace_back();
        std::snprintf(full.targets.back().path, sizeof(ScanTarget::path), "%s", root.File(name).c_str());
    }
    CountThread(&full);
    EXPECT_TRUE(full.total == 5 && recorder.range == 5);
    ScanThread(&full);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{root.File("dir\\one") + " 1 timed", root.File("dir\\sub\\three") + " 1 timed",
                                                        root.File("dir\\two") + " 1 timed", root.File("single.txt") + " 1 timed",
                                                        trailing + " 0 timed"}));
    EXPECT_EQ(full.filesVisited, 5u);
    EXPECT_STREQ(full.targets[0].path, root.File("dir").c_str()) << "the list itself is not changed";

    g_realBeginThread = kxtest::PointImportAt(g_beginThread, +[](void* security, unsigned stack, _beginthreadex_proc_type proc,
                                                                 void* job, unsigned flags, unsigned* id) {
        return g_stateAtStart = static_cast<ScanJob*>(job)->scanState, g_realBeginThread(security, stack, proc, job, flags, id);
    });
    RecordingJob curing(&recorder);
    curing.scanState = kStateScanEnded;
    EXPECT_TRUE(curing.StartCure());
    g_beginThread = g_realBeginThread;
    EXPECT_EQ(g_stateAtStart, kStateCuring) << "a close before the cure thread runs must see the pass";
}

// /PR alone scans the modules, the program's own among them, and not the
// installation folder; a clean scan closes by itself with /SC.
TEST(ScanEndToEnd, SystemAreasAloneScanTheModulesAndNotTheInstallation) {
    kxtest::KxscanRun run(kxtest::KxscanRun::kStandIn, {});  // EICAR alone: the test program holds the default marker
    ASSERT_TRUE(kxtest::StartKxscan(&run.child, run.install, "/PR /SC"));
    EXPECT_TRUE(run.Ended(60000));
    std::string log = run.install.Read("Logs\\kxlog.01"), folder = run.install.File("locale");
    for (std::string* text : {&log, &folder})
        for (char& c : *text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(log.find("\\kxscan.exe)"), std::string::npos) << log;
    EXPECT_EQ(log.find(folder), std::string::npos);
}

}  // namespace
