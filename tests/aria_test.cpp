// The log cipher: RFC 5794's vectors for the three key sizes and back, the
// stream encryption with its key text, lengths, errors and key cache, and the
// CRC-32 that checks the records.
#include <gtest/gtest.h>

#include <windows.h>

#include <climits>
#include <cstring>
#include <string>

#include "logs/aria.h"
#include "logs/crc32.h"
#include "tools/kxlogcat/aria_decrypt.h"

namespace {

constexpr char kError[] = "[AriaEnCryptSteram] invalid input data";

std::string Hex(const uint8_t* bytes, size_t length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

// One block under a 32-byte key, through the key schedule itself.
std::string EncryptBlock(const uint8_t key[32], const uint8_t block[16]) {
    AriaRoundKeys roundKeys;
    uint8_t out[16];
    AriaCryptBlock(block, AriaExpandEncryptKey(key, 256, roundKeys), roundKeys, out);
    return Hex(out, sizeof(out));
}

// The stream's output for `keyText` over one block of `input`.
std::string EncryptStream(const char* keyText, const uint8_t* input, int length) {
    uint8_t out[16];
    EXPECT_EQ(AriaEnCryptSteram(keyText, input, out, length, nullptr), 16);
    return Hex(out, sizeof(out));
}

TEST(Aria, Rfc5794VectorsEncryptAndDecrypt) {
    const struct {
        int bits;
        int rounds;
        const char* cipher;
    } cases[] = {{128, 12, "d718fbd6ab644c739da95f3be6451778"},
                 {192, 14, "26449c1805dbe7aa25a468ce263a9e79"},
                 {256, 16, "f92bd7c79fb72e2f2b8f80c1972d24fc"}};
    uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i);
    const uint8_t plain[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                               0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        AriaRoundKeys encrypt, decrypt;
        uint8_t cipher[16], back[16];
        ASSERT_EQ(AriaExpandEncryptKey(key, c.bits, encrypt), c.rounds);
        AriaCryptBlock(plain, c.rounds, encrypt, cipher);
        EXPECT_EQ(Hex(cipher, 16), c.cipher);
        ASSERT_EQ(AriaExpandDecryptKey(key, c.bits, decrypt), c.rounds);
        AriaCryptBlock(cipher, c.rounds, decrypt, back);
        EXPECT_EQ(Hex(back, 16), Hex(plain, 16));
    }
    AriaRoundKeys unused;
    EXPECT_EQ(AriaExpandEncryptKey(key, 64, unused), 0);
    EXPECT_EQ(AriaExpandDecryptKey(key, 64, unused), 0);
}

// A touch of a guard page clears its guard; let the touching code go on.
LONG CALLBACK PassGuardPage(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == STATUS_GUARD_PAGE_VIOLATION ? EXCEPTION_CONTINUE_EXECUTION
                                                                                : EXCEPTION_CONTINUE_SEARCH;
}

TEST(AriaStream, WritesWholeBlocksAndNeverReadsPastTheInput) {
    // The input ends where a guard page begins, which shows any read past it.
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    auto* pages = static_cast<uint8_t*>(
        ::VirtualAlloc(nullptr, 2 * system.dwPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(::VirtualProtect(pages + system.dwPageSize, system.dwPageSize, PAGE_READWRITE | PAGE_GUARD, &old));
    uint8_t* input = pages + system.dwPageSize - 17;
    for (int i = 0; i < 17; ++i) input[i] = static_cast<uint8_t>('A' + i);

    uint8_t out[40];
    std::memset(out, 0xEE, sizeof(out));
    void* handler = ::AddVectoredExceptionHandler(1, PassGuardPage);
    EXPECT_EQ(AriaEnCryptSteram("key", input, out, 17, nullptr), 32);
    ::RemoveVectoredExceptionHandler(handler);
    MEMORY_BASIC_INFORMATION guard{};
    ::VirtualQuery(pages + system.dwPageSize, &guard, sizeof(guard));
    EXPECT_TRUE(guard.Protect & PAGE_GUARD) << "read past the input";
    EXPECT_EQ(out[32], 0xEE);
    const uint8_t key[32] = {'k', 'e', 'y'};
    uint8_t tail[16] = {'Q'};
    EXPECT_EQ(Hex(out, 16), EncryptBlock(key, input));
    EXPECT_EQ(Hex(out + 16, 16), EncryptBlock(key, tail));  // completed with zeros
    EXPECT_EQ(AriaEnCryptSteram("key", input + 1, out, 16, nullptr), 16);
    EXPECT_EQ(Hex(out, 16), EncryptBlock(key, input + 1));
    ::VirtualFree(pages, 0, MEM_RELEASE);
}

TEST(AriaStream, InvalidInputGivesZeroAndTheErrorText) {
    const uint8_t in[16] = {};
    uint8_t out[16];
    const struct {
        const char* key;
        const uint8_t* input;
        uint8_t* output;
        int length;
    } cases[] = {{nullptr, in, out, 16}, {"k", nullptr, out, 16}, {"k", in, nullptr, 16},
                 {"k", in, out, 0},      {"k", in, out, -1},      {"k", in, out, INT_MAX}};
    for (const auto& c : cases) {
        char error[1024] = "untouched";
        EXPECT_EQ(AriaEnCryptSteram(c.key, c.input, c.output, c.length, error), 0);
        EXPECT_STREQ(error, kError);
        EXPECT_EQ(AriaEnCryptSteram(c.key, c.input, c.output, c.length, nullptr), 0);
    }
}

TEST(AriaStream, KeyTextIsZeroFilledAndCutTo32Bytes) {
    const uint8_t block[16] = {'r', 'e', 'c', 'o', 'r', 'd'};
    // What lies behind the text's terminator is not part of the key.
    const char shortKey[40] = "wob!fenu*wob\0left over";
    const uint8_t zeroFilled[32] = {'w', 'o', 'b', '!', 'f', 'e', 'n', 'u', '*', 'w', 'o', 'b'};
    EXPECT_EQ(EncryptStream(shortKey, block, 6), EncryptBlock(zeroFilled, block));

    const char* longKey = "0123456789abcdefghijklmnopqrstuvWXYZ";
    EXPECT_EQ(EncryptStream(longKey, block, 6), EncryptBlock(reinterpret_cast<const uint8_t*>(longKey), block));
    EXPECT_EQ(EncryptStream(longKey, block, 6), EncryptStream("0123456789abcdefghijklmnopqrstuv", block, 6));
}

TEST(AriaStream, SameKeyIsExpandedOnceAnotherReplacesIt) {
    const uint8_t block[16] = {1, 2, 3};
    const int start = AriaKeyExpansions();
    const std::string first = EncryptStream("cache key one", block, 16);
    EXPECT_EQ(AriaKeyExpansions() - start, 1);
    EXPECT_EQ(EncryptStream("cache key one", block, 16), first);
    EXPECT_EQ(AriaKeyExpansions() - start, 1);
    EXPECT_NE(EncryptStream("cache key two", block, 16), first);
    EXPECT_EQ(AriaKeyExpansions() - start, 2);
    EXPECT_EQ(EncryptStream("cache key one", block, 16), first);
    EXPECT_EQ(AriaKeyExpansions() - start, 3);
}

TEST(Crc32, KnownValues) {
    EXPECT_EQ(Crc32("abc", 3), 0x352441C2u);
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

}  // namespace
