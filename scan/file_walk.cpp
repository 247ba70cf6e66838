#include "scan/file_walk.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "app/exact_path.h"
#include "app/startup.h"
#include "framework/handles.h"
#include "scan/native_paths.h"
#include "scan/scan_job.h"

namespace {

constexpr size_t kPathSize = 520;
constexpr DWORD kQuickScanSizeLimit = 2 * 1024 * 1024;

void Trace(const char* format, const char* text, const char* more = "") {
    char line[1200];
    std::snprintf(line, sizeof(line), format, text, more);
    ::OutputDebugStringA(line);
}

// Gives the folder its closing backslash, in place. False when the folder
// and its search pattern cannot fit in a path buffer.
bool PrepareFolder(char* folder) {
    size_t length = strnlen(folder, kPathSize);
    if (length == 0 || length >= kPathSize) return false;
    if (folder[length - 1] != '\\') {
        if (length + 1 >= kPathSize) return false;
        folder[length++] = '\\';
        folder[length] = '\0';
    }
    return length + std::strlen("*.*") < kPathSize;
}

bool IsDotEntry(const wchar_t* name) {
    return name[0] == L'\0' || std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

// A folder met in a walk that is a junction, a folder link or a mount
// point is not entered: it may lead back up the tree (a loop), elsewhere on
// the disk (around an exclusion) or to another volume. A link given as a
// target is walked as its folder.
bool IsFolderLink(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The helpers below keep their buffers out of the frames of the recursive
// walkers, whose depth only the path length limits.

// The entries of the folder `path` (ending in "\") with `pattern` "*", or
// the one entry `path` names with `pattern` empty; by exact names, so that
// "nul.txt" or "evil.exe." are found as themselves, and by native ones.
__attribute__((noinline)) fw::UniqueFind FindExact(const char* path, const wchar_t* pattern,
                                                   WIN32_FIND_DATAW* entry) {
    wchar_t exact[kExactPathSize];
    char native[kNativePathSize];
    fw::UniqueFind search;
    if (NativePath(path, native) && ExactPath(native, exact, kExactPathSize)) {
        size_t length = std::wcslen(exact);
        if (*pattern && exact[length - 1] != L'\\') exact[length++] = L'\\';
        if (length + std::wcslen(pattern) < kExactPathSize) {
            std::wcscpy(exact + length, pattern);
            search.reset(::FindFirstFileW(exact, entry));
        }
    }
    if (!search) {
        char code[16];
        std::snprintf(code, sizeof(code), "%lu", ::GetLastError());
        Trace("FindFirstFile (%s) : Invalid Handle Value At %s\n", code, path);
    }
    return search;
}

// The name under which an entry is reached from an ANSI path: the long name,
// or the short name when the long one has no ANSI form or holds a backslash
// byte. False when the entry cannot be reached.
bool ChooseEntryName(const WIN32_FIND_DATAW& entry, char* name, int size) {
    char shortName[16];
    bool hasShort = entry.cAlternateFileName[0] != L'\0' &&
                    ToAnsi(entry.cAlternateFileName, shortName, static_cast<int>(sizeof(shortName)));
    if (!ToAnsi(entry.cFileName, name, size)) {
        if (!hasShort) return false;
        std::strcpy(name, shortName);
    } else if (std::strchr(name, '\\') && hasShort) {
        std::strcpy(name, shortName);
    }
    return true;
}

// folder (ending in "\") + the entry's name, and the path that reaches it;
// false, and traced, when the entry has no usable name or a path would not fit.
__attribute__((noinline)) bool MakeChildPath(const char* folder, const WIN32_FIND_DATAW& entry, char* child,
                                             char (&native)[kNativePathSize]) {
    char name[kPathSize];
    if (!ChooseEntryName(entry, name, static_cast<int>(sizeof(name)))) return false;
    size_t folderLength = std::strlen(folder);
    size_t nameLength = std::strlen(name);
    if (folderLength + nameLength >= kPathSize) {
        Trace("Path too long, skipped: %s%s\n", folder, name);
        return false;
    }
    std::memcpy(child, folder, folderLength);
    std::memcpy(child + folderLength, name, nameLength + 1);
    if (!NativePath(child, native)) {
        Trace("Path too long, skipped: %s%s\n", child, "");
        return false;
    }
    return true;
}

void ScanNamedFile(const char* path, ScanJob& job) {
    if (IsExcludedPath(path)) return;
    WIN32_FIND_DATAW entry;
    fw::UniqueFind search = FindExact(path, L"", &entry);
    char native[kNativePathSize];
    if (!search || !NativePath(path, native) || !job.Proceed()) return;
    // A file named as a target is always scanned, quick scan or not.
    job.SetCurrentFile(path);
    ScanOneFile(path, entry.nFileSizeLow, &entry.ftLastWriteTime, job, native);
    ++job.filesVisited;
    ::Sleep(0);
}

}  // namespace

int IsExcludedPathIn(const ExcludedPathTable& table, const char* path) {
    for (DWORD i = 0; i < table.count && i < kMaxExcludedPaths; ++i) {
        const ExcludedPath& entry = table.entries[i];
        if (_strnicmp(path, entry.path, entry.matchLength) == 0) return 1;
    }
    return 0;
}

int IsExcludedPath(const char* path) {
    LoadExcludedPaths();
    return IsExcludedPathIn(ExcludedPaths(), path);
}

int QuickScanWants(const char* path, const wchar_t* longName, DWORD sizeHigh, DWORD sizeLow,
                   const char* extensions) {
    if (sizeHigh != 0 || sizeLow >= kQuickScanSizeLimit) return 0;

    char name[kPathSize];
    if (::WideCharToMultiByte(CP_ACP, 0, longName, -1, name, sizeof(name), nullptr, nullptr) > 0) {
        const char* dot = std::strrchr(name, '.');
        size_t length = dot ? std::strlen(dot + 1) : 0;
        if (length == 2 || length == 3) {
            char extension[4];
            std::memcpy(extension, dot + 1, length + 1);
            ::CharLowerBuffA(extension, static_cast<DWORD>(length));
            // A substring test: "ex" is found through "exe".
            if (std::strstr(extensions, extension)) return 1;
        }
    }

    fw::UniqueFile file(OpenExactFile(path, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL));
    if (!file) return 0;
    unsigned char start[2];
    DWORD read = 0;
    if (!::ReadFile(file.get(), start, sizeof(start), &read, nullptr) || read != sizeof(start)) return 0;
    return (start[0] == 'M' && start[1] == 'Z') || (start[0] == 0xD0 && start[1] == 0xCF);
}

DWORD CountFolderFiles(char* path, int recurse, ScanJob& job) {
    if (!recurse) return 1;
    if (!PrepareFolder(path) || IsExcludedPath(path)) return 0;
    WIN32_FIND_DATAW entry;
    fw::UniqueFind search = FindExact(path, L"*", &entry);
    if (!search) return 0;

    DWORD count = 0;
    char child[kPathSize];
    char native[kNativePathSize];
    do {
        if (job.cancel) break;
        if (IsDotEntry(entry.cFileName) || IsFolderLink(entry.dwFileAttributes) ||
            !MakeChildPath(path, entry, child, native))
            continue;
        count += (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? CountFolderFiles(child, 1, job) : 1;
    } while (::FindNextFileW(search.get(), &entry));
    return count;
}

void ScanFolder(char* path, int recurse, ScanJob& job) {
    if (strnlen(path, 2) < 2) return;
    if (!recurse) {
        ScanNamedFile(path, job);
        return;
    }
    if (!PrepareFolder(path)) {
        Trace("Path too long, skipped: %s%s\n", path, "");
        return;
    }
    if (IsExcludedPath(path)) return;
    WIN32_FIND_DATAW entry;
    fw::UniqueFind search = FindExact(path, L"*", &entry);
    if (!search) return;

    const StartupOptions& options = ProcessOptions();
    char child[kPathSize];
    char native[kNativePathSize];
    do {
        if (job.cancel) return;
        if (IsDotEntry(entry.cFileName) || IsFolderLink(entry.dwFileAttributes) ||
            !MakeChildPath(path, entry, child, native))
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ScanFolder(child, 1, job);
            continue;
        }
        if (!job.Proceed()) return;
        job.SetCurrentFile(child);
        if (!options.quickScan || QuickScanWants(native, entry.cFileName, entry.nFileSizeHigh, entry.nFileSizeLow,
                                                 options.quickScanExtensions))
            ScanOneFile(child, entry.nFileSizeLow, &entry.ftLastWriteTime, job, native);
        ++job.filesVisited;
        ::Sleep(0);
    } while (::FindNextFileW(search.get(), &entry));
}

void ScanShortNames(char* folder, ScanJob& job) {
    char native[kNativePathSize];
    if (!PrepareFolder(folder) || !NativePath(folder, native)) return;
    char pattern[kPathSize];
    if (std::snprintf(pattern, sizeof(pattern), "%s*.*", native) >= static_cast<int>(sizeof(pattern))) return;
    WIN32_FIND_DATAA entry;
    fw::UniqueFind search(::FindFirstFileA(pattern, &entry));
    if (!search) return;

    char child[kPathSize];
    do {
        if (job.cancel) break;
        if (std::strcmp(entry.cFileName, ".") == 0 || std::strcmp(entry.cFileName, "..") == 0 ||
            IsFolderLink(entry.dwFileAttributes))
            continue;
        if (!std::strchr(entry.cFileName, '?') || entry.cAlternateFileName[0] == '\0') continue;
        if (std::snprintf(child, sizeof(child), "%s%s", folder, entry.cAlternateFileName) >=
            static_cast<int>(sizeof(child)))
            continue;
        ScanFolder(child, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0, job);
    } while (::FindNextFileA(search.get(), &entry));
}
