#include "scan/cure_pass.h"

#include <cstring>

#include "app/startup.h"
#include "logs/debug_log.h"
#include "logs/log_records.h"
#include "scan/native_paths.h"
#include "scan/scan_job.h"

namespace {

// Neither success bit.
constexpr LONG kCureRefused = 0x0010;

}  // namespace

CureOutcomeCodes CureOutcomeOf(LONG result) {
    if (result & 0x0008) return {kCodeCuredRow, kActionCured};
    if (result & 0x0200) return {kCodeDeletedRow, kActionDeleted};
    return {kCodeUncuredRow, kActionCureFailed};
}

unsigned __stdcall CureThread(void* argument) {
    ScanJob& job = *static_cast<ScanJob*>(argument);
    ScanReports* owner = job.owner;
    const int rows = owner ? owner->CureRowCount() : 0;
    for (int row = 0; row < rows; ++row) {
        if (job.cureStop) {
            job.cureStop = 0;
            break;
        }
        char name[260];
        char path[520];
        if (!owner->CureFinding(row, name, path)) continue;
        char inOut[260];
        std::memcpy(inOut, name, sizeof(inOut));
        LONG kind = 0;
        // The engine cures the file the scan reached (its native path under
        // WOW64); the row and the logs keep the path as listed. A path that
        // leads elsewhere than when it was listed is refused without an
        // engine call: a failed cure.
        LONG result = kCureRefused;
        char native[kNativePathSize];
        char enginePath[520];
        if (NativePath(path, native) && job.listedLinks.MayCure(native, enginePath)) {
            result = job.engine.scanFile(enginePath, 8, 1, inOut, &kind, nullptr, 2);
            DebugLog("scanner", ProcessOptions().debugMask, kLevelInfo, "VirusCure (%d) (%d) (%s) (%s)",
                     static_cast<int>(result), static_cast<int>(kind), path, name);
        }
        // Recorded before anyone hears of it, so a close that waits for this
        // pass finds the record whole.
        RecordVirus(name, path, CureOutcomeOf(result).action, kSourceScanner);
        owner->CureOutcome(row, result);
    }
    if (owner) owner->CureEnded();
    return 0;
}
