// ExtractCommandPath and ExpandPathVariables over any registry text, with
// look-ups that answer from the input: nothing, results of any length, and
// counts that do not fit. Every result stays within its 260-byte buffer.
#include <cstring>
#include <memory>

#include "scan/command_path.h"

namespace {

const uint8_t* g_data;
size_t g_size, g_next;

// A result of a length the input picks, written as far as it fits; the
// length counted with or without the terminator, as the look-ups differ.
size_t Answer(const char*, char* out, size_t size) {
    const uint8_t pick = g_size ? g_data[g_next++ % g_size] : 0;
    const size_t length = pick % 4 ? pick * 2u : 0, written = std::min(length, size - 1);
    for (size_t i = 0; i < written; ++i) out[i] = "ab\\%.\" "[(pick + i) % 7];
    out[written] = '\0';
    return length ? length + pick % 2 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_data = data, g_size = size, g_next = size / 2;
    for (int round = 0; round < 2; ++round) {
        std::unique_ptr<char[]> text(new char[kCommandTextSize]);  // exactly the callers' buffer
        std::memcpy(text.get(), data, std::min(size, kCommandTextSize - 1));
        text[std::min(size, kCommandTextSize - 1)] = '\0';
        round ? ExpandPathVariablesWith(text.get(), {Answer, Answer, Answer})
              : static_cast<void>(ExtractCommandPathWith(text.get(), {Answer, Answer, Answer}));
        if (strnlen(text.get(), kCommandTextSize) == kCommandTextSize) __builtin_trap();
    }
    return 0;
}
