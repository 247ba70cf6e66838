#include "scan/modules.h"

#include <psapi.h>

#include <cstdio>
#include <cstring>

#include "app/system_facilities.h"
#include "framework/handles.h"
#include "logs/crc32.h"
#include "scan/scan_job.h"

namespace {

constexpr DWORD kFirstProcessId = 8;
constexpr DWORD kProcessIdLimit = 0xFFFF;
constexpr DWORD kMaxModules = 1024;
constexpr DWORD kMaxDrivers = 512;
constexpr DWORD kPathSize = 520;

const char* WindowsFolder() {
    static const struct Folder {
        char path[260] = {};
        Folder() {
            UINT length = ::GetWindowsDirectoryA(path, sizeof(path));
            if (length == 0 || length >= sizeof(path)) path[0] = '\0';
        }
    } folder;
    return folder.path;
}

// An ended process whose object is still there has nothing loaded to scan.
bool HasEnded(HANDLE process) {
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &creation, &exit, &kernel, &user)) return false;
    return exit.dwLowDateTime != 0 || exit.dwHighDateTime != 0;
}

void ScanModulesOf(HANDLE process, int mode, ScanJob& job, ModulePathsSeen* seen) {
    if (HasEnded(process)) return;
    HMODULE modules[kMaxModules];
    DWORD needed = 0;
    if (!::EnumProcessModules(process, modules, sizeof(modules), &needed)) return;
    DWORD count = needed / sizeof(HMODULE);
    if (count > kMaxModules) count = kMaxModules;
    for (DWORD index = 0; index < count && !job.cancel; ++index) {
        char name[kPathSize];
        if (::GetModuleFileNameExA(process, modules[index], name, sizeof(name)) == 0) continue;
        if (seen->Add(name) && mode == 1) ScanListedFile(name, job);
    }
}

bool ReplacePrefix(char* path, const char* prefix, const char* replacement) {
    size_t length = std::strlen(prefix);
    if (::_strnicmp(path, prefix, length) != 0) return false;
    char result[kPathSize];
    if (std::snprintf(result, sizeof(result), "%s%s", replacement, path + length) >= static_cast<int>(sizeof(result)))
        return false;
    std::memcpy(path, result, std::strlen(result) + 1);
    return true;
}

}  // namespace

size_t ModulePathsSeen::Crc32Hash::operator()(const std::string& path) const { return Crc32(path.data(), path.size()); }

DWORD ScanProcessModules(int mode, ScanJob& job) {
    ModulePathsSeen seen;
    for (DWORD id = kFirstProcessId; id < kProcessIdLimit && !job.cancel; id += 4) {
        fw::UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
        if (!process) continue;
        ScanModulesOf(process.get(), mode, job, &seen);
    }
    return seen.Count();
}

DWORD ScanLoadedDrivers(int mode, ScanJob& job) {
    if (job.cancel) return 0;
    LPVOID drivers[kMaxDrivers];
    DWORD needed = 0;
    if (!::EnumDeviceDrivers(drivers, sizeof(drivers), &needed)) return 0;
    DWORD listed = needed / sizeof(LPVOID);
    if (listed > kMaxDrivers) listed = kMaxDrivers;
    // Counted the way they are scanned: a driver without a name never reaches
    // the engine, so it must not hold the progress back.
    DWORD named = 0;
    for (DWORD index = 0; index < listed && !job.cancel; ++index) {
        char name[kPathSize];
        if (::GetDeviceDriverFileNameA(drivers[index], name, sizeof(name)) == 0) continue;
        ++named;
        if (mode != 1) continue;
        NormaliseDriverPath(name);
        ScanListedFile(name, job);
    }
    return named;
}

void NormaliseDriverPath(char* path) {
    if (std::strncmp(path, "\\??\\", 4) == 0 || std::strncmp(path, "\\\\?\\", 4) == 0) {
        std::memmove(path, path + 4, std::strlen(path + 4) + 1);
    } else if (const char* windows = WindowsFolder(); windows[0]) {
        for (const char* prefix : {"%SystemRoot%", "\\SystemRoot", "%Windows%", "\\Windows"})
            ReplacePrefix(path, prefix, windows);
    }
    ExpandShortPath(path);
}
