// The debug log: where the output mask sends a line, the line's format, the
// cut of long lines, rotation, the cross-process lock and writers in several
// processes at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "framework/handles.h"
#include "logs/debug_log.h"
#include "tests/support/test_support.h"

namespace {

using kxtest::ProductRegistry;
using kxtest::TempInstallDir;

// The time stamp and separator in front of every file line.
const std::regex kStampPrefix(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} : )");
constexpr size_t kStampPrefixLength = 22;

// Receives the debugger output of every process through the system's
// DBWIN_BUFFER protocol, the way a debug viewer does.
class DebugOutputListener {
public:
    DebugOutputListener() {
        bufferReady_.reset(::CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY"));
        dataReady_.reset(::CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY"));
        mapping_.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, "DBWIN_BUFFER"));
        if (mapping_) view_ = static_cast<const char*>(::MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, kSize));
        if (bufferReady_ && dataReady_ && view_) thread_ = std::thread([this] { Run(); });
    }
    ~DebugOutputListener() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (view_) ::UnmapViewOfFile(view_);
    }
    DebugOutputListener(const DebugOutputListener&) = delete;
    DebugOutputListener& operator=(const DebugOutputListener&) = delete;

    bool Listening() const { return thread_.joinable(); }

    // The strings process `pid` sent, waiting up to `timeoutMs` for `count`.
    std::vector<std::string> From(DWORD pid, size_t count, DWORD timeoutMs) {
        DWORD start = ::GetTickCount();
        for (;;) {
            std::vector<std::string> found;
            {
                std::lock_guard<std::mutex> guard(mutex_);
                for (const auto& [sender, text] : received_)
                    if (sender == pid) found.push_back(text);
            }
            if (found.size() >= count || ::GetTickCount() - start > timeoutMs) return found;
            ::Sleep(10);
        }
    }

private:
    static constexpr DWORD kSize = 4096;

    void Run() {
        ::SetEvent(bufferReady_.get());
        while (!stop_) {
            if (::WaitForSingleObject(dataReady_.get(), 20) != WAIT_OBJECT_0) continue;
            DWORD pid = 0;
            std::memcpy(&pid, view_, sizeof(pid));
            std::string text(view_ + sizeof(pid), strnlen(view_ + sizeof(pid), kSize - sizeof(pid)));
            {
                std::lock_guard<std::mutex> guard(mutex_);
                received_.emplace_back(pid, std::move(text));
            }
            ::SetEvent(bufferReady_.get());
        }
    }

    fw::UniqueHandle bufferReady_;
    fw::UniqueHandle dataReady_;
    fw::UniqueHandle mapping_;
    const char* view_ = nullptr;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::pair<DWORD, std::string>> received_;
    std::thread thread_;
};

// The calls every mask is tried with.
KX_PROBE(debug_log_lines) {
    DWORD mask = std::strtoul(args.at(0).c_str(), nullptr, 10);
    DebugLog("scanner", mask, kLevelInfo, "ScanVirus (%s) (%d)", "C:\\a.exe", 0);
    DebugLog("[x]", mask, kLevelDebug0, "tagged");
    DebugLog("scanner", mask, 11, "level %d", 11);
    DebugLog("scanner", mask, -1, "level %d", -1);
    DebugLog("scanner", mask, kLevelDebug1, "%s", std::string(2000, 'y').c_str());
    DebugLog("scanner", mask, kLevelDebug3, "after the long line");
    return 0;
}

// What those calls must say, without the time stamp.
std::vector<std::string> ExpectedTexts(DWORD pid) {
    std::string id = std::to_string(pid);
    id = '[' + id + "] ";
    return {id + "[INFO] [scanner] ScanVirus (C:\\a.exe) (0)",
            id + "[DEBUG0] [[x]] tagged",
            id + "[DEBUG] [scanner] level 11",
            id + "[DEBUG] [scanner] level -1",
            (id + "[DEBUG1] [scanner] " + std::string(2000, 'y')).substr(0, 1023),
            id + "[DEBUG3] [scanner] after the long line"};
}

