// A scan engine for the window tests: it takes KXTEST_ENGINE_DELAY_MS per
// file and reports every file that holds the word INFECTED; a cure repairs.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "engine/scan_engine.h"

namespace {

DWORD Delay() {
    static const DWORD delay = [] {
        char text[16] = {};
        return ::GetEnvironmentVariableA("KXTEST_ENGINE_DELAY_MS", text, sizeof(text)) ? std::strtoul(text, nullptr, 10)
                                                                                       : 0ul;
    }();
    return delay;
}

bool HoldsMarker(const char* path) {
    // By its exact name, so that paths past MAX_PATH open too.
    wchar_t wide[600] = L"\\\\?\\";
    if (!::MultiByteToWideChar(CP_ACP, 0, path, -1, wide + 4, 590)) return false;
    HANDLE file = ::CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char bytes[257] = {};
    DWORD read = 0;
    ::ReadFile(file, bytes, sizeof(bytes) - 1, &read, nullptr);
    ::CloseHandle(file);
    return std::strstr(bytes, "INFECTED") != nullptr;
}

}  // namespace

extern "C" LONG WINAPI ScanFile(const char* path, DWORD, DWORD mode, char* name, LONG* kind, const FILETIME*, DWORD) {
    ::Sleep(Delay());
    if (mode == 1) return 0x0008;
    if (!HoldsMarker(path)) return 0;
    std::strcpy(name, "Test.Infected");
    *kind = 0;
    return 0x0001;
}
