// The list of what a scan visits, built from the command line or from the
// fixed drives, and the single-instance test over it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

struct ScanTarget {
    char path[520];
};

using ScanTargetList = std::vector<ScanTarget>;

// Appends one target: a drive name ("C:") gets its backslash, any other path
// becomes the full path the system's path search finds for it, or stays as
// given. Cut at the first double quote, at most 519 characters.
void AddScanTarget(ScanTargetList* targets, const char* path);

// The targets of argv[1..argc-1]: every argument not starting with "/" gives
// one target per colon, starting at the drive letter before it and cut at the
// first double quote. Returns the number of targets added.
int AddArgumentTargets(ScanTargetList* targets, int argc, char* const* argv);

// Every fixed drive ("C:\", "E:\", ...) in the system's order.
void AddFixedDriveTargets(ScanTargetList* targets);

// "Kxscan_" and the 32-bit sum of the CRC-32 of every lower-cased target path,
// in lower-case hexadecimal. `size` of 32 is always enough.
void ScanMutexName(const ScanTargetList& targets, char* name, size_t size);

// 1 when another process scans the same target set or the test could not be
// made; 0 when this process now owns the scan (the mutex stays open until
// the process ends).
int IsScanRunning(const ScanTargetList& targets);
