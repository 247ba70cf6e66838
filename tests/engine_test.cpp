// The stand-in engine kxsoc.dll, loaded and called the way the program does:
// the EICAR rule, reads across buffers, what it cannot read, the signature
// file's lines, the cures, and cures through other names of a file. Which
// pattern wins for any bytes is fuzzed in tests/fuzz/matcher.cpp.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>

#include "engine/scan_engine.h"
#include "framework/handles.h"
#include "tests/support/kxscan_run.h"


namespace {

const std::string kEicar = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
constexpr size_t kBuffer = 64 * 1024;

// A copy of the built engine in a folder of its own, with `signatures` as its
// kxsoc.sig; the folder also holds the files a test scans.
struct Engine {
    kxtest::TempInstallDir dir{false};
    fw::UniqueModule module;
    ScanFileFunction call = nullptr;

    explicit Engine(const std::string& signatures) {
        dir.Write("kxsoc.sig", signatures);
        ::CopyFileA((kxtest::BuildFolder() + "\\kxsoc.dll").c_str(), dir.File("kxsoc.dll").c_str(), FALSE);
        module.reset(::LoadLibraryA(dir.File("kxsoc.dll").c_str()));
        call = reinterpret_cast<ScanFileFunction>(reinterpret_cast<void*>(::GetProcAddress(module.get(), "ScanFile")));
    }
    std::string Put(const std::string& file, const std::string& content) const {
        return dir.Write(file, content), dir.File(file);
    }
    // "result kind name" of a scan of `path`, or "result kind" of the cure of `cure`.
    std::string Call(const std::string& path, const std::string& cure = "") const {
        char name[260];
        std::fill(name, name + sizeof name, cure.empty() ? 'x' : '\0');  // a scan must terminate what it writes
        cure.copy(name, sizeof name - 1);
        LONG kind = -77, result = call(path.c_str(), cure.empty() ? 0 : 8, !cure.empty(), name, &kind, nullptr, 2);
        char text[300];
        const bool found = result > 0 && cure.empty();
        return std::string(text, std::snprintf(text, sizeof text, "%ld %ld%s%.259s", result, kind, found ? " " : "",
                                               found ? name : ""));
    }
};

TEST(EngineScan, TheEicarRuleWhichPatternWinsAndMatchesAcrossReads) {
    // ANTIVIRUS, BOUNDARY-MARK, SECOND, FIRST, DEF, ABCDEF, SAME twice, ABABC.
    Engine engine("Inside|0|1|fail|414E54495649525553\nEdge|4|2|fail|424F554E444152592D4D41524B\n"
                  "Second|0|1|fail|5345434F4E44\nFirst|0|1|fail|4649525354\nShort|0|1|fail|444546\n"
                  "Long|0|1|fail|414243444546\nSame.A|0|1|fail|53414D45\nSame.B|0|1|fail|53414D45\n"
                  "Overlap|0|1|fail|4142414243\n");
    const std::string dots(3 * kBuffer, '.'), mark = "BOUNDARY-MARK", eicar = "1 0 EICAR-Test-File", in = "1 0 Inside";
    const std::pair<std::string, std::string> cases[] = {
        {kEicar, eicar}, {kEicar + "\r\n", eicar}, {kEicar + std::string(60, ' '), eicar}, {kEicar + "\t\x1a", eicar},
        {kEicar + std::string(61, ' '), in}, {"x" + kEicar, in}, {kEicar + "\r\nmore", in}, {kEicar.substr(0, 67), in},
        {kEicar + '\0', in}, {"", "0 -77"}, {"nothing to see", "0 -77"}, {dots.substr(13) + mark, "2 4 Edge"},
        {dots.substr(0, kBuffer - 12) + mark, "2 4 Edge"}, {dots.substr(0, kBuffer - 1) + mark, "2 4 Edge"},
        // The pattern that ends first, at the same byte the longer, at the same bytes the earlier line.
        {"..SECOND..FIRST..", "1 0 Second"}, {"..FIRST..SECOND..", "1 0 First"}, {"xxABCDEFxx", "1 0 Long"},
        {"xxSAMExx", "1 0 Same.A"}, {"ABABABC", "1 0 Overlap"}};
    for (const auto& [content, expected] : cases)
        EXPECT_EQ(engine.Call(engine.Put("file", content)), expected) << content.substr(0, 80);
}

TEST(EngineScan, WhatCannotBeReadIsNotScanned) {
    Engine engine("");
    const std::string eicar = engine.Put("eicar", kEicar), clean = engine.Put("clean", "x");
    fw::UniqueFile writer(::CreateFileA(eicar.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, 0));
    fw::UniqueFile exclusive(::CreateFileA(clean.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(engine.Call(eicar), "1 0 EICAR-Test-File") << "held by a writer that shares reading";
    // A device is never read: a read of one may wait for ever.
    for (const std::string& path : {clean, engine.dir.File("missing"), engine.dir.Path(), std::string("\\\\.\\NUL")})
        EXPECT_EQ(engine.Call(path), "-1 -77") << path;
    // Missing arguments; in a cure -1 would read as cured: the caller tests the success bits alone.
    EXPECT_EQ(engine.call(nullptr, 0, 0, nullptr, nullptr, nullptr, 2), -1);
    EXPECT_EQ(engine.call(eicar.c_str(), 8, 1, nullptr, nullptr, nullptr, 2), 0x0010);
}

// kxsoc.sig with every kind of line, good and bad (also a seed of
// tests/fuzz/signature_file.cpp): only its first line ("A name", 5, 1,
// delete, 41 42) and its last two (K, INT32_MIN, 0xFFFFFFFE, repair, 00)
// count. A NUL or another control byte but tab and CR refuses its line
// whole: cut at the NUL, line 2 would find files without its signature. The
// first 100 lines skipped are named on the debugger output, the rest counted.
TEST(EngineSignatures, OnlyGoodLinesCountAndTheSkippedAreNamed) {
    std::string bad;
    for (int i = 0; i < 150; ++i) bad += "Ctl | 0 | 1 | fail | 41\x01\n";
    Engine engine(kxtest::ReadFile("Z:" KX_SOURCE_DIR "/tests/fuzz/signature_file/seeds/every-kind-of-line") + "\n" + bad);
    kxtest::DebugOutput().clear();
    const std::pair<std::string, std::string> cases[] = {
        {std::string(300, 'A'), "0 -77"}, {"C", "0 -77"}, {"xABx", "1 5 A name"}, {std::string(1, '\0'), "-2 -2147483648"},
        {"xXYx", "0 -77"}, {"xWWx", "0 -77"}};
    for (const auto& [content, expected] : cases) EXPECT_EQ(engine.Call(engine.Put("file", content)), expected) << content;
    const kxtest::Strings& out = kxtest::DebugOutput();
    EXPECT_EQ(std::count_if(out.begin(), out.end(), [](const std::string& l) { return l.find(" skipped: ") != l.npos; }), 100);
    for (const std::string line : {" line 2 skipped: NUL byte in the line\n", " line 3 skipped: NUL byte in the line\n",
                                   " line 4 skipped: control byte other than tab or CR in the line\n", ": 66 more lines skipped\n"})
        EXPECT_NE(std::find(out.begin(), out.end(), "kxsoc: " + engine.dir.File("kxsoc.sig") + line), out.end()) << line;
}

// The cures, also through other names of the file: a repair writes into the
// file itself, so it reaches every name; a delete of one name of several is
// refused, and so is a cure through a link to the file (Wine lists a Unix
// symbolic link to a file as that file) or to the folder holding it. The
// file's short names lead to the file itself.
TEST(EngineCure, EachActionAndFilesThatChangedSince) {
    // CUTME, XYXY, DELETE-ME, STUCK.
    Engine engine("Cut|3|1|repair|4355544D45\nOverlap|7|2|repair|58595859\nGone|8|2|delete|44454C4554452D4D45\n"
                  "Stuck|9|4|fail|535455434B\n");
    const std::string head(kBuffer - 3, 'h'), tail(5000, 't'), quoted = "The test string is " + kEicar;
    std::string folder = "$WINEPREFIX/drive_c" + engine.dir.Path().substr(2);
    std::replace(folder.begin(), folder.end(), '\\', '/');
    kxtest::Shell("cd \"" + folder + "\" && mkdir 'Long Folder' && ln -s 'Long Folder' parent");
    const std::string hard = "Long Folder\\hard", soft = "Long Folder\\soft", parent = "parent\\file";
    // Content, finding, name cured ("" the file itself, "short" its short
    // names, or links beside it, the folder link, a name that is gone), the
    // file's content after ("-" gone), "result kind".
    const std::tuple<std::string, std::string, std::string, std::string, std::string> cases[] = {
        {head + "CUTME" + tail + "CUTME", "Cut", "", head + tail, "8 3"},  // the first across two reads
        {"CUTCUTMEME!", "Cut", "", "!", "8 3"}, {"aXYXYXYb", "Overlap", "", "ab", "8 7"},
        {"..DELETE-ME..", "Gone", "", "-", "512 8"}, {kEicar + "\r\n", "EICAR-Test-File", "", "-", "512 0"},
        {"..STUCK..", "Stuck", "", "..STUCK..", "16 9"}, {"cleaned since", "Cut", "", "cleaned since", "0 3"},
        {"cleaned since", "Gone", "", "cleaned since", "0 8"}, {quoted, "EICAR-Test-File", "", quoted, "0 0"},
        {"CUTME", "Nobody", "", "CUTME", "16 -77"}, {"a CUTME b", "Cut", "short", "a  b", "8 3"},
        {"DELETE-ME", "Gone", "short", "-", "512 8"}, {"a CUTME b", "Cut", parent, "a CUTME b", "16 3"},
        {"DELETE-ME", "Gone", parent, "DELETE-ME", "16 8"}, {"a CUTME b", "Cut", hard, "a  b", "8 3"},
        {"a CUTME b", "Cut", soft, "a CUTME b", "16 3"}, {"DELETE-ME", "Gone", hard, "DELETE-ME", "16 8"},
        {"DELETE-ME", "Gone", "vanished", "DELETE-ME", "16 8"}};
    for (const auto& [content, cure, via, after, result] : cases) {
        const std::string path = engine.Put("Long Folder\\file", content), links = "ln file hard && ln -s file soft";
        char shortPath[MAX_PATH] = {};
        ::GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
        if (via == hard || via == soft) kxtest::Shell("cd \"" + folder + "/Long Folder\" && rm -f hard soft && " + links);
        const std::string named = via.empty() ? path : via == "short" ? shortPath : engine.dir.File(via);
        ASSERT_NE(named.find(via == "short" ? "~" : ""), std::string::npos) << named;
        ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        EXPECT_EQ(engine.Call(named, cure), result) << cure << " " << named;
        EXPECT_EQ(kxtest::FileExists(path) ? kxtest::ReadFile(path) : "-", after) << cure << " " << via;
        EXPECT_EQ(::GetFileAttributesA(path.c_str()), after == "-" ? INVALID_FILE_ATTRIBUTES : attributes);
        ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

}  // namespace