// The lines of a file written in text mode, each without its "\r\n"; a last
// line without one is kept as it is, to be seen in a failure.
std::vector<std::string> FileLines(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(content.substr(start, end - start));
    if (start < content.size()) lines.push_back(content.substr(start) + "<no line end>");
    return lines;
}

// The file lines with their time stamps checked and taken off.
std::vector<std::string> StampedTexts(const std::string& content) {
    std::vector<std::string> texts;
    for (const std::string& line : FileLines(content)) {
        EXPECT_TRUE(std::regex_search(line, kStampPrefix, std::regex_constants::match_continuous)) << line;
        texts.push_back(line.size() >= kStampPrefixLength ? line.substr(kStampPrefixLength) : line);
    }
    return texts;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    fw::UniqueFind find(::FindFirstFileA((folder + "\\*").c_str(), &entry));
    if (!find) return names;
    do {
        if (std::strcmp(entry.cFileName, ".") != 0 && std::strcmp(entry.cFileName, "..") != 0)
            names.push_back(entry.cFileName);
    } while (::FindNextFileA(find.get(), &entry));
    return names;
}

TEST(DebugLogOutput, MaskPicksDebuggerOutputAndFile) {
    DebugOutputListener listener;
    ASSERT_TRUE(listener.Listening());
    for (DWORD mask = 0; mask <= 3; ++mask) {
        SCOPED_TRACE("mask " + std::to_string(mask));
        ProductRegistry registry;
        TempInstallDir install(false);
        install.Register();
        ASSERT_TRUE(::CreateDirectoryA(install.File("Logs").c_str(), nullptr));

        kxtest::ChildProcess child;
        ASSERT_TRUE(kxtest::StartProbe(&child, "debug_log_lines", {std::to_string(mask)}));
        ASSERT_TRUE(child.Wait(30000));
        ASSERT_EQ(child.ExitCode(), 0u) << child.Output();
        std::vector<std::string> texts = ExpectedTexts(child.Pid());

        std::vector<std::string> debugger = listener.From(child.Pid(), texts.size(), mask & 1 ? 5000 : 200);
        if (mask & 1) {
            // The cut debugger line keeps its line feed: 1022 characters and "\n".
            ASSERT_EQ(debugger.size(), texts.size());
            for (size_t i = 0; i < texts.size(); ++i)
                EXPECT_EQ(debugger[i], texts[i].substr(0, 1022) + "\n") << "line " << i;
        } else {
            EXPECT_TRUE(debugger.empty());
        }

        if (mask & 2) {
            // The cut file line is 1022 characters before its line feed.
            texts[4].resize(1022 - kStampPrefixLength);
            EXPECT_EQ(StampedTexts(install.Read("Logs\\kxlog.01")), texts);
            EXPECT_EQ(FolderEntries(install.File("Logs")), std::vector<std::string>{"kxlog.01"});
        } else {
            EXPECT_TRUE(FolderEntries(install.File("Logs")).empty());
        }
    }
}

std::string MarkedFile(const std::string& marker, size_t size) {
    std::string content = marker + "\n";
    content.resize(size, '.');
    return content;
}

TEST(DebugLogFile, RotatesOnlyPastFiveMillionBytes) {
    TempInstallDir folder(false);
    ASSERT_TRUE(folder.Write("kxlog.01", MarkedFile("full", 5000000)));
    ASSERT_EQ(AppendDebugLine(folder.Path().c_str(), "not rotated"), 0);
    EXPECT_FALSE(folder.Exists("kxlog.02"));
    EXPECT_EQ(folder.Read("kxlog.01").substr(0, 5), "full\n");
    EXPECT_GT(kxtest::FileSize(folder.File("kxlog.01")), 5000000u);

    for (int generation = 1; generation <= 5; ++generation) {
        std::string name = "kxlog.0" + std::to_string(generation);
        ASSERT_TRUE(folder.Write(name, MarkedFile("gen" + std::to_string(generation), generation == 1 ? 5000001 : 100)));
    }
    ASSERT_EQ(AppendDebugLine(folder.Path().c_str(), "first of the new file"), 0);
    EXPECT_EQ(StampedTexts(folder.Read("kxlog.01")), std::vector<std::string>{"first of the new file"});
    EXPECT_EQ(kxtest::FileSize(folder.File("kxlog.02")), 5000001u);
    for (int generation = 2; generation <= 5; ++generation) {
        std::string content = folder.Read("kxlog.0" + std::to_string(generation));
        EXPECT_EQ(content.substr(0, 5), "gen" + std::to_string(generation - 1) + "\n") << "kxlog.0" << generation;
    }
    EXPECT_EQ(FolderEntries(folder.Path()).size(), 5u);
}

