// The encrypted log container: the encrypted buffer and its errors, the bytes
// of a log file, which texts are written, the log path, and two processes
// appending to one new log at once.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/registry.h"
#include "framework/handles.h"
#include "logs/aria.h"
#include "logs/encrypted_log.h"
#include "logs/crc32.h"
#include "tests/support/test_support.h"
#include "tools/kxlogcat/log_reader.h"

namespace {

using kxtest::ProductRegistry;
using kxtest::TempInstallDir;

// "#N" stands for a text of N letters, so that long texts fit a command line.
std::string Letters(size_t count) {
    std::string text(count, 'a');
    for (size_t i = 0; i < count; ++i) text[i] = static_cast<char>('a' + i % 26);
    return text;
}

std::string Expand(const std::string& argument) {
    return argument.size() > 1 && argument[0] == '#' ? Letters(std::strtoul(argument.c_str() + 1, nullptr, 10)) : argument;
}

// Runs "set NAME" and "write NAME TEXT" in a fresh process (the log path and
// the installation directory are process-wide); one output line per step.
KX_PROBE(encrypted_log_steps) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "set") {
            SetEncryptedLogName(args.at(i + 1).c_str());
            std::printf("path=%s\n", EncryptedLogPath());
            i += 1;
        } else if (args[i] == "write") {
            std::printf("result=%d\n", WriteEncryptedLogRecord(args.at(i + 1).c_str(), Expand(args.at(i + 2)).c_str()));
            i += 2;
        }
    }
    return 0;
}

std::vector<std::string> Lines(const std::string& output) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = output.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> RunSteps(const std::vector<std::string>& steps) {
    kxtest::RunResult run = kxtest::RunProbe("encrypted_log_steps", steps);
    EXPECT_TRUE(run.finished && run.exitCode == 0) << run.output;
    return Lines(run.output);
}

std::string Le32(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

// The record the writer must produce for `text`: L, CRC-32, n, ciphertext.
std::string ExpectedRecord(const std::string& text) {
    std::vector<uint8_t> padded((text.size() + 15) / 16 * 16, 0);
    std::memcpy(padded.data(), text.data(), text.size());
    std::string cipher(padded.size(), '\0');
    char error[1024];
    EXPECT_EQ(AriaEnCryptSteram(kLogPassPhrase, padded.data(), reinterpret_cast<uint8_t*>(cipher.data()),
                                static_cast<int>(padded.size()), error),
              static_cast<int>(padded.size()));
    return Le32(static_cast<uint32_t>(8 + padded.size())) + Le32(Crc32(text.data(), text.size())) +
           Le32(static_cast<uint32_t>(text.size())) + cipher;
}

TEST(EncryptedBuffer, LayoutAndRequiredSize) {
    uint8_t output[64];
    std::memset(output, 0xEE, sizeof(output));
    int size = sizeof(output);
    char error[1024] = "untouched";
    EXPECT_EQ(AriaEnCryptBuffer(kLogPassPhrase, reinterpret_cast<const uint8_t*>("abc"), 3, output, &size, error), 32);
    std::string expected = "QMR!ARIA" + ExpectedRecord("abc").substr(4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(output), 32), expected);
    EXPECT_EQ(output[32], 0xEE) << "wrote past the buffer";

    // Required (floor((n - 1) / 16) + 2) * 16: a full block still needs no second one.
    const std::string text = Letters(33);
    for (auto [length, required] : {std::pair{1, 32}, std::pair{16, 32}, std::pair{17, 48}, std::pair{33, 64}}) {
        size = required - 1;
        EXPECT_EQ(AriaEnCryptBuffer(kLogPassPhrase, reinterpret_cast<const uint8_t*>(text.data()), length, output,
                                    &size, error),
                  0);
        EXPECT_EQ(size, required) << length;
        EXPECT_EQ(std::string(error), "[AriaEnCryptBuffer] invalid data length (" + std::to_string(required) + ") (" +
                                          std::to_string(required - 1) + ")");
        size = required;
        EXPECT_EQ(AriaEnCryptBuffer(kLogPassPhrase, reinterpret_cast<const uint8_t*>(text.data()), length, output,
                                    &size, error),
                  required)
            << length;
    }
}

