#include "app/ansi_text.h"
#include "app/startup_options.h"

void ApplyOptionArguments(int argc, char* const* argv, StartupOptions* options) {
    for (int i = 1; i < argc; ++i) {
        if (!argv[i]) continue;
        switch (MatchCommandOption(argv[i])) {
        case CommandOption::kSystemAreas:
            options->systemAreas = 1;
            break;
        case CommandOption::kQuickScan:
            options->quickScan = 1;
            break;
        case CommandOption::kClosedScan:
            options->closeWhenClean = 1;
            options->targetsGiven = 1;
            break;
        case CommandOption::kHidden:
            options->hiddenWindow = 1;
            break;
        case CommandOption::kAutoCure:
            options->autoCure = 1;
            break;
        case CommandOption::kAllDrives:
            options->allLocalDrives = 1;
            break;
        case CommandOption::kNone:
            break;
        }
    }
}
