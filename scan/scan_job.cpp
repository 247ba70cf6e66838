#include "scan/scan_job.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/install_paths.h"
#include "app/startup.h"
#include "app/system_facilities.h"
#include "logs/debug_log.h"
#include "resources/resource.h"
#include "scan/autostart.h"
#include "scan/file_walk.h"
#include "scan/modules.h"
#include "scan/scan_targets.h"
#include "window/scan_window.h"

namespace {

constexpr const char* kTag = "scanner";
constexpr int kCountLooks = 8;
constexpr DWORD kCountLookPauseMs = 16;
constexpr DWORD kScanThreadDelayMs = 1000;

ScanEngine g_engine;

// Exists only with the system-areas switch, from StartScan until CountThread
// has counted the system areas.
fw::UniqueHandle g_systemAreasCounted;

// Only ScanThread reads and writes it.
char g_lastReported[520];

void SetProgressRange(ScanWindow* window, DWORD maximum) {
    if (window->progressFrozen) return;
    ::SendDlgItemMessageA(window->Handle(), IDC_PROGRESS, PBM_SETRANGE32, 0, static_cast<LPARAM>(maximum));
}

DWORD CountSystemAreaFiles(ScanWindow* window) {
    DWORD modules = ScanProcessModules(0, window);
    DWORD drivers = ScanLoadedDrivers(0, window);
    return modules + drivers + ScanAutostart(0, window);
}

void ScanSystemAreas(ScanWindow* window) {
    ::Sleep(1);
    ScanAutostart(1, window);
    ScanProcessModules(1, window);
    ScanLoadedDrivers(1, window);
}

bool IsFolderTarget(const char* path) {
    // Unreadable attributes have every bit set, so they count as a folder.
    return (::GetFileAttributesA(path) & FILE_ATTRIBUTE_DIRECTORY) || std::strlen(path) <= 3;
}

DWORD CountTarget(const char* target, ScanWindow* window) {
    char path[520];
    std::snprintf(path, sizeof(path), "%s", target);
    if (IsFolderTarget(path)) return CountFolderFiles(path, 1, window);
    // An excluded file is never scanned, so it must not hold the progress back.
    return IsExcludedPath(path) ? 0 : 1;
}

void ScanTargetPath(const char* target, ScanWindow* window) {
    char path[520];
    std::snprintf(path, sizeof(path), "%s", target);
    if (char* unknown = std::strchr(path, '?')) {
        // A name without an ANSI form: its folder is searched for short names.
        *unknown = '\0';
        char* slash = std::strrchr(path, '\\');
        if (!slash) return;
        *slash = '\0';
        ScanShortNames(path, window);
    } else if (IsFolderTarget(path)) {
        ScanFolder(path, 1, window);
    } else {
        ScanFolder(path, 0, window);
    }
}

void WaitWhileHandlingSentMessages(HANDLE handle) {
    while (::MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

ScanEngine& Engine() { return g_engine; }

int LoadScanEngine(const char* folder) {
    char path[520];
    if (std::snprintf(path, sizeof(path), "%s\\kxsoc.dll", folder) >= static_cast<int>(sizeof(path))) return 0;
    fw::UniqueModule library(::LoadLibraryA(path));
    if (!library) return 0;
    auto scanFile = reinterpret_cast<ScanFileFunction>(
        reinterpret_cast<void*>(::GetProcAddress(library.get(), "ScanFile")));
    if (!scanFile) return 0;
    g_engine.scanFile = scanFile;
    g_engine.library = std::move(library);
    return 1;
}

void UnloadScanEngine() {
    g_engine.scanFile = nullptr;
    g_engine.library.reset();
}

int StartScan(ScanWindow* window) {
    char folder[260];
    GetInstallPath(folder, sizeof(folder));
    if (!LoadScanEngine(folder)) return 0;

    ::SetPriorityClass(::GetCurrentProcess(), IDLE_PRIORITY_CLASS);
    window->scanState = kStateInitialising;

    StartupOptions& options = ProcessOptions();
    if (options.allLocalDrives)
        AddFixedDriveTargets(&window->targets);
    else if (AddArgumentTargets(&window->targets, __argc, __argv) > 0)
        options.targetsGiven = 1;

    if (IsScanRunning(window->targets)) {
        window->EndDialog(IDCANCEL);
        return 0;
    }

    // Complete before either thread looks at a path.
    LoadExcludedPaths();
    if (options.systemAreas) g_systemAreasCounted.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));

    window->countThread = fw::StartWorkerThread(CountThread, window);
    ::Sleep(kScanThreadDelayMs);
    if (g_systemAreasCounted) {
        // A CountThread that never started, or ended early, cannot signal.
        if (window->countThread.handle) {
            HANDLE waits[2] = {g_systemAreasCounted.get(), window->countThread.handle.get()};
            ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        }
        g_systemAreasCounted.reset();
    }

    HWND handle = window->Handle();
    window->scanState = kStateStarting;
    window->statusLine = 1;
    ::InvalidateRect(handle, nullptr, FALSE);
    window->scanThread = fw::StartWorkerThread(ScanThread, window);
    window->startTime = std::time(nullptr);
    ::SetTimer(handle, kRefreshTimer, kRefreshPeriodMs, nullptr);
    // Without a ScanThread nobody would end the scan.
    if (!window->scanThread.handle) ::SendMessageA(handle, kMsgScanEnded, 0, 0);
    return 1;
}

void StopScanThreads(ScanWindow* window) {
    window->cancel = 1;
    if (window->paused && window->scanThread.handle) ::ResumeThread(window->scanThread.handle.get());
    if (window->scanThread.handle) WaitWhileHandlingSentMessages(window->scanThread.handle.get());
    if (window->countThread.handle) WaitWhileHandlingSentMessages(window->countThread.handle.get());
}

unsigned __stdcall CountThread(void* argument) {
    auto* window = static_cast<ScanWindow*>(argument);
    if (ProcessOptions().systemAreas) {
        window->total = CountSystemAreaFiles(window);
        if (HANDLE event = g_systemAreasCounted.get()) {
            ::Sleep(0);
            ::SetEvent(event);
        }
        SetProgressRange(window, window->total);
    }

    for (int look = 0; look < kCountLooks && window->targets.empty(); ++look) ::Sleep(kCountLookPauseMs);
    if (window->targets.empty()) {
        SetProgressRange(window, window->total);
        window->countingDone = 1;
        return 0;
    }

    SetProgressRange(window, window->provisionalTotal);
    for (const ScanTarget& target : window->targets) {
        if (window->cancel) break;
        window->total += CountTarget(target.path, window);
    }
    SetProgressRange(window, window->total);
    window->countingDone = 1;
    return 0;
}

unsigned __stdcall ScanThread(void* argument) {
    auto* window = static_cast<ScanWindow*>(argument);
    window->scanState = kStateScanning;
    ::SetProcessWorkingSetSize(::GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
    if (ProcessOptions().systemAreas) ScanSystemAreas(window);
    for (const ScanTarget& target : window->targets) {
        if (window->cancel) break;
        ScanTargetPath(target.path, window);
    }
    ::SendMessageA(window->Handle(), kMsgScanEnded, 0, 0);
    return 0;
}

LONG ScanOneFile(const char* path, DWORD size, const FILETIME* lastWrite, ScanWindow* window) {
    ScanFileFunction scanFile = g_engine.scanFile;
    if (!scanFile) return -1;
    char name[260] = {};
    LONG kind = 0;
    LONG result = scanFile(path, size, 0, name, &kind, lastWrite, 2);
    name[sizeof(name) - 1] = '\0';  // the engine's text is trusted no further than its buffer
    DWORD mask = ProcessOptions().debugMask;
    DebugLog(kTag, mask, kLevelInfo, "ScanVirus (%s) (%d)", path, static_cast<int>(result));
    if (result == 0) return 0;
    if (::lstrcmpiA(path, g_lastReported) == 0) return result;

    std::snprintf(g_lastReported, sizeof(g_lastReported), "%s", path);
    AddFinding(window, result, kind, name);
    DebugLog(kTag, mask, kLevelInfo, "CheckScan (%d) (%d) (%s)", static_cast<int>(result), static_cast<int>(kind),
             name);
    return result;
}

LONG ScanListedFile(const char* path, ScanWindow* window) {
    FILETIME creation{};
    FILETIME lastWrite{};
    DWORD size = GetFileSizeAndTimes(path, &creation, &lastWrite);
    window->SetCurrentFile(path);
    LONG result = ScanOneFile(path, size, &lastWrite, window);
    ++window->filesVisited;
    return result;
}
