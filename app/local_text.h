// Window texts from the localised text library in the "locale" folder.
#pragma once

#include <windows.h>

#include <cstddef>

// 1 when the text exists and is not empty (line breaks written as \n become
// the bytes 10, 13); 0 otherwise, with an empty buffer.
int GetLocalText(const char* section, const char* key, char* buffer, DWORD size);

// "kor", "jpn" or "eng" by the system's user-interface language; 0 when the
// buffer is null.
int GetUiLanguage(char* buffer, size_t size);
