// The logs (logs/): the cipher and CRC-32, the encrypted log files and their
// records, the virus and event records with their counters, stamps and the
// plain virus list, and the debug log with its lock and rotation. Several
// processes write at once where the product's processes do.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/registry.h"
#include "app/startup.h"
#include "framework/handles.h"
#include "logs/aria.h"
#include "logs/crc32.h"
#include "logs/debug_log.h"
#include "logs/encrypted_log.h"
#include "logs/log_records.h"
#include "tests/support/test_support.h"
#include "tools/kxlogcat/aria_decrypt.h"
#include "tools/kxlogcat/log_reader.h"

namespace {

using kxtest::RegisteredInstall;
using kxtest::TempInstallDir;
using Strings = std::vector<std::string>;

std::string Hex(const uint8_t* bytes, size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) text += "0123456789abcdef"[bytes[i] >> 4] + std::string(1, "0123456789abcdef"[bytes[i] & 15]);
    return text;
}

// A key text zero-filled to 32 bytes.
std::string Key(std::string text) {
    text.resize(32, '\0');
    return text;
}

// One block under a 32-byte key, through the key schedule itself.
std::string EncryptBlock(const std::string& key, const uint8_t* block) {
    AriaRoundKeys roundKeys;
    uint8_t out[16];
    AriaCryptBlock(block, AriaExpandEncryptKey(reinterpret_cast<const uint8_t*>(key.data()), 256, roundKeys), roundKeys, out);
    return Hex(out, 16);
}

