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
#include <utility>
#include <vector>

#include "app/startup.h"
#include "logs/debug_log.h"
#include "scan/autostart.h"
#include "scan/cure_pass.h"
#include "scan/file_walk.h"
#include "scan/module_list.h"
#include "scan/modules.h"
#include "scan/scan_job.h"
#include "tests/support/kxscan_run.h"

namespace {

using Strings = kxtest::Strings;

using ProcAddress = FARPROC(WINAPI*)(HMODULE, LPCSTR);
using Folder = UINT(WINAPI*)(LPSTR, UINT);
using ListModules = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, LPDWORD);
KXTEST_IMPORT(ProcAddress, g_procAddressImport, GetProcAddress, 8);
KXTEST_IMPORT(Folder, g_systemImport, GetSystemDirectoryA, 8);
KXTEST_IMPORT(Folder, g_wow64Import, GetSystemWow64DirectoryA, 8);
KXTEST_IMPORT(ListModules, g_listImport, K32EnumProcessModules, 16);
ProcAddress g_procAddress;
ListModules g_list;
std::string g_windows;  // the folder that stands for the Windows folder

BOOL WINAPI UnderWow64(HANDLE, PBOOL wow64) { return *wow64 = TRUE; }
FARPROC WINAPI StandInProcAddress(HMODULE module, LPCSTR name) {
    if (HIWORD(name) && std::strcmp(name, "IsWow64Process") == 0) return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(UnderWow64));
    return g_procAddress(module, name);
}
UINT Answer(const std::string& text, LPSTR out, UINT size) {
    return text.size() < size ? static_cast<UINT>(std::strlen(std::strcpy(out, text.c_str()))) : static_cast<UINT>(text.size() + 1);
}
UINT WINAPI SystemFolder(LPSTR out, UINT size) { return Answer(g_windows + "\\System32", out, size); }
UINT WINAPI Wow64Folder(LPSTR out, UINT size) { return Answer(g_windows + "\\SysWOW64", out, size); }
BOOL WINAPI ListAs32Bit(HANDLE process, HMODULE* modules, DWORD size, LPDWORD needed) {
    if (::GetProcessId(process) == ::GetCurrentProcessId()) return ::SetLastError(ERROR_PARTIAL_COPY), FALSE;
    return g_list(process, modules, size, needed);
}

template <typename T>
void PointAt(T& import, T standIn, T* keep = nullptr) {
    DWORD old;
    ::VirtualProtect(&import, sizeof import, PAGE_READWRITE, &old);
    T previous = std::exchange(import, standIn);
    if (keep) *keep = previous;
}

void UnderWow64With(const std::string& windows) {
    g_windows = windows;
    PointAt(g_procAddressImport, StandInProcAddress, &g_procAddress);
    PointAt(g_systemImport, SystemFolder);
    PointAt(g_wow64Import, Wow64Folder);
    ProcessOptions().debugMask = kDebugToFile;
}

// The engine: what reaches it, "scan PATH" or "cure PATH"; files named evil are findings, cured.
Strings g_engine;
LONG WINAPI Engine(const char* path, DWORD, DWORD cure, char* name, LONG*, const FILETIME*, DWORD) {
    g_engine.push_back((cure ? "cure " : "scan ") + std::string(path));
    if (cure) return 0x8;
    return std::strstr(path, "evil") ? (std::strcpy(name, "Kx.Evil"), 1) : 0;
}
struct Owner : ScanReports {
    Strings found;
    void ProgressRange(DWORD) override {}
    void Finding(LONG, LONG, const char*, const char* path) override { found.push_back(path); }
    void ScanEnded() override {}
    int CureRowCount() override { return static_cast<int>(found.size()); }
    bool CureFinding(int row, char (&name)[260], char (&path)[520]) override {
        return std::strcpy(name, "Kx.Evil"), std::snprintf(path, sizeof(path), "%s", found[row].c_str()), true;
    }
};

void Print(const char* label, const Strings& lines) {
    std::printf("%s:", label);
    for (const std::string& line : lines) std::printf(" %s", line.c_str());
    std::printf("\n");
}

