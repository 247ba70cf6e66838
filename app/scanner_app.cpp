#include "app/scanner_app.h"

#include <cstdlib>

#include "app/install_paths.h"
#include "app/startup.h"
#include "window/scan_window.h"

namespace {
ScannerApp theApp;
}

ScannerApp& TheApp() { return theApp; }

bool ScannerApp::InitInstance() {
    // Without arguments nothing is read or written and no window appears.
    if (__argc < 2) return false;

    ParseCommandLine();
    LoadStartupSettings(&options_);
    {
        ScanWindow window(nullptr);
        window.DoModal();
        SetMainWindow(nullptr);
        RunPendingUpdate(options_);
    }
    return false;
}

void ScannerApp::ParseCommandLine() {
    options_.systemAreas = 0;
    options_.closeWhenClean = 0;
    options_.targetsGiven = 0;
    options_.allLocalDrives = 0;

    EnableDebugPrivilege();

    char message[1024] = {};
    options_.agentType = static_cast<DWORD>(GetAgentType(message));

    ApplyOptionArguments(__argc, __argv, &options_);
}
