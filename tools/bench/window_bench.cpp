// window_bench: the scan window's own costs, one measurement per process
// (tools/bench/run-bench.sh runs it beside scan_bench).
//
//   window_bench refresh FOLDER [ROWS]
//                                     the timer's refresh and the paints it
//                                     causes, tick by tick at the timer's pace,
//                                     in a scan window of this process scanning
//                                     FOLDER, with ROWS rows (1,000 unless
//                                     given) in its findings list; then the
//                                     list scrolled a page at a time and a row
//                                     at a time (as a cure pass scrolls it),
//                                     each step repainted
//   window_bench objects FOLDER       a scan window of this process scanning
//                                     FOLDER: handles and GDI objects once the
//                                     scan runs and the window has painted,
//                                     and again once the scan has ended, and
//                                     the peak working set
//   window_bench window-scan EXE FOLDER [OPTION...]
//                                     kxscan.exe EXE on FOLDER: files per
//                                     second from the moment its window shows
//                                     (ScanThread starts then) to the summary;
//                                     the seconds from the process's start
//                                     to the summary (a busy window thread
//                                     shows its window late);
//                                     its peak working set and its handles
//                                     after start-up and at the end
//   window_bench window-cure EXE FOLDER
//                                     kxscan.exe EXE /AC on FOLDER: the cure
//                                     pass that follows the scan, from the
//                                     summary to the moment the Cure button
//                                     goes (every finding handled)
//
// Wine counts neither handles nor GDI objects (GetProcessHandleCount and
// GetGuiResources answer 0), so both are counted by trying every value:
// handles by duplicating them, GDI objects by asking for their type, which
// Wine answers for a table index alone. GDI objects can only be counted in
// the process that owns them.
//
// Prints one line of key=value pairs.
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "resources/resource.h"
#include "window/scan_window.h"

namespace {

constexpr int kTicks = 25;  // about 4 s of a scan of 20,000 files
constexpr int kScrollSteps = 40;

ScanWindow* g_window = nullptr;
int g_rows = 1000;

DWORD CountHandles(HANDLE process) {
    DWORD count = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        HANDLE copy = nullptr;
        if (::DuplicateHandle(process, reinterpret_cast<HANDLE>(value), ::GetCurrentProcess(), &copy, 0, FALSE,
                              DUPLICATE_SAME_ACCESS)) {
            ::CloseHandle(copy);
            ++count;
        }
    }
    return count;
}

DWORD CountGdiObjects() {
    if (DWORD reported = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS)) return reported;
    DWORD count = 0;
    for (ULONG_PTR value = 1; value < 0x10000; ++value)
        if (::GetObjectType(reinterpret_cast<HGDIOBJ>(value))) ++count;
    return count;
}

SIZE_T PeakWorkingSet(HANDLE process) {
    PROCESS_MEMORY_COUNTERS memory{};
    ::GetProcessMemoryInfo(process, &memory, sizeof(memory));
    return memory.PeakWorkingSetSize;
}

// The status line: " | " and a path while the scan runs, the summary (no
// backslash) once it has ended.
bool ScanRuns(HWND window, bool* ended) {
    char status[2048] = {};
    if (!window || !::GetDlgItemTextA(window, IDC_CURRENT_FILE, status, sizeof(status))) return false;
    const char* text = std::strstr(status, " | ");
    if (!text) return false;
    *ended = std::strchr(text, '\\') == nullptr;
    return true;
}

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / frequency.QuadPart;
}

void FillList(HWND list) {
    char name[32];
    ::SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    for (int row = 0; row < g_rows; ++row) {
        std::snprintf(name, sizeof(name), "Bench.Finding.%04d", row);
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.pszText = name;
        ::SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        const char* cells[] = {"C:\\bench\\some\\folder\\file.txt", "Virus", "16"};
        for (int column = 1; column < 4; ++column) {
            item.iSubItem = column;
            item.pszText = const_cast<char*>(cells[column - 1]);
            ::SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        }
    }
    ::SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
}

// Microseconds per step: `scroll` and the repaint it causes, `steps` times.
template <typename Scroll>
double TimeScrolling(HWND list, Scroll scroll) {
    const double start = Now();
    for (int step = 0; step < kScrollSteps; ++step) {
        scroll();
        ::UpdateWindow(list);
    }
    return (Now() - start) * 1e6 / kScrollSteps;
}

