// The layers under the scan window, each where a fault would not show in the
// running program's window: the start-up layer (app/: registry routines,
// paths, the text library, dates), the logs (logs/: the cipher, the encrypted
// buffer and log files, the virus and event records, the debug log with its
// lock, several processes writing at once), what a scan visits (scan/: the
// single-instance test, the file walk with its exclusions, quick-scan filter,
// short names and long paths, autostart entries, modules and drivers) and the
// skinned controls (controls/). Process-wide state (caches, log paths) is
// read in probes, each a fresh process; the walkers run on a ScanJob of the
// test's own with an engine that records the paths it is handed. What the
// window shows and does is checked by the window, results and desktop tests.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <regex>
#include <utility>

#include "app/install_paths.h"
#include "app/local_text.h"
#include "app/registry.h"
#include "app/startup.h"
#include "app/system_facilities.h"
#include "controls/findings_list.h"
#include "controls/skin_button.h"
#include "controls/skin_label.h"
#include "controls/skin_progress.h"
#include "framework/handles.h"
#include "logs/crc32.h"
#include "logs/debug_log.h"
#include "logs/log_records.h"
#include "scan/autostart.h"
#include "scan/file_walk.h"
#include "scan/modules.h"
#include "scan/scan_job.h"
#include "tests/support/test_support.h"
#include "tools/kxlogcat/aria_decrypt.h"
#include "tools/kxlogcat/log_reader.h"

namespace {

using kxtest::Hex;
using kxtest::ProductRegistry;
using kxtest::RegisteredInstall;
using kxtest::Strings;
using kxtest::TempInstallDir;
using Paths = std::vector<std::string>;

// The start-up layer (app/).

const HKEY kLm = HKEY_LOCAL_MACHINE;
constexpr const char* kTestKey = "SOFTWARE\\Tarnwick Systems\\Korvex\\Test";

// Wine leaves a value set to what it holds untouched (no last-write time, no
// change notice), so a needless write shows only as a call: this program's
// import of RegSetValueExA, which the registry routines call, is pointed at a counter.
using SetValue = LSTATUS(WINAPI*)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
KXTEST_IMPORT(SetValue, g_setValueImport, RegSetValueExA, 24);
SetValue g_setValue;
int g_valuesSet = 0;
LSTATUS WINAPI CountedSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    return ++g_valuesSet, g_setValue(key, name, reserved, type, data, size);
}

TEST(Registry, StringsAndNumbersAreWholeInThe64BitViewAndNumbersWrittenOnlyWhenChanged) {
    ProductRegistry product;
    ASSERT_EQ(WriteRegString(kLm, kTestKey, "Text", "C:\\Program Files\\Korvex") + WriteRegString(kLm, kTestKey, "Null", nullptr), 1);
    // Read into 4 bytes. A byte after the counted ones keeps the registry from storing a terminator with the text.
    for (auto [value, data, size, result, text] : {std::tuple<const char*, const char*, DWORD, int, const char*>{
                                                       "Fits", "abcX", 3, 3, "abc"}, {"Exact", "abcdX", 4, 0, ""},
                                                   {"Long", "abcdefgh", 8, 0, ""}, {"WithZero", "abc", 4, 3, "abc"},
                                                   {"Empty", "", 0, 0, ""}, {"OnlyZero", "", 1, 0, ""}, {"Missing", nullptr, 0, 0, ""}}) {
        char guarded[9] = "########";
        EXPECT_TRUE(!data || WriteRegValue(kLm, kTestKey, value, data, size, REG_SZ));
        EXPECT_EQ(ReadRegString(kLm, kTestKey, value, guarded, 4), result) << value;
        EXPECT_EQ(guarded + std::string(guarded + 4), text + std::string("####")) << value;
    }
    char buffer[260] = "kept";
    EXPECT_EQ(ReadRegString(kLm, kTestKey, "Text", buffer, sizeof(buffer)), 23) << "the text's length";
    EXPECT_STREQ(buffer, "C:\\Program Files\\Korvex");
    EXPECT_EQ(ReadRegString(kLm, "SOFTWARE\\Tarnwick Systems\\Nowhere", "Text", buffer, 8) +
                  ReadRegString(kLm, kTestKey, "Fits", buffer, 0) + ReadRegString(kLm, kTestKey, "Fits", nullptr, 8), 0);
    EXPECT_STREQ(buffer, "");
    // A number is read whole or not at all; a missing key is made (callers rely on it).
    DWORD out = 0xABCD;
    const WORD shortValue = 7;
    ASSERT_EQ(WriteRegValue(kLm, kTestKey, "Short", &shortValue, sizeof(shortValue), REG_BINARY), 1);
    EXPECT_EQ(ReadRegDword(kLm, kTestKey, "Short", &out) + ReadRegDword(kLm, kConfigKey, "ExecuteUpdate", &out) +
                  ReadRegDword(kLm, kTestKey, "Short", nullptr), 0);
    EXPECT_TRUE(out == 0xABCDu && kxtest::RegKeyExists(kConfigKey));
    // An unchanged number is not written again; a changed one is.
    DWORD old = 0;
    ASSERT_TRUE(WriteRegDword(kLm, kTestKey, "Counter", 7) && ::VirtualProtect(&g_setValueImport, sizeof(SetValue), PAGE_READWRITE, &old));
    g_setValue = std::exchange(g_setValueImport, CountedSetValue);
    for (DWORD number : {7u, 8u}) {
        const int set = g_valuesSet;
        EXPECT_TRUE(WriteRegDword(kLm, kTestKey, "Counter", number) && ReadRegDword(kLm, kTestKey, "Counter", &out) == 4 && out == number);
        EXPECT_EQ(g_valuesSet - set, number == 8 ? 1 : 0) << number;
    }
    g_setValueImport = g_setValue;
    // The same four bytes under another type are made a 32-bit number; each value has its type; nothing reaches the 32-bit view.
    const DWORD bytes = 9;
    ASSERT_EQ(WriteRegValue(kLm, kTestKey, "Binary", &bytes, sizeof(bytes), REG_BINARY) + WriteRegDword(kLm, kTestKey, "Binary", 9), 2);
    EXPECT_EQ(::RegGetValueA(kLm, kTestKey, "Binary", RRF_RT_REG_DWORD, nullptr, nullptr, nullptr) +
                  ::RegGetValueA(kLm, kTestKey, "Text", RRF_RT_REG_SZ, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_FALSE(kxtest::RegKeyExists("SOFTWARE\\Wow6432Node\\Tarnwick Systems"));
}

// For each "SECTION|KEY|SIZE", GetLocalText into SIZE bytes of 'X', one more
// watched: "<result>:<hex of the text>", with " unterminated" or " overrun".
KX_PROBE(local_text) {
    for (const std::string& arg : args) {
        const size_t bar = arg.find('|'), size = std::stoul(arg.substr(arg.rfind('|') + 1));
        std::string buffer(size + 1, 'X');
        const int result = GetLocalText(arg.substr(0, bar).c_str(), arg.substr(bar + 1, arg.rfind('|') - bar - 1).c_str(), buffer.data(),
                                        static_cast<DWORD>(size));
        const size_t length = strnlen(buffer.data(), size);
        std::printf("%d:%s%s%s\n", result, kxtest::Hex(buffer.data(), length).c_str(), length == size && size > 0 ? " unterminated" : "",
                    buffer[size] != 'X' ? " overrun" : "");
    }
    return 0;
}

// "<result>:<hex of the text>", as local_text prints a text.
std::string Text(int result, const std::string& text) { return std::to_string(result) + ":" + kxtest::Hex(text.data(), text.size()); }

TEST(ParentFolder, CutsTheLastComponentOfTheWholeSourceOrGivesNone) {
    const std::tuple<const char*, size_t, const char*> rows[] = {  // source, size, what the destination holds afterwards
        {"C:\\Apps\\Scan\\main.exe", 260, "C:\\Apps\\Scan"}, {"C:\\main.exe", 260, "C:"}, {"C:\\Apps\\\\\\main.exe", 260, "C:\\Apps"},
        {"C:\\Apps\\Scan\\\\", 260, "C:\\Apps"}, {"\\\\server\\share\\f", 260, "\\\\server\\share"}, {"\\main.exe", 260, "\\"},
        {"C:\\", 260, ""}, {"main.exe", 260, ""}, {"C:main.exe", 260, ""}, {"", 260, ""}, {"\\\\\\", 260, ""}, {"C:\\a\\b", 2, "kept"},
        {nullptr, 260, "kept"}, {"C:\\Apps\\Scan\\main.exe", 8, ""}, {"C:\\Apps\\Scan\\main.exe", 13, "C:\\Apps\\Scan"}};  // never a cut copy
    for (auto [source, size, left] : rows) {
        char destination[260] = "kept";
        const char* parent = GetParentFolder(source, destination, size);
        EXPECT_EQ((parent == destination ? "found " : parent ? "other " : "") + std::string(destination),
                  (*left && std::strcmp(left, "kept") ? "found " : "") + std::string(left)) << (source ? source : "null");
    }
    char path[32] = "C:\\Apps\\Scan\\main.exe";
    EXPECT_TRUE(GetParentFolder(path, path, sizeof(path)) == path && std::string(path) == "C:\\Apps\\Scan" && !GetParentFolder("C:\\a\\b", nullptr, 260));
}

TEST(LocalText, ValuesAreReadAndCutSafelyAndAPathThatDoesNotFitGivesNone) {
    RegisteredInstall install;
    // Whatever language the machine has, the same library answers.
    for (const char* name : {"kor.lib", "jpn.lib", "eng.lib", "default.lib"})
        install.dir.Write(std::string("locale\\") + name, "[SCANNER]\r\nTITLE=Korvex Test\r\nMULTI=Line one\\nLine two\r\n"
                          "TWICE=a\\nb\\n\\nc\r\nEMPTY=\r\nLONG=" + std::string(300, 'L') + "\r\n");
    const std::string none = Text(0, "");
    EXPECT_EQ(kxtest::Lines(kxtest::RunProbe("local_text", {"SCANNER|TITLE|260", "scanner|Title|260", "SCANNER|MULTI|260", "SCANNER|TWICE|260",
                                                            "SCANNER|EMPTY|260", "SCANNER|MISSING|260", "NOSECTION|TITLE|260", "SCANNER|TITLE|0",
                                                            "SCANNER|TITLE|1", "SCANNER|TITLE|7", "SCANNER|LONG|260"}).output),
              (Strings{Text(1, "Korvex Test"), Text(1, "Korvex Test"), Text(1, "Line one\n\rLine two"), Text(1, "a\n\rb\n\r\n\rc"), none, none,
                       none, "0:", none, Text(1, "Korvex"), Text(1, std::string(259, 'L'))}));
    // 246 characters: with "\locale\eng.lib" the path has 261, where 259 fit.
    // Cut to fit, it would name the file "eng.l" laid here as a trap.
    const std::string folder = std::string(246 - install.dir.Path().size() - 1, 'i');
    kxtest::RegSetString(kProductKey, "InstallPath", install.dir.File(folder));
    for (const char* cut : {"eng.l", "kor.l", "jpn.l"}) install.dir.Write(folder + "\\locale\\" + cut, "[SCANNER]\r\nTITLE=Cut\r\n");
    EXPECT_EQ(kxtest::Lines(kxtest::RunProbe("local_text", {"SCANNER|TITLE|260"}).output), Strings{none});
    char code[2] = {'?', '?'};
    EXPECT_TRUE(GetUiLanguage(nullptr, 16) == 0 && GetUiLanguage(code, 0) == 0 && code[0] == '?' && GetUiLanguage(code, 2) == 1 && code[1] == '\0');
}

TEST(FormatDateTime, TheFixedFormWhateverTheUserFormats) {
    // The user's date and time formats changed until the end of the test.
    char saved[2][80] = {}, text[22], userDate[32] = {};
    ::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, saved[0], 80), ::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, saved[1], 80);
    ::SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, "dd.MM.yy"), ::SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, "hh.mm.ss tt");
    auto format = [&](const SYSTEMTIME* moment) {
        std::memset(text, '#', sizeof(text));
        FormatDateTime(text, moment);
        return std::string(text, strnlen(text, 21)) + (text[20] == '#' ? "|" : " written past 20 bytes|");
    };
    const SYSTEMTIME night{2013, 9, 2, 3, 1, 8, 10, 0}, afternoon{2013, 9, 2, 3, 13, 8, 10, 0}, thirteenthMonth{2013, 13, 2, 3, 1, 8, 10, 0};
    ::GetDateFormatA(LOCALE_USER_DEFAULT, 0, &afternoon, nullptr, userDate, sizeof(userDate));
    ASSERT_STREQ(userDate, "03.09.13") << "the user format did not take";
    EXPECT_EQ(format(&night) + format(&afternoon) + format(&thirteenthMonth), "2013-09-03 01:08:10|2013-09-03 13:08:10||");
    SYSTEMTIME before, after;
    ::GetLocalTime(&before);
    const std::string now = format(nullptr);
    ::GetLocalTime(&after);
    before.wMilliseconds = after.wMilliseconds = 0;
    EXPECT_TRUE(format(&before) <= now && now <= format(&after) && now.size() == 20) << now;
    ::SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, saved[0]), ::SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, saved[1]);
}

