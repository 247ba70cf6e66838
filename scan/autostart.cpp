#include "scan/autostart.h"

#include <cstdio>
#include <cstring>

#include "app/registry.h"
#include "framework/handles.h"
#include "scan/command_path.h"
#include "scan/native_paths.h"
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
    // On 64-bit Windows the 64-bit providers have a catalog of their own.
    {"SYSTEM\\CurrentControlSet\\Services\\WinSock2\\Parameters\\Protocol_Catalog9\\Catalog_Entries64",
     "PackedCatalogItem"},
    {"SYSTEM\\CurrentControlSet\\Services\\WinSock2\\Parameters\\NameSpace_Catalog5\\Catalog_Entries",
     "LibraryPath"},
    {"SYSTEM\\CurrentControlSet\\Services\\WinSock2\\Parameters\\NameSpace_Catalog5\\Catalog_Entries64",
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

// The registry view a pass reads: the 64-bit one (on 32-bit Windows the
// only one), or, on 64-bit Windows, the 32-bit one of the keys it redirects.
enum class View { kNative, kWow32 };

REGSAM ViewAccess(View view) { return view == View::kWow32 ? KEY_READ | KEY_WOW64_32KEY : RegViewFlag(KEY_READ); }

// HKLM\SOFTWARE has a 32-bit twin; the rest of HKLM and the user's Run keys
// are one for both widths.
bool IsRedirected(HKEY root, const char* key) {
    return root == HKEY_LOCAL_MACHINE && ::_strnicmp(key, "SOFTWARE\\", 9) == 0;
}

fw::UniqueKey OpenForReading(HKEY root, const char* key, View view) {
    fw::UniqueKey handle;
    if (::RegOpenKeyExA(root, key, 0, ViewAccess(view), handle.put()) != ERROR_SUCCESS) handle.release();
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

// Index 0 of the CLSID's InProcServer32 key in `view`, where the reference
// was found; false when the key is missing.
bool ReadClassLibrary(const char* clsid, char* text, View view) {
    char key[kTextSize + 32];
    if (std::snprintf(key, sizeof(key), "CLSID\\%s\\InProcServer32", clsid) >= static_cast<int>(sizeof(key)))
        return false;
    fw::UniqueKey server = OpenForReading(HKEY_CLASSES_ROOT, key, view);
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
    View view = View::kNative;
    DWORD count = 0;
    char treeValue[kTreeValueSize];

    bool Cancelled() const { return job.cancel != 0; }
    void Add(char* text);
};

void ScanValueList(Pass* pass, const ValueListKey& location) {
    fw::UniqueKey key = OpenForReading(location.root, location.key, pass->view);
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
            if (!ReadClassLibrary(data, text, pass->view)) continue;
        } else if (name[0] == '{') {
            if (!ReadClassLibrary(name, text, pass->view)) continue;
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
        fw::UniqueKey subkey = OpenForReading(key, name, pass->view);
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

// The 64-bit view's texts are a 64-bit component's, their variables too.
constexpr PathLookups kSystemLookups{SearchNativePath, LongPathOf, ExpandNativeVariables};
constexpr PathLookups kWow32Lookups{SearchOnPath, LongPathOf, ExpandVariables};

void Pass::Add(char* text) {
    if (!ExtractCommandPathWith(text, view == View::kWow32 ? kWow32Lookups : kSystemLookups)) return;
    char path[kNativePathSize];
    // What the 32-bit view names is what a 32-bit program reaches.
    if (view == View::kWow32 && !OwnPathAsNamed(text, path)) return;
    count += ScanAutostartFile(view == View::kWow32 ? path : text, mode, job);
}

void ScanLocations(Pass* pass) {
    const bool wow32 = pass->view == View::kWow32;
    for (const ValueListKey& location : kValueListKeys) {
        if (pass->Cancelled()) return;
        if (!wow32 || IsRedirected(location.root, location.key)) ScanValueList(pass, location);
    }
    for (const TreeLocation& location : kTreeLocations) {
        if (pass->Cancelled()) return;
        if (wow32 && !IsRedirected(HKEY_LOCAL_MACHINE, location.key)) continue;
        fw::UniqueKey key = OpenForReading(HKEY_LOCAL_MACHINE, location.key, pass->view);
        if (key) WalkTree(pass, key.get(), location.value);
    }
    for (const TreeLocation& location : kSingleValues) {
        if (pass->Cancelled()) return;
        if (wow32 && !IsRedirected(HKEY_LOCAL_MACHINE, location.key)) continue;
        fw::UniqueKey key = OpenForReading(HKEY_LOCAL_MACHINE, location.key, pass->view);
        char text[kTextSize];
        if (key && ReadTextValue(key.get(), location.value, text, sizeof(text))) pass->Add(text);
    }
}

}  // namespace

DWORD ScanAutostart(int mode, ScanJob& job) {
    // Each pass starts afresh, so that the scan hands over every path the
    // count counted.
    job.autostartPathsSeen.clear();
    Pass pass{mode, job, View::kNative, 0, {}};
    ScanLocations(&pass);
    if (Is64BitWindows()) {
        pass.view = View::kWow32;
        ScanLocations(&pass);
    }
    return pass.count;
}

int ScanAutostartFile(const char* path, int mode, ScanJob& job) {
    if (StartsWith(path, "\\??\\") || StartsWith(path, "\\\\?\\")) path += 4;
    char key[kNativePathSize];
    const size_t length = strnlen(path, sizeof(key) - 1);
    std::memcpy(key, path, length);
    key[length] = '\0';
    ::CharLowerBuffA(key, static_cast<DWORD>(length));
    if (!job.autostartPathsSeen.emplace(key).second) return 0;
    return static_cast<int>(mode == 0 ? CountListedFile(path) : ScanListedFile(path, job));
}

int ExtractCommandPath(char* text) { return ExtractCommandPathWith(text, kSystemLookups); }

void ExpandPathVariables(char* path) { ExpandPathVariablesWith(path, kSystemLookups); }
