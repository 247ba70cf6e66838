// The scan window's object, its initialisation, the scan's start, the
// reports of the workers and the one switch over every message it handles.
#include "window/scan_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <cstdio>
#include <cstring>

#include "app/local_text.h"
#include "app/startup.h"
#include "framework/app.h"
#include "resources/resource.h"

namespace {

constexpr int kWidth = 594;
constexpr int kHeight = 300;
constexpr int kMoveBandHeight = 24;  // a press above this row moves the window
constexpr WPARAM kMoveByCaption = 0xF012;
// Findings reported beyond this many between two ticks make ScanThread wait
// until the window has listed them, which bounds the memory they take.
constexpr size_t kFindingBatch = 1024;

}  // namespace

ScanWindow::ScanWindow(HWND parent)
    : fw::Dialog(IDD_SCAN_WINDOW, parent),
      icon_(::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN))),
      job_(this) {}

// The workers use this object and the engine: both must outlast them.
ScanWindow::~ScanWindow() { job_.Stop(); }

BOOL ScanWindow::OnInitDialog() {
    HWND window = Handle();
    reportTo_ = window;
    // The dialog has no caption: the region and the background are the frame.
    ::SetWindowRgn(window, ::CreateRoundRectRgn(0, 0, kWidth + 1, kHeight + 1, 11, 11), TRUE);
    skin_.reset(::LoadBitmapA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_BACKGROUND)));
    title_.Attach(window, IDC_TITLE);
    minimize_.Attach(window, IDC_MINIMIZE);
    close_.Attach(window, IDC_CLOSE);
    file_.Attach(window, IDC_CURRENT_FILE);
    progressBar_.Attach(window, IDC_PROGRESS);
    percent_.Attach(window, IDC_PERCENT);
    findings_.Attach(window, IDC_FINDINGS);
    check_.Attach(window, IDC_SHUTDOWN_CHECK);
    caption_.Attach(window, IDC_SHUTDOWN_CAPTION);
    pause_.Attach(window, IDC_PAUSE);
    cancel_.Attach(window, IDC_CANCEL_SCAN);

    ::SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    if (fw::App* app = fw::App::Current()) app->SetMainWindow(window);
    ::SetWindowLongPtrA(window, GWL_STYLE, ::GetWindowLongPtrA(window, GWL_STYLE) | WS_SYSMENU | WS_MINIMIZEBOX);
    ::SetWindowTextA(window, ProcessOptions().title);
    ::SetWindowPos(window, nullptr, 0, 0, kWidth, kHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    CenterAndRaise();
    background_.reset(::CreateSolidBrush(RGB(215, 240, 240)));
    LayoutControls();
    if (!StartScan() && ProcessOptions().hiddenWindow) ::SendMessageA(window, WM_CLOSE, 0, 0);
    // Not the first tab stop (the list): Space at once would pause the scan.
    FocusOn(pause_.Handle());
    return FALSE;
}