// The logs (logs/).

const std::regex kStamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");

std::string Letters(size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) text += static_cast<char>('a' + i % 26);
    return text;
}

std::string Le32(uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

// One block under a key text zero-filled to 32 bytes, through the key schedule itself.
std::string EncryptBlock(std::string key, const uint8_t* block) {
    AriaRoundKeys roundKeys;
    uint8_t out[16];
    key.resize(32, '\0');
    AriaCryptBlock(block, AriaExpandEncryptKey(reinterpret_cast<const uint8_t*>(key.data()), 256, roundKeys), roundKeys, out);
    return Hex(out, 16);
}

// The record a log must hold for `text`: L, CRC-32, n, ciphertext.
std::string Record(const std::string& text) {
    std::string padded = text + std::string((16 - text.size() % 16) % 16, '\0'), cipher(padded.size(), '\0');
    AriaEnCryptSteram(kLogPassPhrase, reinterpret_cast<const uint8_t*>(padded.data()),
                      reinterpret_cast<uint8_t*>(cipher.data()), static_cast<int>(padded.size()), nullptr);
    return Le32(static_cast<uint32_t>(8 + padded.size())) + Le32(Crc32(text.data(), text.size())) +
           Le32(static_cast<uint32_t>(text.size())) + cipher;
}

// The texts of a log's records, then what the reader found wrong, if anything.
Strings ReadTexts(const std::string& file) {
    Strings texts;
    LogFault fault;
    ReadLog(reinterpret_cast<const uint8_t*>(file.data()), file.size(),
            [&](const LogRecord& record) { texts.emplace_back(reinterpret_cast<const char*>(record.text), record.length); }, &fault);
    if (fault.found) texts.push_back("fault at " + std::to_string(fault.offset) + ": " + fault.message);
    return texts;
}

// A touch of a guard page clears its guard and is noted; the touching code goes on.
bool g_guardTouched = false;
LONG CALLBACK PassGuardPage(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode != STATUS_GUARD_PAGE_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
    return g_guardTouched = true, EXCEPTION_CONTINUE_EXECUTION;
}

TEST(Aria, VectorsCrcAndTheStreamAndBufferWithinTheirBounds) {
    uint8_t key[32], plain[16], out[64], back[16];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i), plain[i % 16] = static_cast<uint8_t>(i % 16 * 0x11);
    for (auto [bits, rounds, cipher] : {std::tuple{128, 12, "d718fbd6ab644c739da95f3be6451778"}, {64, 0, ""},
                                        {192, 14, "26449c1805dbe7aa25a468ce263a9e79"}, {256, 16, "f92bd7c79fb72e2f2b8f80c1972d24fc"}}) {
        AriaRoundKeys encrypt, decrypt;
        ASSERT_EQ(AriaExpandEncryptKey(key, bits, encrypt) + AriaExpandDecryptKey(key, bits, decrypt), 2 * rounds);
        if (rounds) AriaCryptBlock(plain, rounds, encrypt, out), AriaCryptBlock(out, rounds, decrypt, back);
        EXPECT_TRUE(!rounds || Hex(out, 16) + Hex(back, 16) == cipher + Hex(plain, 16)) << bits;
    }
    EXPECT_TRUE(Crc32("abc", 3) == 0x352441C2u && Crc32("123456789", 9) == 0xCBF43926u && Crc32(nullptr, 0) == 0);

    // The stream's input ends where a guard page (x86 pages are 4 KiB) begins, which shows any read past it.
    auto* pages = static_cast<uint8_t*>(::VirtualAlloc(nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    ASSERT_TRUE(::VirtualProtect(pages + 4096, 4096, PAGE_READWRITE | PAGE_GUARD, &old));
    uint8_t *input = static_cast<uint8_t*>(std::memcpy(pages + 4096 - 17, "ABCDEFGHIJKLMNOPQ", 17)), tail[16] = {'Q'};
    std::memset(out, 0xEE, sizeof(out));
    void* handler = ::AddVectoredExceptionHandler(1, PassGuardPage);
    EXPECT_EQ(AriaEnCryptSteram("key", input, out, 17, nullptr), 32);
    ::RemoveVectoredExceptionHandler(handler);
    EXPECT_FALSE(g_guardTouched) << "read past the input";
    EXPECT_EQ(Hex(out, 33), EncryptBlock("key", input) + EncryptBlock("key", tail) + "ee") << "the last block completed with zeros";
    // The key text counts up to its terminator or 32 characters; the last key's round keys are kept.
    const char withRest[40] = "wob!fenu*wob\0left over", *longKey = "0123456789abcdefghijklmnopqrstuvWXYZ";
    const int expansions = AriaKeyExpansions();
    for (auto [text, used] : {std::pair{withRest, std::string("wob!fenu*wob")}, {longKey, std::string(longKey, 32)},
                              {longKey, std::string(longKey, 32)}, {withRest, std::string("wob!fenu*wob")}}) {
        EXPECT_EQ(AriaEnCryptSteram(text, input, out, 16, nullptr), 16);
        EXPECT_EQ(Hex(out, 16), EncryptBlock(used, input)) << text;
    }
    EXPECT_EQ(AriaKeyExpansions() - expansions, 3) << "the same key again is not expanded again";
    // The buffer: magic, CRC-32, n, ciphertext, and nothing past the size it
    // needs, (floor((n - 1) / 16) + 2) * 16; too small an output is refused with that size.
    int size = sizeof(out);
    char errors[2][64] = {};
    std::memset(out, 0xEE, sizeof(out));
    EXPECT_EQ(AriaEnCryptBuffer(kLogPassPhrase, input, 3, out, &size, errors[1]), 32);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 33), "QMR!ARIA" + Record("ABC").substr(4) + "\xEE");
    for (auto [length, required] : {std::pair{1, 32}, {16, 32}, {17, 48}, {33, 64}}) {
        size = required - 1;
        EXPECT_EQ(AriaEnCryptBuffer(kLogPassPhrase, pages, length, out, &size, errors[1]), 0);
        EXPECT_EQ(errors[1] + std::to_string(size), "[AriaEnCryptBuffer] invalid data length (" + std::to_string(required) + ") (" +
                                                        std::to_string(required - 1) + ")" + std::to_string(required));
        EXPECT_EQ(AriaEnCryptBuffer(kLogPassPhrase, pages, length, out, &size, errors[1]), required);
    }
    // Invalid input is refused, with or without a buffer for the error; the size given back stays.
    for (auto [keyText, in, to, length, sizeOut] : {std::tuple<const char*, const uint8_t*, uint8_t*, int, int*>{nullptr, input, out, 16, &size},
                                                    {"k", nullptr, out, 16, &size}, {"k", input, nullptr, 16, &size}, {"k", input, out, 16, nullptr},
                                                    {"k", input, out, 0, &size}, {"k", input, out, -16, &size}, {"k", input, out, INT_MAX, &size}}) {
        size = sizeof(out), errors[0][0] = errors[1][0] = '\0';
        EXPECT_EQ((sizeOut ? AriaEnCryptSteram(keyText, in, to, length, errors[0]) + AriaEnCryptSteram(keyText, in, to, length, nullptr) : 0) +
                      AriaEnCryptBuffer(keyText, in, length, to, sizeOut, errors[1]) + AriaEnCryptBuffer(keyText, in, length, to, sizeOut, nullptr), 0);
        EXPECT_EQ(errors[0] + std::string("|") + errors[1] + std::to_string(size), (sizeOut ? "[AriaEnCryptSteram] invalid input data" : "") +
                                                                                       std::string("|[AriaEnCryptBuffer] invalid input data64")) << length;
    }
    ::VirtualFree(pages, 0, MEM_RELEASE);
}