TEST(DebugLogFile, RotatesWithoutOlderGenerations) {
    TempInstallDir empty(false);
    EXPECT_EQ(RotateDebugLog(empty.Path().c_str(), "kxlog"), 0);
    EXPECT_TRUE(FolderEntries(empty.Path()).empty());

    TempInstallDir folder(false);
    ASSERT_TRUE(folder.Write("kxlog.01", MarkedFile("only", 5000001)));
    ASSERT_EQ(AppendDebugLine(folder.Path().c_str(), "fresh"), 0);
    EXPECT_EQ(StampedTexts(folder.Read("kxlog.01")), std::vector<std::string>{"fresh"});
    EXPECT_EQ(folder.Read("kxlog.02").substr(0, 5), "only\n");
    EXPECT_EQ(FolderEntries(folder.Path()).size(), 2u);
}

TEST(DebugLogFile, MissingFolderWritesNothing) {
    TempInstallDir install(false);
    std::string logs = install.File("Logs");
    DWORD start = ::GetTickCount();
    EXPECT_EQ(AppendDebugLine(logs.c_str(), "lost"), -1);
    EXPECT_EQ(OpenLockFile((logs + "\\kxlog.lock").c_str()), -1);
    EXPECT_LT(::GetTickCount() - start, 2000u) << "a missing folder must not be waited for";
    EXPECT_TRUE(FolderEntries(install.Path()).empty());
    EXPECT_EQ(AppendDebugLine(nullptr, "lost"), -1);
    EXPECT_EQ(AppendDebugLine("", "lost"), -1);
    CloseLockFile(-1);
}

// Runs AppendDebugLine on a thread while `hold` keeps the lock file from it
// for 300 ms; the line must be written soon after the hold ends.
template <typename Hold, typename Release>
void ExpectWrittenAfterHold(const TempInstallDir& folder, Hold hold, Release release) {
    hold();
    int result = 1;
    DWORD finished = 0;
    std::thread writer([&] {
        result = AppendDebugLine(folder.Path().c_str(), "waited");
        finished = ::GetTickCount();
    });
    ::Sleep(300);
    EXPECT_FALSE(folder.Exists("kxlog.01")) << "written while the lock was held";
    DWORD released = ::GetTickCount();
    release();
    writer.join();
    EXPECT_EQ(result, 0);
    EXPECT_LT(finished - released, 500u) << "the waiting writer slept too long";
    EXPECT_EQ(StampedTexts(folder.Read("kxlog.01")), std::vector<std::string>{"waited"});
    EXPECT_FALSE(folder.Exists("kxlog.lock")) << "the lock file outlived its holders";
}

TEST(DebugLogLock, WaitsForTheHolderThenDeletesTheLockFile) {
    TempInstallDir folder(false);
    std::string lockPath = folder.File("kxlog.lock");
    int held = -1;
    ExpectWrittenAfterHold(
        folder, [&] { held = OpenLockFile(lockPath.c_str()); }, [&] { CloseLockFile(held); });
    EXPECT_NE(held, -1);

    // A lock file left behind by a writer that died is taken over and removed.
    TempInstallDir stale(false);
    ASSERT_TRUE(stale.Write("kxlog.lock", ""));
    int descriptor = OpenLockFile(stale.File("kxlog.lock").c_str());
    EXPECT_NE(descriptor, -1);
    CloseLockFile(descriptor);
    EXPECT_FALSE(stale.Exists("kxlog.lock"));
}

