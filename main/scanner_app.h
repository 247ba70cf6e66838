// The application object: start-up, the modal scan window, and the updater
// run once the window has closed.
#pragma once

#include "app/startup_options.h"
#include "framework/app.h"

class ScannerApp : public fw::App {
public:
    bool InitInstance() override;

    // Reads the process's arguments into the option switches.
    void ParseCommandLine();

    StartupOptions& Options();
};

// The one application object of the process.
ScannerApp& TheApp();
