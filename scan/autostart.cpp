#include "scan/autostart.h"

#include <cstdio>
#include <cstring>

#include "app/registry.h"
#include "framework/handles.h"
#include "scan/command_path.h"
#include "scan/scan_job.h"

namespace {

constexpr DWORD kTextSize = 260;
constexpr DWORD kTreeValueSize = 1024;

struct ValueListKey {
    HKEY root;
    const char* key;
};

const ValueListKey kValueListKeys[] = {
    {HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"},
    {HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ShellServiceObjectDelayLoad"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\SharedTaskScheduler"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellExecuteHooks"},
    {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects"},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Internet Explorer\\Toolbar"},
};

struct TreeLocation {
    const char* key;
    const char* value;
};

constexpr TreeLocation kTreeLocations[] = {
    {"System\\CurrentControlSet\\Services", "ImagePath"},
    {"System\\CurrentControlSet\\Services", "ServiceDll"},
    {"Software\\Microsoft\\Internet Explorer\\Extensions", "Exec"},
    {"Software\\Microsoft\\Active Setup\\Installed Components", "Stubpath"},
    {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify", "dllname"},
    {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options", "Debugger"},
    {"SYSTEM\\CurrentControlSet\\Services\\WinSock2\\Parameters\\Protocol_Catalog9\\Catalog_Entries",
     "PackedCatalogItem"},
    {"SYSTEM\\CurrentControlSet\\Services\\WinSock2\\Parameters\\NameSpace_Catalog5\\Catalog_Entries",
     "LibraryPath"},
};

constexpr TreeLocation kSingleValues[] = {
    {"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", "userinit"},
    {"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", "Shell"},
    {"System\\CurrentControlSet\\Control\\Session Manager", "BootExecute"},
};

using LongPathFunction = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);

DWORD WINAPI FullPathInstead(LPCSTR path, LPSTR buffer, DWORD size) {
    return ::GetFullPathNameA(path, size, buffer, nullptr);
}

LongPathFunction LongPathName() {
    static const LongPathFunction function = [] {
        HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
        auto found = kernel ? reinterpret_cast<LongPathFunction>(
                                  reinterpret_cast<void*>(::GetProcAddress(kernel, "GetLongPathNameA")))
                            : nullptr;
        return found ? found : FullPathInstead;
    }();
    return function;
}

fw::UniqueKey OpenForReading(HKEY root, const char* key) {
    fw::UniqueKey handle;
    if (::RegOpenKeyExA(root, key, 0, RegViewFlag(KEY_READ), handle.put()) != ERROR_SUCCESS) handle.release();
    return handle;
}

// Registry data need not end in a NUL: without room for one it does not fit.
bool TerminateText(char* data, DWORD length, DWORD size) {
    if (length >= size) {
        if (data[size - 1] != '\0') return false;
        return true;
    }
    data[length] = '\0';
    return true;
}

bool ReadTextValue(HKEY key, const char* name, char* data, DWORD size) {
    DWORD length = size;
    if (::RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &length) != ERROR_SUCCESS)
        return false;
    return TerminateText(data, length, size);
}

// Index 0 of the CLSID's InProcServer32 key; false when the key is missing.
bool ReadClassLibrary(const char* clsid, char* text) {
    char key[kTextSize + 32];
    if (std::snprintf(key, sizeof(key), "CLSID\\%s\\InProcServer32", clsid) >= static_cast<int>(sizeof(key)))
        return false;
    fw::UniqueKey server = OpenForReading(HKEY_CLASSES_ROOT, key);
    if (!server) return false;
    char name[kTextSize];
    DWORD nameLength = sizeof(name);
    DWORD length = kTextSize;
    text[0] = '\0';
    if (::RegEnumValueA(server.get(), 0, name, &nameLength, nullptr, nullptr, reinterpret_cast<BYTE*>(text),
                        &length) != ERROR_SUCCESS ||
        !TerminateText(text, length, kTextSize))
        text[0] = '\0';
    return true;
}

// An entry whose name or data is too long is passed over; any other error
// ends the key's enumeration. A key deleted meanwhile (a service removed)
// answers ERROR_KEY_DELETED at every index, so going on would run through
// all 2^32 of them.
bool KeepEnumerating(LONG status) { return status == ERROR_SUCCESS || status == ERROR_MORE_DATA; }

struct Pass {
    int mode;
    ScanJob& job;
    DWORD count = 0;
    char treeValue[kTreeValueSize];

    bool Cancelled() const { return job.cancel != 0; }
    void Add(char* text) {
        if (ExtractCommandPath(text)) count += ScanAutostartFile(text, mode, job);
    }
};

void ScanValueList(Pass* pass, const ValueListKey& location) {
    fw::UniqueKey key = OpenForReading(location.root, location.key);
    if (!key) return;
    DWORD values = 0;
    if (::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                           nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0; index < values && !pass->Cancelled(); ++index) {
        char name[kTextSize];
        char data[kTextSize];
        DWORD nameLength = sizeof(name);
        DWORD length = sizeof(data);
        const LONG status = ::RegEnumValueA(key.get(), index, name, &nameLength, nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(data), &length);
        if (!KeepEnumerating(status)) break;
        if (status != ERROR_SUCCESS || !TerminateText(data, length, sizeof(data))) continue;
        char text[kTextSize];
        if (data[0] == '{') {
            if (!ReadClassLibrary(data, text)) continue;
        } else if (name[0] == '{') {
            if (!ReadClassLibrary(name, text)) continue;
        } else {
            std::memcpy(text, data, sizeof(text));
        }
        pass->Add(text);
    }
}

// Every subkey's own tree first, so the deepest keys come first.
void WalkTree(Pass* pass, HKEY key, const char* valueName) {
    for (DWORD index = 0; !pass->Cancelled(); ++index) {
        char name[kTextSize];
        DWORD nameLength = sizeof(name);
        const LONG status = ::RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (!KeepEnumerating(status)) break;
        if (status != ERROR_SUCCESS) continue;
        fw::UniqueKey subkey = OpenForReading(key, name);
        if (!subkey) continue;
        WalkTree(pass, subkey.get(), valueName);
        if (pass->Cancelled()) break;
        if (ReadTextValue(subkey.get(), valueName, pass->treeValue, sizeof(pass->treeValue)))
            pass->Add(pass->treeValue);
    }
}

bool StartsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

size_t SearchOnPath(const char* name, char* out, size_t size) {
    return ::SearchPathA(nullptr, name, nullptr, static_cast<DWORD>(size), out, nullptr);
}

size_t LongPathOf(const char* path, char* out, size_t size) {
    return LongPathName()(path, out, static_cast<DWORD>(size));
}

size_t ExpandVariables(const char* text, char* out, size_t size) {
    return ::ExpandEnvironmentStringsA(text, out, static_cast<DWORD>(size));
}

constexpr PathLookups kSystemLookups{SearchOnPath, LongPathOf, ExpandVariables};

}  // namespace

DWORD ScanAutostart(int mode, ScanJob& job) {
    // Each pass starts afresh, so that the scan hands over every path the
    // count counted even when its first path was the count's last.
    job.lastAutostartPath[0] = '\0';
    Pass pass{mode, job, 0, {}};
    for (const ValueListKey& location : kValueListKeys) {
        if (pass.Cancelled()) return pass.count;
        ScanValueList(&pass, location);
    }
    for (const TreeLocation& location : kTreeLocations) {
        if (pass.Cancelled()) return pass.count;
        fw::UniqueKey key = OpenForReading(HKEY_LOCAL_MACHINE, location.key);
        if (key) WalkTree(&pass, key.get(), location.value);
    }
    for (const TreeLocation& location : kSingleValues) {
        if (pass.Cancelled()) return pass.count;
        fw::UniqueKey key = OpenForReading(HKEY_LOCAL_MACHINE, location.key);
        char text[kTextSize];
        if (key && ReadTextValue(key.get(), location.value, text, sizeof(text))) pass.Add(text);
    }
    return pass.count;
}

int ScanAutostartFile(const char* path, int mode, ScanJob& job) {
    if (::lstrcmpiA(path, job.lastAutostartPath) == 0) return 0;
    std::snprintf(job.lastAutostartPath, sizeof(job.lastAutostartPath), "%s", path);
    if (mode == 0) return 1;
    if (StartsWith(path, "\\??\\") || StartsWith(path, "\\\\?\\")) path += 4;
    ScanListedFile(path, job);
    return 1;
}

int ExtractCommandPath(char* text) { return ExtractCommandPathWith(text, kSystemLookups); }

void ExpandPathVariables(char* path) { ExpandPathVariablesWith(path, kSystemLookups); }
