// The shipped program is 32-bit. On 64-bit Windows (WOW64) the system
// redirects what such a process opens under the system folder to its 32-bit
// twin. The scan must reach the files a person means, so every path that
// leaves for the file system or the engine goes through NativePath first;
// everything a person sees keeps the path as it was.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr size_t kNativePathSize = 520;

struct NativeView {
    bool wow64 = false;
    char systemFolder[260] = {};  // as the system names it: C:\Windows\system32
    char nativeFolder[260] = {};  // the alias that reaches it from WOW64: C:\Windows\Sysnative
    char wow64Folder[260] = {};   // where the 32-bit twins lie: C:\Windows\SysWOW64
};

// Read once per process: IsWow64Process (looked up by name, older systems
// lack it) and the system folders.
const NativeView& ProcessNativeView();

// The path by which this process reaches the file `path` names as a person
// or a 64-bit component means it; false when it does not fit 520 bytes.
bool NativePath(const char* path, char (&out)[kNativePathSize]);

// A path as this process met it itself (a module it listed, a value of the
// 32-bit registry view), written as where the file lies: under WOW64 its
// system folder is the 32-bit one. False when it does not fit 520 bytes.
bool OwnPathAsNamed(const char* path, char (&out)[kNativePathSize]);

// The file `name` as a 64-bit component's search finds it, as SearchPathA
// counts: the search path, and under WOW64, when that finds nothing, the
// native system folder, whose files a 32-bit search never sees. A file
// found there is given under the system folder's own name.
size_t SearchNativePath(const char* name, char* out, size_t size);

// Environment variables expanded with the meanings a 64-bit component gives
// them (%ProgramFiles% is the native folder under WOW64), as
// ExpandEnvironmentStringsA counts.
size_t ExpandNativeVariables(const char* text, char* out, size_t size);
