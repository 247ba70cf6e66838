#include "main/scanner_app.h"

#include <cstdlib>

#include "app/install_paths.h"
#include "app/startup.h"
#include "window/scan_window.h"

namespace {
ScannerApp theApp;
}

ScannerApp& TheApp() { return theApp; }

StartupOptions& ScannerApp::Options() { return ProcessOptions(); }

bool ScannerApp::InitInstance() {
    // Without arguments nothing is read or written and no window appears.
    if (__argc < 2) return false;

    ParseCommandLine();
    LoadStartupSettings(&Options());
    {
        // The window's end waits for the workers to leave the engine.
        ScanWindow window(nullptr);
        window.DoModal();
    }
    SetMainWindow(nullptr);
    RunPendingUpdate(Options());
    return false;
}

void ScannerApp::ParseCommandLine() {
    StartupOptions& options = Options();
    options.systemAreas = 0;
    options.closeWhenClean = 0;
    options.targetsGiven = 0;
    options.allLocalDrives = 0;

    EnableDebugPrivilege();

    char message[1024] = {};
    options.agentType = static_cast<DWORD>(GetAgentType(message));

    ApplyOptionArguments(__argc, __argv, &options);
}
