// The stand-in scan engine kxsoc.dll, loaded and called the way the program
// does: the EICAR rule, signatures from kxsoc.sig, which finding wins, reads
// across buffer boundaries, the three cures and files that changed since.
#include <gtest/gtest.h>
#include <windows.h>

#include <psapi.h>  // needs windows.h first

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/scan_engine.h"
#include "framework/handles.h"
#include "tests/support/test_support.h"

namespace {

using kxtest::TempInstallDir;

const std::string kEicar = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
constexpr size_t kEngineBuffer = 64 * 1024;

struct Finding {
    LONG result;
    std::string name;
    LONG kind;
};

// kxsoc.dll loaded from `dll`, its export looked up by name.
class Engine {
public:
    explicit Engine(const std::string& dll) : module_(::LoadLibraryA(dll.c_str())) {
        if (module_)
            scan_ = reinterpret_cast<ScanFileFunction>(
                reinterpret_cast<void*>(::GetProcAddress(module_.get(), "ScanFile")));
    }
    bool Loaded() const { return scan_ != nullptr; }

    Finding Scan(const std::string& path, DWORD size = 0) const {
        char name[260];
        std::memset(name, 'x', sizeof name);  // the engine must terminate what it writes
        LONG kind = -77;
        FILETIME written{};
        LONG result = scan_(path.c_str(), size, 0, name, &kind, &written, 2);
        return {result, result > 0 ? std::string(name, strnlen(name, sizeof name - 1)) : "", kind};
    }
    Finding Cure(const std::string& path, const std::string& detection) const {
        char name[260] = {};
        detection.copy(name, sizeof name - 1);
        LONG kind = -77;
        return {scan_(path.c_str(), 8, 1, name, &kind, nullptr, 2), detection, kind};
    }
    ScanFileFunction Raw() const { return scan_; }

private:
    fw::UniqueModule module_;
    ScanFileFunction scan_ = nullptr;
};

// A copy of the built engine in a folder of its own, with `signatures` as
// its kxsoc.sig; the folder also holds the files a test scans.
struct EngineCopy {
    TempInstallDir dir{false};
    std::unique_ptr<Engine> engine;

