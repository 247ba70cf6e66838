// Files opened by their exact names. A plain Win32 path is rewritten before it
// is opened: "nul.txt", "com1" or "aux.c" name devices, and a trailing dot or
// blank ("evil.exe.") is dropped, so the name reaches another file or none.
// The \\?\ form of the full path is taken as it stands.
#pragma once

#include <windows.h>

#include <cstddef>

// Wide characters an exact path may take, terminator included.
constexpr size_t kExactPathSize = 1100;

// The \\?\ form of `path` (in the ANSI code page): "." and ".." resolved, "/"
// read as "\", a relative path joined to the current folder, every name
// otherwise kept as written. Paths already in the \\?\ or \\.\ form stay as
// they are. False when the path cannot be converted or does not fit.
bool ExactPath(const char* path, wchar_t* out, size_t size);

// True when the whole of `text` has an ANSI form (no replacement, no best
// fit), written to `out`; an empty `out` when it cannot be converted.
bool ToAnsi(const wchar_t* text, char* out, int size);

// The same path without its \\?\ prefix, in place: "\\?\C:\x" becomes "C:\x",
// "\\?\UNC\server\share" becomes "\\server\share"; other paths stay as they are.
void PlainPath(wchar_t* path);

// The plain final path of an open file or folder (links resolved, long
// names) that was opened by the path `named` (either form), in `out`. Wine's
// GetFinalPathNameByHandleW takes no path of MAX_PATH characters or more;
// then the file's name on its volume follows the drive of `named`, when the
// file lies on that drive's volume. False when neither can be had.
bool FinalPathOf(HANDLE file, const wchar_t* named, wchar_t* out, size_t size);

// CreateFileW on the exact path; a handle only for a file of a disk, so that
// no read ever waits on a device, a pipe or a console (error
// ERROR_BAD_FILE_TYPE then). INVALID_HANDLE_VALUE on failure.
HANDLE OpenExactFile(const char* path, DWORD access, DWORD share, DWORD flags);
