// A stand-in for the engine's ScanFile that records the paths it is handed
// and, when told, sets a scan window's cancel flag once it has seen
// `stopAfter` files. Tests point Engine().scanFile at RecordScan.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "window/scan_window.h"

namespace kxtest {

struct RecordingEngine {
    std::vector<std::string> paths;
    ScanWindow* stopWindow = nullptr;
    size_t stopAfter = 1;
};

inline RecordingEngine g_recorder;

inline LONG WINAPI RecordScan(const char* path, DWORD, DWORD, char*, LONG*, const FILETIME*, DWORD) {
    g_recorder.paths.push_back(path);
    if (g_recorder.stopWindow && g_recorder.paths.size() >= g_recorder.stopAfter) g_recorder.stopWindow->cancel = 1;
    return 0;
}

}  // namespace kxtest
