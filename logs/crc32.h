// CRC-32 (IEEE 802.3, reflected, initial value all ones, final complement;
// the same value as zlib's crc32). Names the single-instance mutex, removes
// repeated module paths and checks log records.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t Crc32(const void* data, size_t length);
