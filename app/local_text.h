// Window texts from the localised text library in the "locale" folder.
#pragma once

#include <windows.h>

#include <cstddef>

// 1 when the text exists and is not empty (line breaks written as \n become
// the bytes 10, 13); 0 otherwise, with an empty buffer.
int GetLocalText(const char* section, const char* key, char* buffer, DWORD size);

// The same text (at most 259 bytes), read once and kept for the process's
// life: for texts shown again and again, since each read is a read of the
// library file (0.1-0.5 ms under Wine). Past the first 32 keys a call reads
// the library into a buffer of its thread that its next call overwrites.
const char* CachedLocalText(const char* section, const char* key);

// "kor", "jpn" or "eng" by the system's user-interface language; 0 when the
// buffer is null.
int GetUiLanguage(char* buffer, size_t size);
