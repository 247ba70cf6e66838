#include "app/ansi_text.h"

#include <cstring>

namespace {

struct OptionName {
    const char* name;
    CommandOption option;
};

constexpr OptionName kOptions[] = {
    {"/PR", CommandOption::kSystemAreas}, {"/QS", CommandOption::kQuickScan}, {"/ED", CommandOption::kQuickScan},
    {"/SC", CommandOption::kClosedScan},  {"/HD", CommandOption::kHidden},    {"/AC", CommandOption::kAutoCure},
    {"/AL", CommandOption::kAllDrives},
};

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

void ConvertLineBreaksIn(char* text, const LeadBytes& leadBytes) {
    for (char* p = text; *p; ++p) {
        if (leadBytes.lead[static_cast<unsigned char>(*p)]) {
            if (!p[1]) break;
            ++p;
        } else if (p[0] == '\\' && p[1] == 'n') {
            p[0] = '\n';
            p[1] = '\r';
            ++p;
        }
    }
}

CommandOption MatchCommandOption(const char* argument) {
    for (const OptionName& entry : kOptions) {
        int i = 0;
        while (i < 3 && argument[i] && Upper(argument[i]) == entry.name[i]) ++i;
        if (i == 3) return entry.option;
    }
    return CommandOption::kNone;
}

int SplitTargetArgument(const char* argument, void (*add)(void* context, const char* target), void* context) {
    if (argument[0] == '/') return 0;
    char copy[kMaxTargetChars + 1];
    const size_t length = strnlen(argument, kMaxTargetChars);
    std::memcpy(copy, argument, length);
    copy[length] = '\0';
    int added = 0;
    for (char* colon = std::strchr(copy, ':'); colon; colon = std::strchr(copy, ':')) {
        // A colon at the very start has no drive letter before it.
        if (colon > copy) {
            char target[sizeof(copy)];
            std::strcpy(target, colon - 1);
            if (char* quote = std::strchr(target, '"')) *quote = '\0';
            add(context, target);
            ++added;
        }
        *colon = '?';
    }
    return added;
}
