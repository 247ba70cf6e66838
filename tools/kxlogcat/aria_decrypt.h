// ARIA decryption (RFC 5794), for the log reader only: kxscan.exe enciphers
// its logs and holds no way back.
#pragma once

#include <cstdint>

#include "logs/aria.h"

// Decryption key schedule for a 128-, 192- or 256-bit key: AriaCryptBlock
// with these round keys deciphers. Returns the number of rounds, or 0 for
// another key length.
int AriaExpandDecryptKey(const uint8_t* key, int keyBits, AriaRoundKeys roundKeys);
