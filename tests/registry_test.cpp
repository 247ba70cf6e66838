// The registry routines: the 64-bit view, strings that fill or overflow the
// caller's buffer, and 32-bit values that are read, created and rewritten.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/registry.h"
#include "tests/support/test_support.h"

namespace {

using kxtest::ProductRegistry;

constexpr const char* kTestKey = "SOFTWARE\\Tarnwick Systems\\Korvex\\Test";
constexpr const char* kWow32Maker = "SOFTWARE\\Wow6432Node\\Tarnwick Systems";

struct CleanRegistry {
    ProductRegistry product;
    kxtest::ScopedHklmKey wow32{kWow32Maker};
};

bool ExistsInView(const char* key, const char* value, REGSAM view) {
    HKEY handle = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS) return false;
    bool found = ::RegQueryValueExA(handle, value, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    ::RegCloseKey(handle);
    return found;
}

ULONGLONG LastWrite(const char* key) {
    HKEY handle = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS) return 0;
    FILETIME time{};
    ::RegQueryInfoKeyA(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       &time);
    ::RegCloseKey(handle);
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

DWORD ValueType(const char* key, const char* value) {
    HKEY handle = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS)
        return REG_NONE;
    DWORD type = REG_NONE;
    ::RegQueryValueExA(handle, value, nullptr, &type, nullptr, nullptr);
    ::RegCloseKey(handle);
    return type;
}

bool SetRaw(const char* value, DWORD type, const void* data, DWORD size) {
    return WriteRegValue(HKEY_LOCAL_MACHINE, kTestKey, value, data, size, type) == 1;
}

TEST(Registry, ValuesGoToThe64BitViewOnly) {
    CleanRegistry registry;
    EXPECT_EQ(Is64BitWindows(), 1);
    EXPECT_EQ(RegViewFlag(KEY_READ), static_cast<REGSAM>(KEY_READ | KEY_WOW64_64KEY));

    ASSERT_EQ(WriteRegString(HKEY_LOCAL_MACHINE, kTestKey, "Text", "C:\\Program Files\\Korvex"), 1);
    ASSERT_EQ(WriteRegDword(HKEY_LOCAL_MACHINE, kTestKey, "Number", 5), 1);
    DWORD number = 0;
    ASSERT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tarnwick Systems\\Korvex\\Created", "Missing", &number), 0);

    for (const char* value : {"Text", "Number"}) {
        EXPECT_TRUE(ExistsInView(kTestKey, value, KEY_WOW64_64KEY)) << value;
        EXPECT_FALSE(ExistsInView(kTestKey, value, KEY_WOW64_32KEY)) << value;
    }
    EXPECT_TRUE(kxtest::RegKeyExists("SOFTWARE\\Tarnwick Systems\\Korvex\\Created"));
    EXPECT_FALSE(kxtest::RegKeyExists(kWow32Maker));
}

TEST(Registry, StringRoundTripCountsTheTextBytes) {
    CleanRegistry registry;
    const char* text = "C:\\Program Files\\Korvex";
    ASSERT_EQ(WriteRegString(HKEY_LOCAL_MACHINE, kTestKey, "Text", text), 1);
    std::string stored;
    ASSERT_TRUE(kxtest::RegGetString(kTestKey, "Text", &stored));
    EXPECT_EQ(stored, text);

    char buffer[260];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, kTestKey, "Text", buffer, sizeof(buffer)),
              static_cast<int>(std::strlen(text)));
    EXPECT_STREQ(buffer, text);
    EXPECT_EQ(ValueType(kTestKey, "Text"), static_cast<DWORD>(REG_SZ));
}