// args: the installation, holding Windows\ with System32 (the 32-bit twins), Sysnative and SysWOW64.
KX_PROBE(system_folder_under_wow64) {
    UnderWow64With(args[0] + "\\Windows");
    Owner owner;
    ScanJob job(&owner);
    job.engine.scanFile = Engine;
    std::string folder = g_windows + "\\System32";
    folder.resize(520);
    const DWORD counted = CountFolderFiles(folder.data(), 1, job);
    folder = g_windows + "\\System32", folder.resize(520);
    ScanFolder(folder.data(), 1, job);
    ScanListedFile((g_windows + "\\System32\\drivers\\evil.sys").c_str(), job);
    ::SetEnvironmentVariableA("ProgramW6432", "C:\\Native Programs");
    char command[260] = "%ProgramFiles%\\Tool\\tool.exe";
    ExtractCommandPath(command);
    CureThread(&job);
    std::printf("%lu counted, %lu visited, %s\n", counted, static_cast<unsigned long>(job.filesVisited.load()), command);
    Print("engine", g_engine);
    Print("found", owner.found);
    return 0;
}

TEST(Wow64, SystemFolderReachedThroughItsNativeAliasWhilePeopleSeeTheirOwnPaths) {
    kxtest::RegisteredInstall install;
    for (const char* name : {"Windows\\System32\\twin32.dll", "Windows\\Sysnative\\a.dll", "Windows\\Sysnative\\drivers\\evil.sys", "Logs\\kxlog.01"})
        ASSERT_TRUE(install.dir.Write(name, ""));
    const std::string windows = install.dir.File("Windows"), user = windows + "\\System32", native = windows + "\\Sysnative";
    const Strings lines = kxtest::Lines(kxtest::RunProbe("system_folder_under_wow64", {install.dir.Path()}).output);
    // The walk's two files and the listed driver; %ProgramFiles% of a 64-bit text is the native folder.
    EXPECT_EQ(lines, (Strings{"2 counted, 3 visited, C:\\Native Programs\\Tool\\tool.exe",
                              "engine: scan " + native + "\\a.dll scan " + native + "\\drivers\\evil.sys scan " + native +
                                  "\\drivers\\evil.sys cure " + native + "\\drivers\\evil.sys",
                              "found: " + user + "\\drivers\\evil.sys"}));
    const std::string virusLog = kxtest::Run(kxtest::Quote(kxtest::BuildFolder() + "\\kxlogcat.exe") + " " +
                                                 kxtest::Quote(install.dir.File("Logs\\virus.log")), 20000).output;
    EXPECT_NE(virusLog.find(kxtest::Escaped(user + "\\drivers\\evil.sys")), std::string::npos) << virusLog;
    const std::string debugLog = install.dir.Read("Logs\\kxlog.01");
    EXPECT_NE(debugLog.find("ScanVirus (" + user + "\\drivers\\evil.sys) (1)"), std::string::npos) << debugLog;
    EXPECT_EQ(debugLog.find("Sysnative"), std::string::npos);
}

