// The application object: one static instance whose InitInstance runs the
// whole life of the process.
#pragma once

#include <windows.h>

namespace fw {

class App {
public:
    App();
    virtual ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // Runs the program. Returning false ends the process without entering a
    // message loop of the application's own.
    virtual bool InitInstance() = 0;

    HINSTANCE Instance() const { return instance_; }
    HWND MainWindow() const { return mainWindow_; }
    void SetMainWindow(HWND window) { mainWindow_ = window; }

    static App* Current();

    // Called by WinMain; returns the process exit code.
    int Run(HINSTANCE instance);

private:
    HINSTANCE instance_ = nullptr;
    HWND mainWindow_ = nullptr;
};

}  // namespace fw
