// The program's only window: a modal dialog on template 102 that owns the
// scan job, shows its progress and findings, and answers the user's buttons
// and the reports of the worker threads.
//
// Files of this folder: scan_window.cpp (construction, initialisation, the
// workers' reports and the message switch), window_layout.cpp (shape,
// background, placing of the controls), progress_refresh.cpp (the timer's
// refresh), close_questions.cpp (pause, the stop and close questions and the
// close paths), findings.cpp (rows of the findings list), cure.cpp (the
// window's side of a cure pass), scan_end.cpp (the end of a scan).
#pragma once

#include <windows.h>

#include <atomic>
#include <ctime>
#include <mutex>
#include <vector>

#include "controls/findings_list.h"
#include "controls/skin_button.h"
#include "controls/skin_label.h"
#include "controls/skin_progress.h"
#include "framework/dialog.h"
#include "framework/handles.h"
#include "scan/scan_job.h"
#include "window/progress_refresh.h"

// Messages of the window. Other components of the product rely on the
// WM_USER numbers; the findings message (ScanThread waiting until a full
// batch of findings is listed) is the window's own.
constexpr UINT kMsgScanEnded = WM_USER + 101;
constexpr UINT kMsgCountingDone = WM_USER + 102;
constexpr UINT kMsgEngineResult = WM_USER + 103;
constexpr UINT kMsgCureEnded = WM_USER + 104;
constexpr UINT kMsgFinding = WM_APP + 1;
constexpr UINT kMsgCureRestart = WM_APP + 5;
constexpr UINT kMsgProgressRange = WM_APP + 6;

constexpr UINT_PTR kRefreshTimer = 1000;
constexpr UINT_PTR kCureRefreshTimer = 1001;  // while a cure pass runs
constexpr UINT kRefreshPeriodMs = 168;

class ScanWindow : public fw::Dialog, private ScanReports {
public:
    explicit ScanWindow(HWND parent);
    ~ScanWindow() override;

    ScanJob& Job() { return job_; }
    void SetScanState(DWORD state) { job_.scanState = state; }

    // The scan's start, the last step of the initialisation. 1 when the scan
    // was started, 0 when not (no engine, or the same scan runs already: the
    // window is then dismissed).
    int StartScan();

    // The timer's refresh: status line, slow-file watch, progress, percentage.
    void RefreshProgress();

    // Questions and close paths (close_questions.cpp).
    int ConfirmStop();
    int ConfirmLeaveFindings();
    int MayClose();
    void RecordUncured();
    void PauseOrCure();

    // Layout (window_layout.cpp).
    void LayoutControls();
    void CenterAndRaise();

protected:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnInitDialog() override;
    bool PreTranslateMessage(MSG* msg) override;
    // Every close ends here: the window hides first, so that nobody watches
    // it wait for the workers.
    void OnCancel() override;

private:
    enum class CloseSource { kCancelButton, kCloseButton, kCloseRequest };

    // ScanReports, called on the worker threads.
    void ProgressRange(DWORD maximum) override;
    void Finding(LONG result, LONG kind, const char* name, const char* path) override;
    void ScanEnded() override;
    int CureRowCount() override;
    bool CureFinding(int row, char (&name)[260], char (&path)[520]) override;
    void CureOutcome(int row, LONG result) override;
    void CureEnded() override;

    // Window-thread handlers of the reports and of WM_USER+101..104.
    void AddFinding(LONG result, LONG kind, const char* name, const char* path);
    void ListReportedFindings();
    void OnScanEnded();
    void OnEngineResult(WPARAM started);
    void OnCureEnded();
    bool OnCureMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* answer);
    void ShowCureOutcome(int row, LONG result);
    void ShowReportedOutcome();
    void ShowCureProgress();
    void StartCurePass();
    void ShowEngineFailure();

    // The keyboard focus goes to `control`, or on to the next control that
    // can take it when `control` is disabled or hidden. KeepFocus, after
    // `control` was disabled or hidden, does so when the focus was on it.
    void FocusOn(HWND control);
    void KeepFocus(HWND control);

    void OnCloseCommand(CloseSource source);
    void AskToStop();
    bool ScanThreadExists() const { return static_cast<bool>(job_.scanThread.handle); }
    void PaintMinimised();
    void EraseBackground(HDC dc);
    INT_PTR ColorStatic(WPARAM wParam, LPARAM lParam);
    void SetCaption(SkinButton& button, const char* key);
    void Answer(LRESULT result);

    // What the timer's refresh keeps between ticks.
    ProgressState progress_;
    SlowFileWatch slowFile_;
    time_t startTime_ = 0;
    time_t elapsed_ = 0;
    DWORD pauseMode_ = 1;  // 1: button 1011 pauses and resumes; 0: it cures
    DWORD paused_ = 0;
    DWORD statusLine_ = 0;
    DWORD infections_ = 0;
    DWORD cured_ = 0;  // infections that a cure pass has handled, each once
    // Per finding, in the order found (the first is the bottom row): whether
    // it is an infection, and whether a pass has handled it.
    struct FindingMark {
        bool infection;
        bool handled;
    };
    std::vector<FindingMark> marks_;
    bool closing_ = false;
    bool restartCure_ = false;   // a declined close restarts the cure once the stopping pass has ended
    bool leaveUncured_ = false;  // a close confirmed during a pass records what is left uncured

    // Findings that ScanThread reported and the window has not listed yet,
    // oldest first. The window lists them on its timer's tick, all in one
    // batch: under Wine a message to the window thread and back costs about
    // a millisecond, and an insertion into a list that redraws lays out the
    // list and its scroll bar again, some milliseconds more; a finding cost
    // 30 ms this way. ScanThread waits only when a batch is full.
    struct FindingReport {
        LONG result;
        LONG kind;
        char name[260];
        char path[520];
    };
    std::mutex reportedLock_;
    std::vector<FindingReport> reported_;
    std::vector<FindingReport> listing_;  // the window thread's, between two batches

    // A cure pass shows its outcomes on its own tick: the rows the list has
    // to scroll by, and whether the list needs a repaint. A scroll of the
    // list and a move of the bar each repaint at once under Wine (about
    // 3 ms and 0.4 ms), and the pass waited for both on every row.
    int cureScrollRows_ = 0;
    bool cureRowsChanged_ = false;
    // The outcome CureThread reported last, shown in its row when the pass's
    // next message (its next row, or its end) reaches the window: a message
    // to the window thread and back costs about half a millisecond under
    // Wine, and each row made two. Written by CureThread before that message,
    // read by the window thread while it answers it.
    struct CureReport {
        int row;
        LONG result;
        bool due;
    };
    CureReport cureReport_{};

    fw::UniqueBrush background_;
    fw::UniqueBitmap skin_;
    fw::UniqueFont font_;
    fw::UniqueFont boldFont_;
    SkinLabel title_;
    SkinLabel file_;
    SkinLabel caption_;
    SkinLabel percent_;
    SkinButton cancel_;
    SkinButton minimize_;
    SkinButton close_;
    SkinButton check_;
    SkinButton pause_;
    SkinProgress progressBar_;
    FindingsList findings_;
    HICON icon_;

    // Where the workers' reports go; cleared when the window goes away.
    std::atomic<HWND> reportTo_{nullptr};
    ScanJob job_;
};
