#include "tools/kxlogcat/aria_decrypt.h"

#include <cstring>

int AriaExpandDecryptKey(const uint8_t* key, int keyBits, AriaRoundKeys roundKeys) {
    AriaRoundKeys encrypt;
    const int rounds = AriaExpandEncryptKey(key, keyBits, encrypt);
    if (rounds == 0) return 0;
    // The encryption keys in reverse order, the inner ones through A.
    std::memcpy(roundKeys[0], encrypt[rounds], kAriaBlockSize);
    for (int i = 1; i < rounds; ++i) AriaDiffusionLayer(encrypt[rounds - i], roundKeys[i]);
    std::memcpy(roundKeys[rounds], encrypt[0], kAriaBlockSize);
    return rounds;
}
