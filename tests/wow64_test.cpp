// The 32-bit program on 64-bit Windows. These machines run only the 64-bit
// build, so the probes point its WOW64 answers at stand-ins: IsWow64Process
// (looked up by name), the system folders and, for the modules, the listing
// of the probe's own process, which then fails as a 64-bit process's does.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>

#include "app/startup.h"
#include "logs/debug_log.h"
#include "scan/autostart.h"
#include "scan/cure_pass.h"
#include "scan/file_walk.h"
#include "scan/modules.h"
#include "scan/scan_job.h"
#include "tests/support/kxscan_run.h"

namespace {

using ProcAddress = FARPROC(WINAPI*)(HMODULE, LPCSTR);
using Folder = UINT(WINAPI*)(LPSTR, UINT);
using ListModules = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, LPDWORD);
KXTEST_IMPORT(ProcAddress, g_procAddress, GetProcAddress, 8);
KXTEST_IMPORT(Folder, g_systemFolder, GetSystemDirectoryA, 8);
KXTEST_IMPORT(Folder, g_wow64Folder, GetSystemWow64DirectoryA, 8);
KXTEST_IMPORT(ListModules, g_listModules, K32EnumProcessModules, 16);
ProcAddress g_realProcAddress;
ListModules g_realListModules;
std::string g_windows;  // the folder that stands for the Windows folder

BOOL WINAPI UnderWow64(HANDLE, PBOOL wow64) { return *wow64 = TRUE; }
using kxtest::Occurrences;
using kxtest::PointImportAt;

// The Windows folder `windows` with System32 (the 32-bit twins), Sysnative (the native files) and SysWOW64.
void StandInWow64(const std::string& windows) {
    g_windows = windows;
    g_realProcAddress = PointImportAt(g_procAddress, +[](HMODULE module, LPCSTR name) WINAPI {
        if (HIWORD(name) && std::strcmp(name, "IsWow64Process") == 0) return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(UnderWow64));
        return g_realProcAddress(module, name);
    });
    PointImportAt(g_systemFolder, +[](LPSTR out, UINT size) WINAPI { return UINT(std::snprintf(out, size, "%s\\System32", g_windows.c_str())); });
    PointImportAt(g_wow64Folder, +[](LPSTR out, UINT size) WINAPI { return UINT(std::snprintf(out, size, "%s\\SysWOW64", g_windows.c_str())); });
    ProcessOptions().debugMask = kDebugToFile;
}

// The engine: what reaches it, "scan PATH" or "cure PATH"; files named evil are findings, cured.
std::string g_engine;
LONG WINAPI Engine(const char* path, DWORD, DWORD cure, char* name, LONG*, const FILETIME*, DWORD) {
    g_engine += (cure ? "cure " : "scan ") + std::string(path) + "|";
    return cure ? 0x8 : std::strstr(path, "evil") ? (std::strcpy(name, "Kx.Evil"), 1) : 0;
}
// The findings list of one row, which the cure takes.
struct Owner : ScanReports {
    std::string found;
    void ProgressRange(DWORD) override {}
    void Finding(LONG, LONG, const char*, const char* path) override { found = path; }
    void ScanEnded() override {}
    int CureRowCount() override { return 1; }
    bool CureFinding(int, char (&name)[260], char (&path)[520]) override { return std::strcpy(name, "Kx.Evil"), std::strcpy(path, found.c_str()); }
};

