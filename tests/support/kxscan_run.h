// kxscan.exe in an installation of its own, with an engine and every engine
// call traced in Logs\kxlog.01, for the tests that drive the real window.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace kxtest {

using Files = std::vector<std::pair<std::string, std::string>>;

// file100.txt, file101.txt, ...: the first `infected` hold the word that
// KxscanRun's engine reports by default.
Files NumberedFiles(int count, int infected = 0);

// Runs a command of the system's shell (drive Z: is the Linux root) and
// returns what it printed; Wine gives no handle to wait on for a Unix
// process, so a file marks its end.
std::string Shell(const std::string& script);

// Backslashes doubled, as kxlogcat prints them.
std::string Escaped(std::string text);

struct KxscanRun {
    enum Engine { kNoEngine, kStandIn };
    // The stand-in engine with a kxsoc.sig of `signatures`, by default one
    // that reports (as Test.Infected) and repairs files holding INFECTED.
    explicit KxscanRun(Engine engine = kStandIn,
                       const std::vector<std::string>& signatures = {"Test.Infected | 0 | 1 | repair | 494e464543544544"});
    ~KxscanRun();

    // Writes `files` under data\ and starts kxscan.exe `options` on it, the
    // engine taking `delayMs` a call.
    bool Start(const Files& files, const std::string& options = "", DWORD delayMs = 0);
    std::string Text(int id) const;
    bool WaitForText(int id, const std::string& text, DWORD timeoutMs = 15000) const;
    // Occurrences of `word` in the debug log.
    int Lines(const std::string& word) const;
    bool WaitForLines(const std::string& word, int count, DWORD timeoutMs = 20000) const;
    // A log of Logs\ as kxlogcat prints it.
    std::string Log(const char* name) const;
    // The message box the window has open, waiting for it.
    HWND WaitForBox(DWORD timeoutMs = 5000) const;
    bool Ended(DWORD timeoutMs = 10000) { return child.Wait(timeoutMs); }
    std::string Data(const std::string& name) const { return install.File("data\\" + name); }

    ProductRegistry registry;
    TempInstallDir install;
    ChildProcess child;
    HWND window = nullptr;
};

// Whether `done` holds within `timeoutMs`, looking every 20 ms.
template <typename Done>
bool Until(Done done, DWORD timeoutMs) {
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < timeoutMs; ::Sleep(20))
        if (done()) return true;
    return false;
}

// A list-view message whose parameter points into the list's own process.
void RemoteListCall(HWND list, UINT message, WPARAM row, LVITEMA* item, char* text);
// "name|path|state|code|checked" of each row of the window's findings list, top first.
std::vector<std::string> Rows(HWND window);

// A text of section SCANNER of the library the test's installation uses.
std::string ScannerText(const char* key);

}  // namespace kxtest
