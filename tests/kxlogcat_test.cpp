// The log reader: it inverts the writer's encryption for every text length,
// stops at each kind of fault with its offset after the good records, is safe
// for any bytes however they are fed; the output formats; and kxlogcat.exe's
// lines, messages and exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "framework/handles.h"
#include "logs/aria.h"
#include "logs/encrypted_log.h"
#include "logs/crc32.h"
#include "tests/support/test_support.h"
#include "tools/kxlogcat/log_reader.h"

namespace {

using kxtest::TempInstallDir;

constexpr char kMagic[] = "QMR!LOGS";

std::string Le32(uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i));
    return bytes;
}

// One record as the writer lays it out, with L, CRC and n open to tampering.
std::string Record(const std::string& text, uint32_t lengthDelta = 0, int64_t storedLength = -1) {
    std::string cipher((text.size() + 15) / 16 * 16, '\0');
    AriaEnCryptSteram(kLogPassPhrase, reinterpret_cast<const uint8_t*>(text.data()),
                      reinterpret_cast<uint8_t*>(cipher.data()), static_cast<int>(text.size()), nullptr);
    return Le32(static_cast<uint32_t>(8 + cipher.size()) + lengthDelta) + Le32(Crc32(text.data(), text.size())) +
           Le32(storedLength < 0 ? static_cast<uint32_t>(text.size()) : static_cast<uint32_t>(storedLength)) + cipher;
}

struct Parsed {
    std::vector<std::string> texts;
    std::vector<uint64_t> offsets;
    LogFault fault;
    bool good = false;
};

// Feeds `bytes` in pieces of `chunk` bytes (0: all at once).
Parsed Parse(const std::string& bytes, size_t chunk = 0) {
    Parsed parsed;
    LogReader reader([&](const LogRecord& record) {
        parsed.texts.emplace_back(reinterpret_cast<const char*>(record.text), record.length);
        parsed.offsets.push_back(record.offset);
    });
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    for (size_t at = 0; at < bytes.size();) {
        size_t take = chunk == 0 ? bytes.size() : std::min(chunk, bytes.size() - at);
        reader.Feed(data + at, take);
        at += take;
    }
    parsed.good = reader.Finish();
    parsed.fault = reader.Fault();
    return parsed;
}

// Bad files: two good records and then a fault at their end, or no log at all.
struct BadInput {
    const char* what;
    std::string file;
    const char* message;
};

std::string GoodHead() { return kMagic + Record("first") + Record("second"); }

std::vector<BadInput> BadInputs() {
    const std::string head = GoodHead();
    std::string crcBroken = Record("third");
    crcBroken[20] ^= 1;
    std::string storedCrcBroken = Record("third");
    storedCrcBroken[4] ^= 1;
    return {
        {"empty", "", "not a log file"},
        {"short", "QMR!", "not a log file"},
        {"other magic", "QMR!LOGX" + Record("first"), "not a log file"},
        {"L below 24", head + Record("third", static_cast<uint32_t>(-16)), "not 8 plus a positive multiple of 16"},
        {"L not 8 + 16k", head + Record("third", 1), "not 8 plus a positive multiple of 16"},
        {"L above 2040", head + Le32(2056) + std::string(2056, 'x'), "larger than any record"},
        {"hostile L", head + Le32(0xFFFFFFF8u) + "xyz", "larger than any record"},
        {"cut length field", head + std::string("\x18\x00", 2), "length field cut short"},
        {"record past the end", head + Record("third").substr(0, 20), "runs past the end of the file"},
        {"n zero", head + Record("third", 0, 0), "does not fit a record"},
        {"n above L - 8", head + Record("third", 0, 17), "does not fit a record"},
        {"n too small for L", head + Record(std::string(20, 't'), 0, 3), "does not fit a record"},
        {"ciphertext changed", head + crcBroken + Record("fourth"), "CRC mismatch"},
        {"stored CRC changed", head + storedCrcBroken, "CRC mismatch"},
    };
}

