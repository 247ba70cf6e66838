// The arithmetic of the window timer's refresh, apart from the window so that
// each rule can be checked on its own: the elapsed-time text, the percentage
// and the bar's position, and the watch for files that take long to scan.
#pragma once

#include <windows.h>

#include <cstddef>
#include <ctime>

// "HH:MM:SS" of a span of seconds; whole days are not shown, so 25:03:04
// reads 01:03:04. `out` holds at least 9 bytes.
void FormatElapsed(time_t seconds, char* out, size_t size);

struct ProgressInputs {
    DWORD visited;
    DWORD total;
    DWORD provisionalTotal;
    bool countingDone;
    bool targetsGiven;
    bool systemAreas;
};

// Kept between ticks: the lowest position the bar shows once the percentage
// is at least 1, fixed on the first tick.
struct ProgressState {
    DWORD floor = 0;
};

struct ProgressView {
    int percent;         // 0..100
    long long position;  // for the bar; -1 leaves the bar alone
};

ProgressView ComputeProgress(const ProgressInputs& inputs, ProgressState* state);

// Counts the ticks on which one file stays the current file.
class SlowFileWatch {
public:
    // The number to record for `current` under the Delays key on this tick
    // (65 on the 67th tick in a row, then 66, ...), or 0 for nothing. Ticks
    // while the scan is `held` do not count: the file is not being scanned.
    DWORD Tick(const char* current, bool held);

private:
    char lastSeen_[520] = {};
    DWORD ticks_ = 0;
};
