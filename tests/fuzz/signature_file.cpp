// The signature-file reader over any text: whole or in pieces of any size,
// the same signatures and the same automaton; and no line is lost or cut
// silently: each is a pattern taken, a blank or comment line, or reported by
// its number, and a line holding a control byte or too long to hold is
// always reported, never taken with what stood before the byte.
#include <set>
#include <string_view>

#include "engine/signatures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kxsoc::SignatureSet sets[2];
    std::multiset<unsigned> reported[2];
    for (size_t i = 0, piece = size + 1; i < 2; ++i, piece = size % 16 + 1) {
        kxsoc::SignatureReader reader(&sets[i], [](void* to, unsigned line, const char*) {
            static_cast<std::multiset<unsigned>*>(to)->insert(line);
        }, &reported[i]);
        for (size_t at = 0; at < size; at += piece)
            reader.Feed(reinterpret_cast<const char*>(data) + at, std::min(piece, size - at));
        reader.Finish();
    }
    if (sets[0].next != sets[1].next || sets[0].signatures.size() != sets[1].signatures.size() || reported[0] != reported[1])
        __builtin_trap();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t lines = 0, blank = 0;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        const size_t mark = ++lines == 1 && text.starts_with("\xEF\xBB\xBF") ? 3 : 0;  // UTF-8 mark of some editors
        const std::string_view line = text.substr(start + mark, end - start - mark);
        bool mustReport = end - start >= kxsoc::kMaxSignatureLine, isBlank = true;
        for (const unsigned char c : line.substr(0, std::min(line.find('#'), line.size())))
            isBlank = isBlank && (c == ' ' || c == '\t' || c == '\r');
        for (const unsigned char c : line) mustReport = mustReport || (c < 0x20 && c != '\t' && c != '\r');
        const size_t times = reported[0].count(static_cast<unsigned>(lines));
        if (times > 1 || (mustReport && !times) || (!mustReport && isBlank && times)) __builtin_trap();  // cut, dropped unsaid or doubled
        blank += !mustReport && isBlank;
    }
    if (sets[0].patterns.size() + reported[0].size() + blank != lines) __builtin_trap();  // every other line taken or reported
    return 0;
}
