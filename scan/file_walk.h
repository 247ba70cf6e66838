// The walk of the file system: exclusions, the count for the progress range,
// the scan of folders and files, and the quick-scan filter.
#pragma once

#include <windows.h>

#include "app/install_paths.h"

class ScanJob;

// 1 when the path begins with one of the table's prefixes, compared without
// regard to case over the length the user wrote.
int IsExcludedPathIn(const ExcludedPathTable& table, const char* path);
// The same against the settings' table.
int IsExcludedPath(const char* path);

// With the quick-scan switch, whether a file of a folder walk is worth the
// engine: small enough, an extension found in `extensions`, or an executable
// or compound-document start.
int QuickScanWants(const char* path, const wchar_t* longName, DWORD sizeHigh, DWORD sizeLow,
                   const char* extensions);

// Both walkers open files and folders by their exact names (app/exact_path.h)
// and never enter a folder link or junction they meet; one given as the
// target is walked as its folder.

// The walkers take a 520-byte buffer that they may extend by a closing
// backslash. A child whose path would not fit in 520 bytes is skipped by both
// the count and the scan (and traced to the debugger output).

// Files below the folder (recurse 1), or 1 for a file (recurse 0); 0 for an
// excluded or unreadable folder. Stops early when the scan is cancelled.
DWORD CountFolderFiles(char* path, int recurse, ScanJob& job);

// Hands every file below the folder to the engine (recurse 1), or the one
// file `path` names (recurse 0). Stops at the next entry once cancelled.
void ScanFolder(char* path, int recurse, ScanJob& job);

// Scans the entries of the folder whose names have no ANSI form, through
// their short names.
void ScanShortNames(char* folder, ScanJob& job);
