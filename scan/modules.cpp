#include "scan/modules.h"

#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/system_facilities.h"
#include "framework/handles.h"
#include "logs/crc32.h"
#include "logs/debug_log.h"
#include "scan/module_list.h"
#include "scan/native_paths.h"
#include "scan/scan_job.h"

namespace {

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

constexpr size_t kMaxListerOutput = 64 * 1024 * 1024;
constexpr DWORD kListerTimeoutMs = 60000;

// An ended process whose object is still there has nothing loaded to scan.
bool HasEnded(HANDLE process) {
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &creation, &exit, &kernel, &user)) return false;
    return exit.dwLowDateTime != 0 || exit.dwHighDateTime != 0;
}

// One pass's state: the paths met and what they added, and the module
// lister's answer, asked for at the first process this one cannot list.
struct ModulePass {
    int mode;
    ScanJob& job;
    ModulePathsSeen seen;
    DWORD files = 0;
    bool listerAsked = false;
    std::map<unsigned long, std::vector<std::string>> listed;

    // A module path as the lister or this process found it.
    void Add(const char* path) {
        if (!seen.Add(path)) return;
        files += mode == 1 ? ScanListedFile(path, job) : CountListedFile(path);
    }
};

void TraceLister(const wchar_t* lister, const char* what, unsigned long code) {
    char path[520];
    if (!::WideCharToMultiByte(CP_ACP, 0, lister, -1, path, sizeof(path), nullptr, nullptr)) path[0] = '\0';
    DebugLog("scanner", ProcessOptions().debugMask, kLevelWarn,
             "ModuleLister (%s) %s (%lu): the modules of 64-bit processes are skipped", path, what, code);
}

// Ends a lister still running when its time is up, which also closes its end
// of the pipe and so ends a read that waits for it.
VOID CALLBACK EndLister(PVOID process, BOOLEAN /*timedOut*/) { ::TerminateProcess(process, 1); }

// Runs the lister with its output into a pipe; what it printed, or false
// (traced) when it cannot be run or ends badly.
bool RunLister(const wchar_t* lister, std::string* output) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    fw::UniqueHandle read, write;
    if (!::CreatePipe(read.put(), write.put(), &inherit, 0) || !::SetHandleInformation(read.get(), HANDLE_FLAG_INHERIT, 0)) {
        TraceLister(lister, "not started", ::GetLastError());
        return false;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write.get();
    wchar_t commandLine[kNativePathSize + 2];
    std::swprintf(commandLine, kNativePathSize + 2, L"\"%ls\"", lister);
    PROCESS_INFORMATION started{};
    // By its full name only: never a program of the search path.
    if (!::CreateProcessW(lister, commandLine, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                          &started)) {
        TraceLister(lister, "not started", ::GetLastError());
        return false;
    }
    fw::UniqueHandle process(started.hProcess), thread(started.hThread);
    write.reset();
    // A lister that hangs with its output open would otherwise hold the pass
    // in ReadFile for good.
    fw::UniqueQueueTimer timer;
    if (!::CreateTimerQueueTimer(timer.put(), nullptr, EndLister, process.get(), kListerTimeoutMs, 0,
                                 WT_EXECUTEONLYONCE))
        timer.release();  // nothing was made to delete
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(read.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        if (output->size() + got > kMaxListerOutput) {
            ::TerminateProcess(process.get(), 1);
            TraceLister(lister, "printed too much", static_cast<unsigned long>(output->size() + got));
            return false;
        }
        output->append(buffer, got);
    }
    DWORD exitCode = 1;
    if (::WaitForSingleObject(process.get(), kListerTimeoutMs) != WAIT_OBJECT_0) ::TerminateProcess(process.get(), 1);
    if (!::GetExitCodeProcess(process.get(), &exitCode) || exitCode != 0) {
        TraceLister(lister, "failed", exitCode);
        return false;
    }
    return true;
}

// The lister beside the program file, by process.
void AskLister(ModulePass* pass) {
    pass->listerAsked = true;
    wchar_t lister[kNativePathSize];
    const DWORD length = ::GetModuleFileNameW(nullptr, lister, kNativePathSize);
    wchar_t* slash = length > 0 && length < kNativePathSize ? std::wcsrchr(lister, L'\\') : nullptr;
    if (!slash || static_cast<size_t>(slash + 1 - lister) + std::wcslen(L"kxmodlist.exe") >= kNativePathSize) return;
    std::wcscpy(slash + 1, L"kxmodlist.exe");
    std::string output;
    if (!RunLister(lister, &output)) return;
    ModuleListing listing = ParseModuleList(output.data(), output.size());
    if (listing.rejected || !listing.complete) TraceLister(lister, listing.complete ? "printed lines not taken" : "was cut short",
                                                           static_cast<unsigned long>(listing.rejected));
    for (ListedModule& module : listing.modules) pass->listed[module.processId].push_back(std::move(module.path));
}

void ScanModulesOf(HANDLE process, DWORD id, ModulePass* pass) {
    if (HasEnded(process)) return;
    HMODULE modules[kMaxModules];
    DWORD needed = 0;
    if (!::EnumProcessModules(process, modules, sizeof(modules), &needed)) {
        // A 32-bit process cannot list a 64-bit one; the lister can.
        if (::GetLastError() != ERROR_PARTIAL_COPY || !ProcessNativeView().wow64) return;
        if (!pass->listerAsked) AskLister(pass);
        auto found = pass->listed.find(id);
        if (found == pass->listed.end()) return;
        for (const std::string& path : found->second) {
            if (pass->job.cancel) return;
            pass->Add(path.c_str());
        }
        return;
    }
    DWORD count = needed / sizeof(HMODULE);
    if (count > kMaxModules) count = kMaxModules;
    for (DWORD index = 0; index < count && !pass->job.cancel; ++index) {
        char name[kPathSize];
        char path[kNativePathSize];
        if (::GetModuleFileNameExA(process, modules[index], name, sizeof(name)) == 0 || !OwnPathAsNamed(name, path))
            continue;
        pass->Add(path);
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
    ModulePass pass{mode, job, {}, 0, false, {}};
    for (DWORD id = kFirstProcessId; id < kProcessIdLimit && !job.cancel; id += 4) {
        fw::UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
        if (!process) continue;
        ScanModulesOf(process.get(), id, &pass);
    }
    return pass.files;
}

DWORD ScanLoadedDrivers(int mode, ScanJob& job) {
    if (job.cancel) return 0;
    LPVOID drivers[kMaxDrivers];
    DWORD needed = 0;
    if (!::EnumDeviceDrivers(drivers, sizeof(drivers), &needed)) return 0;
    DWORD listed = needed / sizeof(LPVOID);
    if (listed > kMaxDrivers) listed = kMaxDrivers;
    // Counted the way they are scanned: a driver that cannot be reached must
    // not hold the progress back.
    DWORD files = 0;
    for (DWORD index = 0; index < listed && !job.cancel; ++index) {
        char name[kPathSize];
        if (::GetDeviceDriverFileNameA(drivers[index], name, sizeof(name)) == 0) continue;
        NormaliseDriverPath(name);
        files += mode == 1 ? ScanListedFile(name, job) : CountListedFile(name);
    }
    return files;
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