TEST(Registry, StringsThatFillOrOverflowTheBufferStayTerminated) {
    CleanRegistry registry;
    // A non-zero byte after the counted ones keeps the registry from storing a
    // terminator with the text.
    ASSERT_TRUE(SetRaw("Fits", REG_SZ, "abcX", 3));
    ASSERT_TRUE(SetRaw("Exact", REG_SZ, "abcdX", 4));
    ASSERT_TRUE(SetRaw("Long", REG_SZ, "abcdefgh", 8));
    ASSERT_TRUE(SetRaw("WithZero", REG_SZ, "abc", 4));
    ASSERT_TRUE(SetRaw("Empty", REG_SZ, "", 0));
    ASSERT_TRUE(SetRaw("OnlyZero", REG_SZ, "", 1));

    struct Case {
        const char* value;
        int result;
        const char* text;
    };
    for (const Case& c : {Case{"Fits", 3, "abc"}, Case{"Exact", 0, ""}, Case{"Long", 0, ""}, Case{"WithZero", 3, "abc"},
                          Case{"Empty", 0, ""}, Case{"OnlyZero", 0, ""}, Case{"Missing", 0, ""}}) {
        char guarded[4 + 4];
        std::memset(guarded, '#', sizeof(guarded));
        EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, kTestKey, c.value, guarded, 4), c.result) << c.value;
        EXPECT_EQ(std::string(guarded, strnlen(guarded, 4)), c.text) << c.value;
        EXPECT_EQ(std::string(guarded + 4, 4), "####") << c.value;
    }

    char buffer[8] = "kept";
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tarnwick Systems\\Nowhere", "Text", buffer, 8), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, kTestKey, "Fits", buffer, 0), 0);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, kTestKey, "Fits", nullptr, 8), 0);
    EXPECT_EQ(WriteRegString(HKEY_LOCAL_MACHINE, kTestKey, "Null", nullptr), 0);
}

TEST(Registry, ReadDwordCreatesAMissingKeyAndLeavesOutAlone) {
    CleanRegistry registry;
    const char* created = "SOFTWARE\\Tarnwick Systems\\Korvex\\Events\\config";
    DWORD out = 0xABCD;
    EXPECT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, created, "ExecuteUpdate", &out), 0);
    EXPECT_EQ(out, 0xABCDu);
    EXPECT_TRUE(kxtest::RegKeyExists(created));

    const WORD shortValue = 7;
    ASSERT_TRUE(SetRaw("Short", REG_BINARY, &shortValue, sizeof(shortValue)));
    EXPECT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, kTestKey, "Short", &out), 0);
    EXPECT_EQ(out, 0xABCDu);

    ASSERT_TRUE(kxtest::RegSetDword(kTestKey, "Number", 42));
    EXPECT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, kTestKey, "Number", &out), 4);
    EXPECT_EQ(out, 42u);
    EXPECT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, kTestKey, "Number", nullptr), 0);
}

TEST(Registry, WriteDwordSkipsAnUnchangedNumber) {
    CleanRegistry registry;
    ASSERT_EQ(WriteRegDword(HKEY_LOCAL_MACHINE, kTestKey, "Counter", 7), 1);
    ULONGLONG first = LastWrite(kTestKey);
    ASSERT_NE(first, 0u);

    ::Sleep(30);
    EXPECT_EQ(WriteRegDword(HKEY_LOCAL_MACHINE, kTestKey, "Counter", 7), 1);
    EXPECT_EQ(LastWrite(kTestKey), first);

    ::Sleep(30);
    EXPECT_EQ(WriteRegDword(HKEY_LOCAL_MACHINE, kTestKey, "Counter", 8), 1);
    EXPECT_GT(LastWrite(kTestKey), first);
    DWORD stored = 0;
    ASSERT_TRUE(kxtest::RegGetDword(kTestKey, "Counter", &stored));
    EXPECT_EQ(stored, 8u);

    // The same four bytes under another type are made a 32-bit value.
    const DWORD bytes = 9;
    ASSERT_TRUE(SetRaw("Binary", REG_BINARY, &bytes, sizeof(bytes)));
    EXPECT_EQ(WriteRegDword(HKEY_LOCAL_MACHINE, kTestKey, "Binary", 9), 1);
    EXPECT_EQ(ValueType(kTestKey, "Binary"), static_cast<DWORD>(REG_DWORD));
}

}  // namespace
