// The scan job: everything the worker threads share with the window that owns
// them (state, flags, counters, the current file, the targets, the thread
// objects and the engine binding), the two scan threads, and the two ways a
// file reaches the engine. The job knows its owner only through ScanReports.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <unordered_set>

#include "engine/scan_engine.h"
#include "framework/handles.h"
#include "framework/thread.h"
#include "scan/cure_guard.h"
#include "scan/scan_targets.h"

// Scan states: one bit each.
constexpr DWORD kStateInitialising = 1;
constexpr DWORD kStateStarting = 2;
constexpr DWORD kStateScanning = 4;
constexpr DWORD kStateScanEnded = 8;
constexpr DWORD kStateCuring = 16;
constexpr DWORD kStateFinished = 32;

// What the workers tell the job's owner. Each call is made on a worker thread
// and returns once the owner has dealt with it; none is made while the worker
// holds a lock.
class ScanReports {
public:
    // CountThread: the progress range is 0..maximum.
    virtual void ProgressRange(DWORD maximum) = 0;
    // ScanThread: a non-zero engine result for `path`, once per file in a row.
    virtual void Finding(LONG result, LONG kind, const char* name, const char* path) = 0;
    // ScanThread has visited everything, or stopped after a cancel.
    virtual void ScanEnded() = 0;

    // CureThread, once per pass: how many findings there are to look at.
    virtual int CureRowCount() { return 0; }
    // The finding of `row` when it is to be cured now (checked, not yet
    // handled): its detection name and path.
    virtual bool CureFinding(int /*row*/, char (&/*name*/)[260], char (&/*path*/)[520]) { return false; }
    // The engine's cure result for `row`, already in the virus log.
    virtual void CureOutcome(int /*row*/, LONG /*result*/) {}
    // The pass has ended.
    virtual void CureEnded() {}

protected:
    ~ScanReports() = default;
};

struct ScanEngine {
    fw::UniqueModule library;
    ScanFileFunction scanFile = nullptr;
};

class ScanJob {
public:
    // `owner` may be null: nothing is reported then.
    explicit ScanJob(ScanReports* owner = nullptr);
    ~ScanJob();
    ScanJob(const ScanJob&) = delete;
    ScanJob& operator=(const ScanJob&) = delete;

    // Loads "<folder>\kxsoc.dll" and finds its ScanFile; false when either
    // fails (nothing stays loaded then).
    bool LoadEngine(const char* folder);

    enum class Start { kCounting, kNoEngine, kAlreadyRunning };
    // The scan's start up to ScanThread: binds the engine from the
    // installation directory, sets idle priority, builds the targets, runs the
    // single-instance test, starts CountThread and gives it a second (and,
    // with the system areas, the time to count them).
    Start StartCounting();
    // Starts ScanThread unless one has been started before; false then, or
    // when it cannot start or no engine is bound.
    bool StartScanThread();
    bool ScanThreadStarted() const { return scanThreadStarted_; }
    // Sets the curing state and starts a cure pass over the owner's findings;
    // false (the state unchanged) while one runs, without an engine, or when
    // the thread cannot start.
    bool StartCure();
    bool CureRunning() const;

    // Pausing: a held walk stops before its next file (or system-area entry)
    // until it is released; a cancel releases it.
    void Hold();
    void Release();
    void Cancel();
    bool Held() const { return held_; }
    // For the walkers, between files: waits while held; false once cancelled.
    bool Proceed();

    // Cancels, and waits until every worker has ended, handling what they
    // send to this thread meanwhile; then frees the engine. For the owner's
    // thread, before the owner goes away.
    void Stop();

    // The file ScanThread is on; handed between threads under a lock.
    void SetCurrentFile(const char* path);
    void CopyCurrentFile(char* buffer, size_t size) const;

    ScanReports* const owner;

    // Each word has one writer at a time; readers accept a value that is a
    // moment old.
    std::atomic<DWORD> scanState{kStateInitialising};
    std::atomic<DWORD> cancel{0};
    std::atomic<DWORD> cureStop{0};
    std::atomic<DWORD> countingDone{0};
    std::atomic<DWORD> progressFrozen{0};
    std::atomic<DWORD> total{0};
    const DWORD provisionalTotal = 30000;
    std::atomic<DWORD> filesVisited{0};

    // Complete before either worker starts; only read afterwards.
    ScanTargetList targets;
    ScanEngine engine;
    fw::WorkerThread countThread;
    fw::WorkerThread scanThread;
    fw::WorkerThread cureThread;

    // The last path passed to the owner (ScanThread only), and the autostart
    // paths of the running system-area pass, lower-cased.
    char lastReported[520] = {};
    std::unordered_set<std::string> autostartPathsSeen;

    // The links of each listed finding's path, recorded by ScanThread and
    // checked by CureThread before each cure.
    ListedLinks listedLinks;

    // Exists only with the system-areas switch, from StartCounting until
    // CountThread has counted the system areas.
    fw::UniqueHandle systemAreasCounted;

private:
    mutable std::mutex currentFileLock_;
    char currentFile_[520] = {};
    std::atomic<bool> held_{false};
    fw::UniqueHandle released_;  // manual-reset event, set while not held
    bool scanThreadStarted_ = false;
};

// Thread procedures; the argument is the ScanJob. Both return 0.
unsigned __stdcall CountThread(void* argument);
unsigned __stdcall ScanThread(void* argument);

// Hands one file to the engine in scan mode, by `enginePath` when given (the
// path that reaches it, see scan/native_paths.h), and passes a finding on
// under `path`, once per file in a row. Returns the engine result.
LONG ScanOneFile(const char* path, DWORD size, const FILETIME* lastWrite, ScanJob& job,
                 const char* enginePath = nullptr);

// For a file named by a system area: waits while the scan is held, takes its
// size and time from the file itself (0 when it cannot be opened), then
// ScanOneFile. 1 when the file was opened and handed to the engine, which is
// what counts as visited; 0 otherwise, and without a scan once cancelled.
DWORD ScanListedFile(const char* path, ScanJob& job);

// The count's side of ScanListedFile: 1 when the path names a file that can be
// reached, else 0.
DWORD CountListedFile(const char* path);
