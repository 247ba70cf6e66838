#include "scan/native_paths.h"

#include <cstdio>
#include <cstring>

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithFolder(const char* path, const char* folder, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (AsciiLower(path[i]) != AsciiLower(folder[i])) return false;
    return path[length] == '\0' || path[length] == '\\';
}

// `path` with a leading `folder` (a whole component, ASCII letters in any
// case) replaced by `alias`, into `out`; a path outside `folder` as it
// stands. False, and `out` empty, when the result does not fit `size`.
bool ReplaceLeadingFolder(const char* path, const char* folder, const char* alias, char* out, size_t size) {
    const size_t folderLength = std::strlen(folder);
    const bool inside = folderLength > 0 && StartsWithFolder(path, folder, folderLength);
    const char* rest = inside ? path + folderLength : path;
    const char* head = inside ? alias : "";
    const size_t headLength = std::strlen(head), restLength = std::strlen(rest);
    if (size == 0) return false;
    if (headLength + restLength >= size) {
        out[0] = '\0';
        return false;
    }
    std::memcpy(out, head, headLength);
    std::memcpy(out + headLength, rest, restLength + 1);
    return true;
}

NativeView ReadNativeView() {
    NativeView view;
    using IsWow64Function = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = ::GetModuleHandleA("kernel32");
    FARPROC found = kernel ? ::GetProcAddress(kernel, "IsWow64Process") : nullptr;
    BOOL wow64 = FALSE;
    if (found && reinterpret_cast<IsWow64Function>(reinterpret_cast<void (*)()>(found))(::GetCurrentProcess(), &wow64))
        view.wow64 = wow64 != FALSE;
    UINT length = ::GetSystemDirectoryA(view.systemFolder, sizeof(view.systemFolder));
    const char* slash = length > 0 && length < sizeof(view.systemFolder) ? std::strrchr(view.systemFolder, '\\') : nullptr;
    // Without a system folder there is nothing to map.
    if (!slash || std::snprintf(view.nativeFolder, sizeof(view.nativeFolder), "%.*s\\Sysnative",
                                static_cast<int>(slash - view.systemFolder), view.systemFolder) >=
                      static_cast<int>(sizeof(view.nativeFolder))) {
        view.wow64 = false;
        view.systemFolder[0] = view.nativeFolder[0] = '\0';
    }
    length = view.wow64 ? ::GetSystemWow64DirectoryA(view.wow64Folder, sizeof(view.wow64Folder)) : 0;
    if (length == 0 || length >= sizeof(view.wow64Folder)) view.wow64Folder[0] = '\0';
    return view;
}

}  // namespace

const NativeView& ProcessNativeView() {
    static const NativeView view = ReadNativeView();
    return view;
}

bool NativePath(const char* path, char (&out)[kNativePathSize]) {
    const NativeView& native = ProcessNativeView();
    if (!native.wow64) return ReplaceLeadingFolder(path, "", "", out, sizeof(out));
    return ReplaceLeadingFolder(path, native.systemFolder, native.nativeFolder, out, sizeof(out));
}

bool OwnPathAsNamed(const char* path, char (&out)[kNativePathSize]) {
    const NativeView& native = ProcessNativeView();
    if (!native.wow64 || !native.wow64Folder[0]) return ReplaceLeadingFolder(path, "", "", out, sizeof(out));
    return ReplaceLeadingFolder(path, native.systemFolder, native.wow64Folder, out, sizeof(out));
}

size_t SearchNativePath(const char* name, char* out, size_t size) {
    const DWORD found = ::SearchPathA(nullptr, name, nullptr, static_cast<DWORD>(size), out, nullptr);
    const NativeView& native = ProcessNativeView();
    if (found != 0 || !native.wow64) return found;
    char path[kNativePathSize];
    const DWORD length = ::SearchPathA(native.nativeFolder, name, nullptr, sizeof(path), path, nullptr);
    if (length == 0 || length >= sizeof(path)) return 0;
    return ReplaceLeadingFolder(path, native.nativeFolder, native.systemFolder, out, size) ? std::strlen(out) : 0;
}

size_t ExpandNativeVariables(const char* text, char* out, size_t size) {
    char native[kNativePathSize];
    if (ProcessNativeView().wow64) {
        // A 32-bit process sees the "(x86)" folders under the usual names;
        // the native ones have names of their own.
        static const struct {
            const char* name;
            const char* nativeName;
        } kRenamed[] = {{"%ProgramFiles%", "%ProgramW6432%"}, {"%CommonProgramFiles%", "%CommonProgramW6432%"}};
        size_t used = 0;
        for (const char* p = text; *p;) {
            const char* piece = p;
            size_t length = 1, taken = 1;
            for (const auto& variable : kRenamed)
                if (::_strnicmp(p, variable.name, std::strlen(variable.name)) == 0) {
                    piece = variable.nativeName;
                    length = std::strlen(variable.nativeName);
                    taken = std::strlen(variable.name);
                }
            if (used + length >= sizeof(native)) return 0;
            std::memcpy(native + used, piece, length);
            used += length;
            p += taken;
        }
        native[used] = '\0';
        text = native;
    }
    return ::ExpandEnvironmentStringsA(text, out, static_cast<DWORD>(size));
}
