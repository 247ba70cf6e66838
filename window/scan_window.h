// The program's only window: a modal dialog on template 102 that holds the
// state the scan, the findings list and the cure share.
#pragma once

#include <windows.h>

#include <atomic>
#include <ctime>
#include <mutex>

#include "framework/dialog.h"
#include "framework/thread.h"
#include "scan/scan_targets.h"

// Scan states: one bit each.
constexpr DWORD kStateInitialising = 1;
constexpr DWORD kStateStarting = 2;
constexpr DWORD kStateScanning = 4;
constexpr DWORD kStateScanEnded = 8;
constexpr DWORD kStateCuring = 16;
constexpr DWORD kStateFinished = 32;

// Sent by ScanThread when it ends; sent to the window to mark the count final.
constexpr UINT kMsgScanEnded = WM_USER + 101;
constexpr UINT kMsgCountingDone = WM_USER + 102;

constexpr UINT_PTR kRefreshTimer = 1000;
constexpr UINT kRefreshPeriodMs = 168;

class ScanWindow : public fw::Dialog {
public:
    explicit ScanWindow(HWND parent);

    // The file ScanThread is on; handed between threads under a lock.
    void SetCurrentFile(const char* path);
    void CopyCurrentFile(char* buffer, size_t size) const;

    // Shared with the worker threads. Each word has one writer at a time;
    // readers accept a value that is a moment old.
    std::atomic<DWORD> scanState{kStateInitialising};
    std::atomic<DWORD> cancel{0};
    std::atomic<DWORD> paused{0};
    std::atomic<DWORD> countingDone{0};
    std::atomic<DWORD> progressFrozen{0};
    std::atomic<DWORD> statusLine{0};
    std::atomic<DWORD> total{0};
    const DWORD provisionalTotal = 30000;
    std::atomic<DWORD> filesVisited{0};
    std::atomic<DWORD> infections{0};

    // Complete before either worker starts; only read afterwards.
    ScanTargetList targets;
    fw::WorkerThread countThread;
    fw::WorkerThread scanThread;
    time_t startTime = 0;

protected:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnInitDialog() override;
    bool PreTranslateMessage(MSG* msg) override;

private:
    mutable std::mutex currentFileLock_;
    char currentFile_[520] = {};
    HICON icon_;
};

// A finding the engine reported for the current file. Until the findings
// list exists it only counts the infections.
void AddFinding(ScanWindow* window, LONG result, LONG kind, const char* name);
