#include "app/startup.h"

#include <cstdio>
#include <string>

#include "app/install_paths.h"
#include "app/local_text.h"
#include "app/registry.h"
#include "framework/handles.h"

namespace {

// The token's privileges before the debug privilege was enabled.
TOKEN_PRIVILEGES g_previousPrivileges;

constexpr const char* kDefaultQuickScanExtensions = "exe,com,bat,doc,ppt,xls";

StartupOptions g_options;

}  // namespace

StartupOptions& ProcessOptions() { return g_options; }

void LoadStartupSettings(StartupOptions* options) {
    // curetype = 0 leaves a /AC of the command line in force.
    if (ReadIniInt("MAIN", "curetype", 0) == 1) options->autoCure = 1;

    GetInstallPath(options->installDir, sizeof(options->installDir));

    if (options->quickScan) {
        char path[520];
        std::snprintf(path, sizeof(path), "%s\\qmshield.sys", options->installDir);
        ::GetPrivateProfileStringA("system", "shell", kDefaultQuickScanExtensions, options->quickScanExtensions,
                                   sizeof(options->quickScanExtensions), path);
    }

    GetLocalText("SCANNER", "TITLE", options->title, sizeof(options->title));
    ReadRegDword(HKEY_LOCAL_MACHINE, kProductKey, "DbgLevel", &options->debugMask);
}

void RunPendingUpdate(const StartupOptions& options) {
    DWORD executeUpdate = 0;
    ReadRegDword(HKEY_LOCAL_MACHINE, kConfigKey, "ExecuteUpdate", &executeUpdate);
    if (executeUpdate != 1) return;
    // Room for the longest installation directory, so the path is never cut.
    char commandLine[sizeof(options.installDir) + 32];
    std::snprintf(commandLine, sizeof(commandLine), "\"%s\\update.exe\" /hide /scan", options.installDir);
    StartProcess(commandLine, 1);
    WriteRegDword(HKEY_LOCAL_MACHINE, kConfigKey, "ExecuteUpdate", 0);
}

DWORD StartProcess(const char* commandLine, DWORD wait) {
    std::string line = commandLine;  // CreateProcessA may write into its command line
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return 0;
    fw::UniqueHandle process(info.hProcess);
    fw::UniqueHandle thread(info.hThread);
    if (wait) ::WaitForSingleObject(process.get(), INFINITE);
    return info.dwProcessId;
}

void EnableDebugPrivilege() {
    fw::UniqueHandle token;
    constexpr DWORD kRights = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
    if (!::OpenProcessToken(::GetCurrentProcess(), kRights, token.put()) &&
        !::OpenThreadToken(::GetCurrentThread(), kRights, FALSE, token.put()))
        return;
    TOKEN_PRIVILEGES privileges{};
    if (!::LookupPrivilegeValueA(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid)) return;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD previousSize = sizeof(g_previousPrivileges);
    ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(g_previousPrivileges), &g_previousPrivileges,
                            &previousSize);
}
