// The output of the module lister (tools/modlist), which a 32-bit scan on
// 64-bit Windows runs for the processes it cannot list itself. Pure text
// handling, no system calls, so that it is fuzzed natively.
//
// The lister prints one line per module, "<process id><TAB><path>", and
// "end" as its last line once it has listed everything it could.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Paths the scan takes, terminator included.
constexpr size_t kListedPathSize = 520;

// The process identifiers that the scan and the lister try, in this order
// (every fourth, from the first below the limit), and how many modules of
// one process are listed at most.
constexpr unsigned long kFirstProcessId = 8;
constexpr unsigned long kProcessIdLimit = 0xFFFF;
constexpr unsigned long kMaxModules = 1024;

struct ListedModule {
    unsigned long processId = 0;
    std::string path;
};

struct ModuleListing {
    std::vector<ListedModule> modules;  // in the order printed
    size_t rejected = 0;                // lines not taken whole: malformed, cut or too long
    bool complete = false;              // "end" was the last line
};

// Every line (ended by "\n" or "\r\n"; a last line without its "\n" is a cut
// one) is either taken whole into `modules`, or counted in `rejected`, or is
// the closing "end".
ModuleListing ParseModuleList(const char* data, size_t size);