TEST(DebugLogLock, OpensAgainWhileTheLockFileCannotBeOpened) {
    // A handle that shares nothing stands for a lock file that is being
    // deleted or held by a writer we cannot join.
    TempInstallDir folder(false);
    fw::UniqueFile blocker;
    ExpectWrittenAfterHold(
        folder,
        [&] {
            blocker.reset(::CreateFileA(folder.File("kxlog.lock").c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                        nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        },
        [&] { blocker.reset(); });
}

// Appends `count` numbered lines from each of two threads; the exit code is
// the number of lines that were refused.
KX_PROBE(debug_log_writer) {
    const std::string& folder = args.at(0);
    const std::string& writer = args.at(1);
    int count = std::atoi(args.at(2).c_str());
    std::atomic<int> refused{0};
    auto append = [&](int thread) {
        for (int sequence = 0; sequence < count; ++sequence) {
            char text[200];
            std::snprintf(text, sizeof(text), "writer %s.%d line %04d %s", writer.c_str(), thread, sequence,
                          std::string(100, static_cast<char>('a' + thread)).c_str());
            if (AppendDebugLine(folder.c_str(), text) != 0) ++refused;
        }
    };
    std::thread second(append, 1);
    append(0);
    second.join();
    return refused;
}

TEST(DebugLogConcurrency, TwoProcessesLoseAndTearNoLine) {
    TempInstallDir folder(false);
    constexpr int kPerThread = 500;  // two threads per process: 1,000 lines each
    DWORD start = ::GetTickCount();
    kxtest::ChildProcess first;
    kxtest::ChildProcess second;
    ASSERT_TRUE(kxtest::StartProbe(&first, "debug_log_writer", {folder.Path(), "A", std::to_string(kPerThread)}));
    ASSERT_TRUE(kxtest::StartProbe(&second, "debug_log_writer", {folder.Path(), "B", std::to_string(kPerThread)}));
    ASSERT_TRUE(first.Wait(100000));
    ASSERT_TRUE(second.Wait(100000));
    DWORD elapsed = ::GetTickCount() - start;
    std::printf("2 processes x 1000 lines: %lu ms\n", elapsed);
    RecordProperty("elapsed_ms", static_cast<int>(elapsed));
    EXPECT_EQ(first.ExitCode(), 0u) << first.Output();
    EXPECT_EQ(second.ExitCode(), 0u) << second.Output();

    const std::regex line(R"(writer ([AB])\.([01]) line (\d{4}) ([ab]{100}))");
    std::map<std::string, int> next;  // writer -> next expected sequence
    std::vector<std::string> texts = StampedTexts(folder.Read("kxlog.01"));
    EXPECT_EQ(texts.size(), 4u * kPerThread);
    int bad = 0;
    std::string firstBad;
    for (const std::string& text : texts) {
        std::smatch match;
        bool wellFormed = std::regex_match(text, match, line) &&
                          match[4].str() == std::string(100, static_cast<char>('a' + std::stoi(match[2])));
        // Each writer's lines appear once each and in the order written.
        if (!wellFormed || std::stoi(match[3]) != next[match[1].str() + match[2].str()]++) {
            if (bad++ == 0) firstBad = text;
        }
    }
    EXPECT_EQ(bad, 0) << "first: " << firstBad;
    for (const char* writer : {"A0", "A1", "B0", "B1"}) EXPECT_EQ(next[writer], kPerThread) << writer;
    EXPECT_FALSE(folder.Exists("kxlog.lock"));
}

TEST(DebugLogTime, FormatsLocalTime) {
    for (time_t time : {time_t{1700000000}, time_t{1704456000}, time_t{951782400}}) {
        char expected[32];
        std::strftime(expected, sizeof(expected), "%Y-%m-%d %H:%M:%S", std::localtime(&time));
        char buffer[32];
        std::memset(buffer, 'x', sizeof(buffer));
        EXPECT_EQ(FormatLogTime(time, buffer), buffer);
        EXPECT_STREQ(buffer, expected);
        EXPECT_EQ(buffer[20], 'x') << "wrote past the time stamp";
    }
    EXPECT_EQ(FormatLogTime(1700000000, nullptr), nullptr);
    char buffer[32];
    EXPECT_STREQ(FormatLogTime(-1, buffer), "0000-00-00 00:00:00");
}

}  // namespace