void ScanWindow::FocusOn(HWND control) {
    const LONG style = ::GetWindowLongA(control, GWL_STYLE);
    if ((style & WS_DISABLED) || !(style & WS_VISIBLE)) control = ::GetNextDlgTabItem(Handle(), control, FALSE);
    if (control) ::SendMessageA(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void ScanWindow::KeepFocus(HWND control) {
    // Disabling may leave the focus nowhere, hiding on the window itself.
    HWND focus = ::GetFocus();
    if (!focus || focus == control || focus == Handle()) FocusOn(control);
}

int ScanWindow::StartScan() {
    switch (job_.StartCounting()) {
    case ScanJob::Start::kNoEngine:
        // Nothing to pause; only the way out stays.
        ShowEngineFailure();
        ::EnableWindow(pause_.Handle(), FALSE);
        return 0;
    case ScanJob::Start::kAlreadyRunning:
        EndDialog(IDCANCEL);
        return 0;
    case ScanJob::Start::kCounting:
        break;
    }
    job_.scanState = kStateStarting;
    statusLine_ = 1;
    ::InvalidateRect(Handle(), nullptr, FALSE);
    const bool started = job_.StartScanThread();
    startTime_ = std::time(nullptr);
    ::SetTimer(Handle(), kRefreshTimer, kRefreshPeriodMs, nullptr);
    // Without a ScanThread nobody would end the scan.
    if (!started) OnScanEnded();
    return 1;
}

void ScanWindow::ProgressRange(DWORD maximum) {
    if (HWND window = reportTo_) ::SendMessageA(window, kMsgProgressRange, 0, maximum);
}

void ScanWindow::Finding(LONG result, LONG kind, const char* name, const char* path) {
    HWND window = reportTo_;
    if (!window) return;
    size_t waiting = 0;
    {
        std::lock_guard<std::mutex> lock(reportedLock_);
        FindingReport& report = reported_.emplace_back();
        report.result = result;
        report.kind = kind;
        std::snprintf(report.name, sizeof(report.name), "%s", name);
        std::snprintf(report.path, sizeof(report.path), "%s", path);
        waiting = reported_.size();
    }
    if (waiting >= kFindingBatch) ::SendMessageA(window, kMsgFinding, 0, 0);
}

void ScanWindow::ScanEnded() {
    if (HWND window = reportTo_) ::SendMessageA(window, kMsgScanEnded, 0, 0);
}

void ScanWindow::OnCancel() {
    ::ShowWindow(Handle(), SW_HIDE);
    fw::Dialog::OnCancel();
}

void ScanWindow::SetCaption(SkinButton& button, const char* key) {
    char text[260];
    GetLocalText("SCANNER", key, text, sizeof(text));
    ::SetWindowTextA(button.Handle(), text);
    ::InvalidateRect(button.Handle(), nullptr, TRUE);
}

void ScanWindow::Answer(LRESULT result) { ::SetWindowLongPtrA(Handle(), DWLP_MSGRESULT, result); }

INT_PTR ScanWindow::ColorStatic(WPARAM wParam, LPARAM lParam) {
    INT_PTR answer = Default(WM_CTLCOLORSTATIC, wParam, lParam);
    HDC dc = reinterpret_cast<HDC>(wParam);
    HWND control = reinterpret_cast<HWND>(lParam);
    if (control == file_.Handle()) {
        ::SetTextColor(dc, RGB(51, 51, 51));
        ::SetBkColor(dc, RGB(255, 255, 255));
        background_.reset(::CreateSolidBrush(RGB(255, 255, 255)));
        return reinterpret_cast<INT_PTR>(background_.get());
    }
    if (control == caption_.Handle()) {
        ::SetTextColor(dc, RGB(40, 40, 40));
        ::SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<INT_PTR>(::GetStockObject(NULL_BRUSH));
    }
    return answer;
}

bool ScanWindow::PreTranslateMessage(MSG* msg) {
    // Tooltips of the skinned buttons see the mouse through here.
    for (SkinButton* button : {&cancel_, &minimize_, &close_, &check_, &pause_}) button->PreTranslateMessage(msg);
    // Neither key may close or confirm the window; a message box opened from
    // it runs through this filter too and keeps both.
    if (msg->message != WM_KEYDOWN || (msg->wParam != VK_ESCAPE && msg->wParam != VK_RETURN)) return false;
    return msg->hwnd == Handle() || ::IsChild(Handle(), msg->hwnd);
}

INT_PTR ScanWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        if (!::IsIconic(Handle())) break;
        PaintMinimised();
        return TRUE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(icon_);
    case WM_ERASEBKGND:
        EraseBackground(reinterpret_cast<HDC>(wParam));
        Answer(0);
        return TRUE;
    case WM_CTLCOLORSTATIC:
        return ColorStatic(wParam, lParam);
    case WM_LBUTTONDOWN:
        if (GET_Y_LPARAM(lParam) >= kMoveBandHeight) break;
        ::SendMessageA(Handle(), WM_SYSCOMMAND, kMoveByCaption, 0);
        return TRUE;
    case WM_TIMER:
        if (wParam == kCureRefreshTimer) {
            ShowCureProgress();
            break;
        }
        ListReportedFindings();
        RefreshProgress();
        break;
    case WM_CLOSE:
        OnCloseCommand(CloseSource::kCloseRequest);
        return TRUE;
    case WM_WINDOWPOSCHANGING:
        // In hidden mode the window may appear only once something was found.
        if (ProcessOptions().hiddenWindow && infections_ == 0)
            reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
        break;
    case WM_DESTROY:
        // The workers' last reports are answered while they stop: a finding
        // or an end is dropped, a cure outcome still marks its row.
        closing_ = true;
        job_.Stop();
        reportTo_ = nullptr;
        // The pass stopped after its row: what it left is recorded as left.
        if (leaveUncured_) RecordUncured();
        break;
    case kMsgCureRestart:
        ::WaitForSingleObject(job_.cureThread.handle.get(), INFINITE);
        StartCurePass();
        return TRUE;
    case kMsgFinding:
        if (!closing_) ListReportedFindings();
        Answer(1);
        return TRUE;
    case kMsgProgressRange:
        // Decided here, where the end freezes the progress: a count that
        // ends with the scan never leaves its range beside the end's.
        if (!job_.progressFrozen) ::SendMessageA(progressBar_.Handle(), PBM_SETRANGE32, 0, lParam);
        Answer(0);
        return TRUE;
    case kMsgScanEnded:
        if (!closing_) OnScanEnded();
        Answer(0);
        return TRUE;
    case kMsgCountingDone:
        job_.countingDone = 1;
        Answer(0);
        return TRUE;
    case kMsgEngineResult:
        if (!closing_) OnEngineResult(wParam);
        Answer(0);
        return TRUE;
    case kMsgCureEnded:
        ShowReportedOutcome();
        if (!closing_) OnCureEnded();
        Answer(0);
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED) break;
        switch (LOWORD(wParam)) {
        case IDC_CANCEL_SCAN:
            OnCloseCommand(CloseSource::kCancelButton);
            return TRUE;
        case IDC_CLOSE:
            OnCloseCommand(CloseSource::kCloseButton);
            return TRUE;
        case IDC_MINIMIZE:
            ::ShowWindow(Handle(), SW_MINIMIZE);
            return TRUE;
        case IDC_PAUSE:
            PauseOrCure();
            return TRUE;
        }
        break;
    default: {
        LRESULT answer = 0;
        if (!OnCureMessage(message, wParam, lParam, &answer)) break;
        Answer(answer);
        return TRUE;
    }
    }
    return fw::Dialog::OnMessage(message, wParam, lParam);
}