// Between two ticks the window answers what the scan thread sends, as it does
// under the real timer. Ticks back to back would stall the scan on its next
// message: the status line would stop changing, and the refresh would take the
// file for a slow one and time its registry writes instead.
void AnswerUntilNextTick() {
    const double until = Now() + kRefreshPeriodMs / 1000.0;
    while (Now() < until) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    }
}

// On the window's thread, once the scan runs: the refresh and the paints it
// causes, tick after tick.
VOID CALLBACK MeasureRefresh(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND window = g_window->Handle();
    bool ended = false;
    if (!ScanRuns(window, &ended)) return;
    ::KillTimer(nullptr, timer);
    FillList(::GetDlgItem(window, IDC_FINDINGS));
    const UINT flush = RDW_UPDATENOW | RDW_ALLCHILDREN;
    ::RedrawWindow(window, nullptr, nullptr, flush);
    double seconds = 0;
    for (int tick = 0; tick < kTicks; ++tick) {
        const double start = Now();
        g_window->RefreshProgress();
        ::RedrawWindow(window, nullptr, nullptr, flush);
        seconds += Now() - start;
        AnswerUntilNextTick();
    }
    HWND list = ::GetDlgItem(window, IDC_FINDINGS);
    RECT first{};
    first.left = LVIR_BOUNDS;
    ::SendMessageA(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
    const double page = TimeScrolling(list, [list] { ::SendMessageA(list, WM_VSCROLL, SB_PAGEDOWN, 0); });
    ::SendMessageA(list, WM_VSCROLL, SB_TOP, 0);
    const double row = TimeScrolling(list, [list, &first] {
        ::SendMessageA(list, LVM_SCROLL, 0, first.bottom - first.top);
    });
    std::printf("mode=refresh rows=%d ticks=%d us_per_tick=%.1f us_per_page=%.1f us_per_row_scroll=%.1f\n", g_rows,
                kTicks, seconds * 1e6 / kTicks, page, row);
    std::fflush(stdout);
    g_window->EndDialog(IDCANCEL);
}

// On the window's thread: the objects once the scan runs and the window has
// painted (what the first paint makes is kept), then at the scan's end.
VOID CALLBACK CountObjects(HWND, UINT, UINT_PTR timer, DWORD) {
    static int ticks = 0;
    static DWORD handles = 0, gdi = 0;
    bool ended = false;
    HWND window = g_window->Handle();
    if (!ScanRuns(window, &ended)) return;
    ::RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    if (++ticks == 5) {
        handles = CountHandles(::GetCurrentProcess());
        gdi = CountGdiObjects();
        return;
    }
    if (!ended || ticks < 5) return;
    ::KillTimer(nullptr, timer);
    std::printf("mode=objects handles_start=%lu handles_end=%lu gdi_start=%lu gdi_end=%lu peak_ws=%llu\n", handles,
                CountHandles(::GetCurrentProcess()), gdi, CountGdiObjects(),
                static_cast<unsigned long long>(PeakWorkingSet(::GetCurrentProcess())));
    std::fflush(stdout);
    g_window->EndDialog(IDCANCEL);
}

int RunWindow(TIMERPROC measure) {
    ScanWindow window(nullptr);
    g_window = &window;
    ::SetTimer(nullptr, 0, 20, measure);
    window.DoModal();
    return 0;
}

struct WindowSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindScanWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search->pid || !::GetDlgItem(window, IDC_CURRENT_FILE)) return TRUE;
    search->found = window;
    return FALSE;
}

HWND WindowOf(DWORD pid) {
    WindowSearch search{pid, nullptr};
    ::EnumWindows(FindScanWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Starts kxscan.exe by `line` and waits for its window: the scan starts as
// the window's initialisation ends; /HD windows stay hidden, so their start
// is when the window exists. Null when the process cannot start or ends first.
HWND StartKxscan(std::string line, PROCESS_INFORMATION* info) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, info))
        return nullptr;
    ::CloseHandle(info->hThread);
    ::WaitForInputIdle(info->hProcess, 60000);
    HWND window = nullptr;
    while (!(window = WindowOf(info->dwProcessId)) && ::WaitForSingleObject(info->hProcess, 1) == WAIT_TIMEOUT) {
    }
    return window;
}

