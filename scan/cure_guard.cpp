#include "scan/cure_guard.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "app/exact_path.h"
#include "app/startup.h"
#include "framework/handles.h"
#include "logs/debug_log.h"

namespace {

// Where the names of an exact path begin: after "\\?\C:", after
// "\\?\UNC\server\share", and for other forms after the first name.
size_t RootLength(const wchar_t* exact) {
    size_t root = 4;  // "\\?\" or "\\.\"
    int parts = std::wcsncmp(exact + root, L"UNC\\", 4) == 0 ? 3 : 1;
    while (parts-- > 0 && exact[root]) {
        root += std::wcscspn(exact + root, L"\\");
        if (parts > 0 && exact[root]) ++root;
    }
    return root;
}

// Calls visit(index, end) for each name of `exact` below its root, from the
// root down, with `exact` cut after that name (at `end`) for the while, until
// visit returns false.
template <typename Visit>
void ForEachName(wchar_t* exact, Visit visit) {
    size_t at = RootLength(exact);
    for (size_t index = 0; exact[at] == L'\\' && exact[at + 1]; ++index) {
        const size_t end = at + 1 + std::wcscspn(exact + at + 1, L"\\");
        const wchar_t kept = exact[end];
        exact[end] = L'\0';
        const bool more = visit(index, end);
        exact[end] = kept;
        if (!more) return;
        at = end;
    }
}

bool IsReparsePoint(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The path with its folders down to the deepest folder link of `listed`
// replaced by where they lead now, in `enginePath`; left as it is when that
// cannot be had. A link in the file's own place is left to the engine.
void ResolveListedLinks(const wchar_t* exact, const PathLinks& listed, char (&enginePath)[520]) {
    wchar_t folder[kExactPathSize];
    std::wcscpy(folder, exact);
    size_t deeper = 0;
    size_t deepest = 0;  // where the two deepest listed names end
    ForEachName(folder, [&](size_t index, size_t end) {
        if (index < kMaxPathNames && listed[index]) {
            deeper = deepest;
            deepest = end;
        }
        return true;
    });
    const size_t cut = exact[deepest] ? deepest : deeper;
    if (cut == 0) return;
    folder[cut] = L'\0';
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    fw::UniqueFile handle(
        ::CreateFileW(folder, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    wchar_t resolved[kExactPathSize];
    if (!handle || !FinalPathOf(handle.get(), folder, resolved, kExactPathSize)) return;
    const size_t length = std::wcslen(resolved);
    const size_t rest = std::wcslen(exact + cut);
    if (length + rest >= kExactPathSize) return;
    std::wmemcpy(resolved + length, exact + cut, rest + 1);
    char ansi[sizeof enginePath];
    if (ToAnsi(resolved, ansi, sizeof ansi)) std::memcpy(enginePath, ansi, sizeof ansi);
}

// The readings of a path, each in the \\?\ form: by its exact names, as this
// program's engine opens it, and, where it differs, by the rules of plain
// Win32 calls (a trailing dot or blank dropped, "nul.txt" a device), as
// another engine may open it. 0 when the path has no exact form.
int ReadingsOf(const char* path, wchar_t (&readings)[2][kExactPathSize]) {
    if (!ExactPath(path, readings[0], kExactPathSize)) return 0;
    wchar_t wide[kExactPathSize];
    wchar_t full[kExactPathSize];
    if (::MultiByteToWideChar(CP_ACP, 0, path, -1, wide, kExactPathSize) <= 0) return 1;
    const DWORD length = ::GetFullPathNameW(wide, kExactPathSize, full, nullptr);
    if (length == 0 || length >= kExactPathSize) return 1;
    const bool share = full[0] == L'\\' && full[1] == L'\\' && full[2] != L'.' && full[2] != L'?';
    const wchar_t* prefix = full[1] == L':' ? L"\\\\?\\" : share ? L"\\\\?\\UNC" : L"";
    const int written = std::swprintf(readings[1], kExactPathSize, L"%ls%ls", prefix, full + (share ? 1 : 0));
    return written > 0 && std::wcscmp(readings[0], readings[1]) != 0 ? 2 : 1;
}

bool Refuse(const char* path, const wchar_t* name, const char* why) {
    wchar_t plain[kExactPathSize];
    std::wcscpy(plain, name);
    PlainPath(plain);
    char shown[kExactPathSize * 2] = {};
    ::WideCharToMultiByte(CP_ACP, 0, plain, -1, shown, sizeof shown, nullptr, nullptr);
    DebugLog("scanner", ProcessOptions().debugMask, kLevelInfo, "CureRefused (%s) (%s) %s", path, shown, why);
    return false;
}

}  // namespace

void ListedLinks::Record(const char* path) {
    wchar_t readings[2][kExactPathSize];
    const int count = ReadingsOf(path, readings);
    ReadingLinks links;
    for (int reading = 0; reading < count; ++reading) {
        wchar_t* form = readings[reading];
        ForEachName(form, [&](size_t index, size_t) {
            const DWORD attributes = ::GetFileAttributesW(form);
            if (IsReparsePoint(attributes) && index < kMaxPathNames) links[reading].set(index);
            return attributes != INVALID_FILE_ATTRIBUTES;
        });
    }
    std::lock_guard<std::mutex> hold(lock_);
    if (links[0].any() || links[1].any()) {
        linked_[path] = links;
    } else {
        linked_.erase(path);
    }
}

bool ListedLinks::MayCure(const char* path, char (&enginePath)[520]) const {
    std::snprintf(enginePath, sizeof enginePath, "%s", path);
    ReadingLinks listed;
    {
        std::lock_guard<std::mutex> hold(lock_);
        const auto found = linked_.find(path);
        if (found != linked_.end()) listed = found->second;
    }
    wchar_t readings[2][kExactPathSize];
    const int count = ReadingsOf(path, readings);
    if (count == 0) return Refuse(path, L"", "has no exact form");
    // Resolved before the look, so that a link put into the path meanwhile is
    // still seen.
    if (listed[0].any()) ResolveListedLinks(readings[0], listed[0], enginePath);
    bool allowed = true;
    for (int reading = 0; reading < count && allowed; ++reading) {
        wchar_t* form = readings[reading];
        ForEachName(form, [&](size_t index, size_t) {
            const DWORD attributes = ::GetFileAttributesW(form);
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                const DWORD error = ::GetLastError();
                // Gone since: there is nothing below it for the engine to reach.
                if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
                allowed = Refuse(path, form, "cannot be looked at");
            } else if (IsReparsePoint(attributes) && !(index < kMaxPathNames && listed[reading][index])) {
                allowed = Refuse(path, form, "is a link that was none when the finding was listed");
            }
            return allowed;
        });
    }
    return allowed;
}