KX_PROBE(system_folder_under_wow64) {
    StandInWow64(args[0]);
    Owner owner;
    ScanJob job(&owner);
    job.engine.scanFile = Engine;
    std::string folder = g_windows + "\\System32";
    folder.resize(520);
    const DWORD counted = CountFolderFiles(std::string(folder).data(), 1, job);
    ScanFolder(folder.data(), 1, job);
    ScanListedFile((g_windows + "\\System32\\drivers\\evil.sys").c_str(), job);
    CureThread(&job);
    ::SetEnvironmentVariableA("ProgramW6432", "C:\\Native");
    fw::UniqueFile(::CreateFileA((g_windows + "\\Sysnative\\native_only.dll").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    char command[260] = "%ProgramFiles%\\Tool\\tool.exe", bare[260] = "native_only.dll,Start";
    ExtractCommandPath(command), ExtractCommandPath(bare);
    return std::printf("%lu %lu %s %s %s%s", counted, job.filesVisited.load(), command, bare, g_engine.c_str(), owner.found.c_str()), 0;
}

TEST(Wow64, SystemFolderReachedThroughItsNativeAliasWhilePeopleSeeTheirOwnPaths) {
    kxtest::RegisteredInstall install;
    for (const char* name : {"W\\System32\\twin32.dll", "W\\Sysnative\\a.dll", "W\\Sysnative\\drivers\\evil.sys", "Logs\\kxlog.01"})
        ASSERT_TRUE(install.dir.Write(name, ""));
    const std::string user = install.dir.File("W\\System32\\drivers\\evil.sys"), native = install.dir.File("W\\Sysnative\\");
    // Two files counted; the walk's two and the listed driver visited; %ProgramFiles% of a 64-bit text is the native
    // folder, and a bare name a 64-bit search finds only in the native system folder is named under System32.
    EXPECT_EQ(kxtest::RunProbe("system_folder_under_wow64", {install.dir.File("W")}).output,
              "2 3 C:\\Native\\Tool\\tool.exe " + install.dir.File("W\\System32\\native_only.dll") + " scan " + native + "a.dll|scan " + native + "drivers\\evil.sys|scan " + native +
                  "drivers\\evil.sys|cure " + native + "drivers\\evil.sys|" + user);
    const std::string virusLog = kxtest::Run(kxtest::Quote(kxtest::BuildFolder() + "\\kxlogcat.exe") + " " + install.dir.File("Logs\\virus.log"), 20000).output;
    const std::string debugLog = install.dir.Read("Logs\\kxlog.01");
    EXPECT_NE(virusLog.find(kxtest::Escaped(user)), std::string::npos) << virusLog;
    EXPECT_TRUE(debugLog.find("ScanVirus (" + user + ") (1)") != std::string::npos && debugLog.find("Sysnative") == std::string::npos) << debugLog;
}

// Wine's 64-bit prefix has both views: the 32-bit view of a redirected key,
// the 64-bit Winsock catalog, a class looked up in the view of its
// reference, and a path of both views scanned once.
TEST(Wow64, BothRegistryViewsAndBothWinsockCatalogsReachTheEngineEachPathOnce) {
    kxtest::TempInstallDir files(false);
    const char* names[] = {"run64.exe", "run32.exe", "both.exe", "provider64.dll", "class32.dll", "class64.dll"};
    for (const char* name : names) ASSERT_TRUE(files.Write(name, "x"));
    const std::string run = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", clsid = "\\CLSID\\{6A1B1D4E-0000-4000-8000-4B5843535735}",
                      catalog = "SYSTEM\\CurrentControlSet\\Services\\WinSock2\\Parameters\\Protocol_Catalog9\\Catalog_Entries64\\KxTest";
    kxtest::ScopedHklmKey catalogKey{catalog}, class64{"SOFTWARE\\Classes" + clsid}, class32{"SOFTWARE\\Wow6432Node\\Classes" + clsid};
    const std::tuple<REGSAM, std::string, const char*, std::string> entries[] = {
        {KEY_WOW64_64KEY, run, "KxRun64", files.File("run64.exe")}, {KEY_WOW64_32KEY, run, "KxRun32", files.File("run32.exe")},
        {KEY_WOW64_64KEY, run, "KxBoth", files.File("both.exe")}, {KEY_WOW64_32KEY, run, "KxBoth", files.File("both.exe")},
        {KEY_WOW64_32KEY, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ShellServiceObjectDelayLoad", "KxClass", clsid.substr(7)},
        {KEY_WOW64_32KEY, class64.Path() + "\\InProcServer32", "", files.File("class32.dll")},
        {KEY_WOW64_64KEY, class64.Path() + "\\InProcServer32", "", files.File("class64.dll")},
        {KEY_WOW64_64KEY, catalog, "PackedCatalogItem", files.File("provider64.dll") + std::string("\0\x01\x02", 3)}};
    auto each = [&](bool set) {
        for (const auto& [view, path, value, data] : entries) {
            fw::UniqueKey key;
            ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr);
            EXPECT_EQ(set ? ::RegSetValueExA(key.get(), value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), static_cast<DWORD>(data.size() + 1))
                          : ::RegDeleteValueA(key.get(), value), ERROR_SUCCESS) << path;
        }
    };
    each(true);
    ScanJob job;
    job.engine.scanFile = Engine;
    g_engine.clear();
    const DWORD counted = ScanAutostart(0, job);
    EXPECT_TRUE(counted == ScanAutostart(1, job) && counted == job.filesVisited && counted >= 5) << counted;
    each(false);
    for (const char* name : names) EXPECT_EQ(Occurrences(g_engine, "scan " + files.File(name) + "|"), std::strcmp(name, "class64.dll") ? 1 : 0) << name;
}

// The probe's own modules come from the lister beside the program file, or,
// without it, are skipped with a line in the debug log; the count follows.
KX_PROBE(modules_under_wow64) {
    StandInWow64(args[0]);  // a folder that maps no module's path
    g_realListModules = PointImportAt(g_listModules, +[](HANDLE process, HMODULE* modules, DWORD size, LPDWORD needed) WINAPI {
        if (::GetProcessId(process) == ::GetCurrentProcessId()) return ::SetLastError(ERROR_PARTIAL_COPY), FALSE;
        return g_realListModules(process, modules, size, needed);
    });
    ScanJob job;
    job.engine.scanFile = Engine;
    const DWORD counted = ScanProcessModules(0, job), visited = ScanProcessModules(1, job);
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, sizeof(self));
    return std::printf("%d ", counted == visited && visited == job.filesVisited), Occurrences(g_engine, "scan " + std::string(self) + "|");
}

TEST(Wow64, TheModuleListerListsThe64BitModulesAndWithoutItTheyAreSkippedAndLogged) {
    // A copy of this program, alone in its folder with the lister (which lists this 64-bit process), then without it.
    kxtest::RegisteredInstall install;
    ASSERT_TRUE(install.dir.CopyFromBuild("kxscan_tests.exe") && install.dir.CopyFromBuild("kxmodlist.exe") && install.dir.Write("Logs\\kxlog.01", ""));
    for (const bool present : {true, false}) {
        if (!present) ::DeleteFileA(install.dir.File("kxmodlist.exe").c_str());
        const kxtest::RunResult run = kxtest::RunProbe("modules_under_wow64", {install.dir.File("W")}, {}, 60000, install.dir.File("kxscan_tests.exe"));
        EXPECT_EQ(run.output + std::to_string(run.exitCode), present ? "1 1" : "1 0") << "count = visits, the program scanned once";
        // Present, it prints every line whole and its end; missing, it is traced once a pass.
        const std::string log = install.dir.Read("Logs\\kxlog.01");
        const std::string missing = "ModuleLister (" + install.dir.File("kxmodlist.exe") + ") not started (2)";
        EXPECT_EQ(std::to_string(Occurrences(log, "ModuleLister (")) + std::to_string(Occurrences(log, missing)), present ? "00" : "22") << log;
    }
}

}  // namespace
