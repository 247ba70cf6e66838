// The scan job: the engine binding, StartScan and the two worker threads,
// and the two ways a file reaches the engine.
#pragma once

#include <windows.h>

#include "engine/scan_engine.h"
#include "framework/handles.h"

class ScanWindow;

// Process-wide: written by StartScan (or a test), read by the workers and the
// cure; the window frees the library when it is destroyed.
struct ScanEngine {
    fw::UniqueModule library;
    ScanFileFunction scanFile = nullptr;
};
ScanEngine& Engine();

// Loads "<folder>\kxsoc.dll" and finds its ScanFile; 1 on success, 0 when
// either fails (nothing stays loaded then).
int LoadScanEngine(const char* folder);
void UnloadScanEngine();

// Binds the engine, builds the target list, runs the single-instance test and
// starts CountThread and, a second later, ScanThread and the refresh timer.
// 1 when the scan was started, 0 when not (no engine, or the same scan runs
// already: the window is then dismissed).
int StartScan(ScanWindow* window);

// Sets the cancel flag, releases a paused ScanThread and waits until both
// workers have ended, handling the messages they send meanwhile. For the
// window's thread, before the window and the engine go away.
void StopScanThreads(ScanWindow* window);

// Thread procedures; the argument is the ScanWindow. Both return 0.
unsigned __stdcall CountThread(void* argument);
unsigned __stdcall ScanThread(void* argument);

// Hands one file to the engine in scan mode and passes a finding on, once
// per file in a row. Returns the engine result.
LONG ScanOneFile(const char* path, DWORD size, const FILETIME* lastWrite, ScanWindow* window);

// For a file named by a system area: its size and time from the file itself
// (0 when it cannot be opened), then ScanOneFile; counts it as visited.
LONG ScanListedFile(const char* path, ScanWindow* window);
