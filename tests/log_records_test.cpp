// The virus and event log records: their texts, the access counters, the
// time stamps in the registry, the plain virus list of agent installations,
// and what long or missing texts leave behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "app/registry.h"
#include "app/startup.h"
#include "logs/log_records.h"
#include "tests/support/test_support.h"
#include "tools/kxlogcat/log_reader.h"

namespace {

using kxtest::ProductRegistry;
using kxtest::TempInstallDir;

// "#N" stands for a text of N letters.
std::string Expand(const std::string& argument) {
    if (argument.size() < 2 || argument[0] != '#') return argument;
    std::string text(std::strtoul(argument.c_str() + 1, nullptr, 10), 'a');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
    return text;
}

// Arguments: the agent type, then "virus NAME PATH ACTION", "event TEXT",
// "event-null" or "virus-null". Prints the tick count before and after.
KX_PROBE(log_record_calls) {
    ProcessOptions().agentType = std::strtoul(args.at(0).c_str(), nullptr, 10);
    std::printf("before=%lu\n", ::GetTickCount());
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "virus") {
            RecordVirus(Expand(args.at(i + 1)).c_str(), Expand(args.at(i + 2)).c_str(),
                        std::atoi(args.at(i + 3).c_str()), kSourceScanner);
            i += 3;
        } else if (args[i] == "event") {
            RecordEvent(Expand(args.at(++i)).c_str());
        } else if (args[i] == "event-null") {
            RecordEvent(nullptr);
        } else if (args[i] == "virus-null") {
            RecordVirus(nullptr, "C:\\x.exe", kActionCured, kSourceScanner);
        }
    }
    std::printf("after=%lu\n", ::GetTickCount());
    return 0;
}

DWORD Tick(const std::string& output, const char* name) {
    size_t at = output.find(std::string(name) + "=");
    return at == std::string::npos ? 0 : std::strtoul(output.c_str() + at + std::strlen(name) + 1, nullptr, 10);
}

std::string LocalStamp() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof(stamp), "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);
    return stamp;
}

// A run of the calls with the local time around it.
struct Calls {
    std::string output;
    std::string before;
    std::string after;
};

Calls RunCalls(const std::vector<std::string>& args, const std::string& program = "") {
    Calls calls;
    calls.before = LocalStamp();
    if (program.empty()) {
        calls.output = kxtest::RunProbe("log_record_calls", args).output;
    } else {
        std::string line = kxtest::Quote(program) + " --probe log_record_calls";
        for (const std::string& arg : args) line.append(" ").append(kxtest::Quote(arg));
        calls.output = kxtest::Run(line, 60000).output;
    }
    calls.after = LocalStamp();
    EXPECT_NE(calls.output.find("after="), std::string::npos) << calls.output;
    return calls;
}

// The record texts of a log with their time stamps checked against the run
// and taken off.
std::vector<std::string> Payloads(const std::string& file, const Calls& calls) {
    std::vector<std::string> payloads;
    LogFault fault;
    ReadLog(
        reinterpret_cast<const uint8_t*>(file.data()), file.size(),
        [&](const LogRecord& record) {
            std::string text(reinterpret_cast<const char*>(record.text), record.length);
            static const std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})");
            std::string head = text.substr(0, 19);
            EXPECT_TRUE(std::regex_match(head, stamp)) << text;
            EXPECT_TRUE(calls.before <= head && head <= calls.after)
                << head << " outside " << calls.before << " .. " << calls.after;
            payloads.push_back(text.substr(19));
        },
        &fault);
    EXPECT_FALSE(fault.found) << fault.offset << ": " << fault.message;
    return payloads;
}

void ExpectStamp(const char* value, const Calls& calls) {
    DWORD stamp = 0;
    ASSERT_TRUE(kxtest::RegGetDword(kStatusKey, value, &stamp)) << value;
    EXPECT_GE(stamp, Tick(calls.output, "before")) << value;
    EXPECT_LE(stamp, Tick(calls.output, "after")) << value;
}

DWORD Counter(const std::string& name) {
    DWORD count = 0;
    return kxtest::RegGetDword(kAccessKey, name, &count) ? count : 0;
}

TEST(VirusRecords, TextsCountersAndStamp) {
    ProductRegistry registry;
    TempInstallDir install(false);
    install.Register();
    Calls calls = RunCalls({"0", "virus", "Worm.X variant 2", "C:\\x\\y.exe", "1", "virus", "Worm.X variant 2",
                            "C:\\x\\y.exe", "1", "virus", "Worm.X", "C:\\a b\\z.exe", "3"});
    EXPECT_EQ(Payloads(install.Read("Logs\\virus.log"), calls),
              (std::vector<std::string>{"|Worm.X variant 2|C:\\x\\y.exe|1|2", "|Worm.X variant 2|C:\\x\\y.exe|1|2",
                                        "|Worm.X|C:\\a b\\z.exe|3|2"}));
    // Counted under the short name, per source and action.
    EXPECT_EQ(Counter("Worm.X|2|1"), 2u);
    EXPECT_EQ(Counter("Worm.X|2|3"), 1u);
    DWORD unused = 0;
    EXPECT_FALSE(kxtest::RegGetDword(kAccessKey, "Worm.X variant 2|2|1", &unused));
    ExpectStamp("log_virus", calls);
    EXPECT_FALSE(kxtest::RegGetDword(kStatusKey, "log_events", &unused));
    EXPECT_FALSE(install.Exists("Logs\\events.log"));
}

