// The autostart locations of the registry: every program and library that
// Windows starts by itself, turned into file paths for the count and the scan.
#pragma once

#include <windows.h>

class ScanJob;

// Mode 0 counts the autostart paths, mode 1 hands each to ScanListedFile.
// Stops before the next location or entry once the scan is cancelled.
DWORD ScanAutostart(int mode, ScanJob& job);

// 1 when the path counts, 0 when it repeats the path before it.
int ScanAutostartFile(const char* path, int mode, ScanJob& job);

// Turns a command line or registry text into the file it names, in place.
// `text` holds at least 260 bytes; only its first 259 characters are looked
// at, and the result always fits 260 bytes. 1 when it names a file, else 0.
int ExtractCommandPath(char* text);

// Expands the environment variables of each component of the path, in place
// (260-byte buffer); the path stays unchanged when the result would not fit.
void ExpandPathVariables(char* path);