TEST(EncryptedBuffer, InvalidInputIsRefused) {
    const uint8_t input[16] = {'x'};
    uint8_t output[64];
    int size = sizeof(output);
    struct Case {
        const char* key;
        const uint8_t* input;
        int length;
        uint8_t* output;
        int* size;
    };
    for (const Case& c :
         {Case{nullptr, input, 1, output, &size}, Case{kLogPassPhrase, nullptr, 1, output, &size},
          Case{kLogPassPhrase, input, 1, nullptr, &size}, Case{kLogPassPhrase, input, 1, output, nullptr},
          Case{kLogPassPhrase, input, 0, output, &size}, Case{kLogPassPhrase, input, -16, output, &size},
          Case{kLogPassPhrase, input, 0x7FFFFFFF, output, &size}}) {
        char error[1024] = {};
        size = sizeof(output);
        EXPECT_EQ(AriaEnCryptBuffer(c.key, c.input, c.length, c.output, c.size, error), 0) << c.length;
        EXPECT_STREQ(error, "[AriaEnCryptBuffer] invalid input data");
        EXPECT_EQ(size, static_cast<int>(sizeof(output))) << "size changed for length " << c.length;
    }
    // Without an error buffer the answer is the same.
    EXPECT_EQ(AriaEnCryptBuffer(kLogPassPhrase, input, 0, output, &size, nullptr), 0);
}

TEST(EncryptedLogFile, NewFileHasOneMagicAndRecordsFollowDirectly) {
    ProductRegistry registry;
    TempInstallDir install(false);
    install.Register();  // no Logs folder yet: the first record makes it
    std::vector<std::string> out = RunSteps({"write", "virus.log", "abc", "write", "virus.log", "#16", "write",
                                             "virus.log", "#17", "write", "virus.log", "#2032"});
    EXPECT_EQ(out, std::vector<std::string>(4, "result=1"));

    std::string file = install.Read("Logs\\virus.log");
    // The three-byte text: L = 24, its CRC-32, n = 3, one block.
    const char abcHeader[] = "QMR!LOGS\x18\0\0\0\xC2\x41\x24\x35\x03\0\0\0";
    EXPECT_EQ(file.substr(0, 20), std::string(abcHeader, 20));
    EXPECT_EQ(file.substr(12, 24), ExpectedRecord("abc").substr(4));
    // 16 bytes: L = 24, 28 bytes on disk; 17 bytes: L = 40; 2032 bytes: L = 2040.
    EXPECT_EQ(file.substr(36, 4), Le32(24));
    EXPECT_EQ(file.substr(64, 4), Le32(40));
    EXPECT_EQ(file.substr(108, 4), Le32(2040));
    EXPECT_EQ(file, "QMR!LOGS" + ExpectedRecord("abc") + ExpectedRecord(Letters(16)) + ExpectedRecord(Letters(17)) +
                        ExpectedRecord(Letters(2032)));
    EXPECT_EQ(file.size(), 8u + 28 + 28 + 44 + 2044);
}

TEST(EncryptedLogFile, EmptyAndOverlongTextsOrNoNameTouchNothing) {
    ProductRegistry registry;
    TempInstallDir install(false);
    install.Register();
    EXPECT_EQ(RunSteps({"write", "events.log", "", "write", "events.log", "#2033", "write", "events.log", "#4000",
                        "write", "", "abc"}),
              std::vector<std::string>(4, "result=0"));
    EXPECT_FALSE(kxtest::FolderExists(install.File("Logs")));
}