// Runs steps in a fresh process; "#N" stands for N letters. "ticks" prints
// the tick count, "set NAME" the log path, "write NAME TEXT" the result;
// "tear NAME N" appends the first N bytes of a record of 40 letters, as a
// writer that was stopped leaves them; "trace" sends the process's own debug
// lines to the file;
// "debug MASK" writes lines of every kind under the mask and prints the
// process id, then what reached the debugger output; "virus NAME PATH
// ACTION", "event TEXT" and "null" (an event and a virus without text or
// name) print nothing.
KX_PROBE(log_steps) {
    kxtest::DebugOutput();
    for (size_t i = 0; i < args.size();) {
        const std::string step = args[i++];
        Strings a;  // the step's arguments
        for (int n = step == "virus" ? 3 : step == "write" || step == "tear" ? 2 : step == "ticks" || step == "null" || step == "trace" ? 0 : 1; n > 0; --n, ++i)
            a.push_back(args.at(i).size() > 1 && args[i][0] == '#' ? Letters(std::stoul(args[i].substr(1))) : args[i]);
        if (step == "trace") ProcessOptions().debugMask = kDebugToFile;
        if (step == "ticks") std::printf("%lu\n", ::GetTickCount());
        if (step == "event") RecordEvent(a[0].c_str());
        if (step == "null") RecordEvent(nullptr), RecordVirus(nullptr, "C:\\x.exe", kActionCured, kSourceScanner);
        if (step == "set") SetEncryptedLogName(a[0].c_str()), std::printf("%s\n", EncryptedLogPath());
        if (step == "write") std::printf("%d\n", WriteEncryptedLogRecord(a[0].c_str(), a[1].c_str()));
        if (step == "virus") RecordVirus(a[0].c_str(), a[1].c_str(), std::stoi(a[2]), kSourceScanner);
        if (FILE* log = step == "tear" ? (SetEncryptedLogName(a[0].c_str()), std::fopen(EncryptedLogPath(), "ab")) : nullptr)
            std::fwrite(Record(Letters(40)).data(), 1, std::stoul(a[1]), log), std::fclose(log);
        if (step != "debug") continue;
        for (auto [tag, level, text] : {std::tuple{"scanner", int{kLevelInfo}, std::string("ScanVirus (C:\\a.exe) (0)")}, {"[x]", kLevelDebug0, "tagged"},
                                        {"scanner", 11, "level 11"}, {"scanner", -1, "level -1"},
                                        {"scanner", kLevelDebug1, std::string(2000, 'y')}, {"scanner", kLevelDebug3, "after the long line"}})
            DebugLog(tag, std::stoul(a[0]), level, "%s", text.c_str());
        std::printf("%lu\n", ::GetCurrentProcessId());
        for (const std::string& line : kxtest::DebugOutput()) std::printf("%s", line.c_str());
    }
    return 0;
}

Strings Steps(const Strings& steps) { return kxtest::Lines(kxtest::RunProbe("log_steps", steps).output); }

TEST(EncryptedLog, WholeRecordsAreAppendedOnlyWhereTheyFit) {
    kxtest::ProductRegistry registry;
    TempInstallDir base(false);
    // An installation whose log path with `name` has 259 characters, the most that fit.
    const std::string name = std::string(30, 'n') + ".log", tooLong(260, 'v');
    const std::string install = base.File(std::string(259 - base.Path().size() - 7 - name.size(), 'd')), logs = install + "\\Logs\\";
    ASSERT_TRUE(kxtest::RegSetString(kProductKey, "InstallPath", install));
    // Nothing to write, or no name: not even the folder is made.
    EXPECT_EQ(Steps({"write", "events.log", "", "write", "events.log", "#2033", "write", "", "abc"}), Strings(3, "0"));
    EXPECT_FALSE(kxtest::FolderExists(logs));
    // Whatever a log holds stays, even what is no log, and whole records
    // behind a torn one whose length reaches past them; an empty log is
    // started as a new one; a log another process holds is left alone.
    const std::map<std::string, std::string> before = {
        {"old.log", "QMR!LOGS" + Record("old") + "torn"}, {"older.log", "QMR!LOGS" + Record(Letters(900)).substr(0, 20) + Record("old")},
        {"other.log", "not a log"}, {"empty.log", ""}, {"locked.log", "QMR!LOGS"}};
    for (const auto& [file, content] : before) base.Write(logs.substr(base.Path().size() + 1) + file, content);
    fw::UniqueFile holder(::CreateFileA((logs + "locked.log").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    // A new log: its magic once, then records of n = 3, 16, 17, 2032. The
    // path follows the name, but not its letter case; one character more
    // than fits would be cut to another log's name.
    EXPECT_EQ(Steps({"write", "virus.log", "abc", "write", "virus.log", "#16", "write", "virus.log", "#17", "write", "virus.log", "#2032",
                     "set", "virus.log", "set", "VIRUS.LOG", "set", "events.log", "set", "virus.log", "write", "Virus.Log", "abc", "set",
                     "events.log", "write", name, "abc", "write", name + "x", "abc", "set", name + "x", "write", tooLong, "abc", "set",
                     tooLong, "write", "old.log", "abc", "write", "older.log", "abc", "write", "other.log", "abc", "write", "empty.log", "abc", "write", "locked.log", "abc"}),
              (Strings{"1", "1", "1", "1", logs + "virus.log", logs + "virus.log", logs + "events.log", logs + "virus.log", "1",
                       logs + "events.log", "1", "0", "", "0", "", "1", "1", "1", "1", "0"}));
    holder.reset();
    const std::string virus = kxtest::ReadFile(logs + "virus.log");
    EXPECT_EQ(virus.substr(0, 20), std::string("QMR!LOGS\x18\0\0\0\xC2\x41\x24\x35\x03\0\0\0", 20));
    EXPECT_EQ(virus.substr(36, 4) + virus.substr(64, 4) + virus.substr(108, 4), Le32(24) + Le32(40) + Le32(2040));
    EXPECT_EQ(virus, "QMR!LOGS" + Record("abc") + Record(Letters(16)) + Record(Letters(17)) + Record(Letters(2032)) + Record("abc"));
    EXPECT_EQ(kxtest::ReadFile(logs + name), "QMR!LOGS" + Record("abc"));
    EXPECT_EQ(kxtest::Listing(logs), "empty.log|locked.log|" + name + "|old.log|older.log|other.log|virus.log|");
    for (const auto& [file, content] : before)
        EXPECT_EQ(kxtest::ReadFile(logs + file), (file == "empty.log" ? "QMR!LOGS" : content) + (file == "locked.log" ? "" : Record("abc")));
}

// A record torn at any of its bytes by a writer that was stopped is cut off
// by the next append, whether it was there before this process's first
// append (which walks the whole log) or came after its last one (the walk
// starts there); the new record follows the whole ones.
TEST(EncryptedLog, ATornTailIsCutOffBeforeTheNextRecordWhereverItEnds) {
    RegisteredInstall install;
    const std::string head = "QMR!LOGS" + Record("abc"), torn = Record(Letters(40));
    Strings steps = {"trace"};
    for (size_t cut = 1; cut < torn.size(); ++cut) {
        const std::string n = std::to_string(cut), old = "old" + n + ".log", fresh = "new" + n + ".log";
        install.dir.Write("Logs\\" + old, head + torn.substr(0, cut));
        steps.insert(steps.end(), {"write", old, "abc", "write", fresh, "abc", "tear", fresh, n, "write", fresh, "abc"});
    }
    EXPECT_EQ(Steps(steps), Strings(3 * (torn.size() - 1), "1"));
    for (const std::string log : {"old", "new"})
        EXPECT_NE(install.dir.Read("Logs\\kxlog.01").find(log + "5.log: a torn record at offset 36 cut off, 5 bytes dropped\r\n"), std::string::npos);
    for (size_t cut = 1; cut < torn.size(); ++cut)
        for (const std::string log : {"old", "new"})
            EXPECT_EQ(install.dir.Read("Logs\\" + log + std::to_string(cut) + ".log"), head + Record("abc")) << log << cut;
}

// The lines of a debug log, each checked to end in CR LF and to start with its stamp, which is taken off.
Strings StampedTexts(const std::string& content) {
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), std::count(content.begin(), content.end(), '\r'));
    Strings texts = kxtest::Lines(content);
    for (std::string& text : texts) {
        EXPECT_TRUE(std::regex_match(text.substr(0, 19), kStamp) && text.substr(19, 3) == " : ") << text;
        text.erase(0, 22);
    }
    return texts;
}

