// The walkers against a window object of the test's own and an engine that
// records what reaches it: exclusions, the count, the quick-scan filter,
// names without an ANSI form, stopping, and long paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/install_paths.h"
#include "app/startup.h"
#include "scan/file_walk.h"
#include "scan/scan_job.h"
#include "tests/support/recording_engine.h"
#include "tests/support/test_support.h"
#include "scan/scan_job.h"

namespace {

using kxtest::RecordingEngine;
using kxtest::RecordScan;
RecordingEngine& g_engine = kxtest::g_recorder;

class FileWalk : public ::testing::Test {
protected:
    void SetUp() override {
        g_engine = RecordingEngine{};
        job.engine.scanFile = RecordScan;
    }
    void TearDown() override {
        job.engine.scanFile = nullptr;
        ProcessOptions().quickScan = 0;
        ProcessOptions().quickScanExtensions[0] = '\0';
    }
    std::string Path(const std::string& relative) const { return root.File(relative); }
    std::vector<std::string> Scan(const std::string& path, int recurse) {
        char buffer[520];
        std::snprintf(buffer, sizeof(buffer), "%s", path.c_str());
        ScanFolder(buffer, recurse, job);
        return g_engine.paths;
    }
    DWORD Count(const std::string& path) {
        char buffer[520];
        std::snprintf(buffer, sizeof(buffer), "%s", path.c_str());
        return CountFolderFiles(buffer, 1, job);
    }

