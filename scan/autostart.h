// The autostart locations of the registry: every program and library that
// Windows starts by itself, turned into file paths for the count and the scan.
#pragma once

#include <windows.h>

class ScanJob;

// The 64-bit view of the locations, then, on 64-bit Windows, the 32-bit view
// of those it redirects. Mode 0 counts the autostart files that can be
// reached, mode 1 hands each path to ScanListedFile and gives the visits;
// either way each path once per pass. Stops before the next location or
// entry once the scan is cancelled.
DWORD ScanAutostart(int mode, ScanJob& job);

// The kernel's "\??\" prefix dropped, a path new to the pass is counted
// (mode 0) or scanned (mode 1): 1 when it counts as a file reached, 0 when
// it repeats a path of the pass or reaches none.
int ScanAutostartFile(const char* path, int mode, ScanJob& job);

// Turns a command line or registry text into the file it names, in place.
// `text` holds at least 260 bytes; only its first 259 characters are looked
// at, and the result always fits 260 bytes. 1 when it names a file, else 0.
int ExtractCommandPath(char* text);

// Expands the environment variables of each component of the path, in place
// (260-byte buffer); the path stays unchanged when the result would not fit.
void ExpandPathVariables(char* path);
