// The signature-file reader over any text: whole or in pieces of any size,
// the same signatures and the same automaton.

#include "engine/signatures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kxsoc::SignatureSet sets[2];
    for (size_t i = 0, piece = size + 1; i < 2; ++i, piece = size % 16 + 1) {
        kxsoc::SignatureReader reader(&sets[i], nullptr, nullptr);
        for (size_t at = 0; at < size; at += piece)
            reader.Feed(reinterpret_cast<const char*>(data) + at, std::min(piece, size - at));
        reader.Finish();
    }
    if (sets[0].next != sets[1].next || sets[0].signatures.size() != sets[1].signatures.size()) __builtin_trap();
    return 0;
}
