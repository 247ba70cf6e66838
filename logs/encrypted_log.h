// Encrypted, append-only record files in the installation's Logs folder.
//
// File: "QMR!LOGS", then records. Record (little-endian): L (u32, the bytes
// that follow = 8 + 16 * ceil(n / 16)), CRC-32 of the plaintext (u32), n (u32),
// the plaintext enciphered with ARIA-256 under the log key.
#pragma once

#include <cstdint>

#include "logs/aria.h"

// The log key text: 12 characters, the rest of the 32-byte key zero.
constexpr const char* kLogPassPhrase = "wob!fenu*wob";
constexpr int kMaxLogRecordText = 2032;
// The largest L a record can have.
constexpr uint32_t kMaxLogRecordLength = 8 + kMaxLogRecordText;

// The record fields as the file stores them, little-endian.
inline uint32_t GetLe32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
           static_cast<uint32_t>(in[3]) << 24;
}

// The lengths the writer makes, which the writer's own walk and the readers
// go by: L is 8 plus a positive multiple of 16, up to kMaxLogRecordLength;
// n is at least 1 and needs exactly that ciphertext, L - 8 == 16 * ceil(n / 16).
inline bool IsRecordLengthShaped(uint32_t length) {
    return length >= 8 + kAriaBlockSize && (length - 8) % kAriaBlockSize == 0;
}
inline bool IsRecordLength(uint32_t length) { return IsRecordLengthShaped(length) && length <= kMaxLogRecordLength; }
inline bool TextFitsRecord(uint32_t textLength, uint32_t length) {
    return textLength != 0 && textLength <= length - 8 && textLength > length - 8 - kAriaBlockSize;
}

// Builds "QMR!ARIA", CRC-32, n and the ciphertext of `length` input bytes into
// `output` (capacity *outputSize). Returns the size written (16 + 16 *
// ceil(n / 16)), or 0 with a message in `error` (1024 bytes); when the output
// is too small, *outputSize receives the size required.
int AriaEnCryptBuffer(const char* keyText, const uint8_t* input, int length, uint8_t* output, int* outputSize,
                      char* error);

// Chooses the log file ("virus.log", "events.log") that records go to.
void SetEncryptedLogName(const char* fileName);

// Full path of the current log file.
const char* EncryptedLogPath();

// Appends one record with `text` to the log file `fileName`, creating the
// folder and the file (with its magic) when needed. 0 when nothing was written.
int WriteEncryptedLogRecord(const char* fileName, const char* text);
