// Text rules of the command line and the text library: pure functions over
// the bytes of the ANSI code page, without system calls (the code page's
// lead bytes are passed in), so that the fuzz tests build them natively.
#pragma once

#include <cstddef>

// The bytes that start a double-byte character in a code page.
struct LeadBytes {
    bool lead[256];
};

// "\n" written in a text-library value becomes the bytes 10, 13, in place.
// Double-byte characters are stepped over whole: their second byte may be a
// backslash in the Japanese code page.
void ConvertLineBreaksIn(char* text, const LeadBytes& leadBytes);

enum class CommandOption { kNone, kSystemAreas, kQuickScan, kClosedScan, kHidden, kAutoCure, kAllDrives };

// The option an argument names: its first three bytes, compared without
// regard to ASCII case (/scan is /SC). The options are ASCII, so a byte of a
// double-byte character never matches one of theirs.
CommandOption MatchCommandOption(const char* argument);

// The longest target, the size of a target path buffer less its terminator.
constexpr size_t kMaxTargetChars = 519;

// The targets of one command-line argument (none when it starts with "/"):
// one per colon after its first character, running from the character
// before that colon (the drive letter) to the first double quote. Only the
// first 519 characters count. Calls `add` for each; returns how many.
int SplitTargetArgument(const char* argument, void (*add)(void* context, const char* target), void* context);
