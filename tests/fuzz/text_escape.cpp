// The text library's "\n" conversion under any lead-byte table, in place and
// the length kept. Input: 32 bytes of lead-byte bits, then the text.
#include <cstring>
#include <string>

#include "app/ansi_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 32) return 0;
    LeadBytes table;
    for (int b = 0; b < 256; ++b) table.lead[b] = data[b / 8] >> (b % 8) & 1;
    std::string text(reinterpret_cast<const char*>(data) + 32, size - 32);
    const size_t length = std::strlen(text.c_str());
    ConvertLineBreaksIn(text.data(), table);
    if (std::strlen(text.c_str()) != length) __builtin_trap();
    return 0;
}
