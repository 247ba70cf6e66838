// A cure pass: the engine in cure mode for each finding the owner offers,
// each outcome recorded in the virus log as it happens.
#pragma once

#include <windows.h>

class ScanJob;

// Row codes of an outcome, and how the virus log names it.
constexpr int kCodeCuredRow = 8;
constexpr int kCodeUncuredRow = 16;
constexpr int kCodeDeletedRow = 512;

struct CureOutcomeCodes {
    int row;     // 8, 512 or 16
    int action;  // virus-log action: 1 cured, 2 deleted, 3 failed
};
// Bit 0x0008 is tested first, then 0x0200; anything else is a failure.
CureOutcomeCodes CureOutcomeOf(LONG result);

// Thread procedure; the argument is the ScanJob, already in the curing state
// (StartCure sets it). Stops between findings once the job's cure-stop flag
// is set (and clears it), and tells the owner when it ends. Returns 0.
unsigned __stdcall CureThread(void* argument);
