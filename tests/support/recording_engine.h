// A stand-in for the engine's ScanFile that records the paths it is handed
// and, when told, sets a scan job's cancel flag once it has seen
// `stopAfter` files. Tests point a job's engine.scanFile at RecordScan.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "scan/scan_job.h"

namespace kxtest {

struct RecordingEngine {
    std::vector<std::string> paths;
    ScanJob* stopJob = nullptr;
    size_t stopAfter = 1;
};

inline RecordingEngine g_recorder;

inline LONG WINAPI RecordScan(const char* path, DWORD, DWORD, char*, LONG*, const FILETIME*, DWORD) {
    g_recorder.paths.push_back(path);
    if (g_recorder.stopJob && g_recorder.paths.size() >= g_recorder.stopAfter) g_recorder.stopJob->cancel = 1;
    return 0;
}

}  // namespace kxtest
