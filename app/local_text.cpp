#include "app/local_text.h"

#include <cstdio>

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
