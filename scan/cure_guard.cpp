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
    BOOL lossy = FALSE;
    char ansi[sizeof enginePath];
    const int bytes =
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, resolved, -1, ansi, sizeof ansi, nullptr, &lossy);
    if (bytes > 0 && !lossy) std::memcpy(enginePath, ansi, static_cast<size_t>(bytes));
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
    wchar_t exact[kExactPathSize];
    PathLinks links;
    if (ExactPath(path, exact, kExactPathSize)) {
        ForEachName(exact, [&](size_t index, size_t) {
            const DWORD attributes = ::GetFileAttributesW(exact);
            if (IsReparsePoint(attributes) && index < kMaxPathNames) links.set(index);
            return attributes != INVALID_FILE_ATTRIBUTES;
        });
    }
    std::lock_guard<std::mutex> hold(lock_);
    if (links.any()) {
        linked_[path] = links;
    } else {
        linked_.erase(path);
    }
}

bool ListedLinks::MayCure(const char* path, char (&enginePath)[520]) const {
    std::snprintf(enginePath, sizeof enginePath, "%s", path);
    PathLinks listed;
    {
        std::lock_guard<std::mutex> hold(lock_);
        const auto found = linked_.find(path);
        if (found != linked_.end()) listed = found->second;
    }
    wchar_t exact[kExactPathSize];
    if (!ExactPath(path, exact, kExactPathSize)) return Refuse(path, L"", "has no exact form");
    // Resolved before the look, so that a link put into the path meanwhile is
    // still seen.
    if (listed.any()) ResolveListedLinks(exact, listed, enginePath);
    bool allowed = true;
    ForEachName(exact, [&](size_t index, size_t) {
        const DWORD attributes = ::GetFileAttributesW(exact);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = ::GetLastError();
            // Gone since: there is nothing below it for the engine to reach.
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
            allowed = Refuse(path, exact, "cannot be looked at");
        } else if (IsReparsePoint(attributes) && !(index < kMaxPathNames && listed[index])) {
            allowed = Refuse(path, exact, "is a link that was none when the finding was listed");
        }
        return allowed;
    });
    return allowed;
}
