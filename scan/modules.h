// What is loaded in memory: the modules of every process and the loaded
// kernel drivers, for the count and the scan.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <unordered_set>

class ScanJob;

// The module paths one pass has met, letter case included. Found by their
// CRC-32 and told apart by the path itself, so neither a full list nor two
// paths of the same CRC keep a module from the scan.
class ModulePathsSeen {
public:
    ModulePathsSeen() { paths_.reserve(4096); }
    // true when the path is new (and now remembered).
    bool Add(const char* path) { return paths_.emplace(path).second; }
    DWORD Count() const { return static_cast<DWORD>(paths_.size()); }

private:
    struct Crc32Hash {
        size_t operator()(const std::string& path) const;
    };
    std::unordered_set<std::string, Crc32Hash> paths_;
};

// Mode 0 counts the distinct module paths that reach a file, mode 1 hands
// each distinct path to ScanListedFile and gives the visits; no module is
// looked at once the scan is cancelled. Under WOW64 the modules of the
// processes this one cannot list (64-bit ones) come from the module lister
// beside the program file, kxmodlist.exe; without it they are skipped, with
// a line in the debug log.
DWORD ScanProcessModules(int mode, ScanJob& job);

// The drivers whose files can be reached, counted (mode 0), or handed to
// ScanListedFile (mode 1) and the visits given; 0 when the scan is cancelled
// already.
DWORD ScanLoadedDrivers(int mode, ScanJob& job);

// The kernel's form of a driver path made an ordinary one, in place (520-byte
// buffer): "\??\" dropped, the Windows folder's names replaced, short
// components widened.
void NormaliseDriverPath(char* path);
