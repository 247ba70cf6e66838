#include "scan/autostart.h"

#include <cstdio>
#include <cstring>

#include "app/registry.h"
#include "framework/handles.h"
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
        if (::RegEnumValueA(key.get(), index, name, &nameLength, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                            &length) != ERROR_SUCCESS ||
            !TerminateText(data, length, sizeof(data)))
            continue;
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
        LONG status = ::RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
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

// Keeps what follows the first double quote, cut at the last one after it.
void Unquote(char* copy) {
    char* first = std::strchr(copy, '"');
    if (!first) return;
    std::memmove(copy, first + 1, std::strlen(first + 1) + 1);
    if (char* last = std::strrchr(copy, '"')) *last = '\0';
}

bool SearchFile(const char* name, char* text) {
    char found[kTextSize];
    DWORD length = ::SearchPathA(nullptr, name, nullptr, sizeof(found), found, nullptr);
    if (length == 0 || length >= sizeof(found)) return false;
    std::memcpy(text, found, length + 1);
    return true;
}

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

int ExtractCommandPath(char* text) {
    char copy[kTextSize];
    std::snprintf(copy, sizeof(copy), "%s", text);
    if (std::strstr(copy, "\\\\")) return 0;
    if (SearchFile(copy, text)) return 1;

    for (const char* extension : {".exe", ".dll", ".Exe", ".Dll", ".EXE", ".DLL"}) {
        if (char* found = std::strstr(copy, extension)) {
            found[4] = '\0';
            break;
        }
    }

    if (!std::strchr(copy, '\\')) {
        Unquote(copy);
        return copy[0] != '\0' && SearchFile(copy, text) ? 1 : 0;
    }

    if (char* host = std::strstr(copy, "RUNDLL32.EXE")) {
        // The host name and the one separator after it; a host with nothing
        // after it names no library.
        size_t rest = std::strlen(host);
        if (rest <= 13) return 0;
        std::memmove(copy, host + 13, rest - 13 + 1);
    }
    Unquote(copy);
    if (std::strchr(copy, '%')) ExpandPathVariables(copy);
    if (copy[0] == '\0') return 0;

    char longPath[kTextSize];
    DWORD length = LongPathName()(copy, longPath, sizeof(longPath));
    if (length > 0 && length < sizeof(longPath))
        std::memcpy(text, longPath, length + 1);
    else
        std::memcpy(text, copy, std::strlen(copy) + 1);
    return 1;
}

void ExpandPathVariables(char* path) {
    char result[kTextSize] = {};
    size_t used = 0;
    const char* piece = path;
    while (*piece) {
        const char* end = std::strchr(piece, '\\');
        size_t length = end ? static_cast<size_t>(end - piece) : std::strlen(piece);
        if (length > 0) {
            char part[kTextSize];
            if (length >= sizeof(part)) return;
            std::memcpy(part, piece, length);
            part[length] = '\0';
            if (std::strchr(part, '%')) {
                char expanded[kTextSize];
                DWORD size = ::ExpandEnvironmentStringsA(part, expanded, sizeof(expanded));
                if (size > 0 && size <= sizeof(expanded)) std::memcpy(part, expanded, size);
            }
            size_t partLength = std::strlen(part);
            size_t needed = (used ? 1 : 0) + partLength;
            if (used + needed >= sizeof(result)) return;
            if (used) result[used++] = '\\';
            std::memcpy(result + used, part, partLength + 1);
            used += partLength;
        }
        if (!end) break;
        piece = end + 1;
    }
    std::memcpy(path, result, used + 1);
}
