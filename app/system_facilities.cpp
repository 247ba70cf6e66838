#include "app/system_facilities.h"

#include <cstdio>
#include <cstring>

#include "app/exact_path.h"
#include "framework/handles.h"

namespace {

constexpr size_t kDateTimeSize = 20;  // "yyyy-MM-dd HH:mm:ss" and its terminator
constexpr size_t kPathSize = 520;

bool IsFolder(const char* path) {
    DWORD attributes = ::GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Another process of the product may create the same log folder at the same
// moment, so a folder that exists after a failed create still counts.
int CreateFolder(const char* path) { return ::CreateDirectoryA(path, nullptr) || IsFolder(path) ? 1 : 0; }

}  // namespace

void FormatDateTime(char* output, const SYSTEMTIME* localTime) {
    if (!output) return;
    output[0] = '\0';
    SYSTEMTIME now;
    if (!localTime) {
        ::GetLocalTime(&now);
        localTime = &now;
    }
    // The invariant locale keeps the Gregorian year even when the user has
    // chosen another calendar; the pictures fix everything else.
    char date[16];
    char time[16];
    if (!::GetDateFormatA(LOCALE_INVARIANT, 0, localTime, "yyyy-MM-dd", date, sizeof(date)) ||
        !::GetTimeFormatA(LOCALE_INVARIANT, 0, localTime, "HH:mm:ss", time, sizeof(time)))
        return;
    std::snprintf(output, kDateTimeSize, "%s %s", date, time);
}

int EnsureFolder(const char* path) {
    if (!path) return 0;
    DWORD attributes = ::GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return CreateFolder(path);
        return 0;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return 1;

    ::SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(path);
    return CreateFolder(path);
}

int CreateFolderChain(const char* path) {
    if (!path) return 0;
    size_t length = std::strlen(path);
    if (length >= kPathSize) return 0;
    char folder[kPathSize];
    std::memcpy(folder, path, length + 1);

    // The part before the first backslash is the drive, which is never created.
    // Double-byte characters are stepped over whole: their second byte may be
    // a backslash in the Japanese code page.
    bool driveSeen = false;
    for (char* p = folder; *p; ++p) {
        if (::IsDBCSLeadByte(static_cast<BYTE>(*p))) {
            if (!p[1]) break;
            ++p;
            continue;
        }
        if (*p != '\\') continue;
        if (!driveSeen) {
            driveSeen = true;
            continue;
        }
        *p = '\0';
        int exists = EnsureFolder(folder);
        *p = '\\';
        if (!exists) return 0;
    }
    if (!driveSeen) return 0;
    return EnsureFolder(folder);
}

DWORD GetFileSizeAndTimes(const char* path, FILETIME* creation, FILETIME* lastWrite, bool* opened) {
    if (opened) *opened = false;
    if (!path) return 0;
    fw::UniqueFile file(OpenExactFile(path, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL));
    if (!file) return 0;
    if (opened) *opened = true;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.get(), &size)) return 0;
    if (creation || lastWrite) ::GetFileTime(file.get(), creation, nullptr, lastWrite);
    return size.LowPart;
}

void ExpandShortPath(char* path) {
    if (!path || !std::strchr(path, '~')) return;
    char longPath[260];
    DWORD length = ::GetLongPathNameA(path, longPath, sizeof(longPath));
    if (length == 0 || length >= sizeof(longPath)) return;
    std::memcpy(path, longPath, length + 1);
}

const LeadBytes& AnsiLeadBytes() {
    static const LeadBytes table = [] {
        LeadBytes bytes{};
        for (int b = 0; b < 256; ++b) bytes.lead[b] = ::IsDBCSLeadByte(static_cast<BYTE>(b)) != 0;
        return bytes;
    }();
    return table;
}