std::string Kxlogcat(const std::string& args, kxtest::RunResult* run) {
    *run = kxtest::Run(kxtest::Quote(kxtest::BuildFolder() + "\\kxlogcat.exe") + " " + args, 30000);
    EXPECT_TRUE(run->finished);
    return run->output;
}

TEST(LogReader, InvertsEncryptionForEveryLength) {
    std::mt19937 random(5794);
    std::string file = kMagic;
    std::vector<std::string> texts;
    std::vector<uint64_t> offsets;
    for (size_t length = 1; length <= kMaxLogRecordText; ++length) {
        std::string text(length, '\0');
        for (char& c : text) c = static_cast<char>(random());
        offsets.push_back(file.size());
        file += Record(text);
        texts.push_back(text);
    }
    Parsed parsed = Parse(file);
    EXPECT_TRUE(parsed.good) << parsed.fault.message;
    EXPECT_TRUE(parsed.texts == texts);
    EXPECT_TRUE(parsed.offsets == offsets);
}

// Random, cut and mutated files: no crash, a fault never beyond the end, and
// the same result whether the file comes whole, byte by byte or in pieces.
TEST(LogReader, AnyBytesAreSafeAndPieceSizeDoesNotMatter) {
    std::mt19937 random(2032);
    const std::string good = GoodHead() + Record(std::string(100, 'x')) + Record("last");
    std::vector<std::string> inputs;
    for (size_t cut = 0; cut <= good.size(); ++cut) inputs.push_back(good.substr(0, cut));
    auto randomBytes = [&](size_t count) {
        std::string bytes(count, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        return bytes;
    };
    for (int i = 0; i < 2000; ++i) {
        std::string bytes;
        switch (i % 4) {
            case 0: bytes = randomBytes(random() % 300); break;
            case 1: bytes = kMagic + randomBytes(random() % 300); break;
            case 2: bytes = kMagic + Le32(24 + 16 * (random() % 8)) + randomBytes(random() % 200); break;
            default:
                bytes = good;
                for (int m = 0; m <= i % 5; ++m) bytes[random() % bytes.size()] ^= static_cast<char>(1 << random() % 8);
        }
        inputs.push_back(bytes);
    }
    for (const std::string& bytes : inputs) {
        Parsed whole = Parse(bytes);
        ASSERT_LE(whole.fault.offset, bytes.size());
        ASSERT_EQ(whole.good, !whole.fault.found);
        for (size_t chunk : {size_t{1}, size_t{7} + random() % 60}) {
            Parsed pieces = Parse(bytes, chunk);
            ASSERT_TRUE(pieces.texts == whole.texts);
            ASSERT_EQ(pieces.fault.offset, whole.fault.offset);
            ASSERT_EQ(pieces.fault.message, whole.fault.message);
        }
    }
}

TEST(LogFormat, PlainLinesAndCsvRows) {
    auto bytes = [](const std::string& t) { return reinterpret_cast<const uint8_t*>(t.data()); };
    auto plain = [&](const std::string& t) { return FormatPlainLine(bytes(t), t.size()); };
    auto csv = [&](const std::string& t) { return FormatCsvRow(bytes(t), t.size()); };
    EXPECT_EQ(plain(std::string("a\r\nb\\c\x01\x7f\0d\xe9", 11)), "a\\r\\nb\\\\c\\x01\\x7F\\x00d\xe9");

    EXPECT_EQ(csv("2013-09-03 01:08:10|Some.Name|C:\\x\\y.exe|1|2"), "2013-09-03 01:08:10,Some.Name,C:\\x\\y.exe,1,2");
    EXPECT_EQ(csv("2013-09-03 01:08:10|Trojan, \"A\"|C:\\a,b.exe|-1|2"),
              "2013-09-03 01:08:10,\"Trojan, \"\"A\"\"\",\"C:\\a,b.exe\",-1,2");
    EXPECT_EQ(csv("2013-09-03 01:08:10|Odd|Name|C:\\y|3|2"), "2013-09-03 01:08:10,Odd|Name,C:\\y,3,2");
    EXPECT_EQ(csv("2013-09-03 01:08:10|Scan finished|1 found\r\n(C:\\x)"),
              "2013-09-03 01:08:10,\"Scan finished|1 found\r\n(C:\\x)\"");
    EXPECT_EQ(csv("2013-09-03 01:08:10|"), "2013-09-03 01:08:10,");
    EXPECT_EQ(csv("2013-09-03 01:08:10|a|b|x|2"), "2013-09-03 01:08:10,a|b|x|2");
    EXPECT_EQ(csv("no stamp|a|b|1|2"), ",no stamp|a|b|1|2");
}

// Read while a writer holds the log open for appending, as the scanner does.
TEST(Kxlogcat, PrintsEveryRecordOfEveryFileAndLeavesThemAlone) {
    TempInstallDir dir(false);
    const std::string virus = kMagic + Record("2013-09-03 01:08:10|Worm, \"X\"|C:\\x\\y.exe|1|2") + Record("plain");
    ASSERT_TRUE(dir.Write("virus.log", virus));
    ASSERT_TRUE(dir.Write("events.log", kMagic + Record("2013-09-03 01:09:00|Two lines\r\nhere")));
    fw::UniqueFile writer(::CreateFileA(dir.File("virus.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    const std::string files = kxtest::Quote(dir.File("virus.log")) + " " + kxtest::Quote(dir.File("events.log"));
    kxtest::RunResult run;

    EXPECT_EQ(Kxlogcat(files, &run),
              "2013-09-03 01:08:10|Worm, \"X\"|C:\\\\x\\\\y.exe|1|2\r\nplain\r\n"
              "2013-09-03 01:09:00|Two lines\\r\\nhere\r\n");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Kxlogcat("--csv " + files, &run),
              "2013-09-03 01:08:10,\"Worm, \"\"X\"\"\",C:\\x\\y.exe,1,2\r\n,plain\r\n"
              "2013-09-03 01:09:00,\"Two lines\r\nhere\"\r\n");
    EXPECT_EQ(run.exitCode, 0u);
    writer.reset();
    EXPECT_EQ(dir.Read("virus.log"), virus);
}

TEST(Kxlogcat, BadInputNamesFileAndOffsetAfterTheGoodRecordsAndGoesOn) {
    TempInstallDir dir(false);
    ASSERT_TRUE(dir.Write("next.log", kMagic + Record("next file")));
    const std::string next = " " + kxtest::Quote(dir.File("next.log"));
    kxtest::RunResult run;
    for (const BadInput& bad : BadInputs()) {
        SCOPED_TRACE(bad.what);
        ASSERT_TRUE(dir.Write("bad.log", bad.file));
        const std::string out = Kxlogcat(kxtest::Quote(dir.File("bad.log")) + next, &run);
        const bool logHead = bad.file.rfind(GoodHead(), 0) == 0;
        const std::string expected = (logHead ? "first\r\nsecond\r\n" : "") + std::string("kxlogcat: ") +
                                     dir.File("bad.log") + ": offset " +
                                     std::to_string(logHead ? GoodHead().size() : 0) + ": ";
        EXPECT_EQ(out.find(expected), 0u) << out;
        EXPECT_NE(out.find(bad.message), std::string::npos) << out;
        EXPECT_NE(out.find("\nnext file\r\n"), std::string::npos) << out;
        EXPECT_EQ(run.exitCode, 2u);
    }
    const std::string out = Kxlogcat(kxtest::Quote(dir.File("missing.log")) + next, &run);
    EXPECT_EQ(out.find("kxlogcat: " + dir.File("missing.log") + ": cannot open"), 0u) << out;
    EXPECT_NE(out.find("\nnext file\r\n"), std::string::npos) << out;
    EXPECT_EQ(run.exitCode, 2u);
}

TEST(Kxlogcat, CommandLine) {
    kxtest::RunResult run;
    EXPECT_NE(Kxlogcat("--help", &run).find("Usage: kxlogcat [--csv] FILE..."), std::string::npos);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_NE(Kxlogcat("", &run).find("no log file given"), std::string::npos);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(Kxlogcat("--tsv x.log", &run).find("unknown option --tsv"), std::string::npos);
    EXPECT_EQ(run.exitCode, 1u);
}

}  // namespace
