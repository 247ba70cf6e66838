// scan_bench: one measurement per process, so that each peak working set
// belongs to one walk alone. tools/bench/run-bench.sh runs the modes side by
// side and compares them.
//
//   scan_bench MODE FOLDER [ENGINE_FOLDER]
//
//   bare          FindFirstFileW/FindNextFileW over the tree, nothing else
//   bare-sleep0   the same, with the scan's Sleep(0) after every file
//   openread      the bare walk, opening and reading every file to its end
//   count         CountFolderFiles, as CountThread runs it
//   scan-instant  ScanFolder with an engine that returns at once
//   scan-engine   ScanFolder with kxsoc.dll from ENGINE_FOLDER
//   sleep0        FOLDER is a number of Sleep(0) calls to time alone
//   cure-engine   ScanFolder with kxsoc.dll from ENGINE_FOLDER (not timed),
//                 then a cure pass (CureThread) over its findings, with an
//                 owner that answers at once: the engine's cure calls and the
//                 virus-log records alone, what a cure through the window
//                 costs at least
//   cure-guard    FOLDER/DEPTH: a file DEPTH folders below FOLDER (made when
//                 missing); the links of its path recorded as a finding is
//                 listed, and looked at again before its cure
//   module-list   FOLDER is a number of lines of module lister output (400
//                 modules a process) to parse, as a scan on 64-bit Windows
//                 reads it
//
// A mode with "-busy" appended runs while one spinning thread per processor
// keeps every core busy, as another busy process would: then Sleep(0) gives
// the core away for a whole scheduler slice.
//
// Prints one line of key=value pairs: mode, files, seconds, files_per_s,
// infections (scan modes), ws_before and peak_ws (bytes).
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "framework/handles.h"
#include "scan/cure_guard.h"
#include "scan/cure_pass.h"
#include "scan/file_walk.h"
#include "scan/module_list.h"
#include "scan/scan_job.h"

namespace {

constexpr size_t kPathSize = 520;
constexpr DWORD kReadSize = 64 * 1024;

struct BareWalk {
    bool openAndRead = false;
    bool sleepAfterFile = false;
    DWORD files = 0;
    unsigned char buffer[kReadSize];
};

BareWalk g_walk;

void ReadWholeFile(const wchar_t* path) {
    fw::UniqueFile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return;
    DWORD got = 0;
    while (::ReadFile(file.get(), g_walk.buffer, kReadSize, &got, nullptr) && got > 0) {
    }
}

// `folder` ends in "\" and has room for kPathSize characters.
void WalkBare(wchar_t* folder, size_t length) {
    if (length + 4 >= kPathSize) return;
    std::wcscpy(folder + length, L"*.*");
    WIN32_FIND_DATAW entry;
    fw::UniqueFind search(::FindFirstFileW(folder, &entry));
    folder[length] = L'\0';
    if (!search) return;
    do {
        const wchar_t* name = entry.cFileName;
        if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0) continue;
        size_t nameLength = std::wcslen(name);
        if (length + nameLength + 1 >= kPathSize) continue;
        std::wmemcpy(folder + length, name, nameLength + 1);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            folder[length + nameLength] = L'\\';
            folder[length + nameLength + 1] = L'\0';
            WalkBare(folder, length + nameLength + 1);
        } else {
            if (g_walk.openAndRead) ReadWholeFile(folder);
            ++g_walk.files;
            if (g_walk.sleepAfterFile) ::Sleep(0);
        }
        folder[length] = L'\0';
    } while (::FindNextFileW(search.get(), &entry));
}

DWORD RunBareWalk(const char* root) {
    wchar_t folder[kPathSize];
    int written = ::MultiByteToWideChar(CP_ACP, 0, root, -1, folder, static_cast<int>(kPathSize - 1));
    if (written <= 1) return 0;
    size_t length = std::wcslen(folder);
    if (folder[length - 1] != L'\\') {
        folder[length++] = L'\\';
        folder[length] = L'\0';
    }
    WalkBare(folder, length);
    return g_walk.files;
}

std::atomic<bool> g_stopSpinning{false};

DWORD WINAPI Spin(void*) {
    volatile unsigned long long turns = 0;
    while (!g_stopSpinning.load(std::memory_order_relaxed)) turns = turns + 1;
    return 0;
}

std::vector<fw::UniqueHandle> StartSpinners() {
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    std::vector<fw::UniqueHandle> threads;
    for (DWORD i = 0; i < system.dwNumberOfProcessors; ++i)
        threads.emplace_back(::CreateThread(nullptr, 0, Spin, nullptr, 0, nullptr));
    return threads;
}