// Both registry views (Wine's 64-bit prefix has both): the 32-bit view of a
// redirected key, the 64-bit Winsock catalog, a class looked up in the view
// of its reference, and a path of both views scanned once.
TEST(Wow64, BothRegistryViewsAndBothWinsockCatalogsReachTheEngineEachPathOnce) {
    kxtest::TempInstallDir files(false);
    for (const char* name : {"run64.exe", "run32.exe", "both.exe", "provider64.dll", "class32.dll", "class64.dll"})
        ASSERT_TRUE(files.Write(name, "x"));
    const std::string run = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", delayLoad = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ShellServiceObjectDelayLoad",
                      classKey = "SOFTWARE\\Classes\\CLSID\\{6A1B1D4E-0000-4000-8000-4B5843535735}\\InProcServer32",
                      catalog = "SYSTEM\\CurrentControlSet\\Services\\WinSock2\\Parameters\\Protocol_Catalog9\\Catalog_Entries64\\KxTest";
    const std::string provider = files.File("provider64.dll") + std::string("\0\x01\x02", 3);
    const struct {
        REGSAM view;
        std::string key, value, data;
    } entries[] = {{KEY_WOW64_64KEY, run, "KxRun64", files.File("run64.exe")},   {KEY_WOW64_32KEY, run, "KxRun32", files.File("run32.exe")},
                   {KEY_WOW64_64KEY, run, "KxBoth", files.File("both.exe")},     {KEY_WOW64_32KEY, run, "KxBoth", files.File("both.exe")},
                   {KEY_WOW64_32KEY, delayLoad, "KxClass", "{6A1B1D4E-0000-4000-8000-4B5843535735}"},
                   {KEY_WOW64_32KEY, classKey, "", files.File("class32.dll")}, {KEY_WOW64_64KEY, classKey, "", files.File("class64.dll")},
                   {KEY_WOW64_64KEY, catalog, "PackedCatalogItem", provider}};
    const std::string classId = classKey.substr(0, classKey.rfind('\\'));
    kxtest::ScopedHklmKey catalogKey{catalog}, class64{classId}, class32{"SOFTWARE\\Wow6432Node\\Classes" + classId.substr(16)};
    auto each = [&](auto step) {
        for (const auto& entry : entries) {
            fw::UniqueKey key;
            ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, entry.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | entry.view, nullptr, key.put(), nullptr), 0);
            step(key.get(), entry.value, entry.data);
        }
    };
    each([](HKEY key, const std::string& value, const std::string& data) {
        ::RegSetValueExA(key, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), static_cast<DWORD>(data.size() + 1));
    });
    ScanJob job;
    job.engine.scanFile = Engine;
    g_engine.clear();
    const DWORD counted = ScanAutostart(0, job), visited = ScanAutostart(1, job);
    each([](HKEY key, const std::string& value, const std::string&) { ::RegDeleteValueA(key, value.c_str()); });
    EXPECT_TRUE(counted == visited && visited == job.filesVisited && counted >= 5) << counted << " " << visited;
    for (const char* name : {"run64.exe", "run32.exe", "both.exe", "provider64.dll", "class32.dll", "class64.dll"})
        EXPECT_EQ(std::count(g_engine.begin(), g_engine.end(), "scan " + files.File(name)), std::strcmp(name, "class64.dll") ? 1 : 0) << name;
}

// The probe's own process is one this process cannot list, as a 64-bit
// process is for a 32-bit one: its modules come from the lister beside the
// program file, or, without it, are skipped with a line in the debug log.
KX_PROBE(modules_under_wow64) {
    UnderWow64With(args[0] + "\\Windows");  // no system folder of the prefix is mapped
    PointAt(g_listImport, ListAs32Bit, &g_list);
    ScanJob job;
    job.engine.scanFile = Engine;
    const DWORD counted = ScanProcessModules(0, job), visited = ScanProcessModules(1, job);
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, sizeof(self));
    std::printf("%s %lu\n", counted == visited && visited == job.filesVisited ? "count = visits" : "count != visits", visited);
    return static_cast<int>(std::count(g_engine.begin(), g_engine.end(), "scan " + std::string(self)));
}

TEST(Wow64, TheModuleListerListsThe64BitModulesAndWithoutItTheyAreSkippedAndLogged) {
    const kxtest::RunResult listed = kxtest::Run(kxtest::Quote(kxtest::BuildFolder() + "\\kxmodlist.exe"), 20000);
    const ModuleListing listing = ParseModuleList(listed.output.data(), listed.output.size());
    EXPECT_TRUE(listed.exitCode == 0 && listing.complete && listing.rejected == 0);
    EXPECT_EQ(std::count_if(listing.modules.begin(), listing.modules.end(), [](const ListedModule& module) {
                  return module.processId == ::GetCurrentProcessId() && ::lstrcmpiA(module.path.c_str(), (kxtest::BuildFolder() + "\\kxscan_tests.exe").c_str()) == 0;
              }), 1);

    // A copy of this program, alone in its folder with the lister and then without it.
    kxtest::RegisteredInstall install;
    ASSERT_TRUE(install.dir.CopyFromBuild("kxscan_tests.exe") && install.dir.CopyFromBuild("kxmodlist.exe") && install.dir.Write("Logs\\kxlog.01", ""));
    for (const bool present : {true, false}) {
        if (!present) ::DeleteFileA(install.dir.File("kxmodlist.exe").c_str());
        const kxtest::RunResult run = kxtest::RunProbe("modules_under_wow64", {install.dir.Path()}, {}, 60000, install.dir.File("kxscan_tests.exe"));
        EXPECT_EQ(run.output.substr(0, 14) + " " + std::to_string(run.exitCode), present ? "count = visits 1" : "count = visits 0") << run.output;
        const std::string log = install.dir.Read("Logs\\kxlog.01");
        EXPECT_EQ(log.find("ModuleLister (" + install.dir.File("kxmodlist.exe") + ") not started (2)") != std::string::npos, !present) << log;
    }
}

}  // namespace
