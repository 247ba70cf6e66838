// The signature-file reader over any text: whole or in pieces of any size,
// the same signatures and the same automaton; and no line is lost or cut
// silently: each is a pattern taken, a blank or comment line, or reported by
// its number, and a line holding a control byte or too long to hold is
// always reported, never taken with what stood before the byte.
#include <cstring>
#include <set>
#include <string_view>

#include "engine/signatures.h"

namespace {

void Reported(void* context, unsigned line, const char*) {
    if (!static_cast<std::set<unsigned>*>(context)->insert(line).second) __builtin_trap();  // a line reported twice
}

bool HasControlByte(std::string_view line) {
    for (const unsigned char c : line)
        if (c < 0x20 && c != '\t' && c != '\r') return true;
    return false;
}

// Nothing but blanks before the end or a "#".
bool IsBlank(std::string_view line) {
    for (const char c : line) {
        if (c == '#') return true;
        if (c != ' ' && c != '\t' && c != '\r') return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kxsoc::SignatureSet sets[2];
    std::set<unsigned> reported[2];
    for (size_t i = 0, piece = size + 1; i < 2; ++i, piece = size % 16 + 1) {
        kxsoc::SignatureReader reader(&sets[i], Reported, &reported[i]);
        for (size_t at = 0; at < size; at += piece)
            reader.Feed(reinterpret_cast<const char*>(data) + at, std::min(piece, size - at));
        reader.Finish();
    }
    if (sets[0].next != sets[1].next || sets[0].signatures.size() != sets[1].signatures.size() ||
        reported[0] != reported[1])
        __builtin_trap();

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t lines = 0, blank = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        const unsigned number = static_cast<unsigned>(++lines);
        if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
        const bool mustReport = HasControlByte(line) || end - start >= kxsoc::kMaxSignatureLine;
        if (mustReport && !reported[0].count(number)) __builtin_trap();  // taken cut short, or dropped unsaid
        if (!mustReport && IsBlank(line)) {
            ++blank;
            if (reported[0].count(number)) __builtin_trap();
        }
        start = end + 1;
    }
    // Every other line is a pattern taken or a line reported.
    if (sets[0].patterns.size() + reported[0].size() + blank != lines) __builtin_trap();
    return 0;
}