void StopSpinners(std::vector<fw::UniqueHandle>& threads) {
    g_stopSpinning = true;
    for (fw::UniqueHandle& thread : threads)
        if (thread) ::WaitForSingleObject(thread.get(), INFINITE);
}

LONG WINAPI InstantScan(const char*, DWORD, DWORD, char*, LONG*, const FILETIME*, DWORD) { return 0; }

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

PROCESS_MEMORY_COUNTERS MemoryCounters() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return counters;
}

int TimeSleepZero(const char* countText, bool busy) {
    long count = std::strtol(countText, nullptr, 10);
    if (count <= 0) return 2;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    ::QueryPerformanceCounter(&start);
    for (long i = 0; i < count; ++i) ::Sleep(0);
    ::QueryPerformanceCounter(&end);
    double seconds = Seconds(start, end);
    std::printf("mode=sleep0%s calls=%ld seconds=%.4f us_per_call=%.3f\n", busy ? "-busy" : "", count, seconds,
                seconds * 1e6 / count);
    return 0;
}

// Counts the infections a scan reports, as the window would.
struct InfectionCounter : ScanReports {
    DWORD infections = 0;
    void ProgressRange(DWORD) override {}
    void Finding(LONG result, LONG, const char*, const char*) override {
        if (result != -1 && (result & 0x0007)) ++infections;
    }
    void ScanEnded() override {}
};

// Keeps the findings of a scan and offers each to a cure pass, as the
// window's list would, without a window.
struct CureOwner : ScanReports {
    struct Row {
        char name[260];
        char path[520];
    };
    std::vector<Row> rows;
    DWORD outcomes = 0;
    void ProgressRange(DWORD) override {}
    void Finding(LONG result, LONG, const char* name, const char* path) override {
        if (result == -1 || !(result & 0x0007)) return;
        Row& row = rows.emplace_back();
        std::snprintf(row.name, sizeof(row.name), "%s", name);
        std::snprintf(row.path, sizeof(row.path), "%s", path);
    }
    void ScanEnded() override {}
    int CureRowCount() override { return static_cast<int>(rows.size()); }
    bool CureFinding(int row, char (&name)[260], char (&path)[520]) override {
        std::memcpy(name, rows[row].name, sizeof(name));
        std::memcpy(path, rows[row].path, sizeof(path));
        return true;
    }
    void CureOutcome(int, LONG) override { ++outcomes; }
};

int TimeCurePass(const char* root, const char* engineFolder) {
    CureOwner owner;
    ScanJob job(&owner);
    if (!job.LoadEngine(engineFolder)) return 1;
    LoadExcludedPaths();
    char folder[kPathSize];
    std::snprintf(folder, sizeof(folder), "%s", root);
    ScanFolder(folder, 1, job);
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    ::QueryPerformanceCounter(&start);
    CureThread(&job);
    ::QueryPerformanceCounter(&end);
    const double seconds = Seconds(start, end);
    std::printf("mode=cure-engine rows=%lu seconds=%.4f us_per_row=%.1f\n", static_cast<unsigned long>(owner.outcomes),
                seconds, owner.outcomes ? seconds * 1e6 / owner.outcomes : 0.0);
    return owner.outcomes > 0 ? 0 : 1;
}

// The links of a path DEPTH folders deep, at listing and before the cure.
int TimeCureGuard(const char* root, const char* depthText) {
    const int depth = std::atoi(depthText);
    if (depth <= 0) return 2;
    std::string path = root;
    ::CreateDirectoryA(root, nullptr);
    for (int level = 0; level < depth; ++level) {
        path += "\\d" + std::to_string(level);
        ::CreateDirectoryA(path.c_str(), nullptr);
    }
    path += "\\file.txt";
    if (!fw::UniqueFile(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr))) return 1;
    ListedLinks links;
    constexpr int kRounds = 200;
    char enginePath[520];
    bool allowed = true;
    LARGE_INTEGER start, middle, end;
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < kRounds; ++i) links.Record(path.c_str());
    ::QueryPerformanceCounter(&middle);
    for (int i = 0; i < kRounds; ++i) allowed = links.MayCure(path.c_str(), enginePath) && allowed;
    ::QueryPerformanceCounter(&end);
    const double record = Seconds(start, middle) * 1e6 / kRounds, check = Seconds(middle, end) * 1e6 / kRounds;
    // The names below the drive: the folders, the root's own and the file.
    const int names = static_cast<int>(std::count(path.begin() + 3, path.end(), '\\')) + 1;
    std::printf("mode=cure-guard names=%d record_us=%.1f check_us=%.1f us_per_name=%.1f allowed=%d\n", names, record,
                check, (record + check) / 2 / names, allowed);
    return allowed ? 0 : 1;
}

