// Registry values shared with the product's other components. Every access of
// the product's own keys goes through these routines; on 64-bit Windows they
// ask for the 64-bit view so that a 32-bit build meets the 64-bit components.
#pragma once

#include <windows.h>

constexpr const char* kProductKey = "SOFTWARE\\Tarnwick Systems\\Korvex";
constexpr const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvex";
constexpr const char* kStatusKey = "SOFTWARE\\Tarnwick Systems\\Korvex\\Events\\status";
constexpr const char* kAccessKey = "SOFTWARE\\Tarnwick Systems\\Korvex\\Events\\access";
constexpr const char* kConfigKey = "SOFTWARE\\Tarnwick Systems\\Korvex\\Events\\config";
constexpr const char* kDelaysKey = "SOFTWARE\\Tarnwick Systems\\Events\\monitor\\Delays";

// Reads a string value into a cleared buffer; returns the byte count read, or
// 0 when the value is missing, empty, does not fit, or a step fails. The
// buffer is always terminated.
int ReadRegString(HKEY root, const char* key, const char* value, char* buffer, DWORD size);

// Creates the key when missing and sets the value; 1 on success, else 0.
int WriteRegValue(HKEY root, const char* key, const char* value, const void* data, DWORD length, DWORD type);
int WriteRegString(HKEY root, const char* key, const char* value, const char* text);

// Returns 4 when the value was read into *out, 0 when not (*out unchanged).
int ReadRegDword(HKEY root, const char* key, const char* value, DWORD* out);

// 1 when the value holds `number` afterwards; an unchanged value is not written.
int WriteRegDword(HKEY root, const char* key, const char* value, DWORD number);

// `access` with KEY_WOW64_64KEY added on 64-bit Windows.
REGSAM RegViewFlag(REGSAM access);
int Is64BitWindows();