    kxtest::TempInstallDir root{false};
    ScanJob job;
};

using Paths = std::vector<std::string>;

TEST(Exclusions, PrefixAsWrittenWithOrWithoutClosingBackslash) {
    ExcludedPathTable table{};
    ParseExcludedPaths("C:\\Temp|D:\\Data\\", &table);
    EXPECT_EQ(IsExcludedPathIn(table, "C:\\Temp\\"), 1);
    EXPECT_EQ(IsExcludedPathIn(table, "c:\\TEMPORARY\\x.txt"), 1) << "only the written 7 characters count";
    EXPECT_EQ(IsExcludedPathIn(table, "C:\\Tem\\"), 0);
    EXPECT_EQ(IsExcludedPathIn(table, "D:\\data\\sub\\"), 1);
    EXPECT_EQ(IsExcludedPathIn(table, "D:\\Database\\"), 0);
    EXPECT_EQ(IsExcludedPathIn(table, ""), 0);
}

TEST_F(FileWalk, EveryFileCountsAndReachesTheEngineOnce) {
    for (const char* name : {"a.txt", "sub\\b.bin", "sub\\deeper\\c", "sub\\deeper\\d.doc", "z.exe"})
        ASSERT_TRUE(root.Write(name, "data"));
    ::CreateDirectoryA(Path("empty").c_str(), nullptr);

    EXPECT_EQ(Count(root.Path()), 5u);
    EXPECT_EQ(Count(root.Path() + "\\"), 5u);
    Paths scanned = Scan(root.Path(), 1);
    EXPECT_EQ(scanned, (Paths{Path("a.txt"), Path("sub\\b.bin"), Path("sub\\deeper\\c"), Path("sub\\deeper\\d.doc"),
                              Path("z.exe")}));
    EXPECT_EQ(job.filesVisited, 5u);
    char current[520];
    job.CopyCurrentFile(current, sizeof(current));
    EXPECT_EQ(current, Path("z.exe"));

    EXPECT_EQ(Count(Path("missing")), 0u);
    EXPECT_EQ(Scan(Path("missing"), 1).size(), 5u) << "an unreadable folder is skipped";
}

TEST_F(FileWalk, QuickScanFilter) {
    StartupOptions& options = ProcessOptions();
    options.quickScan = 1;
    std::snprintf(options.quickScanExtensions, sizeof(options.quickScanExtensions), "exe,com,bat,doc,ppt,xls");
    ASSERT_TRUE(root.Write("readme.txt", "MZ rest"));
    ASSERT_TRUE(root.Write("notes.txt", "plain"));
    ASSERT_TRUE(root.Write("setup.exe", std::string(3 * 1024 * 1024, 'M')));
    ASSERT_TRUE(root.Write("small.EXE", "x"));
    ASSERT_TRUE(root.Write("a.ex", "x"));
    ASSERT_TRUE(root.Write("archive.html", "<html>"));
    ASSERT_TRUE(root.Write("archive2.html", "MZ"));
    ASSERT_TRUE(root.Write("archive3.html", std::string("\xD0\xCF\x11\xE0", 4)));
    ASSERT_TRUE(root.Write("one.bin", "M"));

    EXPECT_EQ(Scan(root.Path(), 1), (Paths{Path("a.ex"), Path("archive2.html"), Path("archive3.html"),
                                           Path("readme.txt"), Path("small.EXE")}));
    EXPECT_EQ(job.filesVisited, 9u) << "filtered files are still visited";
    EXPECT_EQ(Count(root.Path()), 9u) << "the count ignores the filter";

    g_engine.paths.clear();
    EXPECT_EQ(Scan(Path("setup.exe"), 0), Paths{Path("setup.exe")}) << "a named file is always scanned";
    EXPECT_EQ(QuickScanWants(Path("small.EXE").c_str(), L"small.EXE", 1, 10, "exe"), 0) << "4 GiB and more";
}

TEST_F(FileWalk, NamesWithoutAnAnsiFormReachTheEngineByTheirShortName) {
    const std::wstring folder(root.Path().begin(), root.Path().end());
    const std::wstring names[] = {L"\uD55C\uAE00 \uBB38\uC11C.txt", L"caf\u0101.txt"};
    for (const std::wstring& name : names) {
        HANDLE file = ::CreateFileW((folder + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ::CloseHandle(file);
    }
    ASSERT_TRUE(root.Write("plain.txt", "x"));

    Paths expected;
    for (const std::wstring& name : names) {
        wchar_t shortPath[MAX_PATH] = {};
        ASSERT_GT(::GetShortPathNameW((folder + L"\\" + name).c_str(), shortPath, MAX_PATH), 0u);
        char ansi[MAX_PATH] = {};
        ::WideCharToMultiByte(CP_ACP, 0, std::wcsrchr(shortPath, L'\\') + 1, -1, ansi, sizeof(ansi), nullptr, nullptr);
        ASSERT_EQ(std::strchr(ansi, '?'), nullptr) << ansi;
        expected.push_back(Path(ansi));
    }
    Paths scanned = Scan(root.Path(), 1);
    ASSERT_EQ(scanned.size(), 3u);
    for (const std::string& path : expected)
        EXPECT_NE(std::find(scanned.begin(), scanned.end(), path), scanned.end()) << path;
    EXPECT_NE(std::find(scanned.begin(), scanned.end(), Path("plain.txt")), scanned.end());
    for (const std::string& path : scanned) {
        EXPECT_EQ(path.find('?'), std::string::npos) << path;
        EXPECT_NE(::GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path << " must name the file";
    }
}

TEST_F(FileWalk, ConfirmedStopEndsTheWalkAtTheNextEntry) {
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(root.Write("big\\f" + std::to_string(1000 + i), "x"));
    ASSERT_TRUE(root.Write("later\\x.txt", "x"));
    g_engine.stopJob = &job;
    g_engine.stopAfter = 7;
    EXPECT_EQ(Scan(root.Path(), 1).size(), 7u);
    EXPECT_EQ(job.filesVisited, 7u);
    EXPECT_EQ(Count(root.Path()), 0u) << "a cancelled scan stops counting too";
}

TEST_F(FileWalk, PathsTooLongForTheBufferAreSkippedNotCut) {
    // A folder whose path leaves room for short names only.
    std::wstring folder = L"\\\\?\\" + std::wstring(root.Path().begin(), root.Path().end());
    std::string ansiFolder = root.Path();
    while (ansiFolder.size() < 470) {
        folder += L"\\" + std::wstring(40, L'd');
        ansiFolder += "\\" + std::string(40, 'd');
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    }
    std::string longName(519 - ansiFolder.size(), 'n');  // with the backslash: 520 characters
    std::string fits(518 - ansiFolder.size(), 'f');      // 519 characters
    for (const std::string& name : {longName, fits}) {
        std::wstring wide = folder + L"\\" + std::wstring(name.begin(), name.end());
        HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ::CloseHandle(file);
    }
    Paths scanned = Scan(ansiFolder, 1);
    EXPECT_EQ(scanned, Paths{ansiFolder + "\\" + fits});
    EXPECT_EQ(Count(ansiFolder), 1u);

    // A 519-character folder cannot take its backslash: nothing is written past the buffer.
    struct {
        char path[520];
        char guard[8];
    } buffer;
    std::memset(buffer.path, 'p', 519);
    buffer.path[519] = '\0';
    std::memcpy(buffer.guard, "GUARD!!", 8);
    ScanFolder(buffer.path, 1, job);
    EXPECT_EQ(CountFolderFiles(buffer.path, 1, job), 0u);
    EXPECT_STREQ(buffer.guard, "GUARD!!");
}

// Walks with the exclusions of the registered installation's settings:
// prints the count and the scanned paths for each argument ("name:recurse").
KX_PROBE(walk_with_exclusions) {
    ScanJob job;
    job.engine.scanFile = RecordScan;
    for (const std::string& arg : args) {
        std::string path = arg.substr(0, arg.rfind(':'));
        int recurse = arg.back() == '1';
        char buffer[520];
        std::snprintf(buffer, sizeof(buffer), "%s", path.c_str());
        std::printf("count %s = %lu\n", arg.c_str(), recurse ? CountFolderFiles(buffer, 1, job) : 1ul);
        std::snprintf(buffer, sizeof(buffer), "%s", path.c_str());
        ScanFolder(buffer, recurse, job);
    }
    for (const std::string& path : g_engine.paths) std::printf("scanned %s\n", path.c_str());
    return 0;
}

TEST(FileWalkExclusions, ExcludedFoldersAndFilesAreNeitherCountedNorScanned) {
    kxtest::ProductRegistry registry;
    kxtest::TempInstallDir install(false);
    install.Register();
    for (const char* name : {"data\\keep.txt", "data\\Skip\\a.txt", "data\\Skipped\\b.txt", "data\\Other\\c.txt",
                             "data\\Other\\hidden.txt", "data\\Other\\shown.txt"})
        ASSERT_TRUE(install.Write(name, "x"));
    // "Skip" without a backslash also covers "Skipped".
    ASSERT_TRUE(install.Write("qmrkx.ini", "[MAIN]\nexcludepath=" + install.File("data\\skip") + "|" +
                                               install.File("data\\Other\\hidden.txt") + "\n"));

    std::string output = kxtest::RunProbe("walk_with_exclusions",
                                          {install.File("data") + ":1", install.File("data\\Skip") + ":1",
                                           install.File("data\\Other\\hidden.txt") + ":0",
                                           install.File("data\\Other\\shown.txt") + ":0"})
                             .output;
    output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
    EXPECT_NE(output.find("count " + install.File("data") + ":1 = 4\n"), std::string::npos) << output;
    EXPECT_NE(output.find("count " + install.File("data\\Skip") + ":1 = 0\n"), std::string::npos) << output;
    std::string scanned;
    for (size_t at = output.find("scanned "); at != std::string::npos; at = output.find("scanned ", at + 1))
        scanned += output.substr(at + 8, output.find('\n', at) - at - 8) + "|";
    EXPECT_EQ(scanned, install.File("data\\keep.txt") + "|" + install.File("data\\Other\\c.txt") + "|" +
                           install.File("data\\Other\\hidden.txt") + "|" + install.File("data\\Other\\shown.txt") +
                           "|" + install.File("data\\Other\\shown.txt") + "|")
        << "inside a walked folder only folders are tested; a named file is tested itself";
}

}  // namespace
