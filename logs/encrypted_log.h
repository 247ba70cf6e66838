// Encrypted, append-only record files in the installation's Logs folder.
//
// File: "QMR!LOGS", then records. Record (little-endian): L (u32, the bytes
// that follow = 8 + 16 * ceil(n / 16)), CRC-32 of the plaintext (u32), n (u32),
// the plaintext enciphered with ARIA-256 under the log key.
#pragma once

#include <cstdint>

// The log key text: 12 characters, the rest of the 32-byte key zero.
constexpr const char* kLogPassPhrase = "wob!fenu*wob";
constexpr int kMaxLogRecordText = 2032;

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
