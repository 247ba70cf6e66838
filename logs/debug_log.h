// The plain-text trace shared with the product's other processes.
#pragma once

#include <windows.h>

#include <ctime>

enum DebugLevel : int {
    kLevelDebug = 0,
    kLevelInfo = 1,
    kLevelNotice = 2,
    kLevelWarn = 3,
    kLevelError = 4,
    kLevelCrit = 5,
    kLevelAlert = 6,
    kLevelDebug0 = 7,
    kLevelDebug1 = 8,
    kLevelDebug2 = 9,
    kLevelDebug3 = 10,
};

// Output mask bits.
constexpr DWORD kDebugToDebugger = 1;
constexpr DWORD kDebugToFile = 2;

// printf-style trace line; `mask` picks debugger output and/or the file
// kxlog.01 in the installation's Logs folder.
void DebugLog(const char* tag, DWORD mask, int level, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Appends one time-stamped line to kxlog.01 in `folder` under the lock file,
// rotating first when the file has grown past 5,000,000 bytes. 0 or -1.
int AppendDebugLine(const char* folder, const char* text);

// kxlog.04 -> .05, ... , .01 -> .02 (the old .05 is dropped). Always 0.
int RotateDebugLog(const char* folder, const char* base);

// Opens and locks the cross-process lock file; a descriptor, or -1.
int OpenLockFile(const char* path);
void CloseLockFile(int descriptor);

// "%04d-%02d-%02d %02d:%02d:%02d" in local time; null when buffer is null.
char* FormatLogTime(time_t time, char* buffer);