TEST(Aria, Rfc5794VectorsBothWaysAndCrc32) {
    uint8_t key[32], cipher[16], back[16];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i);
    const uint8_t plain[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    const struct {
        int bits, rounds;
        const char* cipher;
    } rows[] = {{128, 12, "d718fbd6ab644c739da95f3be6451778"}, {192, 14, "26449c1805dbe7aa25a468ce263a9e79"},
                {256, 16, "f92bd7c79fb72e2f2b8f80c1972d24fc"}, {64, 0, nullptr}};
    for (const auto& row : rows) {
        AriaRoundKeys encrypt, decrypt;
        ASSERT_EQ(AriaExpandEncryptKey(key, row.bits, encrypt), row.rounds);
        ASSERT_EQ(AriaExpandDecryptKey(key, row.bits, decrypt), row.rounds);
        if (!row.cipher) continue;
        AriaCryptBlock(plain, row.rounds, encrypt, cipher);
        AriaCryptBlock(cipher, row.rounds, decrypt, back);
        EXPECT_EQ(Hex(cipher, 16) + Hex(back, 16), row.cipher + Hex(plain, 16)) << row.bits;
    }
    EXPECT_EQ(Crc32("abc", 3), 0x352441C2u);
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

// A touch of a guard page clears its guard; the touching code goes on.
LONG CALLBACK PassGuardPage(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == STATUS_GUARD_PAGE_VIOLATION ? EXCEPTION_CONTINUE_EXECUTION
                                                                                : EXCEPTION_CONTINUE_SEARCH;
}

TEST(AriaStream, WholeBlocksUnderTheKeyTextNeverReadingPastTheInput) {
    // The input ends where a guard page begins, which shows any read past it.
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    auto* pages = static_cast<uint8_t*>(::VirtualAlloc(nullptr, 2 * system.dwPageSize, MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    ASSERT_TRUE(::VirtualProtect(pages + system.dwPageSize, system.dwPageSize, PAGE_READWRITE | PAGE_GUARD, &old));
    uint8_t* input = pages + system.dwPageSize - 17;
    std::memcpy(input, "ABCDEFGHIJKLMNOPQ", 17);
    uint8_t out[40], tail[16] = {'Q'};  // the short last block is completed with zeros
    std::memset(out, 0xEE, sizeof(out));
    void* handler = ::AddVectoredExceptionHandler(1, PassGuardPage);
    EXPECT_EQ(AriaEnCryptSteram("key", input, out, 17, nullptr), 32);
    ::RemoveVectoredExceptionHandler(handler);
    MEMORY_BASIC_INFORMATION guard{};
    ::VirtualQuery(pages + system.dwPageSize, &guard, sizeof(guard));
    EXPECT_TRUE(guard.Protect & PAGE_GUARD) << "read past the input";
    EXPECT_EQ(out[32], 0xEE);
    const std::string key = Key("key");
    EXPECT_EQ(Hex(out, 32), EncryptBlock(key, input) + EncryptBlock(key, tail));

    // The key text is zero-filled to 32 bytes (nothing behind its terminator
    // counts) and cut to 32; the last key's round keys are kept.
    const char withRest[40] = "wob!fenu*wob\0left over", *longKey = "0123456789abcdefghijklmnopqrstuvWXYZ";
    const int expansions = AriaKeyExpansions();
    for (const auto& [text, expected] : {std::pair<const char*, std::string>{withRest, Key("wob!fenu*wob")},
                                         {longKey, std::string(longKey, 32)}, {longKey, std::string(longKey, 32)},
                                         {withRest, Key("wob!fenu*wob")}}) {
        EXPECT_EQ(AriaEnCryptSteram(text, input, out, 16, nullptr), 16);
        EXPECT_EQ(Hex(out, 16), EncryptBlock(expected, input)) << text;
    }
    EXPECT_EQ(AriaKeyExpansions() - expansions, 3) << "the same key again is not expanded again";

    const struct {
        const char* key;
        const uint8_t* input;
        uint8_t* output;
        int length;
    } invalid[] = {{nullptr, input, out, 16}, {"k", nullptr, out, 16}, {"k", input, nullptr, 16},
                   {"k", input, out, 0}, {"k", input, out, -1}, {"k", input, out, INT_MAX}};
    for (const auto& row : invalid) {
        char error[1024] = "untouched";
        EXPECT_EQ(AriaEnCryptSteram(row.key, row.input, row.output, row.length, error) +
                      AriaEnCryptSteram(row.key, row.input, row.output, row.length, nullptr), 0) << row.length;
        EXPECT_STREQ(error, "[AriaEnCryptSteram] invalid input data");
    }
    ::VirtualFree(pages, 0, MEM_RELEASE);
}

std::string Letters(size_t count) {
    std::string text(count, 'a');
    for (size_t i = 0; i < count; ++i) text[i] = static_cast<char>('a' + i % 26);
    return text;
}

std::string Le32(uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

// The record a log must hold for `text`: L, CRC-32, n, ciphertext.
std::string Record(const std::string& text) {
    std::string padded = text + std::string((16 - text.size() % 16) % 16, '\0'), cipher(padded.size(), '\0');
    AriaEnCryptSteram(kLogPassPhrase, reinterpret_cast<const uint8_t*>(padded.data()),
                      reinterpret_cast<uint8_t*>(cipher.data()), static_cast<int>(padded.size()), nullptr);
    return Le32(static_cast<uint32_t>(8 + padded.size())) + Le32(Crc32(text.data(), text.size())) +
           Le32(static_cast<uint32_t>(text.size())) + cipher;
}

TEST(EncryptedBuffer, LayoutRequiredSizeAndRefusals) {
    uint8_t output[64];
    std::memset(output, 0xEE, sizeof(output));
    int size = sizeof(output);
    char error[1024] = "";
    const auto* text = reinterpret_cast<const uint8_t*>("abcdefghijklmnopqrstuvwxyzabcdefg");
    EXPECT_EQ(AriaEnCryptBuffer(kLogPassPhrase, text, 3, output, &size, error), 32);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(output), 33), "QMR!ARIA" + Record("abc").substr(4) + "\xEE");
    // Required: (floor((n - 1) / 16) + 2) * 16; a full block still needs no second one.
    for (auto [length, required] : {std::pair{1, 32}, {16, 32}, {17, 48}, {33, 64}}) {
        size = required - 1;
        EXPECT_EQ(AriaEnCryptBuffer(kLogPassPhrase, text, length, output, &size, error), 0);
        EXPECT_EQ(size, required) << length;
        EXPECT_EQ(error, "[AriaEnCryptBuffer] invalid data length (" + std::to_string(required) + ") (" +
                             std::to_string(required - 1) + ")");
        EXPECT_EQ(AriaEnCryptBuffer(kLogPassPhrase, text, length, output, &size, error), required);
    }
    const struct {
        const char* key;
        const uint8_t* input;
        int length;
        uint8_t* output;
        int* size;
    } invalid[] = {{nullptr, text, 1, output, &size}, {kLogPassPhrase, nullptr, 1, output, &size},
                   {kLogPassPhrase, text, 1, nullptr, &size}, {kLogPassPhrase, text, 1, output, nullptr},
                   {kLogPassPhrase, text, 0, output, &size}, {kLogPassPhrase, text, -16, output, &size},
                   {kLogPassPhrase, text, 0x7FFFFFFF, output, &size}};
    for (const auto& row : invalid) {
        size = sizeof(output);
        EXPECT_EQ(AriaEnCryptBuffer(row.key, row.input, row.length, row.output, row.size, error) +
                      AriaEnCryptBuffer(row.key, row.input, row.length, row.output, row.size, nullptr), 0);
        EXPECT_STREQ(error, "[AriaEnCryptBuffer] invalid input data");
        EXPECT_EQ(size, static_cast<int>(sizeof(output))) << "size changed for length " << row.length;
    }
}

// Runs steps in a fresh process (log path, installation path and agent type
// are process-wide); "#N" stands for N letters. "ticks" prints the tick
// count, "set NAME" the log path, "write NAME TEXT" the result; "agent N",
// "virus NAME PATH ACTION", "event TEXT", "null-event" and "null-virus" print
// nothing.
KX_PROBE(log_steps) {
    for (size_t i = 0; i < args.size(); ++i) {
        auto next = [&] {
            const std::string& arg = args.at(++i);
            return arg.size() > 1 && arg[0] == '#' ? Letters(std::stoul(arg.substr(1))) : arg;
        };
        if (args[i] == "ticks") std::printf("%lu\n", ::GetTickCount());
        if (args[i] == "agent") ProcessOptions().agentType = std::stoul(next());
        if (args[i] == "event") RecordEvent(next().c_str());
        if (args[i] == "null-event") RecordEvent(nullptr);
        if (args[i] == "null-virus") RecordVirus(nullptr, "C:\\x.exe", kActionCured, kSourceScanner);
        if (args[i] == "set") {
            SetEncryptedLogName(next().c_str());
            std::printf("%s\n", EncryptedLogPath());
        } else if (args[i] == "write") {
            const std::string name = next(), text = next();
            std::printf("%d\n", WriteEncryptedLogRecord(name.c_str(), text.c_str()));
        } else if (args[i] == "virus") {
            const std::string name = next(), path = next();
            RecordVirus(name.c_str(), path.c_str(), std::stoi(next()), kSourceScanner);
        }
    }
    return 0;
}

Strings Steps(const Strings& steps, const std::string& program = "") {
    return kxtest::Lines(kxtest::Run(kxtest::ProbeCommandLine("log_steps", steps, program), 60000).output);
}

Strings ReadTexts(const std::string& file, LogFault* fault) {
    Strings texts;
    ReadLog(reinterpret_cast<const uint8_t*>(file.data()), file.size(),
            [&](const LogRecord& record) { texts.emplace_back(reinterpret_cast<const char*>(record.text), record.length); },
            fault);
    return texts;
}

TEST(EncryptedLog, WholeRecordsAreAppendedOnlyWhereTheyFit) {
    kxtest::ProductRegistry registry;
    TempInstallDir base(false);
    // An installation whose log path with `name` is 259 characters, the most that fit.
    const std::string name = std::string(30, 'n') + ".log", tooLong(260, 'v');
    const std::string install = base.File(std::string(259 - base.Path().size() - 7 - name.size(), 'd'));
    ASSERT_TRUE(kxtest::RegSetString(kProductKey, "InstallPath", install));
    const std::string logs = install + "\\Logs\\";
    ASSERT_EQ((logs + name).size(), 259u);

    // Nothing to write, or no name: not even the folder is made.
    EXPECT_EQ(Steps({"write", "events.log", "", "write", "events.log", "#2033", "write", "", "abc"}), Strings(3, "0"));
    EXPECT_FALSE(kxtest::FolderExists(logs));
    // A new log: its magic once, then records of n = 3, 16, 17, 2032. The
    // path follows the name, but not its letter case; one character more
    // than fits would be cut to another log's name.
    EXPECT_EQ(Steps({"write", "virus.log", "abc", "write", "virus.log", "#16", "write", "virus.log", "#17", "write",
                     "virus.log", "#2032", "set", "virus.log", "set", "VIRUS.LOG", "set", "events.log", "set",
                     "virus.log", "write", "Virus.Log", "abc", "set", "events.log", "write", name, "abc", "write",
                     name + "x", "abc", "set", name + "x", "write", tooLong, "abc", "set", tooLong}),
              (Strings{"1", "1", "1", "1", logs + "virus.log", logs + "virus.log", logs + "events.log",
                       logs + "virus.log", "1", logs + "events.log", "1", "0", "", "0", ""}));
    const std::string virus = kxtest::ReadFile(logs + "virus.log");
    EXPECT_EQ(virus.substr(0, 20), std::string("QMR!LOGS\x18\0\0\0\xC2\x41\x24\x35\x03\0\0\0", 20));
    EXPECT_EQ(virus, "QMR!LOGS" + Record("abc") + Record(Letters(16)) + Record(Letters(17)) + Record(Letters(2032)) +
                         Record("abc"));
    EXPECT_EQ(virus.substr(36, 4) + virus.substr(64, 4) + virus.substr(108, 4), Le32(24) + Le32(40) + Le32(2040));
    EXPECT_EQ(kxtest::ReadFile(logs + name), "QMR!LOGS" + Record("abc"));
    EXPECT_EQ(kxtest::Listing(logs), name + "|virus.log|");

    // Whatever a log holds stays, even what is no log; an empty log is
    // started as a new one; a log another process holds is left alone.
    const std::map<std::string, std::string> before = {
        {"old.log", "QMR!LOGS" + Record("old") + "torn"}, {"other.log", "not a log"}, {"empty.log", ""},
        {"locked.log", "QMR!LOGS"}};
    for (const auto& [file, content] : before) kxtest::WriteFile(logs + file, content);
    fw::UniqueFile holder(::CreateFileA((logs + "locked.log").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(Steps({"write", "old.log", "abc", "write", "other.log", "abc", "write", "empty.log", "abc", "write",
                     "locked.log", "abc"}), (Strings{"1", "1", "1", "0"}));
    holder.reset();
    for (const auto& [file, content] : before)
        EXPECT_EQ(kxtest::ReadFile(logs + file), (file == "empty.log" ? "QMR!LOGS" : content) +
                                                     (file == "locked.log" ? "" : Record("abc"))) << file;
}

// Appends `count` records to each of `logs` new logs, log after log. The
// two writers meet at a counter in shared memory before each log, so that
// they start every log at the same moment. The exit code is the number of
// records refused.
KX_PROBE(encrypted_log_appender) {
    const std::string& writer = args.at(0);
    const int logs = std::stoi(args.at(1)), count = std::stoi(args.at(2));
    fw::UniqueHandle mapping(::OpenFileMappingA(FILE_MAP_WRITE, FALSE, args.at(3).c_str()));
    auto* arrived = static_cast<volatile LONG*>(::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
    int refused = 0;
    for (int log = 0; log < logs; ++log) {
        ::InterlockedIncrement(arrived);
        for (DWORD start = ::GetTickCount(); *arrived < 2 * (log + 1) && ::GetTickCount() - start < 30000;) ::Sleep(0);
        for (int sequence = 0; sequence < count; ++sequence) {
            char name[32], text[200];
            std::snprintf(name, sizeof(name), "race%03d.log", log);
            std::snprintf(text, sizeof(text), "writer %s record %04d %s", writer.c_str(), log * count + sequence,
                          std::string((log + sequence) % 97, writer[0]).c_str());
            refused += !WriteEncryptedLogRecord(name, text);
        }
    }
    return refused;
}

TEST(EncryptedLog, TwoProcessesStartingTheSameNewLogsWriteOneMagicAndEveryRecordWhole) {
    RegisteredInstall install;
    constexpr int kLogs = 400, kPerLog = 2;
    const std::string mappingName = "kxtest_appenders_" + std::to_string(::GetCurrentProcessId());
    fw::UniqueHandle mapping(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, mappingName.c_str()));
    kxtest::ChildProcess writers[2];
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(kxtest::StartProbe(&writers[i], "encrypted_log_appender",
                                       {i ? "B" : "A", std::to_string(kLogs), std::to_string(kPerLog), mappingName}));
    for (auto& writer : writers) {
        ASSERT_TRUE(writer.Wait(100000));
        EXPECT_EQ(writer.ExitCode(), 0u) << writer.Output();
    }
    int bad = 0;
    std::map<char, int> next;
    for (int log = 0; log < kLogs; ++log) {
        char name[32];
        std::snprintf(name, sizeof(name), "Logs\\race%03d.log", log);
        const std::string file = install.dir.Read(name);
        LogFault fault;
        const Strings texts = ReadTexts(file, &fault);
        bad += fault.found || texts.size() != 2 * kPerLog || file.find("QMR!LOGS", 1) != std::string::npos;
        // Each writer's records appear whole, once each, in the order written.
        for (const std::string& text : texts) {
            char writer = 0;
            int sequence = -1;
            std::sscanf(text.c_str(), "writer %c record %d", &writer, &sequence);
            char expected[200];
            std::snprintf(expected, sizeof(expected), "writer %c record %04d %s", writer, sequence,
                          std::string((sequence / kPerLog + sequence % kPerLog) % 97, writer).c_str());
            bad += text != expected || sequence != next[writer]++;
        }
    }
    EXPECT_EQ(bad, 0) << "faults among " << kLogs << " logs";
    EXPECT_EQ(next['A'] + next['B'], 2 * kLogs * kPerLog);
}

std::string LocalStamp() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return stamp;
}

// The record texts of a log, each stamp checked to lie within [from, to] and taken off.
Strings Payloads(const std::string& file, const std::string& from, const std::string& to) {
    LogFault fault;
    Strings payloads = ReadTexts(file, &fault);
    EXPECT_FALSE(fault.found) << fault.offset << ": " << fault.message;
    for (std::string& text : payloads) {
        const std::string stamp = text.substr(0, 19);
        EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")) && from <= stamp && stamp <= to)
            << stamp << " outside " << from << " .. " << to;
        text.erase(0, 19);
    }
    return payloads;
}

DWORD Counter(const std::string& name) {
    DWORD count = 0;
    return kxtest::RegGetDword(kAccessKey, name, &count) ? count : 0;
}

TEST(LogRecords, VirusAndEventRecordsWithTheirCountersAndStamps) {
    RegisteredInstall install;
    const std::string longName = std::string(740, 'N') + " variant", hugeName(800, 'H');  // counter names of 744 and 806
    const std::string from = LocalStamp();
    const Strings ticks = Steps({"ticks", "agent", "0", "virus", "Worm.X variant 2", "C:\\x\\y.exe", "1", "virus",
                                 "Worm.X variant 2", "C:\\x\\y.exe", "1", "virus", "Worm.X", "C:\\a b\\z.exe", "3",
                                 "virus", "Long.Path", "#2000", "2", "virus", longName, "C:\\x.exe", "1", "virus",
                                 hugeName, "C:\\x.exe", "1", "event", "Scan ended: 3 found", "event", "", "event",
                                 "#2012", "event", "#2013", "ticks"});
    const std::string to = LocalStamp();
    // Payloads are cut to 778 characters; a record text of 2032 bytes (stamp, "|" and 2012) is the longest.
    EXPECT_EQ(Payloads(install.dir.Read("Logs\\virus.log"), from, to),
              (Strings{"|Worm.X variant 2|C:\\x\\y.exe|1|2", "|Worm.X variant 2|C:\\x\\y.exe|1|2", "|Worm.X|C:\\a b\\z.exe|3|2",
                       ("|Long.Path|" + Letters(2000)).substr(0, 778), "|" + longName + "|C:\\x.exe|1|2",
                       ("|" + hugeName + "|C:\\x.exe|1|2").substr(0, 778)}));
    EXPECT_EQ(Payloads(install.dir.Read("Logs\\events.log"), from, to),
              (Strings{"|Scan ended: 3 found", "|", "|" + Letters(2012)}));
    // Counted under the name cut before " variant", per source and action;
    // never under a name cut short of its source and action.
    for (const auto& [name, count] : {std::pair{std::string("Worm.X|2|1"), 2u}, {"Worm.X|2|3", 1u}, {"Long.Path|2|2", 1u},
                                      {std::string(740, 'N') + "|2|1", 1u}, {"Worm.X variant 2|2|1", 0u},
                                      {std::string(778, 'H'), 0u}})
        EXPECT_EQ(Counter(name), count) << name.substr(0, 40);
    ASSERT_EQ(ticks.size(), 2u);
    for (const char* stamp : {"log_virus", "log_events"}) {
        DWORD tick = 0;
        EXPECT_TRUE(kxtest::RegGetDword(kStatusKey, stamp, &tick) && std::stoul(ticks[0]) <= tick && tick <= std::stoul(ticks[1]))
            << stamp;
    }
}

TEST(LogRecords, ThePlainVirusListGoesOnlyBesideAnAgentProgramIntoAnExistingFolder) {
    const Strings worm = {"virus", "Worm.X variant 2", "C:\\x\\y.exe", "1"};
    const struct {
        const char* agent;
        bool folder, writes;
        Strings steps;
        const char* list;  // the plain list afterwards, stamps as T; null: no folder
    } rows[] = {{"1", true, true, {"virus", "Trojan.Y", "C:\\z.exe", "2"},
                 "kept\r\nT|Worm.X|C:\\x\\y.exe|1|2\r\nT|Trojan.Y|C:\\z.exe|2|2\r\n"},
                {"1", false, true, {}, nullptr}, {"0", true, true, {}, "kept\r\n"},
                {"1", true, false, {"null-virus", "null-event"}, "kept\r\n"}};  // with an empty name: nothing at all
    for (const auto& row : rows) {
        RegisteredInstall install;
        TempInstallDir agent(false);
        ASSERT_TRUE(agent.CopyFromBuild("kxscan_tests.exe"));
        if (row.folder) agent.Write("logs\\virus.html", "kept\r\n");
        Strings steps = {"agent", row.agent, "virus", row.writes ? worm[1] : "", worm[2], worm[3]};
        steps.insert(steps.end(), row.steps.begin(), row.steps.end());
        Steps(steps, agent.File("kxscan_tests.exe"));
        const std::string list = agent.Read("logs\\virus.html");
        EXPECT_EQ(std::regex_replace(list, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"), "T"), row.list ? row.list : "");
        EXPECT_EQ(kxtest::Listing(agent.File("logs")), row.folder ? "virus.html|" : "") << "the lock file is gone";
        EXPECT_EQ(Counter("Worm.X|2|1"), row.writes ? 1u : 0u) << row.agent;
        EXPECT_EQ(kxtest::FolderExists(install.dir.File("Logs")) || kxtest::RegKeyExists(kStatusKey) ||
                      kxtest::RegKeyExists(kAccessKey), row.writes);
        DWORD unused = 0;
        EXPECT_FALSE(install.dir.Exists("Logs\\events.log") || kxtest::RegGetDword(kStatusKey, "log_events", &unused))
            << "a virus record is no event";
    }
}

// OutputDebugStringA of this process, caught where it is raised.
Strings g_debugOutput;
LONG CALLBACK CatchDebugOutput(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2)
        g_debugOutput.emplace_back(reinterpret_cast<const char*>(record->ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_SEARCH;
}

// Lines of every kind under the mask; prints the process id, then what
// reached the debugger output.
KX_PROBE(debug_log_lines) {
    ::AddVectoredExceptionHandler(1, CatchDebugOutput);
    const DWORD mask = std::stoul(args.at(0));
    DebugLog("scanner", mask, kLevelInfo, "ScanVirus (%s) (%d)", "C:\\a.exe", 0);
    DebugLog("[x]", mask, kLevelDebug0, "tagged");
    DebugLog("scanner", mask, 11, "level %d", 11);
    DebugLog("scanner", mask, -1, "level %d", -1);
    DebugLog("scanner", mask, kLevelDebug1, "%s", std::string(2000, 'y').c_str());
    DebugLog("scanner", mask, kLevelDebug3, "after the long line");
    std::printf("%lu\n", ::GetCurrentProcessId());
    for (const std::string& text : g_debugOutput) std::printf("%s", text.c_str());
    return 0;
}

// The lines of a debug log with their stamps checked and taken off.
Strings StampedTexts(const std::string& content) {
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), std::count(content.begin(), content.end(), '\r'))
        << "every line ends in CR LF";
    Strings texts = kxtest::Lines(content);
    for (std::string& text : texts) {
        EXPECT_TRUE(std::regex_search(text, std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d : )"))) << text;
        text.erase(0, 22);
    }
    return texts;
}

TEST(DebugLog, TheMaskPicksDebuggerOutputAndFileAndEveryLineKeepsItsShape) {
    for (DWORD mask = 0; mask <= 3; ++mask) {
        RegisteredInstall install;
        ASSERT_TRUE(::CreateDirectoryA(install.dir.File("Logs").c_str(), nullptr));
        const Strings out = kxtest::Lines(kxtest::RunProbe("debug_log_lines", {std::to_string(mask)}).output);
        ASSERT_FALSE(out.empty());
        const std::string id = "[" + out[0] + "] ";
        // A line cut to its buffer keeps its line feed: 1022 characters and
        // "\n" on the debugger output, 1022 with the stamp in the file.
        Strings texts = {id + "[INFO] [scanner] ScanVirus (C:\\a.exe) (0)", id + "[DEBUG0] [[x]] tagged",
                         id + "[DEBUG] [scanner] level 11", id + "[DEBUG] [scanner] level -1",
                         (id + "[DEBUG1] [scanner] " + std::string(2000, 'y')).substr(0, 1022),
                         id + "[DEBUG3] [scanner] after the long line"};
        EXPECT_EQ(Strings(out.begin() + 1, out.end()), mask & 1 ? texts : Strings{}) << mask;
        texts[4].resize(1022 - 22);
        EXPECT_EQ(StampedTexts(install.dir.Read("Logs\\kxlog.01")), mask & 2 ? texts : Strings{}) << mask;
        EXPECT_EQ(kxtest::Listing(install.dir.File("Logs")), mask & 2 ? "kxlog.01|" : "") << mask;
    }
    // Stamps are local time; one the system cannot convert keeps its shape.
    const time_t time = 1700000000;
    char stamp[32] = {}, unconvertible[32] = {}, expected[32] = {};
    std::strftime(expected, sizeof(expected), "%Y-%m-%d %H:%M:%S", std::localtime(&time));
    EXPECT_EQ(std::string(FormatLogTime(time, stamp)) + "|" + FormatLogTime(-1, unconvertible), expected + std::string("|0000-00-00 00:00:00"));
    EXPECT_EQ(FormatLogTime(time, nullptr), nullptr);
}

TEST(DebugLog, RotatesOnlyPastFiveMillionBytesKeepingFiveFiles) {
    const std::vector<size_t> rows[] = {{5000000}, {5000001}, {5000001, 100, 100, 100, 100}};
    for (const auto& sizes : rows) {
        TempInstallDir folder(false);
        for (size_t i = 0; i < sizes.size(); ++i) {
            std::string content = "gen" + std::to_string(i + 1) + "\n";
            content.resize(sizes[i], '.');
            folder.Write("kxlog.0" + std::to_string(i + 1), content);
        }
        ASSERT_EQ(AppendDebugLine(folder.Path().c_str(), "new"), 0);
        const bool rotated = sizes[0] > 5000000;
        const size_t files = std::min<size_t>(sizes.size() + rotated, 5);
        std::string listing;
        for (size_t file = 1; file <= files; ++file) {
            const std::string content = folder.Read("kxlog.0" + std::to_string(file));
            listing += "kxlog.0" + std::to_string(file) + "|";
            if (file > 1 || !rotated) { EXPECT_EQ(content.substr(0, 5), "gen" + std::to_string(file - rotated) + "\n"); }
        }
        EXPECT_EQ(kxtest::Listing(folder.Path()), listing) << sizes.size();
        if (rotated) { EXPECT_EQ(StampedTexts(folder.Read("kxlog.01")), Strings{"new"}); }
        if (!rotated) { EXPECT_GT(kxtest::FileSize(folder.File("kxlog.01")), 5000000u); }
    }
    TempInstallDir empty(false);
    EXPECT_EQ(RotateDebugLog(empty.Path().c_str(), "kxlog"), 0);
    EXPECT_EQ(kxtest::Listing(empty.Path()), "");
}

TEST(DebugLog, WritersWaitForTheLockAndNoLockFileStaysBehind) {
    TempInstallDir folder(false);
    const std::string lock = folder.File("kxlog.lock");
    // A missing folder is refused at once, not waited for, and not made.
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(AppendDebugLine(folder.File("Logs").c_str(), "lost"), -1);
    EXPECT_EQ(OpenLockFile(folder.File("Logs\\kxlog.lock").c_str()), -1);
    EXPECT_LT(::GetTickCount() - start, 2000u);
    EXPECT_EQ(AppendDebugLine(nullptr, "lost") + AppendDebugLine("", "lost"), -2);
    CloseLockFile(-1);
    EXPECT_EQ(kxtest::Listing(folder.Path()), "");
    // A lock file left behind by a writer that died is taken over and removed.
    folder.Write("kxlog.lock", "");
    int held = OpenLockFile(lock.c_str());
    EXPECT_NE(held, -1);
    CloseLockFile(held);
    EXPECT_FALSE(folder.Exists("kxlog.lock"));

    // Held by another writer, or open by someone who shares nothing (a lock
    // file being deleted): the line is written soon after the release.
    fw::UniqueFile blocker;
    const std::pair<std::function<void()>, std::function<void()>> holds[] = {
        {[&] { held = OpenLockFile(lock.c_str()); }, [&] { CloseLockFile(held); }},
        {[&] { blocker.reset(::CreateFileA(lock.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                           FILE_FLAG_DELETE_ON_CLOSE, nullptr)); },
         [&] { blocker.reset(); }}};
    for (const auto& [hold, release] : holds) {
        ::DeleteFileA(folder.File("kxlog.01").c_str());
        hold();
        int result = 1;
        DWORD finished = 0;
        std::thread writer([&] {
            result = AppendDebugLine(folder.Path().c_str(), "waited");
            finished = ::GetTickCount();
        });
        ::Sleep(300);
        EXPECT_FALSE(folder.Exists("kxlog.01")) << "written while the lock was held";
        const DWORD released = ::GetTickCount();
        release();
        writer.join();
        EXPECT_EQ(result, 0);
        EXPECT_LT(finished - released, 500u) << "the waiting writer slept too long";
        EXPECT_EQ(StampedTexts(folder.Read("kxlog.01")), Strings{"waited"});
        EXPECT_EQ(kxtest::Listing(folder.Path()), "kxlog.01|") << "the lock file outlived its holders";
    }
}

// Appends `count` numbered lines from each of two threads; the exit code is
// the number of lines refused.
KX_PROBE(debug_log_writer) {
    const int count = std::stoi(args.at(2));
    std::atomic<int> refused{0};
    auto append = [&](int thread) {
        for (int sequence = 0; sequence < count; ++sequence) {
            char text[200];
            std::snprintf(text, sizeof(text), "writer %s%d line %04d %s", args.at(1).c_str(), thread, sequence,
                          std::string(100, static_cast<char>('a' + thread)).c_str());
            refused += AppendDebugLine(args.at(0).c_str(), text) != 0;
        }
    };
    std::thread second(append, 1);
    append(0);
    second.join();
    return refused;
}

TEST(DebugLog, TwoProcessesOfTwoThreadsLoseAndTearNoLine) {
    TempInstallDir folder(false);
    constexpr int kPerThread = 500;
    kxtest::ChildProcess writers[2];
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(kxtest::StartProbe(&writers[i], "debug_log_writer", {folder.Path(), i ? "B" : "A", std::to_string(kPerThread)}));
    for (auto& writer : writers) {
        ASSERT_TRUE(writer.Wait(100000));
        EXPECT_EQ(writer.ExitCode(), 0u) << writer.Output();
    }
    const std::regex line(R"(writer ([AB][01]) line (\d{4}) ([ab]{100}))");
    std::map<std::string, int> next;  // writer -> next expected sequence
    int bad = 0;
    // Each writer's lines appear whole, once each, in the order written.
    for (const std::string& text : StampedTexts(folder.Read("kxlog.01"))) {
        std::smatch match;
        bad += !std::regex_match(text, match, line) || match[3].str() != std::string(100, "ab"[match[1].str()[1] - '0']) ||
               std::stoi(match[2]) != next[match[1]]++;
    }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(next, (std::map<std::string, int>{{"A0", kPerThread}, {"A1", kPerThread}, {"B0", kPerThread}, {"B1", kPerThread}}));
    EXPECT_EQ(kxtest::Listing(folder.Path()), "kxlog.01|");
}

}  // namespace
