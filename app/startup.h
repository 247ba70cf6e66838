// The steps of start-up that surround the scan window: the settings read
// before it opens and the updater run after it has closed.
#pragma once

#include <windows.h>

#include "app/startup_options.h"

// The process's options, filled by start-up and read by every subsystem.
StartupOptions& ProcessOptions();

// Reads the cure type, the installation directory, the quick-scan extension
// list (only with the quick-scan switch), the window title and the debug
// output mask into `options`. Missing settings leave the defaults.
void LoadStartupSettings(StartupOptions* options);

// When ExecuteUpdate is 1, runs "<install>\update.exe" /hide /scan, waits for
// it to end and resets ExecuteUpdate to 0, even when it could not be started.
void RunPendingUpdate(const StartupOptions& options);

// Starts `commandLine` as a whole command line (no inherited handles, default
// environment and folder); with `wait` non-zero, blocks until it has ended.
// Returns the new process's id, or 0 when it could not be created.
DWORD StartProcess(const char* commandLine, DWORD wait);

// Enables SeDebugPrivilege for the process, so that other processes' modules
// can be opened. Failure leaves the process without it.
void EnableDebugPrivilege();
