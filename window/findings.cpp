// Findings: each detection the scan reports becomes a checked row at the top
// of the list, with its category and result code.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "app/local_text.h"
#include "scan/cure_pass.h"
#include "window/result_texts.h"
#include "window/scan_window.h"

namespace {

constexpr LONG kInfectionBits = 0x0001 | 0x0002 | 0x0004;
constexpr LONG kIncurableBit = 0x1000;

const char* CategoryKey(LONG kind) {
    switch (kind) {
    case 5:
    case 6:
        return "AdSpyware";
    case 7:
    case 8:
        return "InjureProgram";
    case 9:
        return "HackingTool";
    default:
        return "Virus";
    }
}

// Bytes of `text` that fit `room`, never ending inside a double-byte character.
size_t FittingBytes(const char* text, size_t room) {
    size_t length = 0;
    while (text[length]) {
        const size_t step = (::IsDBCSLeadByte(static_cast<BYTE>(text[length])) && text[length + 1]) ? 2 : 1;
        if (length + step > room) break;
        length += step;
    }
    return length;
}

const char* CodeText(int code) {
    switch (code) {
    case kCodeCuredRow:
        return "8";
    case kCodeDeletedRow:
        return "512";
    default:
        return "16";
    }
}

}  // namespace

void BuildStateText(const char* category, const char* suffix, char* out, size_t size) {
    if (size == 0) return;
    const size_t categoryLength = FittingBytes(category, size - 1);
    std::memcpy(out, category, categoryLength);
    size_t used = categoryLength;
    const size_t suffixLength = used + 2 < size - 1 ? FittingBytes(suffix, size - 1 - used - 2) : 0;
    if (suffixLength > 0) {
        out[used++] = '(';
        std::memcpy(out + used, suffix, suffixLength);
        used += suffixLength;
        out[used++] = ')';
    }
    out[used] = '\0';
}

void ScanWindow::AddFinding(LONG result, LONG kind, const char* name, const char* path) {
    if (result == 0 || result == -1 || !(result & (kInfectionBits | kIncurableBit))) return;
    const char* category = "";
    const char* suffix = "";
    if (result & kInfectionBits) {
        ++infections_;
        category = CachedLocalText("SCANNER", CategoryKey(kind));
        if (result & kIncurableBit) suffix = CachedLocalText("SCANNER", "IncurableZip");
    }
    char state[260];
    BuildStateText(category, suffix, state, sizeof(state));
    marks_.push_back({(result & kInfectionBits) != 0, false});

    // The newest finding shows first.
    findings_.SetItem(0, 0, name);
    findings_.SetItem(0, 1, path);
    findings_.SetItem(0, 2, state);
    findings_.SetItem(0, 3, CodeText(kCodeUncuredRow));
    findings_.CheckGroup(0, true);
    findings_.Header().SetHeaderChecked(true);
}

void ScanWindow::ListReportedFindings() {
    {
        std::lock_guard<std::mutex> lock(reportedLock_);
        listing_.swap(reported_);
    }
    if (listing_.empty()) return;
    // One layout and one repaint of the list for the whole batch.
    HWND list = findings_.Handle();
    ::SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    for (const FindingReport& report : listing_) AddFinding(report.result, report.kind, report.name, report.path);
    listing_.clear();
    ::SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    ::RedrawWindow(list, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}
