// The switches and texts that start-up gathers once for the whole process.
#pragma once

#include <windows.h>

struct StartupOptions {
    // Set by the command line; the first four are cleared again at the start
    // of each command-line parse.
    DWORD systemAreas = 0;     // /PR
    DWORD closeWhenClean = 0;  // /SC
    DWORD targetsGiven = 0;    // /SC, and StartScan when it adds a path target
    DWORD allLocalDrives = 0;  // /AL
    DWORD quickScan = 0;       // /QS or /ED
    DWORD hiddenWindow = 0;    // /HD
    DWORD autoCure = 0;        // /AC, or curetype = 1

    DWORD debugMask = 0;  // registry value DbgLevel
    DWORD agentType = 0;  // 1 or 2; 0 when unknown

    char title[260] = {};
    char installDir[260] = {};
    char quickScanExtensions[520] = {};
};

// Applies the option arguments argv[1..argc-1] to the switches: the first
// three characters of each argument, compared without regard to case, pick
// the option. Arguments that match no option (target lists among them) are
// left alone.
void ApplyOptionArguments(int argc, char* const* argv, StartupOptions* options);