constexpr int kRace = 400;

// "A 17 AAA...": the writer, the number and a length that varies.
std::string RaceText(const std::string& writer, int n) { return writer + " " + std::to_string(n) + " " + std::string(n % 97, writer[0]); }

// Two threads of writer args[0]: one appends debug lines to folder args[2];
// the other starts the logs race0.log... with two records each, meeting the
// other writer at a counter in shared memory (args[1]) before each, so that
// both start every log at the same moment, and appends a debug line after
// each. The exit code is the number of records and lines refused.
KX_PROBE(race_writer) {
    fw::UniqueHandle mapping(::OpenFileMappingA(FILE_MAP_WRITE, FALSE, args.at(1).c_str()));
    auto* arrived = static_cast<volatile LONG*>(::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
    std::atomic<int> refused{0};
    std::thread lines([&] {
        for (int n = 0; n < kRace; ++n) refused += AppendDebugLine(args.at(2).c_str(), RaceText(args[0] + "1", n).c_str()) != 0;
    });
    for (int log = 0; log < kRace; ++log) {
        ::InterlockedIncrement(arrived);
        for (DWORD start = ::GetTickCount(); *arrived < 2 * (log + 1) && ::GetTickCount() - start < 30000;) ::Sleep(0);
        for (int n = 2 * log; n < 2 * log + 2; ++n)
            refused += !WriteEncryptedLogRecord(("race" + std::to_string(log) + ".log").c_str(), RaceText(args[0], n).c_str());
        refused += AppendDebugLine(args[2].c_str(), RaceText(args[0] + "0", log).c_str()) != 0;
    }
    lines.join();
    return refused;
}

TEST(LogsUnderContention, TwoProcessesOfTwoThreadsLoseTearAndRepeatNoRecordOrLine) {
    RegisteredInstall install;
    const std::string counter = "kxtest_race_" + std::to_string(::GetCurrentProcessId());
    fw::UniqueHandle mapping(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, counter.c_str()));
    kxtest::ChildProcess writers[2];
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(kxtest::StartProbe(&writers[i], "race_writer", {i ? "B" : "A", counter, install.dir.Path()}));
    for (auto& writer : writers) EXPECT_TRUE(writer.Wait(100000) && writer.ExitCode() == 0) << writer.Output();
    // Each writer's records and lines come whole, once each, in the order written; each log has one magic.
    std::map<std::string, int> next;
    int bad = 0;
    auto check = [&](const std::string& text) {
        const std::string writer = text.substr(0, text.find(' '));
        const int n = std::atoi(text.substr(writer.size()).c_str());
        bad += text != RaceText(writer, n) || n != next[writer]++;
    };
    for (int log = 0; log < kRace; ++log) {
        const std::string file = install.dir.Read("Logs\\race" + std::to_string(log) + ".log");
        const Strings texts = ReadTexts(file);
        bad += texts.size() != 4 || file.find("QMR!LOGS", 1) != std::string::npos;
        for (const std::string& text : texts) check(text);
    }
    for (const std::string& line : StampedTexts(install.dir.Read("kxlog.01"))) check(line);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(next, (std::map<std::string, int>{{"A", 2 * kRace}, {"A0", kRace}, {"A1", kRace}, {"B", 2 * kRace}, {"B0", kRace}, {"B1", kRace}}));
    EXPECT_FALSE(kxtest::FileExists(install.dir.File("kxlog.lock")));
}

TEST(LogRecords, VirusAndEventRecordsWithTheirCountersAndStamps) {
    RegisteredInstall install;
    const std::string longName = std::string(740, 'N') + " variant", hugeName(800, 'H');  // counter names of 744 and 806
    auto value = [](const char* key, const std::string& name) { DWORD number = 0; return kxtest::RegGetDword(key, name, &number) ? number : 0; };
    // No name, no text: nothing at all, no record, counter or plain list.
    char from[32], to[32];
    FormatLogTime(std::time(nullptr), from);
    const Strings ticks = Steps({"ticks", "null", "virus", "", "C:\\x.exe", "1", "virus", "Worm.X variant 2", "C:\\x\\y.exe", "1",
                                 "virus", "Worm.X variant 2", "C:\\x\\y.exe", "1", "virus", "Worm.X", "C:\\a b\\z.exe", "3", "virus", "Long.Path",
                                 "#2000", "2", "virus", longName, "C:\\x.exe", "1", "virus", hugeName, "C:\\x.exe", "1", "event",
                                 "Scan ended: 3 found", "event", "", "event", "#2012", "event", "#2013", "ticks"});
    FormatLogTime(std::time(nullptr), to);
    // Stamps of the moment written; payloads cut to 778 characters; a record
    // text of 2032 bytes (stamp, "|" and 2012) is the longest.
    Strings payloads[2] = {ReadTexts(install.dir.Read("Logs\\virus.log")), ReadTexts(install.dir.Read("Logs\\events.log"))};
    for (Strings& texts : payloads)
        for (std::string& text : texts) {
            EXPECT_TRUE(std::regex_match(text.substr(0, 19), kStamp) && from <= text.substr(0, 19) && text.substr(0, 19) <= std::string(to)) << text;
            text.erase(0, 19);
        }
    EXPECT_EQ(payloads[0], (Strings{"|Worm.X variant 2|C:\\x\\y.exe|1|2", "|Worm.X variant 2|C:\\x\\y.exe|1|2", "|Worm.X|C:\\a b\\z.exe|3|2",
                                    ("|Long.Path|" + Letters(2000)).substr(0, 778), "|" + longName + "|C:\\x.exe|1|2",
                                    ("|" + hugeName + "|C:\\x.exe|1|2").substr(0, 778)}));
    EXPECT_EQ(payloads[1], (Strings{"|Scan ended: 3 found", "|", "|" + Letters(2012)}));
    // Counted under the name cut before " variant", per source and action;
    // never under a name cut short of its source and action; the stamps are tick counts of the writes.
    for (const auto& [counter, count] : {std::pair{std::string("Worm.X|2|1"), 2u}, {"Worm.X|2|3", 1u}, {"Long.Path|2|2", 1u},
                                         {std::string(740, 'N') + "|2|1", 1u}, {"Worm.X variant 2|2|1", 0u}, {std::string(778, 'H'), 0u}})
        EXPECT_EQ(value(kAccessKey, counter), count) << counter.substr(0, 40);
    for (const char* stamp : {"log_virus", "log_events"})
        EXPECT_TRUE(std::stoul(ticks.at(0)) <= value(kStatusKey, stamp) && value(kStatusKey, stamp) <= std::stoul(ticks.at(1))) << stamp;
}

