// The automaton's matcher over any patterns and data: fed in pieces of any
// size, it stops where it stops when fed one byte at a time, which never
// reaches the 16-byte search. Input: pattern count, piece size, each
// pattern's length and bytes, then the data. Which pattern wins is tested in
// tests/engine_test.cpp.
#include <algorithm>
#include <string>

#include "engine/signatures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t count = data[0] % 12 + 1, piece = data[1] * 4u + 17;
    std::string file;
    size_t at = 2;
    for (size_t n = 0, length = 0; n < count && at + 1 < size; ++n, at += length + 1) {
        length = std::min<size_t>(data[at] % 12 + 1, size - at - 1);
        file += "S" + std::to_string(n % 4) + "|0|1|fail|";  // some signatures with several patterns
        for (const uint8_t* c = data + at + 1; c < data + at + 1 + length; ++c)
            file += {"0123456789abcdef"[*c >> 4], "0123456789abcdef"[*c & 15]};
        file += "\n";
    }
    kxsoc::SignatureSet set;
    kxsoc::SignatureReader reader(&set, nullptr, nullptr);
    reader.Feed(file.data(), file.size());
    reader.Finish();
    size_t ends[2] = {};
    int found[2] = {-1, -1};
    for (size_t run = 0, step = piece; run < 2; ++run, step = 1) {
        uint32_t row = 0;
        for (size_t from = at; from < size && found[run] < 0; from += step)
            ends[run] = from + kxsoc::MatchBytes(set, data + from, std::min(step, size - from), &row, -1, &found[run]);
    }
    if (found[0] != found[1] || (found[0] >= 0 && ends[0] != ends[1])) __builtin_trap();
    return 0;
}