TEST(VirusRecords, LongTextsAreCutOrDroppedButStillCounted) {
    ProductRegistry registry;
    TempInstallDir install(false);
    install.Register();
    const std::string longName = std::string(740, 'N') + " variant";  // counter name of 744 characters
    const std::string hugeName = std::string(800, 'H');               // its counter name would be cut
    Calls calls = RunCalls({"0", "virus", "Long.Path", "#2000", "2", "virus", longName, "C:\\x.exe", "1", "virus",
                            hugeName, "C:\\x.exe", "1"});
    std::vector<std::string> payloads = Payloads(install.Read("Logs\\virus.log"), calls);
    ASSERT_EQ(payloads.size(), 3u);
    // The payload is cut to 778 characters; the record is kept.
    EXPECT_EQ(payloads[0], ("|Long.Path|" + Expand("#2000")).substr(0, 778));
    EXPECT_EQ(payloads[1], "|" + longName + "|C:\\x.exe|1|2");
    EXPECT_EQ(payloads[2], ("|" + hugeName + "|C:\\x.exe|1|2").substr(0, 778));
    EXPECT_EQ(Counter("Long.Path|2|2"), 1u);
    EXPECT_EQ(Counter(std::string(740, 'N') + "|2|1"), 1u);
    // Not under a name cut short of its source and action.
    DWORD unused = 0;
    EXPECT_FALSE(kxtest::RegGetDword(kAccessKey, std::string(778, 'H'), &unused));
    ExpectStamp("log_virus", calls);
}

TEST(EventRecords, TextsStampAndLostRecords) {
    ProductRegistry registry;
    TempInstallDir install(false);
    install.Register();
    // A record text of 2032 bytes is the longest: 19 for the time, "|" and 2012.
    Calls calls =
        RunCalls({"0", "event", "Scan ended: 3 found", "event", "", "event-null", "event", "#2012", "event", "#2013"});
    EXPECT_EQ(Payloads(install.Read("Logs\\events.log"), calls),
              (std::vector<std::string>{"|Scan ended: 3 found", "|", std::string("|").append(Expand("#2012"))}));
    ExpectStamp("log_events", calls);
    EXPECT_FALSE(install.Exists("Logs\\virus.log"));

    // A null text does nothing at all.
    ProductRegistry cleared;
    RunCalls({"0", "event-null"});
    EXPECT_FALSE(kxtest::RegKeyExists(kStatusKey));
}

// A copy of the test program in a folder of its own, as the program file of
// an agent installation: the plain list goes to logs\virus.html beside it.
struct AgentProgram {
    TempInstallDir folder{false};
    std::string program = folder.File("kxscan_tests.exe");
    AgentProgram() { ::CopyFileA((kxtest::BuildFolder() + "\\kxscan_tests.exe").c_str(), program.c_str(), FALSE); }
};

TEST(PlainVirusList, WrittenBesideTheProgramOnAgentInstallations) {
    ProductRegistry registry;
    TempInstallDir install(false);
    install.Register();
    AgentProgram agent;
    ASSERT_TRUE(::CreateDirectoryA(agent.folder.File("logs").c_str(), nullptr));
    ASSERT_TRUE(agent.folder.Write("logs\\virus.html", "kept\r\n"));

    Calls calls = RunCalls(
        {"1", "virus", "Worm.X variant 2", "C:\\x\\y.exe", "1", "virus", "Trojan.Y", "C:\\z.exe", "2"}, agent.program);
    const std::string list = agent.folder.Read("logs\\virus.html");
    const std::regex lines(R"(kept\r\n(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})\|Worm\.X\|C:\\x\\y\.exe\|1\|2\r\n)"
                           R"((\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})\|Trojan\.Y\|C:\\z\.exe\|2\|2\r\n)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(list, match, lines)) << list;
    EXPECT_TRUE(calls.before <= match[1].str() && match[2].str() <= calls.after) << list;
    EXPECT_FALSE(agent.folder.Exists("logs\\virus.html.lock"));
    // Everything else is written as on any installation.
    EXPECT_EQ(Payloads(install.Read("Logs\\virus.log"), calls).size(), 2u);
    EXPECT_EQ(Counter("Worm.X|2|1"), 1u);
    ExpectStamp("log_virus", calls);
}

TEST(PlainVirusList, NotTouchedWithoutAgentTypeOrLogsFolder) {
    ProductRegistry registry;
    TempInstallDir install(false);
    install.Register();
    AgentProgram agent;

    // An agent installation without the folder: the line is dropped, the folder not made.
    RunCalls({"1", "virus", "Worm.X variant 2", "C:\\x\\y.exe", "1"}, agent.program);
    EXPECT_FALSE(kxtest::FolderExists(agent.folder.File("logs")));
    EXPECT_EQ(Counter("Worm.X|2|1"), 1u);

    // Agent type 0: no list even where one could go.
    ASSERT_TRUE(::CreateDirectoryA(agent.folder.File("logs").c_str(), nullptr));
    RunCalls({"0", "virus", "Worm.X variant 2", "C:\\x\\y.exe", "1"}, agent.program);
    EXPECT_FALSE(agent.folder.Exists("logs\\virus.html"));
    EXPECT_EQ(Counter("Worm.X|2|1"), 2u);
}

TEST(VirusRecords, EmptyNameWritesNothingAtAll) {
    ProductRegistry registry;
    TempInstallDir install(false);
    install.Register();
    AgentProgram agent;
    ASSERT_TRUE(::CreateDirectoryA(agent.folder.File("logs").c_str(), nullptr));
    RunCalls({"1", "virus", "", "C:\\x\\y.exe", "1", "virus-null"}, agent.program);
    EXPECT_FALSE(kxtest::FolderExists(install.File("Logs")));
    EXPECT_FALSE(kxtest::RegKeyExists(kAccessKey));
    EXPECT_FALSE(kxtest::RegKeyExists(kStatusKey));
    EXPECT_FALSE(agent.folder.Exists("logs\\virus.html"));
}

}  // namespace
