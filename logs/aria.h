// The ARIA block cipher (RFC 5794): key expansion and block encryption, and
// the ECB stream encryption of the encrypted logs. The program itself only
// enciphers.
#pragma once

#include <cstdint>

constexpr int kAriaBlockSize = 16;
constexpr int kAriaMaxRoundKeys = 17;

using AriaRoundKeys = uint8_t[kAriaMaxRoundKeys][kAriaBlockSize];

// Encryption key schedule for a 128-, 192- or 256-bit key. Returns the number
// of rounds (12, 14 or 16), or 0 for another key length.
int AriaExpandEncryptKey(const uint8_t* key, int keyBits, AriaRoundKeys roundKeys);

// One block through `rounds` rounds with the given round keys. With the
// decryption key schedule the same function deciphers.
void AriaCryptBlock(const uint8_t input[kAriaBlockSize], int rounds, const AriaRoundKeys roundKeys,
                    uint8_t output[kAriaBlockSize]);

// The diffusion layer A (an involution); the decryption key schedule needs it.
void AriaDiffusionLayer(const uint8_t input[kAriaBlockSize], uint8_t output[kAriaBlockSize]);

// Enciphers `length` bytes block by block (ARIA-256, no chaining) under the
// key text (at most 32 characters, zero-filled to 32 bytes); the last block
// is completed with zero bytes. Returns the bytes written (a multiple of 16),
// or 0 with a message in `error` (1024 bytes). The name is the one the
// product's other components know it by.
int AriaEnCryptSteram(const char* keyText, const uint8_t* input, uint8_t* output, int length, char* error);

// How many times AriaEnCryptSteram has expanded a key in this process: it
// keeps the last key's round keys and expands only when the key changes.
int AriaKeyExpansions();