int MeasureWindowScan(int argc, char** argv) {
    std::string line = std::string("\"") + argv[2] + "\"";
    for (int i = 4; i < argc; ++i) line += std::string(" ") + argv[i];
    line += std::string(" \"") + argv[3] + "\"";
    PROCESS_INFORMATION info{};
    const double launched = Now();
    HWND window = StartKxscan(line, &info);
    if (!info.hProcess) return 1;
    const double start = Now();
    const DWORD handles = CountHandles(info.hProcess);
    char status[2048] = {};
    double end = 0;
    unsigned long files = 0;
    // Every 20 ms: a tighter poll would load the window and the wineserver it measures.
    while (::WaitForSingleObject(info.hProcess, 20) == WAIT_TIMEOUT) {
        if (!::GetDlgItemTextA(window, IDC_CURRENT_FILE, status, sizeof(status))) continue;
        // The summary replaces the path: "time | <text with the file count>".
        const char* text = std::strstr(status, " | ");
        if (!text || std::strchr(text, '\\')) continue;
        end = Now();
        for (const char* at = text; *at && !files; ++at) files = std::strtoul(at, nullptr, 10);
        break;
    }
    const DWORD handlesEnd = CountHandles(info.hProcess);
    const SIZE_T peak = PeakWorkingSet(info.hProcess);
    if (end == 0) end = Now();  // the window closed by itself (/SC, /HD)
    ::TerminateProcess(info.hProcess, 0);
    ::CloseHandle(info.hProcess);
    const double seconds = end - start;
    std::printf("mode=window-scan files=%lu seconds=%.4f files_per_s=%.0f whole_seconds=%.4f "
                "peak_ws=%llu handles_start=%lu handles_end=%lu\n",
                files, seconds, seconds > 0 ? files / seconds : 0.0, end - launched, static_cast<unsigned long long>(peak), handles, handlesEnd);
    return files > 0 ? 0 : 1;
}

// kxscan.exe /AC: from the summary (the scan's end, where the cure starts) to
// the moment the Cure button is hidden (the pass has handled every finding).
int MeasureWindowCure(char** argv) {
    PROCESS_INFORMATION info{};
    HWND window = StartKxscan(std::string("\"") + argv[2] + "\" /AC \"" + argv[3] + "\"", &info);
    if (!info.hProcess) return 1;
    double start = 0;
    double end = 0;
    unsigned long rows = 0;
    while (::WaitForSingleObject(info.hProcess, 20) == WAIT_TIMEOUT) {
        bool ended = false;
        if (start == 0) {
            if (!ScanRuns(window, &ended) || !ended) continue;
            start = Now();
            // "files scanned, N threats": the second number.
            char status[2048] = {};
            ::GetDlgItemTextA(window, IDC_CURRENT_FILE, status, sizeof(status));
            char* at = std::strstr(status, " | ") + 3;
            std::strtoul(at, &at, 10);
            while (*at && !(*at >= '0' && *at <= '9')) ++at;
            rows = std::strtoul(at, nullptr, 10);
        }
        if (::IsWindowVisible(::GetDlgItem(window, IDC_PAUSE))) continue;
        end = Now();
        break;
    }
    ::TerminateProcess(info.hProcess, 0);
    ::CloseHandle(info.hProcess);
    const double seconds = end - start;
    std::printf("mode=window-cure rows=%lu seconds=%.4f us_per_row=%.1f\n", rows, seconds,
                rows ? seconds * 1e6 / rows : 0.0);
    return end > 0 && rows > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "refresh") == 0) {
        if (argc >= 4) g_rows = std::atoi(argv[3]);
        return RunWindow(MeasureRefresh);
    }
    if (argc >= 4 && std::strcmp(argv[1], "window-cure") == 0) return MeasureWindowCure(argv);
    if (argc >= 3 && std::strcmp(argv[1], "objects") == 0) return RunWindow(CountObjects);
    if (argc >= 4 && std::strcmp(argv[1], "window-scan") == 0) return MeasureWindowScan(argc, argv);
    std::fprintf(stderr,
                 "usage: window_bench refresh FOLDER [ROWS] | objects FOLDER | window-scan KXSCAN_EXE FOLDER "
                 "[OPTION...] | window-cure KXSCAN_EXE FOLDER\n");
    return 2;
}
