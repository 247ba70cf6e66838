#include "app/local_text.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "app/ansi_text.h"
#include "app/install_paths.h"
#include "app/system_facilities.h"
#include "framework/handles.h"

namespace {

// Built once, on the first lookup (start-up's, before any other thread runs);
// only read afterwards. Empty when no library path fits the buffer.
char g_libraryPath[260];
bool g_libraryPathBuilt = false;

// installDir\locale\fileName; false, with an empty buffer, when it does not
// fit: a cut path would name some other file.
bool ComposeLibraryPath(const char* installDir, const char* fileName) {
    int length = std::snprintf(g_libraryPath, sizeof(g_libraryPath), "%s\\locale\\%s", installDir, fileName);
    if (length < 0 || length >= static_cast<int>(sizeof(g_libraryPath))) {
        g_libraryPath[0] = '\0';
        return false;
    }
    return true;
}

bool CanOpenForReading(const char* path) {
    fw::UniqueFile file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

void BuildLibraryPath() {
    char code[16];
    GetUiLanguage(code, sizeof(code));
    char installDir[260];
    GetInstallPath(installDir, sizeof(installDir));
    char fileName[32];
    std::snprintf(fileName, sizeof(fileName), "%s.lib", code);

    // default.lib is taken whether or not it exists: lookups then find nothing.
    if (!ComposeLibraryPath(installDir, fileName) || !CanOpenForReading(g_libraryPath))
        ComposeLibraryPath(installDir, "default.lib");
    g_libraryPathBuilt = true;
}

}  // namespace

int GetLocalText(const char* section, const char* key, char* buffer, DWORD size) {
    if (!g_libraryPathBuilt) BuildLibraryPath();
    if (size == 0 || !buffer) return 0;
    buffer[0] = '\0';
    // A null section or key would make the INI service list names instead.
    if (!section || !key || !g_libraryPath[0]) return 0;

    if (::GetPrivateProfileStringA(section, key, "", buffer, size, g_libraryPath) == 0 || !buffer[0]) {
        buffer[0] = '\0';
        return 0;
    }
    ConvertLineBreaksIn(buffer, AnsiLeadBytes());
    return 1;
}

const char* CachedLocalText(const char* section, const char* key) {
    struct Cached {
        char section[64];
        char key[64];
        char text[260];
    };
    static Cached cache[32];
    static size_t used = 0;
    static std::mutex lock;
    if (!section || !key) return "";
    std::lock_guard<std::mutex> guard(lock);
    for (size_t i = 0; i < used; ++i)
        if (std::strcmp(cache[i].section, section) == 0 && std::strcmp(cache[i].key, key) == 0) return cache[i].text;
    const bool fits = std::strlen(section) < sizeof(cache[0].section) && std::strlen(key) < sizeof(cache[0].key);
    if (used == sizeof(cache) / sizeof(cache[0]) || !fits) {
        thread_local char uncached[260];
        GetLocalText(section, key, uncached, sizeof(uncached));
        return uncached;
    }
    Cached& entry = cache[used++];
    std::snprintf(entry.section, sizeof(entry.section), "%s", section);
    std::snprintf(entry.key, sizeof(entry.key), "%s", key);
    GetLocalText(section, key, entry.text, sizeof(entry.text));
    return entry.text;
}

int GetUiLanguage(char* buffer, size_t size) {
    if (!buffer || size == 0) return 0;
    const char* code = "eng";
    switch (PRIMARYLANGID(::GetSystemDefaultUILanguage())) {
    case LANG_KOREAN:
        code = "kor";
        break;
    case LANG_JAPANESE:
        code = "jpn";
        break;
    default:
        break;
    }
    std::snprintf(buffer, size, "%s", code);
    return 1;
}
