// The contract of the scan engine kxsoc.dll, shared by the engine and the
// program: one export, ScanFile, undecorated in both widths.
#pragma once

#include <windows.h>

extern "C" {

// Scan mode: path, low 32 bits of the size (0 when unreadable), mode 0, a
// zeroed 260-byte name buffer (out), a zeroed kind (out), the last-write
// time, 2. Returns 0 clean, -1 not scanned, else result bits.
// Cure mode: path, 8, mode 1, the detection name (in), kind (out), null, 2.
// Returns 0x0008 repaired, 0x0200 deleted, anything else failed.
typedef LONG(WINAPI* ScanFileFunction)(const char* path, DWORD size, DWORD mode, char* name, LONG* kind,
                                       const FILETIME* lastWrite, DWORD caller);

__declspec(dllexport) LONG WINAPI ScanFile(const char* path, DWORD size, DWORD mode, char* name, LONG* kind,
                                           const FILETIME* lastWrite, DWORD caller);
}
