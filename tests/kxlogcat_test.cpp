// kxlogcat.exe: its lines and CSV rows, every whole record printed and each
// damaged stretch named with its offset and length among them, its exit
// codes, an empty log, and output that cannot be written. The reader itself
// is fuzzed (tests/fuzz/log_reader.cpp).
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "framework/handles.h"
#include "tests/support/kxscan_run.h"


namespace {

std::string Record(const std::string& text) { return kxtest::EncryptedRecord(text); }

kxtest::RunResult Kxlogcat(const std::string& args) {
    return kxtest::Run(kxtest::Quote(kxtest::BuildFolder() + "\\kxlogcat.exe") + " " + args, 30000);
}

// Every line and CSV row of logs read while a writer holds one open for
// appending, as the scanner does, and left alone; an empty log holds no
// records. Damage between whole records, a record torn by a writer that was
// stopped (and records appended after it by an older writer), damage at the
// end: each stretch is named where it lies and every whole record is
// printed. The next file is read. Which faults a record can have is fuzzed.
TEST(Kxlogcat, EveryWholeRecordAroundDamageCsvAndTheExitCodes) {
    kxtest::TempInstallDir dir(false);
    const std::string nul(1, '\0'), virus = "QMR!LOGS" + Record("2013-09-03 01:08:10|Worm, \"X\"|C:\\x\\y.exe|-1|2") +
                                            Record("2013-09-03 01:08:11|Odd|Name|C:\\y|3|2") +
                                            Record("a\\\x01\x7f" + nul + "\xe9") + Record("2013-09-03 01:08:12|");
    std::string changed = Record("third");
    changed[20] ^= 1;
    ASSERT_TRUE(dir.Write("virus.log", virus) && dir.Write("empty.log", "") &&
                dir.Write("events.log", "QMR!LOGS" + Record("2013-09-03 01:09:00|Two lines\r\nhere|p|x|2")) &&
                dir.Write("next.log", "QMR!LOGS" + Record("next")) &&
                dir.Write("bad.log", "QMR!LOGS" + Record("first") + Record("second") + changed + Record("fourth")) &&
                dir.Write("torn.log", "QMR!LOGS" + Record("one") + Record("two, torn").substr(0, 20) + Record("three") +
                                          "xyz" + Record("four") + Record("end").substr(0, 5)));
    fw::UniqueFile writer(::CreateFileA(dir.File("virus.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    const std::string files = kxtest::Quote(dir.File("virus.log")) + " " + kxtest::Quote(dir.File("events.log")) + " " +
                              kxtest::Quote(dir.File("empty.log"));
    const std::string bad = kxtest::Quote(dir.File("bad.log")) + " " + kxtest::Quote(dir.File("next.log")), torn = kxtest::Quote(dir.File("torn.log"));
    const std::tuple<std::string, std::string, DWORD> cases[] = {
        {files, "2013-09-03 01:08:10|Worm, \"X\"|C:\\\\x\\\\y.exe|-1|2\r\n2013-09-03 01:08:11|Odd|Name|C:\\\\y|3|2\r\n"
                "a\\\\\\x01\\x7F\\x00\xe9\r\n2013-09-03 01:08:12|\r\n2013-09-03 01:09:00|Two lines\\r\\nhere|p|x|2\r\n", 0},
        {"--csv " + files, "2013-09-03 01:08:10,\"Worm, \"\"X\"\"\",C:\\x\\y.exe,-1,2\r\n2013-09-03 01:08:11,Odd|Name,"
                           "C:\\y,3,2\r\n,a\\\x01\x7f" + nul + "\xe9\r\n2013-09-03 01:08:12,\r\n"
                           "2013-09-03 01:09:00,\"Two lines\r\nhere|p|x|2\"\r\n", 0},
        {"--help", "Usage: kxlogcat [--csv] FILE...", 0}, {"", "no log file given", 1},
        {"--tsv x.log", "unknown option --tsv", 1}, {"missing.log", "kxlogcat: missing.log: cannot open", 2},
        {"\\\\.\\NUL", "cannot open: not a file", 2},
        {bad, "first\r\nsecond\r\nkxlogcat: " + dir.File("bad.log") + ": offset 64: CRC mismatch", 2},
        {bad, "; 28 bytes damaged\r\nfourth\r\nnext\r\n", 2},
        {torn, "one\r\nkxlogcat: " + dir.File("torn.log") + ": offset 36: ", 2},
        {torn, "; 20 bytes damaged\r\nthree\r\nkxlogcat: " + dir.File("torn.log") + ": offset 84: ", 2},
        {torn, "; 3 bytes damaged\r\nfour\r\nkxlogcat: " + dir.File("torn.log") + ": offset 115: record of L = 24 runs "
               "past the end of the file (1 of its 24 bytes present); 5 bytes damaged\r\n", 2}};
    for (const auto& [args, output, code] : cases) {
        const kxtest::RunResult run = Kxlogcat(args);
        EXPECT_TRUE(run.output.find(output) != std::string::npos && run.exitCode == code) << args << ": " << run.output;
    }
    writer.reset();
    EXPECT_EQ(dir.Read("virus.log"), virus);
}

// Output that cannot be written, here to a pipe whose reader has gone, is a
// failure with a message, not a success.
TEST(Kxlogcat, LostOutputEndsWithExitCode2) {
    kxtest::TempInstallDir dir(false);
    ASSERT_TRUE(dir.Write("virus.log", "QMR!LOGS" + Record("a record")));
    const std::string errors = "kxscan_lost_" + std::to_string(::GetCurrentProcessId());
    kxtest::Shell("(sleep 1; /usr/lib/wine/wine64 '" + kxtest::BuildFolder() + "\\kxlogcat.exe' '" +
                  dir.File("virus.log") + "' 2>/tmp/" + errors + "; echo $? >>/tmp/" + errors + ") | true");
    const std::string output = kxtest::ReadFile("Z:\\tmp\\" + errors);
    EXPECT_TRUE(output.rfind("kxlogcat: cannot write the output: ", 0) == 0 && output.ends_with("\n2\n")) << output;
    ::DeleteFileA(("Z:\\tmp\\" + errors).c_str());
}

}  // namespace
