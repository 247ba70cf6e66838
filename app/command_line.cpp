#include <mbstring.h>

#include "app/startup_options.h"

namespace {

enum class Option { kSystemAreas, kQuickScan, kClosedScan, kHidden, kAutoCure, kAllDrives };

struct OptionName {
    const char* name;
    Option option;
};

// Only the first three characters count: /sc, /SCAN and /Scxyz are all /SC.
constexpr OptionName kOptions[] = {
    {"/PR", Option::kSystemAreas}, {"/QS", Option::kQuickScan}, {"/ED", Option::kQuickScan},
    {"/SC", Option::kClosedScan},  {"/HD", Option::kHidden},    {"/AC", Option::kAutoCure},
    {"/AL", Option::kAllDrives},
};

void Apply(Option option, StartupOptions* options) {
    switch (option) {
    case Option::kSystemAreas:
        options->systemAreas = 1;
        break;
    case Option::kQuickScan:
        options->quickScan = 1;
        break;
    case Option::kClosedScan:
        options->closeWhenClean = 1;
        options->targetsGiven = 1;
        break;
    case Option::kHidden:
        options->hiddenWindow = 1;
        break;
    case Option::kAutoCure:
        options->autoCure = 1;
        break;
    case Option::kAllDrives:
        options->allLocalDrives = 1;
        break;
    }
}

}  // namespace

void ApplyOptionArguments(int argc, char* const* argv, StartupOptions* options) {
    for (int i = 1; i < argc; ++i) {
        const auto* argument = reinterpret_cast<const unsigned char*>(argv[i]);
        if (!argument) continue;
        for (const OptionName& entry : kOptions) {
            // Multi-byte aware, so a lead byte never pairs with a following '/'.
            if (_mbsnbicmp(argument, reinterpret_cast<const unsigned char*>(entry.name), 3) == 0) {
                Apply(entry.option, options);
                break;
            }
        }
    }
}
