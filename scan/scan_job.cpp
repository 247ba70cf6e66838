#include "scan/scan_job.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/exact_path.h"
#include "app/install_paths.h"
#include "app/startup.h"
#include "app/system_facilities.h"
#include "logs/debug_log.h"
#include "scan/autostart.h"
#include "scan/cure_pass.h"
#include "scan/file_walk.h"
#include "scan/modules.h"
#include "scan/native_paths.h"

namespace {

constexpr const char* kTag = "scanner";
constexpr int kCountLooks = 8;
constexpr DWORD kCountLookPauseMs = 16;
constexpr DWORD kScanThreadDelayMs = 1000;

void SetProgressRange(ScanJob& job, DWORD maximum) {
    // The owner checks the flag again on its own thread, where it is set.
    if (job.progressFrozen || !job.owner) return;
    job.owner->ProgressRange(maximum);
}

DWORD CountSystemAreaFiles(ScanJob& job) {
    DWORD modules = ScanProcessModules(0, job);
    DWORD drivers = ScanLoadedDrivers(0, job);
    return modules + drivers + ScanAutostart(0, job);
}

void ScanSystemAreas(ScanJob& job) {
    ::Sleep(1);
    ScanAutostart(1, job);
    ScanProcessModules(1, job);
    ScanLoadedDrivers(1, job);
}

bool IsFolderTarget(const char* path) {
    // By the exact name: "evil.exe." is a file, not the folder a rewritten
    // name may miss. Unreadable attributes have every bit set, so they count
    // as a folder.
    wchar_t exact[kExactPathSize];
    char native[kNativePathSize];
    const DWORD attributes = NativePath(path, native) && ExactPath(native, exact, kExactPathSize)
                                 ? ::GetFileAttributesW(exact)
                                 : INVALID_FILE_ATTRIBUTES;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) || std::strlen(path) <= 3;
}

DWORD CountTarget(const char* target, ScanJob& job) {
    char path[520];
    std::snprintf(path, sizeof(path), "%s", target);
    if (IsFolderTarget(path)) return CountFolderFiles(path, 1, job);
    // An excluded file is never scanned, so it must not hold the progress back.
    return IsExcludedPath(path) ? 0 : 1;
}

void ScanTargetPath(const char* target, ScanJob& job) {
    char path[520];
    std::snprintf(path, sizeof(path), "%s", target);
    if (char* unknown = std::strchr(path, '?')) {
        // A name without an ANSI form: its folder is searched for short names.
        *unknown = '\0';
        char* slash = std::strrchr(path, '\\');
        if (!slash) return;
        *slash = '\0';
        ScanShortNames(path, job);
    } else if (IsFolderTarget(path)) {
        ScanFolder(path, 1, job);
    } else {
        ScanFolder(path, 0, job);
    }
}

// A worker may be inside a report to this thread; answering what it sends
// lets it reach its end.
void WaitWhileHandlingSentMessages(HANDLE handle) {
    while (::MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

ScanJob::ScanJob(ScanReports* reports)
    : owner(reports), released_(::CreateEventA(nullptr, TRUE, TRUE, nullptr)) {}

ScanJob::~ScanJob() { Stop(); }

bool ScanJob::LoadEngine(const char* folder) {
    char path[520];
    if (std::snprintf(path, sizeof(path), "%s\\kxsoc.dll", folder) >= static_cast<int>(sizeof(path))) return false;
    fw::UniqueModule library(::LoadLibraryA(path));
    if (!library) return false;
    auto scanFile = reinterpret_cast<ScanFileFunction>(
        reinterpret_cast<void*>(::GetProcAddress(library.get(), "ScanFile")));
    if (!scanFile) return false;
    engine.scanFile = scanFile;
    engine.library = std::move(library);
    return true;
}

ScanJob::Start ScanJob::StartCounting() {
    char folder[260];
    GetInstallPath(folder, sizeof(folder));
    if (!LoadEngine(folder)) return Start::kNoEngine;

    ::SetPriorityClass(::GetCurrentProcess(), IDLE_PRIORITY_CLASS);
    scanState = kStateInitialising;

    StartupOptions& options = ProcessOptions();
    if (options.allLocalDrives)
        AddFixedDriveTargets(&targets);
    else if (AddArgumentTargets(&targets, __argc, __argv) > 0)
        options.targetsGiven = 1;

    if (IsScanRunning(targets)) return Start::kAlreadyRunning;

    // Complete before either thread looks at a path.
    LoadExcludedPaths();
    if (options.systemAreas) systemAreasCounted.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));

    countThread = fw::StartWorkerThread(CountThread, this);
    ::Sleep(kScanThreadDelayMs);
    if (systemAreasCounted) {
        // A CountThread that never started, or ended early, cannot signal.
        if (countThread.handle) {
            HANDLE waits[2] = {systemAreasCounted.get(), countThread.handle.get()};
            ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        }
        systemAreasCounted.reset();
    }
    return Start::kCounting;
}

bool ScanJob::StartScanThread() {
    if (scanThreadStarted_ || !engine.scanFile) return false;
    scanThreadStarted_ = true;
    scanThread = fw::StartWorkerThread(ScanThread, this);
    return static_cast<bool>(scanThread.handle);
}

