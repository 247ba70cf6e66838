#include "scan/scan_targets.h"

#include <cstdio>
#include <cstring>

#include "app/ansi_text.h"
#include "framework/handles.h"
#include "logs/crc32.h"

namespace {

constexpr size_t kMaxPathChars = sizeof(ScanTarget::path) - 1;

// Owned by the process for its whole life: it marks the running scan.
fw::UniqueHandle g_scanMutex;

void CopyBounded(char* destination, const char* text, size_t maxChars) {
    size_t length = strnlen(text, maxChars);
    std::memcpy(destination, text, length);
    destination[length] = '\0';
}

void CutAtQuote(char* text) {
    if (char* quote = std::strchr(text, '"')) *quote = '\0';
}

}  // namespace

void AddScanTarget(ScanTargetList* targets, const char* path) {
    ScanTarget target{};
    char found[sizeof(ScanTarget::path)];
    if (strnlen(path, 3) < 3) {
        std::snprintf(found, sizeof(found), "%s\\", path);
    } else {
        DWORD length = ::SearchPathA(nullptr, path, nullptr, sizeof(found), found, nullptr);
        // A result that did not fit is no result: keep the path as given.
        if (length == 0 || length >= sizeof(found)) CopyBounded(found, path, kMaxPathChars);
    }
    CutAtQuote(found);
    CopyBounded(target.path, found, kMaxPathChars);
    targets->push_back(target);
}

int AddArgumentTargets(ScanTargetList* targets, int argc, char* const* argv) {
    int added = 0;
    auto add = [](void* list, const char* target) { AddScanTarget(static_cast<ScanTargetList*>(list), target); };
    for (int i = 1; i < argc; ++i)
        if (argv[i]) added += SplitTargetArgument(argv[i], add, targets);
    return added;
}

void AddFixedDriveTargets(ScanTargetList* targets) {
    char drives[260] = {};
    DWORD length = ::GetLogicalDriveStringsA(sizeof(drives), drives);
    if (length == 0 || length >= sizeof(drives)) return;
    for (const char* drive = drives; *drive; drive += std::strlen(drive) + 1) {
        if (::GetDriveTypeA(drive) != DRIVE_FIXED) continue;
        char name[3] = {drive[0], drive[1], '\0'};
        AddScanTarget(targets, name);
    }
}

void ScanMutexName(const ScanTargetList& targets, char* name, size_t size) {
    uint32_t sum = 0;
    for (const ScanTarget& target : targets) {
        char lower[sizeof(ScanTarget::path)];
        CopyBounded(lower, target.path, kMaxPathChars);
        DWORD length = static_cast<DWORD>(std::strlen(lower));
        // Code-page aware, so the trail byte of a double-byte character stays as it is.
        ::CharLowerBuffA(lower, length);
        sum += Crc32(lower, length);
    }
    std::snprintf(name, size, "Kxscan_%lx", static_cast<unsigned long>(sum));
}

int IsScanRunning(const ScanTargetList& targets) {
    char name[32];
    ScanMutexName(targets, name, sizeof(name));
    fw::UniqueHandle mutex(::CreateMutexA(nullptr, TRUE, name));
    if (!mutex) return 1;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::ReleaseMutex(mutex.get());
        return 1;
    }
    g_scanMutex = std::move(mutex);
    return 0;
}
