// The texts a scan's results are told in, apart from the window so that each
// rule can be checked on its own: a finding's state cell, the end-of-scan
// summary, the targets named in the event log, and whether the end of a scan
// counts as the last full scan.
#pragma once

#include <cstddef>

#include "scan/scan_targets.h"

// The state cell: the category, and the suffix in parentheses when there is
// one. The cell holds 259 characters: the category stays whole and the
// suffix is shortened (never inside a double-byte character).
void BuildStateText(const char* category, const char* suffix, char* out, size_t size);

// `format` of the text library with its first two "%d" (or "%u", "%i")
// filled with `first` and `second` and "%%" made "%"; any other "%" stays as
// it is, so a library text can never read arguments that are not there.
void FormatCounts(const char* format, unsigned long first, unsigned long second, char* out, size_t size);

// Whether a finished scan that visited files writes LastScan: by the number
// of command-line arguments (the program's name included) and the switches.
bool ShouldWriteLastScan(int argumentCount, bool systemAreas, bool quickScan, bool hiddenWindow);

// Appends the targets to `text` for the event log: "(" the full-scan text ")"
// for all local drives, else the paths joined by "," in parentheses, ending
// in "......" once they pass 250 characters; nothing for an empty list.
void AppendTargetPart(char* text, size_t size, const ScanTargetList& targets, bool allLocalDrives,
                      const char* fullScanText);