TEST(EncryptedLogFile, ExistingLogsAreOnlyAppendedTo) {
    ProductRegistry registry;
    TempInstallDir install(false);
    install.Register();
    // Whatever a log holds already stays as it is, even what is no log at all.
    const std::string old = "QMR!LOGS" + ExpectedRecord("old") + "torn";
    ASSERT_TRUE(install.Write("Logs\\virus.log", old));
    ASSERT_TRUE(install.Write("Logs\\other.log", "not a log"));
    ASSERT_TRUE(install.Write("Logs\\events.log", ""));  // empty: started like a new one
    // A log held by a process that shares it with nobody is left alone.
    ASSERT_TRUE(install.Write("Logs\\locked.log", "QMR!LOGS"));
    fw::UniqueFile holder(::CreateFileA(install.File("Logs\\locked.log").c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);

    EXPECT_EQ(RunSteps({"write", "virus.log", "abc", "write", "other.log", "abc", "write", "events.log", "abc", "write",
                        "locked.log", "abc"}),
              (std::vector<std::string>{"result=1", "result=1", "result=1", "result=0"}));
    EXPECT_EQ(install.Read("Logs\\virus.log"), old + ExpectedRecord("abc"));
    EXPECT_EQ(install.Read("Logs\\other.log"), "not a log" + ExpectedRecord("abc"));
    EXPECT_EQ(install.Read("Logs\\events.log"), "QMR!LOGS" + ExpectedRecord("abc"));
    holder.reset();
    EXPECT_EQ(install.Read("Logs\\locked.log"), "QMR!LOGS");
}

TEST(EncryptedLogPath, RebuiltOnlyForAnotherName) {
    ProductRegistry registry;
    TempInstallDir install(false);
    install.Register();
    const std::string logs = install.File("Logs\\");
    EXPECT_EQ(RunSteps({"set", "virus.log", "set", "VIRUS.LOG", "set", "events.log", "set", "virus.log", "write",
                        "Virus.Log", "abc", "set", "events.log"}),
              (std::vector<std::string>{"path=" + logs + "virus.log", "path=" + logs + "virus.log",
                                        "path=" + logs + "events.log", "path=" + logs + "virus.log", "result=1",
                                        "path=" + logs + "events.log"}));
    EXPECT_EQ(install.Read("Logs\\virus.log"), "QMR!LOGS" + ExpectedRecord("abc"));
}

TEST(EncryptedLogPath, PathsThatDoNotFitWriteNothing) {
    ProductRegistry registry;
    TempInstallDir base(false);
    // An installation whose log path with this name is exactly 259 characters.
    const std::string name = std::string(30, 'n') + ".log";
    const std::string install = base.Path() + "\\" + std::string(259 - base.Path().size() - 1 - 6 - name.size(), 'd');
    ASSERT_TRUE(kxtest::RegSetString(kProductKey, "InstallPath", install));
    const std::string log = install + "\\Logs\\" + name;
    ASSERT_EQ(log.size(), 259u);

    // One character more would be cut back to the first file's name.
    std::vector<std::string> out = RunSteps({"write", name, "abc", "write", name + "x", "abc", "set", name + "x",
                                             "write", std::string(260, 'v'), "abc", "set", std::string(260, 'v')});
    EXPECT_EQ(out, (std::vector<std::string>{"result=1", "result=0", "path=", "result=0", "path="}));
    EXPECT_EQ(kxtest::ReadFile(log), "QMR!LOGS" + ExpectedRecord("abc"));
}

// Appends `count` numbered records of varying length to events.log or, with
// a number of logs, one record to each new log in turn. The two writers meet
// at a counter in shared memory before the first record and, with new logs,
// before each one, so that they start every log at the same moment. The exit
// code is the number of records refused.
KX_PROBE(encrypted_log_appender) {
    const std::string& writer = args.at(0);
    const int count = std::atoi(args.at(1).c_str());
    const int logs = std::atoi(args.at(3).c_str());
    fw::UniqueHandle mapping(::OpenFileMappingA(FILE_MAP_WRITE, FALSE, args.at(2).c_str()));
    auto* arrived =
        mapping ? static_cast<volatile LONG*>(::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0)) : nullptr;
    if (!arrived) return 1000;
    // A partner that never comes is waited for once.
    bool together = true;
    auto meet = [&](int round) {
        ::InterlockedIncrement(arrived);
        const DWORD start = ::GetTickCount();
        while (*arrived < 2 * (round + 1)) {
            if (::GetTickCount() - start > 30000) return false;
            ::Sleep(0);
        }
        return true;
    };
    int refused = 0;
    for (int sequence = 0; sequence < count; ++sequence) {
        char name[32] = "events.log";
        if (logs > 0) std::snprintf(name, sizeof(name), "race%03d.log", sequence % logs);
        if (together && (sequence == 0 || logs > 0)) together = meet(sequence);
        char text[200];
        std::snprintf(text, sizeof(text), "writer %s record %04d %s", writer.c_str(), sequence,
                      std::string(sequence % 97, writer[0]).c_str());
        if (!WriteEncryptedLogRecord(name, text)) ++refused;
    }
    ::UnmapViewOfFile(const_cast<LONG*>(arrived));
    return refused;
}