bool ScanJob::StartCure() {
    if (CureRunning() || !engine.scanFile) return false;
    // Curing before the thread exists: a close on the owner's thread must
    // never take the pass's first row for one left uncured.
    const DWORD before = scanState.exchange(kStateCuring);
    cureThread = fw::StartWorkerThread(CureThread, this);
    if (!cureThread.handle) scanState = before;
    return static_cast<bool>(cureThread.handle);
}

bool ScanJob::CureRunning() const {
    return cureThread.handle && ::WaitForSingleObject(cureThread.handle.get(), 0) == WAIT_TIMEOUT;
}

void ScanJob::Hold() {
    // The event first: a walker that sees the flag must find the event reset.
    ::ResetEvent(released_.get());
    held_ = true;
}

void ScanJob::Release() {
    held_ = false;
    ::SetEvent(released_.get());
}

void ScanJob::Cancel() {
    cancel = 1;
    Release();
}

bool ScanJob::Proceed() {
    // The flag spares the walk a kernel call per file while nobody holds it.
    if (held_ && !cancel) ::WaitForSingleObject(released_.get(), INFINITE);
    return !cancel;
}

void ScanJob::Stop() {
    cancel = 1;
    cureStop = 1;
    Release();
    for (fw::WorkerThread* thread : {&scanThread, &countThread, &cureThread})
        if (thread->handle) WaitWhileHandlingSentMessages(thread->handle.get());
    engine.scanFile = nullptr;
    engine.library.reset();
}

void ScanJob::SetCurrentFile(const char* path) {
    std::lock_guard<std::mutex> lock(currentFileLock_);
    size_t length = strnlen(path, sizeof(currentFile_) - 1);
    std::memcpy(currentFile_, path, length);
    currentFile_[length] = '\0';
}

void ScanJob::CopyCurrentFile(char* buffer, size_t size) const {
    if (size == 0) return;
    std::lock_guard<std::mutex> lock(currentFileLock_);
    size_t length = strnlen(currentFile_, size - 1);
    std::memcpy(buffer, currentFile_, length);
    buffer[length] = '\0';
}

unsigned __stdcall CountThread(void* argument) {
    ScanJob& job = *static_cast<ScanJob*>(argument);
    if (ProcessOptions().systemAreas) {
        job.total = CountSystemAreaFiles(job);
        if (HANDLE event = job.systemAreasCounted.get()) {
            ::Sleep(0);
            ::SetEvent(event);
        }
        SetProgressRange(job, job.total);
    }

    for (int look = 0; look < kCountLooks && job.targets.empty(); ++look) ::Sleep(kCountLookPauseMs);
    if (job.targets.empty()) {
        SetProgressRange(job, job.total);
        job.countingDone = 1;
        return 0;
    }

    SetProgressRange(job, job.provisionalTotal);
    for (const ScanTarget& target : job.targets) {
        if (job.cancel) break;
        job.total += CountTarget(target.path, job);
    }
    SetProgressRange(job, job.total);
    job.countingDone = 1;
    return 0;
}

unsigned __stdcall ScanThread(void* argument) {
    ScanJob& job = *static_cast<ScanJob*>(argument);
    job.scanState = kStateScanning;
    ::SetProcessWorkingSetSize(::GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
    if (ProcessOptions().systemAreas) ScanSystemAreas(job);
    for (const ScanTarget& target : job.targets) {
        if (job.cancel) break;
        ScanTargetPath(target.path, job);
    }
    if (job.owner) job.owner->ScanEnded();
    return 0;
}

LONG ScanOneFile(const char* path, DWORD size, const FILETIME* lastWrite, ScanJob& job, const char* enginePath) {
    ScanFileFunction scanFile = job.engine.scanFile;
    if (!scanFile) return -1;
    char name[260] = {};
    LONG kind = 0;
    LONG result = scanFile(enginePath ? enginePath : path, size, 0, name, &kind, lastWrite, 2);
    name[sizeof(name) - 1] = '\0';  // the engine's text is trusted no further than its buffer
    DWORD mask = ProcessOptions().debugMask;
    DebugLog(kTag, mask, kLevelInfo, "ScanVirus (%s) (%d)", path, static_cast<int>(result));
    if (result == 0) return 0;
    if (::lstrcmpiA(path, job.lastReported) == 0) return result;

    std::snprintf(job.lastReported, sizeof(job.lastReported), "%s", path);
    if (result != -1) job.listedLinks.Record(enginePath ? enginePath : path);  // -1 is never listed
    if (job.owner) job.owner->Finding(result, kind, name, path);
    DebugLog(kTag, mask, kLevelInfo, "CheckScan (%d) (%d) (%s)", static_cast<int>(result), static_cast<int>(kind),
             name);
    return result;
}

DWORD ScanListedFile(const char* path, ScanJob& job) {
    char native[kNativePathSize];
    if (!job.Proceed() || !NativePath(path, native)) return 0;
    FILETIME creation{};
    FILETIME lastWrite{};
    bool opened = false;
    DWORD size = GetFileSizeAndTimes(native, &creation, &lastWrite, &opened);
    job.SetCurrentFile(path);
    // The engine may still reach what this process could not open.
    ScanOneFile(path, size, &lastWrite, job, native);
    if (!opened || !job.engine.scanFile) return 0;
    ++job.filesVisited;
    return 1;
}

DWORD CountListedFile(const char* path) {
    char native[kNativePathSize];
    wchar_t exact[kExactPathSize];
    if (!NativePath(path, native) || !ExactPath(native, exact, kExactPathSize)) return 0;
    const DWORD attributes = ::GetFileAttributesW(exact);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}