TEST(DebugLog, TheMaskPicksOutputAndFileLinesKeepTheirShapeAndWritersWaitForTheLockThatNoLockFileOutlives) {
    for (DWORD mask = 0; mask < 3; ++mask) {
        RegisteredInstall install;
        ASSERT_TRUE(::CreateDirectoryA(install.dir.File("Logs").c_str(), nullptr));
        const Strings out = Steps({"debug", std::to_string(mask)});
        // A level outside 0..10 prints DEBUG. A line cut to its buffer keeps
        // its line feed: 1022 characters and "\n" on the debugger output, 1022 with the stamp in the file.
        const std::string id = "[" + out.at(0) + "] ";
        Strings texts = {id + "[INFO] [scanner] ScanVirus (C:\\a.exe) (0)", id + "[DEBUG0] [[x]] tagged", id + "[DEBUG] [scanner] level 11",
                         id + "[DEBUG] [scanner] level -1", (id + "[DEBUG1] [scanner] " + std::string(2000, 'y')).substr(0, 1022),
                         id + "[DEBUG3] [scanner] after the long line"};
        EXPECT_EQ(Strings(out.begin() + 1, out.end()), mask & 1 ? texts : Strings{}) << mask;
        texts[4].resize(1022 - 22);
        EXPECT_EQ(StampedTexts(install.dir.Read("Logs\\kxlog.01")), mask & 2 ? texts : Strings{}) << mask;
        EXPECT_EQ(kxtest::Listing(install.dir.File("Logs")), mask & 2 ? "kxlog.01|" : "") << mask;
    }
    TempInstallDir folder(false);
    const std::string lock = folder.File("kxlog.lock");
    // A missing folder is refused at once (the lock's wait, minutes long, would end the test), and not made.
    EXPECT_EQ(AppendDebugLine(folder.File("Logs").c_str(), "lost") + OpenLockFile(folder.File("Logs\\kxlog.lock").c_str()) +
                  AppendDebugLine(nullptr, "lost") + AppendDebugLine("", "lost"), -4);
    CloseLockFile(-1);
    EXPECT_EQ(kxtest::Listing(folder.Path()), "");
    // A lock file left behind by a writer that died is taken over; one held by
    // another writer, or open by someone who shares nothing (a lock file being
    // deleted), is waited for, and the line written soon after the release.
    fw::UniqueFile blocker;
    int held = -1;
    for (int holder : {0, 1, 2}) {
        ::DeleteFileA(folder.File("kxlog.01").c_str());
        if (holder == 0) folder.Write("kxlog.lock", "");
        if (holder == 1) held = OpenLockFile(lock.c_str());
        if (holder == 2)
            blocker.reset(::CreateFileA(lock.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        DWORD finished = 0;
        std::thread writer([&] { finished = AppendDebugLine(folder.Path().c_str(), "waited") == 0 ? ::GetTickCount() : 0; });
        ::Sleep(300);
        EXPECT_EQ(kxtest::FileExists(folder.File("kxlog.01")), holder == 0) << "written while the lock was held by " << holder;
        const DWORD released = ::GetTickCount();
        holder == 1 ? CloseLockFile(held) : blocker.reset();
        writer.join();
        EXPECT_TRUE(finished && (holder == 0 || finished - released < 500)) << "the waiting writer failed or slept too long: " << holder;
        EXPECT_EQ(StampedTexts(folder.Read("kxlog.01")), Strings{"waited"});
        EXPECT_EQ(kxtest::Listing(folder.Path()), "kxlog.01|") << "the lock file outlived its holders: " << holder;
    }
    // A kxlog.01 due to rotate that cannot be moved (open where deleting is
    // not shared) keeps its place, and so does every older generation.
    for (const std::string n : {"01", "02", "03", "04", "05"}) folder.Write("kxlog." + n, n == "01" ? std::string(5000001, 'x') : n);
    fw::UniqueFile reader(::CreateFileA(folder.File("kxlog.01").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    for (int line = 0; line < 4; ++line) AppendDebugLine(folder.Path().c_str(), "held");
    for (const std::string n : {"02", "03", "04", "05"}) EXPECT_EQ(folder.Read("kxlog." + n), n);
}

// What a scan visits (scan/).

// The engine's ScanFile stand-in: records the paths it is handed and cancels
// the job `stop` once it has `stopAfter` of them.
struct Recorded {
    Paths paths;
    ScanJob* stop = nullptr;
    size_t stopAfter = 0;
} g_recorded;

LONG WINAPI RecordScan(const char* path, DWORD, DWORD, char*, LONG*, const FILETIME*, DWORD) {
    g_recorded.paths.push_back(path);
    if (g_recorded.stop && g_recorded.paths.size() >= g_recorded.stopAfter) g_recorded.stop->cancel = 1;
    return 0;
}

std::string Searched(const char* name) {
    char found[260] = {};
    return ::SearchPathA(nullptr, name, nullptr, sizeof(found), found, nullptr), found;
}

ScanTargetList Targets(const Paths& paths) {
    ScanTargetList list(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) std::snprintf(list[i].path, sizeof(list[i].path), "%s", paths[i].c_str());
    return list;
}

TEST(ScanMutex, NamedByTheSumOfTheChecksumsOfTheLowerCasedPathsAndOwnedOnce) {
    std::string names;
    for (const Paths& paths : {Paths{}, Paths{"C:\\"}, Paths{"c:\\"}, Paths{"C:\\Data", "D:\\Backup\\"}, Paths{"d:\\BACKUP\\", "c:\\data"}}) {
        char name[32];
        ScanMutexName(Targets(paths), name, sizeof(name));
        names.append(name).append(" ");
    }
    EXPECT_EQ(names, "Kxscan_0 Kxscan_f2a46fcd Kxscan_f2a46fcd Kxscan_6483f5ff Kxscan_6483f5ff ");
    EXPECT_EQ(IsScanRunning(Targets({"C:\\kxtest\\mutex"})) + 10 * IsScanRunning(Targets({"C:\\kxtest\\mutex"})), 10) << "owned once";
}

// A ScanJob whose engine records the paths it is handed.
class Walk : public ::testing::Test {
protected:
    void SetUp() override { g_recorded = {}, job.engine.scanFile = RecordScan; }
    std::string Path(const std::string& relative) const { return root.File(relative); }
    void TearDown() override { ProcessOptions().quickScan = 0; }
    // The walkers work in a path buffer of 520 bytes.
    Paths Scan(std::string path, int recurse = 1) { return path.resize(520), ScanFolder(path.data(), recurse, job), g_recorded.paths; }
    DWORD Count(std::string path) { return path.resize(520), CountFolderFiles(path.data(), 1, job); }
    TempInstallDir root{false};
    ScanJob job;
};

TEST_F(Walk, EveryFileIsCountedAndScannedOnceInOrderUntilAStopAndQuickScanFilters) {
    for (const char* name : {"a.txt", "sub\\b.bin", "sub\\deeper\\c", "sub\\deeper\\d.doc", "z.exe"}) root.Write(name, "x");
    ::CreateDirectoryA(Path("empty").c_str(), nullptr);
    EXPECT_EQ(std::to_string(Count(root.Path())) + std::to_string(Count(root.Path() + "\\")) + std::to_string(Count(Path("missing"))), "550");
    EXPECT_EQ(Scan(root.Path()), (Paths{Path("a.txt"), Path("sub\\b.bin"), Path("sub\\deeper\\c"), Path("sub\\deeper\\d.doc"), Path("z.exe")}));
    EXPECT_EQ(Scan(Path("missing")).size(), 5u) << "an unreadable folder is skipped";
    char current[520];
    job.CopyCurrentFile(current, sizeof(current));
    EXPECT_EQ(current + std::to_string(job.filesVisited), Path("z.exe") + "5");
    for (int i = 0; i < 200; ++i) root.Write("big\\f" + std::to_string(1000 + i), "x");
    g_recorded = {{}, &job, 7}, job.filesVisited = 0;
    EXPECT_EQ(Scan(root.Path()).size(), 7u) << "a stop ends the walk at the next entry";
    EXPECT_EQ(job.filesVisited + Count(root.Path()), 7u) << "a cancelled scan stops counting too";

    // Listed extensions (without case, whole), and program or compound-document starts of files under 4 GiB.
    g_recorded = {}, job.cancel = 0, job.filesVisited = 0, ProcessOptions().quickScan = 1;
    std::snprintf(ProcessOptions().quickScanExtensions, 520, "exe,com,bat,doc,ppt,xls");
    for (const auto& [name, content] : {std::pair<const char*, std::string>{"readme.txt", "MZ rest"}, {"notes.txt", "plain"},
                                        {"setup.exe", std::string(3 << 20, 'M')}, {"small.EXE", "x"}, {"a.ex", "x"},
                                        {"archive.html", "<html>"}, {"archive2.html", "MZ"}, {"archive3.html", "\xD0\xCF\x11\xE0"}, {"one.bin", "M"}})
        root.Write("q\\" + std::string(name), content);
    EXPECT_EQ(Scan(Path("q")), (Paths{Path("q\\a.ex"), Path("q\\archive2.html"), Path("q\\archive3.html"), Path("q\\readme.txt"), Path("q\\small.EXE")}));
    EXPECT_EQ(std::to_string(job.filesVisited) + " " + std::to_string(Count(Path("q"))), "9 9") << "filtered files are visited and counted";
    g_recorded.paths.clear();
    EXPECT_EQ(Scan(Path("q\\setup.exe"), 0), Paths{Path("q\\setup.exe")}) << "a named file is always scanned";
    EXPECT_EQ(QuickScanWants(Path("q\\small.EXE").c_str(), L"small.EXE", 1, 10, "exe"), 0) << "4 GiB and more";
}

TEST_F(Walk, NamesWithoutAnAnsiFormGoByTheirShortNamesAndPathsTooLongAreSkippedNotCut) {
    const std::wstring folder(root.Path().begin(), root.Path().end());
    Paths expected;  // in the order of the long names
    for (const wchar_t* name : {L"caf\u0101.txt", L"\uD55C\uAE00 \uBB38\uC11C.txt"}) {
        ::CloseHandle(::CreateFileW((folder + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        wchar_t shortPath[MAX_PATH] = {};
        ASSERT_GT(::GetShortPathNameW((folder + L"\\" + name).c_str(), shortPath, MAX_PATH), 0u);
        char ansi[MAX_PATH] = {};
        ::WideCharToMultiByte(CP_ACP, 0, std::wcsrchr(shortPath, L'\\') + 1, -1, ansi, sizeof(ansi), nullptr, nullptr);
        expected.push_back(Path(ansi));
        EXPECT_TRUE(std::strchr(ansi, '?') == nullptr && kxtest::FileExists(expected.back())) << expected.back();
    }
    EXPECT_EQ(Scan(root.Path()), expected);

    // A folder whose path leaves room for short names only, with names of 520 and 519 characters.
    std::wstring deep = L"\\\\?\\" + folder + L"\\deep";
    std::string ansiDeep = Path("deep");
    for (::CreateDirectoryW(deep.c_str(), nullptr); ansiDeep.size() < 470; ansiDeep.append("\\").append(40, 'd'))
        ASSERT_TRUE(::CreateDirectoryW((deep += L"\\" + std::wstring(40, L'd')).c_str(), nullptr));
    const std::string tooLong(519 - ansiDeep.size(), 'n'), fits(518 - ansiDeep.size(), 'f');
    for (const std::string& name : {tooLong, fits})
        ::CloseHandle(::CreateFileW((deep + L"\\" + std::wstring(name.begin(), name.end())).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    g_recorded.paths.clear();
    EXPECT_EQ(Scan(Path("deep")), Paths{ansiDeep + "\\" + fits});
    EXPECT_EQ(Count(Path("deep")), 1u);
    // A 519-character folder cannot take its backslash: nothing is written past its 520 bytes.
    char buffer[528];
    std::memcpy(static_cast<char*>(std::memset(buffer, 'p', 519)) + 519, "\0GUARD!", 8);
    ScanFolder(buffer, 1, job);
    EXPECT_EQ(CountFolderFiles(buffer, 1, job) + std::string(buffer + 520).compare("GUARD!"), 0u);
}

// Counts and scans each "path:recurse" with the settings' exclusions; prints
// the excluded paths as the settings gave them, the counts, then the scanned paths.
KX_PROBE(walk_with_exclusions) {
    ScanJob job;
    job.engine.scanFile = RecordScan;
    LoadExcludedPaths();
    for (DWORD i = 0; i < ExcludedPaths().count; ++i) std::printf("%s:%lu ", ExcludedPaths().entries[i].path, ExcludedPaths().entries[i].matchLength);
    for (const std::string& arg : args) {
        char buffer[520];
        std::snprintf(buffer, sizeof(buffer), "%s", arg.substr(0, arg.rfind(':')).c_str());
        if (arg.back() == '1') std::printf("%lu|", CountFolderFiles(buffer, 1, job));
        ScanFolder(buffer, arg.back() == '1', job);
    }
    for (const std::string& path : g_recorded.paths) std::printf("%s|", path.c_str());
    return 0;
}

TEST(WalkExclusions, PiecesSplitAndClosedWithinTheirFieldAndExcludedFoldersAndNamedFilesNeitherCountedNorScanned) {
    RegisteredInstall install;
    for (const char* name : {"data\\keep.txt", "data\\Skip\\a.txt", "data\\Skipped\\b.txt", "data\\Other\\c.txt",
                             "data\\Other\\hidden.txt", "data\\Other\\shown.txt"})
        install.dir.Write(name, "x");
    // Pieces split at "|", empty ones dropped, each closed with a backslash
    // within its 520 bytes and matched over its length as written, 16 at
    // most. "skip" without a backslash also covers "Skipped", in any case.
    // Inside a walked folder only folders are tested; a named file is tested itself.
    auto file = [&](const char* name) { return install.dir.File(std::string("data\\") + name); };
    const std::string closed = "C:\\" + std::string(515, 'b') + "\\";  // 519 characters
    std::string pieces = file("skip") + "|" + file("Other\\hidden.txt") + "||C:\\" + std::string(600, 'a') + "|" + closed;
    std::string entries = file("skip") + "\\:" + std::to_string(file("skip").size()) + " " + file("Other\\hidden.txt") + "\\:" +
                          std::to_string(file("Other\\hidden.txt").size()) + " C:\\" + std::string(515, 'a') + "\\:518 " + closed + ":519 ";
    for (int i = 0; i < 20; ++i) {
        pieces += "|C:\\Dir" + std::to_string(i);
        if (i < 12) entries += "C:\\Dir" + std::to_string(i) + "\\:" + std::to_string(7 + (i > 9)) + " ";
    }
    install.dir.Write("qmrkx.ini", "[MAIN]\nexcludepath=" + pieces + "\n");
    EXPECT_EQ(kxtest::RunProbe("walk_with_exclusions", {file("") + ":1", file("Skip") + ":1", file("Other\\hidden.txt") + ":0",
                                                        file("Other\\shown.txt") + ":0"}).output,
              entries + "4|0|" + file("keep.txt") + "|" + file("Other\\c.txt") + "|" + file("Other\\hidden.txt") + "|" +
                  file("Other\\shown.txt") + "|" + file("Other\\shown.txt") + "|");
}

const std::string kRun = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\", kServices = "System\\CurrentControlSet\\Services\\KxTestSvc",
                  kClasses = "SOFTWARE\\Classes\\CLSID\\", kClassData = "{6A1B1D4E-0000-4000-8000-4B5843534E31}",
                  kClassName = "{6A1B1D4E-0000-4000-8000-4B5843534E32}", kNoServer = "{6A1B1D4E-0000-4000-8000-4B5843534E33}",
                  kWinlogon = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

TEST_F(Walk, AutostartEntriesGiveTheirPathsInLocationOrderCountedAsScanned) {
    char lsass[MAX_PATH];  // no such file here: the expanded path stays as it is
    ::ExpandEnvironmentStringsA("%SystemRoot%\\system32\\lsass.exe", lsass, sizeof(lsass));
    // HKLM and HKCU of this process are taken over by keys of the test's own
    // that hold every kind of entry, one or two per location; the classes,
    // which the walk reads through HKEY_CLASSES_ROOT, lie under the real HKLM.
    kxtest::ScopedHklmKey roots{"SOFTWARE\\KxTestAutostart"}, data{kClasses + kClassData}, name{kClasses + kClassName}, noServer{kClasses + kNoServer};
    fw::UniqueKey machine, user;
    ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, (roots.Path() + "\\LM").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, machine.put(), nullptr);
    ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, (roots.Path() + "\\CU").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, user.put(), nullptr);
    for (const auto& [root, key, value, text] : std::vector<std::tuple<HKEY, std::string, std::string, std::string>>{
             {user.get(), kRun + "Run", "KxQuoted", "\"C:\\Program Files\\Tool\\tool.exe\" /start"},
             {user.get(), kRun + "RunOnce", "KxRundll", "C:\\WINDOWS\\system32\\RUNDLL32.EXE C:\\x\\y.dll,Start"},
             {machine.get(), kRun + "Run", "KxRundllLower", "rundll32.exe C:\\x\\y.dll,Start"},
             {machine.get(), kRun + "RunOnce", "KxUnc", "\\\\server\\share\\x.exe"},
             {machine.get(), kRun + "RunOnceEx\\KxSub", "1", "C:\\kxtest\\subkey.exe"},
             {machine.get(), kRun + "RunServices", "KxSame1", "C:\\kxtest\\same.exe"},
             {machine.get(), kRun + "RunServices", "KxSame2", "C:\\KXTEST\\same.exe"},
             {machine.get(), kRun + "ShellServiceObjectDelayLoad", "KxObject", kClassData},
             {HKEY_LOCAL_MACHINE, kClasses + kClassData + "\\InProcServer32", "", "C:\\kxtest\\clsid_data.dll"},
             {machine.get(), kRun + "Shell Extensions\\Approved", kClassName, "Kx extension"},
             {machine.get(), kRun + "Shell Extensions\\Approved", kNoServer, "Kx without server"},
             {HKEY_LOCAL_MACHINE, kClasses + kClassName + "\\InProcServer32", "", "C:\\kxtest\\clsid_name.dll"},
             {HKEY_LOCAL_MACHINE, kClasses + kNoServer, "", "C:\\kxtest\\no_server.dll"},
             {machine.get(), kRun + "Explorer\\Browser Helper Objects\\{6A1B1D4E-0000-4000-8000-4B5843534E34}", "", "C:\\kxtest\\bho.dll"},
             {machine.get(), kServices, "ImagePath", "%SystemRoot%\\system32\\lsass.exe /x"},
             {machine.get(), kServices + "\\Parameters", "ServiceDll", "C:\\kxtest\\svc.dll"},
             {machine.get(), kServices + "\\Parameters\\Deep", "ImagePath", "C:\\kxtest\\deep.exe"},
             {machine.get(), kWinlogon, "userinit", "C:\\kxtest\\userinit.exe,"}, {machine.get(), kWinlogon, "Shell", "C:\\kxtest\\shell.exe"},
             {machine.get(), "System\\CurrentControlSet\\Control\\Session Manager", "BootExecute", std::string("C:\\kxtest\\boot.exe\0", 20)}})
        EXPECT_EQ(::RegSetKeyValueA(root, key.c_str(), value.c_str(), value == "BootExecute" ? REG_MULTI_SZ : REG_SZ, text.c_str(),
                                    static_cast<DWORD>(text.size() + 1)), ERROR_SUCCESS) << key << " " << value;
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine.get()), ::RegOverridePredefKey(HKEY_CURRENT_USER, user.get());
    // Quoted with an argument; the RUNDLL32.EXE host dropped; rundll32.exe
    // found by the search; two entries in a row for one file once; a CLSID as
    // data and as value name; the deepest service key first; variables
    // expanded and the argument cut; ServiceDll after every ImagePath. No
    // network path, no subkey of a value-list key, no helper object, no class
    // without InProcServer32.
    const Paths expected = {"C:\\Program Files\\Tool\\tool.exe", "C:\\x\\y.dll", Searched("rundll32.exe"), "C:\\kxtest\\same.exe",
                            "C:\\kxtest\\clsid_data.dll", "C:\\kxtest\\clsid_name.dll", "C:\\kxtest\\deep.exe", lsass,
                            "C:\\kxtest\\svc.dll", "C:\\kxtest\\userinit.exe", "C:\\kxtest\\shell.exe", "C:\\kxtest\\boot.exe"};
    // Every path reaches the engine; only rundll32.exe is a file here, so only it counts and is visited.
    const DWORD counted = ScanAutostart(0, job);
    EXPECT_TRUE(ScanAutostart(1, job) == counted && counted == 1 && job.filesVisited == counted);
    EXPECT_EQ(g_recorded.paths, expected);
    // A stop before the pass, or at its first entry.
    g_recorded = {{}, &job, 1}, job.cancel = 1;
    EXPECT_EQ(ScanAutostart(1, job), 0u);
    job.cancel = 0;
    EXPECT_EQ(ScanAutostart(1, job) + g_recorded.paths.size(), 1u) << "no further entry or location once stopped";
    // The kernel's form loses its prefix; a repeat in other case is no new file.
    g_recorded = {}, job.cancel = 0;
    ScanAutostartFile("\\??\\C:\\kxtest\\kernel.sys", 1, job), ScanAutostartFile("\\??\\c:\\KXTEST\\kernel.sys", 1, job);
    EXPECT_EQ(g_recorded.paths, Paths{"C:\\kxtest\\kernel.sys"});
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr), ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);  // before the keys are removed
}

TEST(CommandPaths, TextsBecomeTheFileTheyNameOrNothing) {
    std::string long1023(1023, 'a');
    long1023.replace(0, 10, "C:\\kxtest\\");
    // After the cut at ".EXE" nothing may follow the host: the bytes behind
    // the cut are no path. Tree values are read into 1024 bytes; the path
    // still fits 260. ".exe" is tried before ".Dll".
    const std::pair<std::string, std::string> rows[] = {
        {"C:\\x\\RUNDLL32.EXEX:\\evil.sys", ""}, {"C:\\nowhere\\RUNDLL32.EXE", ""}, {"C:\\nowhere\\RUNDLL32.EXE ", ""},
        {"\"notepad.exe\" /p x.txt", Searched("notepad.exe")}, {"kx_no_such_program.exe /x", ""}, {"", ""},
        {"C:\\a\\\\b.exe", ""}, {long1023, long1023.substr(0, 259)}, {"C:\\k\\a.Dll\\b.exe", "C:\\k\\a.Dll\\b.exe"}};
    for (const auto& [text, path] : rows) {
        std::string buffer = text + std::string(1024 - text.size(), '\0');
        EXPECT_EQ(ExtractCommandPath(buffer.data()) ? buffer.c_str() : "", path) << text.substr(0, 40);
    }
    // Components expanded, empty ones dropped, unknown and over-long ones left.
    ::SetEnvironmentVariableA("KX_LONG", std::string(250, 'L').c_str()), ::SetEnvironmentVariableA("KX_ROOT", "C:\\Windows");
    for (const auto& [in, out] : {std::pair<std::string, std::string>{"%KX_ROOT%\\system32\\\\x.exe\\", "C:\\Windows\\system32\\x.exe"},
                                  {"%KX_NOT_SET%\\y.dll", "%KX_NOT_SET%\\y.dll"}, {"%KX_LONG%\\%KX_LONG%\\z.dll", "%KX_LONG%\\%KX_LONG%\\z.dll"}}) {
        char path[260];
        ExpandPathVariables(std::strcpy(path, in.c_str()));
        EXPECT_EQ(path, out);
    }
}

TEST_F(Walk, ModulesOfEveryProcessOncePerPassAndDriversCountedAsScanned) {
    // Every process of the prefix loads ntdll.dll and kernel32.dll: each is still scanned once.
    const DWORD counted = ScanProcessModules(0, job);
    EXPECT_TRUE(ScanProcessModules(1, job) == counted && counted == g_recorded.paths.size() && job.filesVisited == counted);
    Paths sorted = g_recorded.paths;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "scanned twice";
    for (const std::string& module : {kxtest::BuildFolder() + "\\kxscan_tests.exe", Searched("kernel32.dll"), Searched("ntdll.dll")})
        EXPECT_EQ(std::count_if(sorted.begin(), sorted.end(), [&](auto& p) { return ::lstrcmpiA(p.c_str(), module.c_str()) == 0; }), 1) << module;
    // Wine lists no drivers, Windows many: either way both passes agree, and the count pass hands nothing over.
    g_recorded.paths.clear();
    const DWORD drivers = ScanLoadedDrivers(0, job);
    EXPECT_TRUE(g_recorded.paths.empty() && ScanLoadedDrivers(1, job) == drivers && g_recorded.paths.size() == drivers);
    g_recorded = {{}, &job, 1};
    EXPECT_EQ(ScanProcessModules(1, job), 1u);
    EXPECT_EQ(ScanProcessModules(0, job) + ScanLoadedDrivers(0, job) + ScanLoadedDrivers(1, job) + g_recorded.paths.size(), 1u)
        << "no further module or driver once stopped";
    // Each new path past 4096, none twice; another letter case is another path.
    ModulePathsSeen seen;
    DWORD added = 0;
    for (int i = 0; i < 12000; ++i) added += seen.Add(("C:\\Windows\\System32\\module" + std::to_string(i % 6000) + ".dll").c_str());
    EXPECT_TRUE(added == 6000 && seen.Count() == 6000 && seen.Add("C:\\WINDOWS\\System32\\module1.dll"));
}

// The skinned controls (controls/).

// A memory context on a 32-bit DIB section, so that GetPixel gives exact colours.
struct Canvas {
    Canvas() {
        BITMAPINFO info{{sizeof(BITMAPINFOHEADER), 600, -200, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
        void* bits = nullptr;
        bitmap.reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        ::SelectObject(dc.get(), bitmap.get());
        ::SelectObject(dc.get(), ::GetStockObject(DEFAULT_GUI_FONT));
    }
    fw::UniqueBitmap bitmap;
    fw::UniqueDc dc{::CreateCompatibleDC(nullptr)};  // deleted before its bitmap
};

// The colour at (x, y) of a picture, of the resources or the caller's.
COLORREF Pictured(HBITMAP picture, int x, int y) {
    Canvas canvas;
    fw::SelectGuard selected(canvas.dc.get(), picture);
    return ::GetPixel(canvas.dc.get(), x, y);
}

TEST(SkinControls, LabelTextProgressShareAndFillButtonTypesColoursAndCaptureAndTheListsStrip) {
    ::InitCommonControls();
    HWND host = ::CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 600, 300, nullptr, nullptr, nullptr, nullptr);
    auto add = [&](const char* type, DWORD style, int id, RECT r) {
        return ::CreateWindowExA(0, type, "", WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.right, r.bottom, host,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    };
    HWND bar = add(PROGRESS_CLASSA, 0, 1002, {93, 75, 447, 12});
    add("Static", SS_LEFT, 1010, {20, 30, 120, 14});
    add(WC_LISTVIEWA, LVS_REPORT | LVS_OWNERDRAWFIXED, kFindingsListId, {12, 114, 570, 140});
    SkinLabel label;
    SkinProgress progress;  // Attach loads the fill pictures 140 and 144
    FindingsList findings;
    fw::UniqueBitmap strip(static_cast<HBITMAP>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kCheckStripBitmap),
                                                             IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    ASSERT_TRUE(label.Attach(host, 1010) && progress.Attach(host, 1002) && findings.Attach(host, kFindingsListId) && findings.InitImages(strip.get()));
    EXPECT_EQ(Pictured(strip.get(), 0, 0), kGlyphMask) << "the image lists take copies: adding the strip with its mask blackens it";
    // The text changes only when it differs beyond letter case, and is cut to its buffer.
    const std::string longText(SkinLabel::kTextSize + 100, 'x');
    for (auto [text, shown] : {std::pair<const char*, std::string>{"C:\\Scan\\File.TXT", "C:\\Scan\\File.TXT"},
                               {"c:\\scan\\file.txt", "C:\\Scan\\File.TXT"}, {nullptr, ""},
                               {longText.c_str(), longText.substr(0, SkinLabel::kTextSize - 1)}}) {
        label.SetText(text);
        EXPECT_EQ(label.Text(), shown);
    }
    // The fill's share of the range, in 64 bits; none for equal or reversed bounds or an upper bound of 0.
    for (auto [lower, upper, position, width] : {std::tuple{0, 1, 1, 447}, {0, 100, 0, 0}, {50, 150, 50, 0}, {-10, 0, -5, 0},
                                                 {0, 1000, 500, 223}, {0, 10000000, 9000000, 402}, {7, 7, 7, 0}, {9, 3, 5, 0}}) {
        ::SendMessageA(bar, PBM_SETRANGE32, lower, upper), ::SendMessageA(bar, PBM_SETPOS, position, 0);
        EXPECT_EQ(progress.FilledWidth(), width) << lower << ".." << upper << " at " << position;
    }
    // Push, radio and check buttons become owner-draw (their type replaced); only a check box takes a check state.
    SkinButton skins[3];
    const DWORD styles[3] = {BS_PUSHBUTTON, BS_RADIOBUTTON, BS_AUTOCHECKBOX};
    for (int i = 0; i < 3; ++i) {
        HWND child = add("Button", styles[i], 1011 + i, {10, 10 + 30 * i, 60, 25});
        ASSERT_TRUE(skins[i].Attach(host, 1011 + i));
        skins[i].SetChecked(true, false);
        EXPECT_EQ((::GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) + 16 * (skins[i].IsCheckBox() + 2 * skins[i].GetChecked()),
                  BS_OWNERDRAW + (i == 2 ? 48u : 0u)) << i;
    }
    // A colour index out of range is refused and changes nothing.
    SkinButton& skin = skins[0];
    HWND button = skin.Handle();
    const COLORREF last = skin.GetColor(SkinButton::TextFocus);
    EXPECT_TRUE(skin.SetColor(5, RGB(1, 1, 1), true) + skin.SetColor(255, RGB(1, 1, 1), true) == 6 && skin.GetColor(SkinButton::TextFocus) == last);
    // Hover comes with the capture; leaving lets it go, but not while the
    // button is held; a capture another window took is its own.
    const std::tuple<UINT, int, WPARAM, int> steps[] = {  // message, x, keys, hover + 2 * captured
        {WM_MOUSEMOVE, 5, 0, 3}, {WM_MOUSEMOVE, 200, 0, 0}, {WM_MOUSEMOVE, 5, 0, 3}, {WM_LBUTTONDOWN, 5, MK_LBUTTON, 3},
        {WM_MOUSEMOVE, 200, MK_LBUTTON, 2}, {WM_LBUTTONUP, 200, 0, 0}};
    for (auto [message, x, keys, state] : steps) {
        ::SendMessageA(button, message, keys, MAKELPARAM(x, 5));
        EXPECT_EQ(skin.IsHover() + 2 * (::GetCapture() == button), state) << message << " " << x;
    }
    for (UINT cancel : {UINT{WM_CANCELMODE}, UINT{WM_KILLFOCUS}}) {
        ::SendMessageA(button, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5)), ::SetCapture(host), ::SendMessageA(button, cancel, 0, 0);
        EXPECT_TRUE(::GetCapture() == host && !skin.IsHover()) << cancel;
        ::ReleaseCapture();
    }
    ::DestroyWindow(host);
}

INT_PTR CALLBACK PlainDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// With the styles of kxscan.exe's own template, each label that shows paths
// or library texts draws "C:\R&D\a.exe" in as many columns as the text drawn
// without prefix processing: the "&" shows, no letter is underlined.
TEST(SkinControls, TheWindowsLabelsDrawAnAmpersandAsItIs) {
    ::InitCommonControls();
    HMODULE program = ::LoadLibraryExA((kxtest::BuildFolder() + "\\kxscan.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HWND window = ::CreateDialogParamA(program, MAKEINTRESOURCEA(102), nullptr, PlainDialog, 0);
    ASSERT_NE(window, nullptr);
    auto inkColumns = [](const Canvas& drawn, const Canvas& background) {  // where the first 300 x 20 pixels differ
        int columns = 0;
        for (int x = 0, y = 0; x < 300; ++x, columns += y < 20, y = 0)
            while (y < 20 && ::GetPixel(drawn.dc.get(), x, y) == ::GetPixel(background.dc.get(), x, y)) ++y;
        return columns;
    };
    for (int id : {1012, 1010, 1006}) {
        ::MoveWindow(::GetDlgItem(window, id), 0, 0, 300, 20, FALSE);
        SkinLabel label;
        ASSERT_TRUE(label.Attach(window, id));
        Canvas background, drawn, expected;
        label.Paint(background.dc.get());
        label.SetText("C:\\R&D\\a.exe"), label.Paint(drawn.dc.get());
        HDC dc = expected.dc.get();
        ::BitBlt(dc, 0, 0, 300, 20, background.dc.get(), 0, 0, SRCCOPY), ::SelectObject(dc, label.Font()), ::SetBkMode(dc, TRANSPARENT);
        RECT area{0, 0, 300, 20};
        ::DrawTextA(dc, label.Text(), -1, &area, DT_WORDBREAK | DT_NOPREFIX);
        EXPECT_EQ(inkColumns(drawn, background), inkColumns(expected, background)) << id;
    }
    ::DestroyWindow(window);
}

// What ShortenToWidth makes of `text` at `width` pixels: "whole", "cut", or
// what is wrong: no "...", another beginning, a split double-byte character,
// or (`fits`) a cut that does not fit or is not the longest that does.
std::string Cut(HDC dc, const std::string& text, int width, bool fits) {
    auto pixels = [&](const std::string& t) { SIZE size{}; return ::GetTextExtentPoint32A(dc, t.c_str(), static_cast<int>(t.size()), &size), size.cx; };
    const std::string cut = ShortenToWidth(dc, text.c_str(), width);
    if (cut == text) return pixels(text) < width ? "whole" : "not cut";
    size_t kept = 0;
    while (kept + 3 < cut.size()) kept += ::IsDBCSLeadByte(static_cast<BYTE>(cut[kept])) ? 2 : 1;
    const size_t next = kept + (::IsDBCSLeadByte(static_cast<BYTE>(text[kept])) ? 2 : 1);
    const bool right = kept + 3 == cut.size() && cut.ends_with("...") && text.compare(0, kept, cut, 0, kept) == 0 &&
                       (!fits || (pixels(cut) < width && pixels(text.substr(0, next) + "...") >= width));
    return right ? "cut" : "bad cut at " + std::to_string(width) + ": " + cut;
}

// Cuts a path at widths where a cut must fit and be the longest that does,
// and Korean texts at every width; prints each cut that is wrong.
KX_PROBE(shorten_to_width) {
    if (::GetACP() != 949) return std::printf("code page %u\n", ::GetACP()), 1;
    Canvas canvas;
    const std::string path = "C:\\Windows\\System32\\drivers\\etc\\something-long.sys", cuts[] = {"whole", "cut", "cut", "cut", "whole", "cut"};
    int row = 0;
    for (auto [text, width] : {std::pair{path, 1000}, {path, 200}, {path, 100}, {path, 40}, {std::string(), 1}, {std::string(5000, 'w'), 60}})
        if (const std::string cut = Cut(canvas.dc.get(), text, width, true); cut != cuts[row++]) std::printf("%s\n", cut.c_str());
    // Hangul of KS X 1001 (both bytes high) and of the extended set, whose trail bytes may be letters.
    for (const wchar_t* wide : {L"\uAC00\uB098\uB2E4\uB77C\uB9C8\uBC14\uC0AC\uC544", L"a\uAC00\uB098b\uB2E4\uB77Cc",
                                L"\uB620\uB620x\uB620\uB620\uB620", L"\uBA3F\uAC00\uB620ab\uB620"}) {
        char text[200];
        ::WideCharToMultiByte(949, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
        for (int width = 1; width <= 400; ++width)
            if (const std::string cut = Cut(canvas.dc.get(), text, width, false); cut != "cut" && cut != "whole") std::printf("%s\n", cut.c_str());
    }
    return 0;
}

TEST(ShortenToWidth, CutsWithAnEllipsisToTheLongestTextThatFitsAndNeverSplitsACharacterOfCodePage949) {
    const kxtest::RunResult run = kxtest::RunProbeInLocale("ko_KR", "shorten_to_width");
    EXPECT_TRUE(run.finished && run.exitCode == 0 && run.output.empty()) << run.output;
}

}  // namespace