// Runs the two appenders side by side; the time they took in ms.
DWORD RunAppenders(int count, int logs) {
    const std::string mappingName = "kxtest_appenders_" + std::to_string(::GetCurrentProcessId());
    fw::UniqueHandle mapping(
        ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG), mappingName.c_str()));
    EXPECT_TRUE(mapping);
    const DWORD start = ::GetTickCount();
    kxtest::ChildProcess first;
    kxtest::ChildProcess second;
    const std::vector<std::string> args = {std::to_string(count), mappingName, std::to_string(logs)};
    EXPECT_TRUE(kxtest::StartProbe(&first, "encrypted_log_appender", {"A", args[0], args[1], args[2]}));
    EXPECT_TRUE(kxtest::StartProbe(&second, "encrypted_log_appender", {"B", args[0], args[1], args[2]}));
    EXPECT_TRUE(first.Wait(100000));
    EXPECT_TRUE(second.Wait(100000));
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_EQ(first.ExitCode(), 0u) << first.Output();
    EXPECT_EQ(second.ExitCode(), 0u) << second.Output();
    return elapsed;
}

std::vector<std::string> ReadTexts(const std::string& file, LogFault* fault) {
    std::vector<std::string> texts;
    ReadLog(
        reinterpret_cast<const uint8_t*>(file.data()), file.size(),
        [&](const LogRecord& record) { texts.emplace_back(reinterpret_cast<const char*>(record.text), record.length); },
        fault);
    return texts;
}

TEST(EncryptedLogConcurrency, TwoProcessesStartAndAppendOneLog) {
    ProductRegistry registry;
    TempInstallDir install(false);
    install.Register();
    constexpr int kPerWriter = 500;
    const DWORD elapsed = RunAppenders(kPerWriter, 0);
    std::printf("2 processes x %d records into a new log (with process start): %lu ms\n", kPerWriter, elapsed);
    RecordProperty("elapsed_ms", static_cast<int>(elapsed));

    const std::string file = install.Read("Logs\\events.log");
    EXPECT_EQ(file.find("QMR!LOGS", 1), std::string::npos) << "the magic was written more than once";
    LogFault fault;
    std::vector<std::string> texts = ReadTexts(file, &fault);
    EXPECT_FALSE(fault.found) << fault.offset << ": " << fault.message;
    ASSERT_EQ(texts.size(), 2u * kPerWriter);
    // Each writer's records appear whole, once each, in the order written.
    std::map<char, int> next;
    for (const std::string& text : texts) {
        char writer = 0;
        int sequence = -1;
        ASSERT_EQ(std::sscanf(text.c_str(), "writer %c record %d", &writer, &sequence), 2) << text;
        char expected[200];
        std::snprintf(expected, sizeof(expected), "writer %c record %04d %s", writer, sequence,
                      std::string(sequence % 97, writer).c_str());
        ASSERT_EQ(text, expected);
        ASSERT_EQ(sequence, next[writer]++) << text;
    }
    EXPECT_EQ(next['A'], kPerWriter);
    EXPECT_EQ(next['B'], kPerWriter);

    // The reader for people agrees: every record good, one line each.
    kxtest::RunResult cat = kxtest::Run(
        kxtest::Quote(kxtest::BuildFolder() + "\\kxlogcat.exe") + " " + kxtest::Quote(install.File("Logs\\events.log")),
        60000);
    EXPECT_EQ(cat.exitCode, 0u) << cat.output.substr(0, 500);
    EXPECT_EQ(Lines(cat.output).size(), 2u * kPerWriter);
}

TEST(EncryptedLogConcurrency, EveryNewLogGetsOneMagic) {
    // Two writers starting the same new logs over and over: each start is a
    // race for the magic.
    ProductRegistry registry;
    TempInstallDir install(false);
    install.Register();
    constexpr int kLogs = 400;
    const DWORD elapsed = RunAppenders(kLogs, kLogs);
    std::printf("2 processes x %d new logs: %lu ms\n", kLogs, elapsed);
    int bad = 0;
    for (int i = 0; i < kLogs; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "Logs\\race%03d.log", i);
        LogFault fault;
        if (ReadTexts(install.Read(name), &fault).size() != 2 || fault.found) ++bad;
    }
    EXPECT_EQ(bad, 0) << "logs with a fault among " << kLogs;
}

}  // namespace
