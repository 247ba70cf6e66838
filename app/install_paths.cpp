#include "app/install_paths.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/registry.h"

namespace {

constexpr const char* kInstallPathValue = "InstallPath";
constexpr size_t kMaxExcludedPathChars = sizeof(ExcludedPath::path) - 1;

// Process-wide: the installation path never changes once it is filled, the
// table is filled once by LoadExcludedPaths.
char g_installPath[260];
char g_iniPath[260];
ExcludedPathTable g_excludedPaths;

// At most size - 1 characters of `text`, terminated.
void CopyText(char* destination, size_t size, const char* text) {
    size_t length = strnlen(text, size - 1);
    std::memcpy(destination, text, length);
    destination[length] = '\0';
}

// The program's own folder, without a closing backslash; empty when the
// program's path cannot be had whole.
void GetProgramFolder(char* folder, DWORD size) {
    DWORD length = ::GetModuleFileNameA(nullptr, folder, size);
    char* slash = (length > 0 && length < size) ? std::strrchr(folder, '\\') : nullptr;
    if (slash)
        *slash = '\0';
    else
        folder[0] = '\0';
}

bool ReadInstallPath(const char* key) {
    return ReadRegString(HKEY_LOCAL_MACHINE, key, kInstallPathValue, g_installPath, sizeof(g_installPath)) > 0;
}

// Characters of the parent folder of text[0, length), or 0 when there is none.
size_t ParentLength(const char* text, size_t length) {
    if (length == 0) return 0;
    size_t i = length - 1;
    while (i > 0 && text[i] == '\\') --i;
    if (i == 0 || text[i] == ':') return 0;
    while (i > 0 && text[i] != '\\') --i;
    if (text[i] != '\\') return 0;
    while (i > 0 && text[i] == '\\') --i;
    return i + 1;
}

void WriteMessage(char* message, const char* format, ...) {
    if (!message) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, 1024, format, args);
    va_end(args);
}

}  // namespace

void GetInstallPath(char* buffer, size_t size) {
    if (!buffer || size == 0) return;
    if (g_installPath[0] == '\0' && !ReadInstallPath(kProductKey)) {
        if (!ReadInstallPath(kUninstallKey)) GetProgramFolder(g_installPath, sizeof(g_installPath));
        // Other components look for the main value; an empty one would help nobody.
        if (g_installPath[0] != '\0') WriteRegString(HKEY_LOCAL_MACHINE, kProductKey, kInstallPathValue, g_installPath);
    }
    CopyText(buffer, size, g_installPath);
}

const char* GetIniPath() {
    // A network installation path has no drive letter and is built anew each time.
    if (g_iniPath[1] == ':') return g_iniPath;
    char folder[sizeof(g_installPath)];
    GetInstallPath(folder, sizeof(folder));
    std::snprintf(g_iniPath, sizeof(g_iniPath), "%s\\qmrkx.ini", folder);
    return g_iniPath;
}

int ReadIniInt(const char* section, const char* key, int defaultValue) {
    return static_cast<int>(::GetPrivateProfileIntA(section, key, defaultValue, GetIniPath()));
}

int ReadIniText(const char* section, const char* key, char* buffer, DWORD size) {
    if (!buffer || size == 0) return 0;
    buffer[0] = '\0';
    // A null section or key would list the names instead of reading a value.
    if (!section || !key) return 0;
    if (::GetPrivateProfileStringA(section, key, "", buffer, size, GetIniPath()) == 0) {
        buffer[0] = '\0';
        return 0;
    }
    return 1;
}

void ParseExcludedPaths(const char* text, ExcludedPathTable* table) {
    if (!table) return;
    table->count = 0;
    table->loaded = true;
    if (!text) return;

    const char* rest = text;
    while (*rest != '\0' && table->count < kMaxExcludedPaths) {
        const char* bar = std::strchr(rest, '|');
        size_t pieceLength = bar ? static_cast<size_t>(bar - rest) : std::strlen(rest);
        const char* piece = rest;
        rest = bar ? bar + 1 : rest + pieceLength;
        if (pieceLength == 0) continue;

        // Keep room for the closing backslash and the terminator.
        size_t kept = pieceLength < kMaxExcludedPathChars ? pieceLength : kMaxExcludedPathChars;
        if (piece[kept - 1] != '\\' && kept == kMaxExcludedPathChars) --kept;
        ExcludedPath& entry = table->entries[table->count];
        std::memcpy(entry.path, piece, kept);
        entry.matchLength = static_cast<DWORD>(kept);
        if (piece[kept - 1] != '\\') entry.path[kept++] = '\\';
        entry.path[kept] = '\0';
        ++table->count;
    }
}

void LoadExcludedPaths() {
    // Loaded once, by whichever scan thread tests a path first.
    [[maybe_unused]] static const bool loaded = [] {
        char text[4199];
        ReadIniText("main", "excludepath", text, sizeof(text));
        ParseExcludedPaths(text, &g_excludedPaths);
        return true;
    }();
}

const ExcludedPathTable& ExcludedPaths() { return g_excludedPaths; }

int GetAgentType(char* message) {
    char program[260] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, program, sizeof(program));
    if (length == 0 || length >= sizeof(program)) {
        WriteMessage(message, "[GetAgentType] fail to get module name (%d)", static_cast<int>(::GetLastError()));
        return 0;
    }

    char folder[260];
    if (!GetParentFolder(program, folder, sizeof(folder))) {
        WriteMessage(message, "[GetAgentType] invalid module path (%s)", program);
        return 0;
    }

    char iniPath[520];
    std::snprintf(iniPath, sizeof(iniPath), "%s\\qmrka.ini", folder);
    char text[260] = {};
    if (::GetPrivateProfileStringA("SYSTEM", "AgentType", "0", text, sizeof(text), iniPath) == 0) {
        WriteMessage(message, "[GetAgentType] fail to get agent type (%s) (%d)", folder,
                     static_cast<int>(::GetLastError()));
        return 0;
    }

    long type = std::strtol(text, nullptr, 10);
    if (type == 1 || type == 2) return static_cast<int>(type);
    WriteMessage(message, "[GetAgentType] invalid agent type (%d)", static_cast<int>(type));
    return 0;
}

char* GetParentFolder(const char* source, char* destination, size_t size) {
    if (!source || !destination || size < 3) return nullptr;
    // The parent is found in the whole source, so a source too long for the
    // destination cannot yield the parent of a cut-off path.
    size_t length = source == destination ? strnlen(destination, size - 1) : std::strlen(source);
    size_t parent = ParentLength(source, length);
    if (parent == 0 || parent > size - 1) {
        if (source != destination) destination[0] = '\0';
        return nullptr;
    }
    if (source != destination) std::memmove(destination, source, parent);
    destination[parent] = '\0';
    return destination;
}