    explicit EngineCopy(const std::string& signatures) {
        dir.Write("kxsoc.sig", signatures);
        ::CopyFileA((kxtest::BuildFolder() + "\\kxsoc.dll").c_str(), dir.File("kxsoc.dll").c_str(), FALSE);
        engine = std::make_unique<Engine>(dir.File("kxsoc.dll"));
    }
    std::string Put(const std::string& file, const std::string& content) const {
        dir.Write(file, content);
        return dir.File(file);
    }
};

// One line of kxsoc.sig: the first four fields as given, the pattern as hex.
std::string Sig(const std::string& fields, const std::string& pattern) {
    std::string line = fields + " |";
    char hex[4];
    for (unsigned char c : pattern) {
        std::snprintf(hex, sizeof hex, " %02x", c);
        line += hex;
    }
    return line + "\n";
}

std::string Noise(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return bytes;
}

// Debugger output of this process, caught where OutputDebugStringA raises it.
std::vector<std::string> g_debugOutput;

LONG CALLBACK CatchDebugOutput(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2)
        g_debugOutput.emplace_back(reinterpret_cast<const char*>(record->ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(EngineScan, EicarFileOnlyByTheTestFileRule) {
    Engine engine(kxtest::BuildFolder() + "\\kxsoc.dll");
    ASSERT_TRUE(engine.Loaded());
    TempInstallDir dir(false);
    const std::pair<std::string, bool> cases[] = {
        {kEicar, true},           {kEicar + "\r\n", true},         {kEicar + std::string(60, ' '), true},
        {kEicar + "\t\x1a", true}, {kEicar + std::string(61, ' '), false}, {"x" + kEicar, false},
        {kEicar + "\r\nmore", false}, {kEicar.substr(0, 67), false},     {kEicar + '\0', false}};
    for (const auto& [content, detected] : cases) {
        SCOPED_TRACE(content);
        ASSERT_TRUE(dir.Write("file", content));
        Finding finding = engine.Scan(dir.File("file"), static_cast<DWORD>(content.size()));
        EXPECT_EQ(finding.result, detected ? 0x0001 : 0);
        if (detected) {
            EXPECT_EQ(finding.name, "EICAR-Test-File");
            EXPECT_EQ(finding.kind, 0);
        }
    }
}

TEST(EngineScan, CleanEmptyMissingLockedAndBadArguments) {
    Engine engine(kxtest::BuildFolder() + "\\kxsoc.dll");
    ASSERT_TRUE(engine.Loaded());
    TempInstallDir dir(false);
    dir.Write("clean", "nothing to see here");
    dir.Write("empty", "");
    dir.Write("eicar", kEicar);
    EXPECT_EQ(engine.Scan(dir.File("clean")).result, 0);
    EXPECT_EQ(engine.Scan(dir.File("empty")).result, 0);
    EXPECT_EQ(engine.Scan(dir.File("missing")).result, -1);
    EXPECT_EQ(engine.Scan(dir.Path()).result, -1);
    {
        fw::UniqueFile writer(::CreateFileA(dir.File("eicar").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(engine.Scan(dir.File("eicar")).result, 0x0001) << "held open by a writer that shares reading";
        fw::UniqueFile exclusive(
            ::CreateFileA(dir.File("clean").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(engine.Scan(dir.File("clean")).result, -1) << "held exclusively";
    }
    char name[260] = {};
    LONG kind = 0;
    std::string path = dir.File("eicar");
    EXPECT_EQ(engine.Raw()(nullptr, 0, 0, name, &kind, nullptr, 2), -1);
    EXPECT_EQ(engine.Raw()(path.c_str(), 68, 0, nullptr, &kind, nullptr, 2), -1);
    EXPECT_EQ(engine.Raw()(path.c_str(), 68, 0, name, nullptr, nullptr, 2), -1);
    EXPECT_EQ(engine.Raw()(path.c_str(), 68, 7, name, &kind, nullptr, 2), -1);
    // -1 would read as cured: the caller tests the success bits alone.
    EXPECT_EQ(engine.Raw()(path.c_str(), 8, 1, nullptr, &kind, nullptr, 2) & (0x0008 | 0x0200), 0);
}

TEST(EngineSignatures, EveryKindAndResultBitFromTheFileAndBadLinesSkipped) {
    std::string hack = Sig("Hack | 9 | 0x0004 | repair", "MARK-9");
    hack.insert(hack.size() - 1, "  # a comment after the pattern");
    EngineCopy copy("# demo\n\n" + Sig("Adware with blanks | 5 | 0x0001 | delete", "MARK-5") +
                    Sig("Spy|6|1|repair", "MARK-6") +                                 // line 4
                    "only | three | fields\n" +                                       // 5
                    Sig("Bad.Kind | five | 0x0001 | fail", "BAD-KIND") +              // 6
                    Sig("Bad.Result | 5 | 0 | fail", "BAD-ZERO") +                    // 7
                    Sig("Bad.Result | 5 | 0xFFFFFFFF | fail", "BAD-ALL") +            // 8
                    Sig("Bad.Action | 5 | 1 | explode", "BAD-ACTION") +               // 9
                    "Bad.Hex | 5 | 1 | fail | 4b 5g 41\n" +                           // 10
                    "Bad.Odd | 5 | 1 | fail | 4b5\n" +                                // 11
                    Sig(" | 5 | 1 | fail", "BAD-NONAME") +                            // 12
                    Sig(std::string(260, 'N') + " | 5 | 1 | fail", "BAD-LONGNAME") +  // 13
                    Sig("Bad.Long | 5 | 1 | fail", std::string(257, 'L')) +           // 14
                    Sig("Spy | 7 | 1 | repair", "BAD-CONFLICT") +                     // 15
                    Sig("Bad.Fields | 5 | 1 | fail | 41", "BAD-SIX") +                // 16
                    Sig("Bad.Line | 5 | 1 | fail", std::string(700, 'B')) +           // 17
                    Sig("Injure7 | 7 | 0x0002 | delete", "MARK-7") + Sig("Injure8 | 8 | 2 | fail", "MARK-8") + hack +
                    Sig("Virus | 0 | 0x1001 | fail", "MARK-0") + Sig("Listed only | 42 | 0x1000 | fail", "MARK-X") +
                    Sig("Spy | 6 | 1 | repair", "MARK-6b"));
    std::string bad = copy.Put("bad", std::string("BAD-KIND BAD-ZERO BAD-ALL BAD-ACTION BAD-NONAME BAD-LONGNAME ") +
                                          "BAD-CONFLICT BAD-SIX " + std::string(300, 'L') + std::string(700, 'B'));
    PVOID catcher = ::AddVectoredExceptionHandler(1, CatchDebugOutput);
    EXPECT_EQ(copy.engine->Scan(bad).result, 0);  // the signatures load with the first call
    ::RemoveVectoredExceptionHandler(catcher);

    const struct {
        std::string marker, name;
        LONG kind, result;
    } expected[] = {{"MARK-5", "Adware with blanks", 5, 0x0001}, {"MARK-6", "Spy", 6, 0x0001},
                    {"MARK-7", "Injure7", 7, 0x0002},             {"MARK-8", "Injure8", 8, 0x0002},
                    {"MARK-9", "Hack", 9, 0x0004},                {"MARK-0", "Virus", 0, 0x1001},
                    {"MARK-X", "Listed only", 42, 0x1000},        {"MARK-6b", "Spy", 6, 0x0001}};
    for (const auto& e : expected) {
        Finding finding = copy.engine->Scan(copy.Put("file", "<" + e.marker + ">"));
        EXPECT_EQ(finding.result, e.result) << e.marker;
        EXPECT_EQ(finding.name, e.name) << e.marker;
        EXPECT_EQ(finding.kind, e.kind) << e.marker;
    }

    std::string reported;
    for (const std::string& line : g_debugOutput)
        if (line.find(" skipped: ") != std::string::npos) reported += line.substr(line.find(" line ")) + "|";
    for (int line = 5; line <= 17; ++line)
        EXPECT_NE(reported.find(" line " + std::to_string(line) + " skipped"), std::string::npos) << line;
    EXPECT_EQ(reported.find(" line 4 "), std::string::npos) << reported;
}

TEST(EngineSignatures, FirstEndingMatchWinsThenLongerThenEarlierLine) {
    EngineCopy copy(Sig("Second | 0 | 1 | fail", "SECOND") + Sig("First | 0 | 1 | fail", "FIRST") +
                    Sig("Short | 0 | 1 | fail", "DEF") + Sig("Long | 0 | 1 | fail", "ABCDEF") +
                    Sig("Same.A | 0 | 1 | fail", "SAME") + Sig("Same.B | 0 | 1 | fail", "SAME") +
                    Sig("Inside | 0 | 1 | fail", "ANTIVIRUS") + Sig("Overlap | 0 | 1 | fail", "ABABC"));
    const std::pair<std::string, std::string> cases[] = {
        {"..SECOND..FIRST..", "Second"}, {"..FIRST..SECOND..", "First"}, {"xxABCDEFxx", "Long"},
        {"xxSAMExx", "Same.A"},          {kEicar, "EICAR-Test-File"},   {"x" + kEicar, "Inside"},
        {"ABABABC", "Overlap"}};
    for (const auto& [content, name] : cases)
        EXPECT_EQ(copy.engine->Scan(copy.Put("file", content)).name, name) << content;

    // A match across two reads, at every split of the pattern.
    EngineCopy boundary(Sig("Edge | 0 | 1 | fail", "BOUNDARY-MARK"));
    for (size_t start : {kEngineBuffer - 13, kEngineBuffer - 12, kEngineBuffer - 3, kEngineBuffer - 1, kEngineBuffer,
                         2 * kEngineBuffer - 7, 3 * kEngineBuffer - 13}) {
        std::string content(3 * kEngineBuffer, '.');
        content.replace(start, 13, "BOUNDARY-MARK");
        EXPECT_EQ(boundary.engine->Scan(boundary.Put("file", content)).name, "Edge") << start;
    }
}

TEST(EngineSignatures, LargeFileIsStreamedToItsEndWhateverTheSizeSays) {
    EngineCopy copy(Sig("Tail | 0 | 1 | fail", "THE-END"));
    std::string path = copy.dir.File("big");
    {
        fw::UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        LARGE_INTEGER end;
        end.QuadPart = 64ll << 20;
        DWORD written = 0;
        ASSERT_TRUE(::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get()));
        ASSERT_TRUE(::WriteFile(file.get(), "THE-END", 7, &written, nullptr));
    }
    copy.engine->Scan(copy.Put("small", "x"));  // signatures loaded before the measure
    PROCESS_MEMORY_COUNTERS before{}, after{};
    ASSERT_TRUE(::GetProcessMemoryInfo(::GetCurrentProcess(), &before, sizeof before));
    EXPECT_EQ(copy.engine->Scan(path, 0).name, "Tail");
    ASSERT_TRUE(::GetProcessMemoryInfo(::GetCurrentProcess(), &after, sizeof after));
    EXPECT_LT(after.PeakWorkingSetSize - before.PeakWorkingSetSize, 8u << 20);
}

std::string TempFilesIn(const TempInstallDir& dir) {
    std::string names;
    WIN32_FIND_DATAA entry;
    fw::UniqueFind find(::FindFirstFileA(dir.File("*.tmp").c_str(), &entry));
    if (!find) return names;
    do {
        names += std::string(entry.cFileName) + " ";
    } while (::FindNextFileA(find.get(), &entry));
    return names;
}

TEST(EngineCure, RepairCutsEveryMatchAndKeepsTheRest) {
    EngineCopy copy(Sig("Cut | 0 | 1 | repair", "CUTME") + Sig("Overlap | 7 | 2 | repair", "XYXY"));
    std::string head = Noise(kEngineBuffer - 3, 1), tail = Noise(5000, 2);
    const struct {
        std::string name, content, repaired;
    } cases[] = {{"Cut", head + "CUTME" + tail + "CUTME", head + tail},  // the first across two reads
                 {"Cut", "CUTCUTMEME!", "!"},                            // the cut joins a new match
                 {"Overlap", "aXYXYXYb", "ab"}};
    for (const auto& c : cases) {
        std::string path = copy.Put("file", c.content);
        ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        DWORD attributes = ::GetFileAttributesA(path.c_str());
        EXPECT_EQ(copy.engine->Cure(path, c.name).result, 0x0008) << c.name;
        EXPECT_TRUE(kxtest::ReadFile(path) == c.repaired) << c.name;
        EXPECT_EQ(copy.engine->Scan(path).result, 0);
        EXPECT_EQ(::GetFileAttributesA(path.c_str()), attributes);
        ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    EXPECT_EQ(copy.engine->Cure(copy.dir.File("file"), "Overlap").kind, 7);
    EXPECT_EQ(TempFilesIn(copy.dir), "");
}

TEST(EngineCure, DeleteRemovesTheFileAndFailLeavesIt) {
    EngineCopy copy(Sig("Gone | 8 | 2 | delete", "DELETE-ME") + Sig("Stuck | 9 | 4 | fail", "STUCK"));
    std::string gone = copy.Put("gone", "..DELETE-ME..");
    ::SetFileAttributesA(gone.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(copy.engine->Cure(gone, "Gone").result, 0x0200);
    EXPECT_FALSE(kxtest::FileExists(gone));

    std::string eicar = copy.Put("eicar", kEicar + "\r\n");
    Finding cured = copy.engine->Cure(eicar, "EICAR-Test-File");
    EXPECT_EQ(cured.result, 0x0200);
    EXPECT_EQ(cured.kind, 0);
    EXPECT_FALSE(kxtest::FileExists(eicar));

    std::string stuck = copy.Put("stuck", "..STUCK..");
    Finding failed = copy.engine->Cure(stuck, "Stuck");
    EXPECT_EQ(failed.result & (0x0008 | 0x0200), 0);
    EXPECT_NE(failed.result, 0);
    EXPECT_EQ(failed.kind, 9);
    EXPECT_EQ(kxtest::ReadFile(stuck), "..STUCK..");
}

TEST(EngineCure, FilesThatChangedOrVanishedAreLeftAlone) {
    EngineCopy copy(Sig("Gone | 0 | 1 | delete", "DELETE-ME") + Sig("Cut | 0 | 1 | repair", "CUTME"));
    std::string clean = copy.Put("clean", "cleaned by someone else");
    std::string quoted = copy.Put("quoted", "The test string is " + kEicar);
    std::string held = copy.Put("held", "DELETE-ME");
    const std::pair<std::string, std::string> cures[] = {
        {clean, "Gone"}, {clean, "Cut"}, {quoted, "EICAR-Test-File"}, {held, "Gone"},
        {held, "Nobody"}, {copy.dir.File("vanished"), "Gone"}, {copy.dir.File("vanished"), "Cut"}};
    fw::UniqueFile exclusive(::CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    for (const auto& [path, name] : cures)
        EXPECT_EQ(copy.engine->Cure(path, name).result & (0x0008 | 0x0200), 0) << path << " " << name;
    exclusive.reset();
    EXPECT_EQ(kxtest::ReadFile(clean), "cleaned by someone else");
    EXPECT_TRUE(kxtest::FileExists(quoted));
    EXPECT_EQ(kxtest::ReadFile(held), "DELETE-ME");
    EXPECT_FALSE(kxtest::FileExists(copy.dir.File("vanished")));
    EXPECT_EQ(TempFilesIn(copy.dir), "");
}

}  // namespace
