#include "app/exact_path.h"

#include <cstring>
#include <cwchar>

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

// Appends `count` characters; false when they do not fit with a terminator.
bool Append(wchar_t* out, size_t* used, size_t size, const wchar_t* text, size_t count) {
    if (*used + count >= size) return false;
    std::wmemcpy(out + *used, text, count);
    *used += count;
    out[*used] = L'\0';
    return true;
}

// `full` is "X:\..." or "\\server\share\...": the \\?\ form, names between
// separators taken as they are, except "." (dropped) and ".." (the name
// before it removed, never the root).
bool ToExactForm(const wchar_t* full, wchar_t* out, size_t size) {
    size_t used = 0;
    const wchar_t* rest;
    out[0] = L'\0';
    if (full[1] == L':') {
        if (!Append(out, &used, size, L"\\\\?\\", 4) || !Append(out, &used, size, full, 2)) return false;
        rest = full + 2;
    } else {
        // The server and share names form the root.
        const wchar_t* server = full + 2;
        const wchar_t* share = server + std::wcscspn(server, L"\\/");
        if (share == server || !*share || IsSeparator(share[1]) || !share[1]) return false;
        rest = share + 1 + std::wcscspn(share + 1, L"\\/");
        if (!Append(out, &used, size, L"\\\\?\\UNC\\", 8) ||
            !Append(out, &used, size, server, static_cast<size_t>(share - server)) ||
            !Append(out, &used, size, L"\\", 1) ||
            !Append(out, &used, size, share + 1, static_cast<size_t>(rest - share - 1)))
            return false;
    }
    const size_t root = used;
    while (*rest) {
        while (IsSeparator(*rest)) ++rest;
        const size_t length = std::wcscspn(rest, L"\\/");
        if (length == 0) break;
        if (length == 2 && rest[0] == L'.' && rest[1] == L'.') {
            while (used > root && out[used - 1] != L'\\') --used;
            if (used > root) --used;
            out[used] = L'\0';
        } else if (!(length == 1 && rest[0] == L'.')) {
            if (!Append(out, &used, size, L"\\", 1) || !Append(out, &used, size, rest, length)) return false;
        }
        rest += length;
    }
    return used > root || Append(out, &used, size, L"\\", 1);
}

}  // namespace

bool ExactPath(const char* path, wchar_t* out, size_t size) {
    wchar_t wide[kExactPathSize];
    if (!path || size == 0 ||
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, static_cast<int>(kExactPathSize)) <= 0)
        return false;
    if (StartsWith(wide, L"\\\\?\\") || StartsWith(wide, L"\\\\.\\")) {
        const size_t length = std::wcslen(wide);
        if (length >= size) return false;
        std::wmemcpy(out, wide, length + 1);
        return true;
    }
    const bool drive = wide[0] != L'\0' && wide[1] == L':' && IsSeparator(wide[2]);
    if (drive || (IsSeparator(wide[0]) && IsSeparator(wide[1]))) return ToExactForm(wide, out, size);

    // Relative, "\folder" or "C:folder": the system completes the folder
    // part, and the last name is added as written, trailing dot and all.
    wchar_t* name = wide + std::wcslen(wide);
    while (name > wide && !IsSeparator(name[-1]) && !(name - wide == 2 && name[-1] == L':')) --name;
    wchar_t folder[kExactPathSize];
    size_t folderLength = static_cast<size_t>(name - wide);
    std::wmemcpy(folder, wide, folderLength);
    if (folderLength == 0) folder[folderLength++] = L'.';
    folder[folderLength] = L'\0';
    wchar_t full[kExactPathSize];
    DWORD length = ::GetFullPathNameW(folder, static_cast<DWORD>(kExactPathSize), full, nullptr);
    size_t nameLength = std::wcslen(name);
    if (length == 0 || length + 1 + nameLength >= kExactPathSize) return false;
    if (!IsSeparator(full[length - 1])) full[length++] = L'\\';
    std::wmemcpy(full + length, name, nameLength + 1);
    const bool complete = full[1] == L':' || (IsSeparator(full[0]) && IsSeparator(full[1]));
    return complete && ToExactForm(full, out, size);
}

// Under UTF-8 every valid name has one; there the system refuses the
// best-fit and used-default arguments, and a lone surrogate is the one
// thing that cannot be converted.
bool ToAnsi(const wchar_t* text, char* out, int size) {
    BOOL usedDefault = FALSE;
    const int written =
        ::GetACP() == CP_UTF8
            ? ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, out, size, nullptr, nullptr)
            : ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, out, size, nullptr, &usedDefault);
    if (written <= 0) {
        out[0] = '\0';
        return false;
    }
    return !usedDefault && !std::strchr(out, '?');
}

void PlainPath(wchar_t* path) {
    if (StartsWith(path, L"\\\\?\\UNC\\")) {
        std::wmemmove(path + 2, path + 8, std::wcslen(path + 8) + 1);
    } else if (StartsWith(path, L"\\\\?\\") && path[4] != L'\0' && path[5] == L':') {
        std::wmemmove(path, path + 4, std::wcslen(path + 4) + 1);
    }
}

bool FinalPathOf(HANDLE file, const wchar_t* named, wchar_t* out, size_t size) {
    const DWORD length = ::GetFinalPathNameByHandleW(file, out, static_cast<DWORD>(size), FILE_NAME_NORMALIZED);
    if (length > 0 && length < size) {
        PlainPath(out);
        return true;
    }
    if (StartsWith(named, L"\\\\?\\")) named += 4;
    if (named[0] == L'\0' || named[1] != L':') return false;
    const wchar_t root[] = {named[0], L':', L'\\', L'\0'};
    DWORD serial = 0;
    BY_HANDLE_FILE_INFORMATION info{};
    alignas(FILE_NAME_INFO) unsigned char buffer[sizeof(FILE_NAME_INFO) + kExactPathSize * sizeof(wchar_t)];
    const auto* name = reinterpret_cast<const FILE_NAME_INFO*>(buffer);
    if (!::GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0) ||
        !::GetFileInformationByHandle(file, &info) || info.dwVolumeSerialNumber != serial ||
        !::GetFileInformationByHandleEx(file, FileNameInfo, buffer, sizeof buffer))
        return false;
    const size_t chars = name->FileNameLength / sizeof(wchar_t);
    if (chars + 3 > size) return false;
    out[0] = named[0];
    out[1] = L':';
    std::wmemcpy(out + 2, name->FileName, chars);
    out[chars + 2] = L'\0';
    return true;
}

HANDLE OpenExactFile(const char* path, DWORD access, DWORD share, DWORD flags) {
    wchar_t exact[kExactPathSize];
    if (!ExactPath(path, exact, kExactPathSize)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = ::CreateFileW(exact, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (file != INVALID_HANDLE_VALUE && ::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        ::SetLastError(ERROR_BAD_FILE_TYPE);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}