int TimeModuleList(const char* linesText) {
    const long lines = std::strtol(linesText, nullptr, 10);
    if (lines <= 0) return 2;
    std::string output;
    for (long line = 0; line < lines; ++line)
        output += std::to_string(8 + 4 * (line / 400)) + "\tC:\\Windows\\System32\\module-" +
                  std::to_string(line % 400) + ".dll\r\n";
    output += "end\r\n";
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    const ModuleListing listing = ParseModuleList(output.data(), output.size());
    ::QueryPerformanceCounter(&end);
    const double seconds = Seconds(start, end);
    std::printf("mode=module-list lines=%lu mb=%.1f seconds=%.4f us_per_line=%.3f complete=%d\n",
                static_cast<unsigned long>(listing.modules.size()), output.size() / 1e6, seconds,
                seconds * 1e6 / lines, listing.complete);
    return listing.complete && listing.modules.size() == static_cast<size_t>(lines) ? 0 : 1;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: scan_bench bare|bare-sleep0|openread|count|scan-instant FOLDER\n"
                 "       scan_bench scan-engine|cure-engine FOLDER ENGINE_FOLDER\n"
                 "       scan_bench sleep0 CALLS | module-list LINES | cure-guard FOLDER DEPTH\n"
                 "       (append -busy to a mode to keep every core busy meanwhile)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    char mode[32];
    if (std::snprintf(mode, sizeof(mode), "%s", argv[1]) >= static_cast<int>(sizeof(mode))) return Usage();
    size_t modeLength = std::strlen(mode);
    bool busy = modeLength > 5 && std::strcmp(mode + modeLength - 5, "-busy") == 0;
    if (busy) mode[modeLength - 5] = '\0';
    if (std::strcmp(mode, "sleep0") == 0) {
        std::vector<fw::UniqueHandle> spinners = busy ? StartSpinners() : std::vector<fw::UniqueHandle>();
        int result = TimeSleepZero(argv[2], busy);
        StopSpinners(spinners);
        return result;
    }
    if (std::strcmp(mode, "module-list") == 0) return TimeModuleList(argv[2]);

    char root[kPathSize];
    if (std::snprintf(root, sizeof(root), "%s", argv[2]) >= static_cast<int>(sizeof(root))) return Usage();
    if (std::strcmp(mode, "cure-engine") == 0) return argc < 4 ? Usage() : TimeCurePass(root, argv[3]);
    if (std::strcmp(mode, "cure-guard") == 0) return argc < 4 ? Usage() : TimeCureGuard(root, argv[3]);

    bool bare = std::strcmp(mode, "bare") == 0;
    bool bareSleep = std::strcmp(mode, "bare-sleep0") == 0;
    bool openRead = std::strcmp(mode, "openread") == 0;
    bool count = std::strcmp(mode, "count") == 0;
    bool instant = std::strcmp(mode, "scan-instant") == 0;
    bool engine = std::strcmp(mode, "scan-engine") == 0;
    if (!(bare || bareSleep || openRead || count || instant || engine)) return Usage();

    InfectionCounter counter;
    ScanJob job(&counter);
    if (engine) {
        if (argc < 4) return Usage();
        if (!job.LoadEngine(argv[3])) {
            std::fprintf(stderr, "scan_bench: no ScanFile in %s\\kxsoc.dll\n", argv[3]);
            return 1;
        }
    } else if (instant) {
        job.engine.scanFile = InstantScan;
    }
    g_walk.openAndRead = openRead;
    g_walk.sleepAfterFile = bareSleep;

    // The exclusion table is read once per process; not inside the timing.
    LoadExcludedPaths();
    SIZE_T before = MemoryCounters().WorkingSetSize;

    std::vector<fw::UniqueHandle> spinners = busy ? StartSpinners() : std::vector<fw::UniqueHandle>();
    DWORD files = 0;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    ::QueryPerformanceCounter(&start);
    if (bare || bareSleep || openRead) {
        files = RunBareWalk(root);
    } else if (count) {
        files = CountFolderFiles(root, 1, job);
    } else {
        ScanFolder(root, 1, job);
        files = job.filesVisited;
    }
    ::QueryPerformanceCounter(&end);
    StopSpinners(spinners);

    double seconds = Seconds(start, end);
    SIZE_T peak = MemoryCounters().PeakWorkingSetSize;
    std::printf("mode=%s%s files=%lu seconds=%.4f files_per_s=%.0f", mode, busy ? "-busy" : "", files, seconds,
                seconds > 0 ? files / seconds : 0.0);
    if (instant || engine) std::printf(" infections=%lu", static_cast<unsigned long>(counter.infections));
    std::printf(" ws_before=%llu peak_ws=%llu\n", static_cast<unsigned long long>(before),
                static_cast<unsigned long long>(peak));
    return files > 0 ? 0 : 1;
}
