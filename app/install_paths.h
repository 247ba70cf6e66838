// The installation directory and the program's settings files.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr int kMaxExcludedPaths = 16;

struct ExcludedPath {
    char path[520];          // always ends with a backslash
    DWORD matchLength;       // characters of the piece as written, without the added backslash
};

struct ExcludedPathTable {
    bool loaded;
    DWORD count;
    ExcludedPath entries[kMaxExcludedPaths];
};

// Copies the installation directory (at most size - 1 characters).
void GetInstallPath(char* buffer, size_t size);

// Full path of qmrkx.ini in the installation directory.
const char* GetIniPath();

int ReadIniInt(const char* section, const char* key, int defaultValue);

// 1 when the key has a non-empty value, now in the buffer; 0 otherwise, with
// an empty buffer.
int ReadIniText(const char* section, const char* key, char* buffer, DWORD size);

// Splits an "excludepath" text ("C:\Temp|D:\Backup\") into the table.
void ParseExcludedPaths(const char* text, ExcludedPathTable* table);

// Fills the process-wide table from the settings file, once.
void LoadExcludedPaths();
const ExcludedPathTable& ExcludedPaths();

// 1 or 2, or 0 with a message in `message` (1024 bytes) when the agent type
// cannot be determined.
int GetAgentType(char* message);

// The source without its last path component; null when there is no parent.
char* GetParentFolder(const char* source, char* destination, size_t size);
