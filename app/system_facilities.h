// Small operating-system helpers shared by several subsystems.
#pragma once

#include <windows.h>

#include "app/ansi_text.h"

// "yyyy-MM-dd HH:mm:ss" of the given local time, or of now when null.
// `output` holds at least 20 bytes.
void FormatDateTime(char* output, const SYSTEMTIME* localTime);

// 1 when the folder exists afterwards; a file in its place is replaced.
int EnsureFolder(const char* path);

// Creates every folder of the path below its drive; 1 when all exist afterwards.
int CreateFolderChain(const char* path);

// Low 32 bits of the size of the file of that exact name (see
// app/exact_path.h); 0 when it cannot be opened or is no file of a disk.
// `opened`, when given, tells the two apart.
DWORD GetFileSizeAndTimes(const char* path, FILETIME* creation, FILETIME* lastWrite, bool* opened = nullptr);

// Widens a path with short (8.3) components in place; 260-byte buffer.
void ExpandShortPath(char* path);

// The lead bytes of the ANSI code page, read once.
const LeadBytes& AnsiLeadBytes();
