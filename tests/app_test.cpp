// The program's start-up layer (app/): the command line, the registry
// routines, the installation paths and settings files, the text library, the
// small system helpers, and kxscan.exe's start and end as a child process.
// Process-wide caches (installation path, settings, text library) are read
// in probes, each a fresh process.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/install_paths.h"
#include "app/local_text.h"
#include "app/registry.h"
#include "app/startup.h"
#include "app/system_facilities.h"
#include "tests/support/test_support.h"

namespace {

using kxtest::ProductRegistry;
using kxtest::RegisteredInstall;
using kxtest::TempInstallDir;
using Strings = std::vector<std::string>;

const HKEY kLm = HKEY_LOCAL_MACHINE;
constexpr const char* kTestKey = "SOFTWARE\\Tarnwick Systems\\Korvex\\Test";

// The switches the arguments set, by option name; "?" for a value other than 1.
std::string Switches(std::vector<const char*> args) {
    args.insert(args.begin(), "kxscan.exe");
    StartupOptions o;
    ApplyOptionArguments(static_cast<int>(args.size()), const_cast<char**>(args.data()), &o);
    std::string names;
    for (auto [value, name] : {std::pair{o.systemAreas, "PR "}, {o.closeWhenClean, "SC "}, {o.targetsGiven, "T "},
                               {o.allLocalDrives, "AL "}, {o.quickScan, "QS "}, {o.hiddenWindow, "HD "},
                               {o.autoCure, "AC "}})
        if (value) names += value == 1 ? name : "? ";
    return names;
}

TEST(CommandLine, TheFirstThreeCharactersOfAnOptionSetItsSwitchesWithoutCase) {
    const std::pair<std::vector<const char*>, const char*> rows[] = {
        {{"/PR"}, "PR "}, {{"/QS"}, "QS "}, {{"/ED"}, "QS "}, {{"/HD"}, "HD "}, {{"/AC"}, "AC "}, {{"/AL"}, "AL "},
        {{"/SC"}, "SC T "}, {{"/hd"}, "HD "}, {{"/scan"}, "SC T "}, {{"/Scxyz"}, "SC T "}, {{"/pRoCeSs"}, "PR "},
        {{"/HIDE"}, ""}, {{"/P"}, ""}, {{"/"}, ""}, {{""}, ""}, {{"-PR", "PR", "/XX"}, ""},
        {{"C:\\Users", "D:\\a\"E:\\b", "C:\\PR"}, ""}, {{"C:\\x", "/ac", "/AC", "/hd", "D:\\y", "/HD", "/qs"}, "QS HD AC "}};
    for (const auto& [args, switches] : rows) EXPECT_EQ(Switches(args), switches) << args[0];
}

DWORD ValueType(const char* value, REGSAM view = KEY_WOW64_64KEY) {
    HKEY key = nullptr;
    DWORD type = REG_NONE;
    if (::RegOpenKeyExA(kLm, kTestKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return REG_NONE;
    ::RegQueryValueExA(key, value, nullptr, &type, nullptr, nullptr);
    ::RegCloseKey(key);
    return type;
}

TEST(Registry, StringsAreTheirTextInThe64BitViewNeverCutOrUnterminated) {
    ProductRegistry product;
    ASSERT_EQ(WriteRegString(kLm, kTestKey, "Text", "C:\\Program Files\\Korvex"), 1);
    EXPECT_EQ(WriteRegString(kLm, kTestKey, "Null", nullptr), 0);
    // Read into 4 bytes. A non-zero byte after the counted ones keeps the
    // registry from storing a terminator with the text.
    const struct {
        const char *value, *data;
        DWORD size;
        int result;
        const char* text;
    } rows[] = {{"Fits", "abcX", 3, 3, "abc"}, {"Exact", "abcdX", 4, 0, ""}, {"Long", "abcdefgh", 8, 0, ""},
                {"WithZero", "abc", 4, 3, "abc"}, {"Empty", "", 0, 0, ""}, {"OnlyZero", "", 1, 0, ""},
                {"Missing", nullptr, 0, 0, ""}};
    for (const auto& row : rows) {
        if (row.data) { ASSERT_EQ(WriteRegValue(kLm, kTestKey, row.value, row.data, row.size, REG_SZ), 1); }
        char guarded[9] = "########";
        EXPECT_EQ(ReadRegString(kLm, kTestKey, row.value, guarded, 4), row.result) << row.value;
        EXPECT_EQ(guarded + std::string(guarded + 4), row.text + std::string("####")) << row.value;
    }
    char buffer[260] = "kept";
    EXPECT_EQ(ReadRegString(kLm, kTestKey, "Text", buffer, sizeof(buffer)), 23) << "the text's length";
    EXPECT_STREQ(buffer, "C:\\Program Files\\Korvex");
    EXPECT_EQ(ValueType("Text"), DWORD{REG_SZ});
    EXPECT_EQ(ValueType("Text", KEY_WOW64_32KEY), DWORD{REG_NONE});
    EXPECT_EQ(ReadRegString(kLm, "SOFTWARE\\Tarnwick Systems\\Nowhere", "Text", buffer, 8), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(ReadRegString(kLm, kTestKey, "Fits", buffer, 0) + ReadRegString(kLm, kTestKey, "Fits", nullptr, 8), 0);
}

TEST(Registry, NumbersAreReadWholeAndWrittenOnlyWhenChanged) {
    ProductRegistry product;
    kxtest::ScopedHklmKey wow32{"SOFTWARE\\Wow6432Node\\Tarnwick Systems"};
    DWORD out = 0xABCD;
    EXPECT_EQ(ReadRegDword(kLm, kConfigKey, "ExecuteUpdate", &out), 0);
    EXPECT_TRUE(kxtest::RegKeyExists(kConfigKey)) << "a missing key is created";
    const WORD shortValue = 7;
    ASSERT_EQ(WriteRegValue(kLm, kTestKey, "Short", &shortValue, sizeof(shortValue), REG_BINARY), 1);
    EXPECT_EQ(ReadRegDword(kLm, kTestKey, "Short", &out), 0);
    EXPECT_EQ(out, 0xABCDu);
    auto lastWrite = [] {
        HKEY key = nullptr;
        FILETIME time{};
        ::RegOpenKeyExA(kLm, kTestKey, 0, KEY_READ | KEY_WOW64_64KEY, &key);
        ::RegQueryInfoKeyA(key, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, &time);
        ::RegCloseKey(key);
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    ASSERT_EQ(WriteRegDword(kLm, kTestKey, "Counter", 7), 1);
    for (DWORD number : {7u, 8u}) {
        const ULONGLONG before = lastWrite();
        ::Sleep(30);
        EXPECT_EQ(WriteRegDword(kLm, kTestKey, "Counter", number), 1);
        EXPECT_EQ(lastWrite() != before, number == 8) << "an unchanged number is not written";
        EXPECT_EQ(ReadRegDword(kLm, kTestKey, "Counter", &out), 4);
        EXPECT_EQ(out, number);
    }
    EXPECT_EQ(ReadRegDword(kLm, kTestKey, "Counter", nullptr), 0);
    EXPECT_EQ(ValueType("Counter", KEY_WOW64_32KEY), DWORD{REG_NONE});
    EXPECT_FALSE(kxtest::RegKeyExists("SOFTWARE\\Wow6432Node\\Tarnwick Systems"));
    // The same four bytes under another type are made a 32-bit value.
    const DWORD bytes = 9;
    ASSERT_EQ(WriteRegValue(kLm, kTestKey, "Binary", &bytes, sizeof(bytes), REG_BINARY), 1);
    EXPECT_EQ(WriteRegDword(kLm, kTestKey, "Binary", 9), 1);
    EXPECT_EQ(ValueType("Binary"), DWORD{REG_DWORD});
}

std::string Entries(const ExcludedPathTable& table) {
    std::string text;
    for (DWORD i = 0; i < table.count; ++i)
        text.append(table.entries[i].path).append(":").append(std::to_string(table.entries[i].matchLength)).append(" ");
    return text;
}

// Two calls of GetInstallPath, each followed by whether it changed a value of
// the product key (a change notification armed before it), then a small
// buffer, a null and an empty one, and the settings path.
KX_PROBE(install_path) {
    HKEY key = nullptr;
    ::RegOpenKeyExA(kLm, kProductKey, 0, KEY_NOTIFY | KEY_WOW64_64KEY, &key);
    char path[260], small[4], kept[8] = "kept";
    GetInstallPath(nullptr, sizeof(path));
    GetInstallPath(kept, 0);
    for (int call = 0; call < 2; ++call) {
        HANDLE changed = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ::RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, changed, TRUE);
        GetInstallPath(path, sizeof(path));
        std::printf("%s|%d|", path, ::WaitForSingleObject(changed, 100) == WAIT_OBJECT_0);
    }
    GetInstallPath(small, sizeof(small));
    std::printf("%s|%s|%s", small, kept, GetIniPath());
    return 0;
}

TEST(InstallPath, TheMainValueWinsAndOnlyAMissingOneIsWrittenOnce) {
    ProductRegistry registry;
    const struct {
        bool reset;  // false: as the row before left it
        const char *main, *uninstall;
        std::string path;
        int written;
    } rows[] = {{true, "C:\\Main", "C:\\Uninstall", "C:\\Main", 0}, {true, "", "C:\\Uninstall", "C:\\Uninstall", 1},
                {false, nullptr, nullptr, "C:\\Uninstall", 0}, {true, nullptr, nullptr, kxtest::BuildFolder(), 1}};
    for (const auto& row : rows) {
        if (row.reset) {
            ProductRegistry{};
            kxtest::RegSetDword(kProductKey, "DbgLevel", 0);  // the key exists, the value need not
            if (row.main) kxtest::RegSetString(kProductKey, "InstallPath", row.main);
            if (row.uninstall) kxtest::RegSetString(kUninstallKey, "InstallPath", row.uninstall);
        }
        EXPECT_EQ(kxtest::RunProbe("install_path").output, row.path + "|" + std::to_string(row.written) + "|" +
                      row.path + "|0|" + row.path.substr(0, 3) + "|kept|" + row.path + "\\qmrkx.ini");
        char stored[260] = {};
        ReadRegString(kLm, kProductKey, "InstallPath", stored, sizeof(stored));
        EXPECT_EQ(stored, row.path);
    }
}

// The settings of qmrkx.ini, and the excluded paths before and after the
// file changes.
KX_PROBE(settings_file) {
    char text[16] = "xxxxxxxxxxxxxxx";
    int found = ReadIniText("main", "absent", text, sizeof(text));
    LoadExcludedPaths();
    std::printf("%s|%d|%d[%s]|%d|%s|", GetIniPath(), ReadIniInt("MAIN", "curetype", 0), found, text,
                ExcludedPaths().loaded, Entries(ExcludedPaths()).c_str());
    kxtest::WriteFile(GetIniPath(), "[main]\nexcludepath=E:\\One|E:\\Two|E:\\Three\n");
    LoadExcludedPaths();
    std::printf("%lu", ExcludedPaths().count);
    return 0;
}

TEST(SettingsFile, ValuesAndExcludedPathsAreReadOnce) {
    for (bool withFile : {true, false}) {
        RegisteredInstall install;
        if (withFile) install.dir.Write("qmrkx.ini", "[MAIN]\ncuretype=1\nexcludepath=C:\\Temp||D:\\Backup\\\n");
        EXPECT_EQ(kxtest::RunProbe("settings_file").output,
                  install.dir.File("qmrkx.ini") + (withFile ? "|1|0[]|1|C:\\Temp\\:7 D:\\Backup\\:10 |2" : "|0|0[]|1||0"));
    }
}

TEST(ExcludedPaths, PiecesAreSplitClosedAndKeptWithinTheirField) {
    std::string twenty, sixteen;
    for (int i = 0; i < 20; ++i) {
        const std::string piece = "C:\\Dir" + std::to_string(i);
        twenty += piece + "|";
        if (i < 16) sixteen += piece + "\\:" + std::to_string(piece.size()) + " ";
    }
    const std::string closed = "C:\\" + std::string(515, 'b') + "\\";  // 519 characters
    const std::pair<std::string, std::string> rows[] = {
        {"C:\\Temp|D:\\Backup\\", "C:\\Temp\\:7 D:\\Backup\\:10 "}, {"||C:\\A||", "C:\\A\\:4 "}, {twenty, sixteen},
        {"", ""}, {"C:\\" + std::string(600, 'a') + "|" + closed + "|C:\\Next",
                   "C:\\" + std::string(515, 'a') + "\\:518 " + closed + ":519 C:\\Next\\:7 "}};
    for (const auto& [text, entries] : rows) {
        ExcludedPathTable table{};
        ParseExcludedPaths(text.c_str(), &table);
        EXPECT_EQ(Entries(table), entries) << text;
        EXPECT_TRUE(table.loaded);
    }
}

KX_PROBE(agent_type) {
    char message[1024] = {};
    std::printf("%d|%s", GetAgentType(message), message);
    return 0;
}

TEST(AgentType, ReadFromTheFileBesideTheProgram) {
    TempInstallDir folder(false);
    ASSERT_TRUE(folder.CopyFromBuild("kxscan_tests.exe"));
    const std::string invalid = "0|[GetAgentType] invalid agent type (";
    const std::pair<const char*, std::string> rows[] = {
        {"[SYSTEM]\nAgentType=1\n", "1|"}, {"[system]\nagenttype=2abc\n", "2|"}, {"[SYSTEM]\nAgentType=3\n", invalid + "3)"},
        {"[SYSTEM]\nAgentType=0\n", invalid + "0)"}, {"[SYSTEM]\nAgentType=abc\n", invalid + "0)"},
        {nullptr, invalid + "0)"}, {"[SYSTEM]\nAgentType=\n", "0|[GetAgentType] fail to get agent type (" + folder.Path() + ") ("}};
    for (const auto& [ini, expected] : rows) {
        if (ini) folder.Write("qmrka.ini", ini);
        if (!ini) ::DeleteFileA(folder.File("qmrka.ini").c_str());
        const std::string out =
            kxtest::Run(kxtest::ProbeCommandLine("agent_type", {}, folder.File("kxscan_tests.exe")), 60000).output;
        EXPECT_EQ(out.substr(0, expected.size()), expected) << (ini ? ini : "no file");
    }
}

TEST(ParentFolder, CutsTheLastComponentOfTheWholeSourceOrGivesNone) {
    const struct {
        const char* source;
        size_t size;
        bool found;
        const char* left;  // the destination afterwards
    } rows[] = {{"C:\\Apps\\Scan\\main.exe", 260, true, "C:\\Apps\\Scan"}, {"C:\\main.exe", 260, true, "C:"},
                {"C:\\Apps\\\\\\main.exe", 260, true, "C:\\Apps"}, {"C:\\Apps\\Scan\\\\", 260, true, "C:\\Apps"},
                {"\\\\server\\share\\f", 260, true, "\\\\server\\share"}, {"\\main.exe", 260, true, "\\"},
                {"C:\\", 260, false, ""}, {"main.exe", 260, false, ""}, {"C:main.exe", 260, false, ""},
                {"", 260, false, ""}, {"\\\\\\", 260, false, ""}, {"C:\\a\\b", 2, false, "kept"},
                {nullptr, 260, false, "kept"}, {"C:\\Apps\\Scan\\main.exe", 8, false, ""},  // never a cut-off copy's
                {"C:\\Apps\\Scan\\main.exe", 13, true, "C:\\Apps\\Scan"}};
    for (const auto& row : rows) {
        char destination[260] = "kept";
        EXPECT_EQ(GetParentFolder(row.source, destination, row.size), row.found ? destination : nullptr) << row.source;
        EXPECT_STREQ(destination, row.left) << row.source;
    }
    char path[32] = "C:\\Apps\\Scan\\main.exe";
    EXPECT_EQ(GetParentFolder(path, path, sizeof(path)), path);
    EXPECT_STREQ(path, "C:\\Apps\\Scan");
    EXPECT_EQ(GetParentFolder("C:\\a\\b", nullptr, 260), nullptr);
}

std::string Lookup(int result, const std::string& text) {
    std::string line = std::to_string(result) + ":";
    for (unsigned char c : text) line += "0123456789ABCDEF"[c >> 4] + std::string(1, "0123456789ABCDEF"[c & 15]);
    return line;
}

// Prints "ui=<language id> lang=<code>", then for each "SECTION|KEY|SIZE"
// one line "<result>:<hex of the text>" (in hex, so that no code page touches
// it). The buffer is filled with 'X' and one byte past `size` is watched.
KX_PROBE(local_text_lookup) {
    char code[16] = {};
    GetUiLanguage(code, sizeof(code));
    std::printf("ui=%04X lang=%s\n", ::GetSystemDefaultUILanguage(), code);
    for (const std::string& arg : args) {
        const size_t bar1 = arg.find('|'), bar2 = arg.find('|', bar1 + 1);
        const DWORD size = std::strtoul(arg.c_str() + bar2 + 1, nullptr, 10);
        std::vector<char> buffer(size + 1, 'X');
        int result = GetLocalText(arg.substr(0, bar1).c_str(), arg.substr(bar1 + 1, bar2 - bar1 - 1).c_str(),
                                  buffer.data(), size);
        const size_t length = strnlen(buffer.data(), size);
        std::printf("%s%s%s\n", Lookup(result, std::string(buffer.data(), length)).c_str(),
                    length == size && size > 0 ? " unterminated" : "", buffer[size] != 'X' ? " overrun" : "");
    }
    return 0;
}

std::string Library(const std::string& title) { return "[SCANNER]\r\nTITLE=" + title + "\r\n"; }

const char kKoreanTitle[] = "Korvex \xB0\xCB\xBB\xE7";                 // "검사" in code page 949
const char kJapaneseTitle[] = "Korvex \x83\x58\x83\x4C\x83\x83\x83\x93";  // "スキャン" in code page 932

TEST(LocalText, TheSystemLanguagePicksTheLibraryOrElseDefaultOnly) {
    RegisteredInstall install;
    install.dir.Write("locale\\kor.lib", Library(kKoreanTitle));
    // "表n" keeps its n: 0x5C is the second byte of 表, no backslash.
    install.dir.Write("locale\\jpn.lib", Library(kJapaneseTitle) + "Kanji=\x95\x5Cn\x95\x5C\\n\r\n");
    install.dir.Write("locale\\eng.lib", Library("English library"));
    install.dir.Write("locale\\default.lib", Library("Default library"));
    const std::string none = Lookup(0, "");
    const struct {
        const char *locale, *removed;
        Strings lines;
    } rows[] = {{"ko_KR", nullptr, {"ui=0412 lang=kor", Lookup(1, kKoreanTitle), none}},
                {"ja_JP", nullptr, {"ui=0411 lang=jpn", Lookup(1, kJapaneseTitle), Lookup(1, "\x95\x5Cn\x95\x5C\n\r")}},
                {"de_DE", nullptr, {"ui=0407 lang=eng", Lookup(1, "English library"), none}},
                {"", nullptr, {"ui=0409 lang=eng", Lookup(1, "English library"), none}},
                // A missing language file falls back to default.lib, never to eng.lib.
                {"ja_JP", "jpn.lib", {"ui=0411 lang=jpn", Lookup(1, "Default library"), none}},
                {"ja_JP", "default.lib", {"ui=0411 lang=jpn", none, none}}};
    for (const auto& row : rows) {
        if (row.removed) ::DeleteFileA(install.dir.File(std::string("locale\\") + row.removed).c_str());
        const auto run = kxtest::RunProbeInLocale(row.locale, "local_text_lookup", {"SCANNER|TITLE|260", "SCANNER|Kanji|260"});
        EXPECT_EQ(kxtest::Lines(run.output), row.lines) << row.locale << " (are KXSCAN_LOCPATH's locales built?)";
    }
}

// Every text the program asks for is in every shipped library, in the
// library's code page, and the two summary formats take exactly two numbers.
TEST(LocalText, ShippedLibrariesHoldEveryTextInTheirCodePage) {
    for (const auto& [name, title] : {std::pair{"kor.lib", kKoreanTitle}, {"jpn.lib", kJapaneseTitle},
                                      {"eng.lib", "Korvex Scanner"}, {"default.lib", "Korvex Scanner"}}) {
        const std::string library = kxtest::BuildFolder() + "\\locale\\" + name;
        EXPECT_NE(kxtest::ReadFile(library).find("\nTITLE=" + std::string(title)), std::string::npos) << name;
        char text[260];
        for (const char* key : {"SCANNER|TITLE", "SCANNER|INITSCAN", "SCANNER|INFECTIONNAME", "SCANNER|FILEPATH",
                                "SCANNER|STATE", "SCANNER|SHUTDOWN", "SCANNER|PAUSE", "SCANNER|RESTART", "SCANNER|CANCEL",
                                "SCANNER|SCANNIG", "SCANNER|NotIncurable", "SCANNER|SelectCure", "SCANNER|ENGININITFAILED",
                                "SCANNER|FINISH", "SCANNER|CURE", "SCANNER|Virus", "SCANNER|AdSpyware",
                                "SCANNER|InjureProgram", "SCANNER|HackingTool", "SCANNER|IncurableZip", "SCANNER|DEL",
                                "SCANNER|IncurableAD", "SERVICE|DisplayName", "MAIN|sch_fullscan",
                                "SCANNER|SCANFINISH|%", "SCANNER|SCANCANCEL|%"}) {
            std::string split = key;
            std::replace(split.begin(), split.end(), '|', '\n');
            const Strings parts = kxtest::Lines(split);
            EXPECT_GT(::GetPrivateProfileStringA(parts[0].c_str(), parts[1].c_str(), "", text, sizeof(text),
                                                 library.c_str()), 0u) << name << " " << key;
            std::string conversions;
            for (const char* p = std::strchr(text, '%'); parts.size() > 2 && p; p = std::strchr(p + 2, '%'))
                conversions += p[1] == 'u' ? 'd' : p[1];
            EXPECT_EQ(conversions, parts.size() > 2 ? "dd" : "") << name << " " << key << ": " << text;
        }
    }
}

TEST(LocalText, ValuesAreReadAndCutSafelyAndAPathThatDoesNotFitGivesNone) {
    RegisteredInstall install;
    // Whatever language the machine has, the same library answers.
    for (const char* name : {"kor.lib", "jpn.lib", "eng.lib", "default.lib"})
        install.dir.Write(std::string("locale\\") + name, "[SCANNER]\r\nTITLE=Korvex Test\r\nMULTI=Line one\\nLine two\r\n"
                          "TWICE=a\\nb\\n\\nc\r\nEMPTY=\r\nLONG=" + std::string(300, 'L') + "\r\n");
    const Strings lookups = {"SCANNER|TITLE|260", "scanner|Title|260", "SCANNER|MULTI|260", "SCANNER|TWICE|260",
                             "SCANNER|EMPTY|260", "SCANNER|MISSING|260", "NOSECTION|TITLE|260", "SCANNER|TITLE|0",
                             "SCANNER|TITLE|1", "SCANNER|TITLE|7", "SCANNER|LONG|260"};
    const std::string none = Lookup(0, "");
    Strings lines = kxtest::Lines(kxtest::RunProbe("local_text_lookup", lookups).output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(Strings(lines.begin() + 1, lines.end()),
              (Strings{Lookup(1, "Korvex Test"), Lookup(1, "Korvex Test"), Lookup(1, "Line one\n\rLine two"),
                       Lookup(1, "a\n\rb\n\r\n\rc"), none, none, none, "0:", none, Lookup(1, "Korvex"),
                       Lookup(1, std::string(259, 'L'))}));

    // 246 characters: with "\locale\eng.lib" the path has 261, where 259 fit.
    // Cut to fit, it would name the file "eng.l" laid here as a trap.
    const std::string folder = std::string(246 - install.dir.Path().size() - 1, 'i');
    kxtest::RegSetString(kProductKey, "InstallPath", install.dir.File(folder));
    for (const char* cut : {"eng.l", "kor.l", "jpn.l"}) install.dir.Write(folder + "\\locale\\" + cut, Library("Cut"));
    lines = kxtest::Lines(kxtest::RunProbe("local_text_lookup", {"SCANNER|TITLE|260"}).output);
    EXPECT_EQ(lines.size() == 2 ? lines[1] : "", none);

    char code[2] = {'?', '?'};
    EXPECT_EQ(GetUiLanguage(nullptr, 16) + GetUiLanguage(code, 0), 0);
    EXPECT_EQ(code[0], '?');
    EXPECT_EQ(GetUiLanguage(code, sizeof(code)), 1);
    EXPECT_EQ(code[1], '\0');
}

std::string Formatted(const SYSTEMTIME* time) {
    char text[21];
    std::memset(text, '#', sizeof(text));
    FormatDateTime(text, time);
    EXPECT_EQ(text[20], '#') << "written past 20 bytes";
    return std::string(text, strnlen(text, 20));
}

TEST(FormatDateTime, TheFixedFormWhateverTheUserFormats) {
    // Sets one of the user's locale formats until the end of the test.
    struct UserFormat {
        LCTYPE type;
        char saved[80] = {};
        UserFormat(LCTYPE t, const char* value) : type(t) {
            ::GetLocaleInfoA(LOCALE_USER_DEFAULT, type, saved, sizeof(saved));
            ::SetLocaleInfoA(LOCALE_USER_DEFAULT, type, value);
        }
        ~UserFormat() { ::SetLocaleInfoA(LOCALE_USER_DEFAULT, type, saved); }
    } date(LOCALE_SSHORTDATE, "dd.MM.yy"), time(LOCALE_STIMEFORMAT, "hh.mm.ss tt");
    const SYSTEMTIME night{2013, 9, 2, 3, 1, 8, 10, 0}, afternoon{2013, 9, 2, 3, 13, 8, 10, 0},
        thirteenthMonth{2013, 13, 2, 3, 1, 8, 10, 0};
    char userDate[32] = {};
    ::GetDateFormatA(LOCALE_USER_DEFAULT, 0, &afternoon, nullptr, userDate, sizeof(userDate));
    ASSERT_STREQ(userDate, "03.09.13") << "the user format did not take";
    EXPECT_EQ(Formatted(&night) + " " + Formatted(&afternoon) + Formatted(&thirteenthMonth),
              "2013-09-03 01:08:10 2013-09-03 13:08:10");
    SYSTEMTIME before, after;
    ::GetLocalTime(&before);
    const std::string now = Formatted(nullptr);
    ::GetLocalTime(&after);
    before.wMilliseconds = after.wMilliseconds = 0;
    EXPECT_TRUE(Formatted(&before) <= now && now <= Formatted(&after) && now.size() == 19) << now;
}

TEST(CreateFolderChain, MakesEveryMissingFolderReplacingFilesAndRefusesWhatItCannotBuild) {
    TempInstallDir base(false);
    base.Write("A\\B", "in the way");
    ::SetFileAttributesA(base.File("A\\B").c_str(), FILE_ATTRIBUTE_READONLY);
    base.Write("C", "in the way");
    char current[MAX_PATH] = {};
    ::GetCurrentDirectoryA(sizeof(current), current);
    ::SetCurrentDirectoryA(base.Path().c_str());
    const struct {
        int (*call)(const char*);
        std::string path;
        int result;
        const char* folder;  // exists afterwards (null: the path does not)
    } rows[] = {{CreateFolderChain, base.File("A\\B\\Logs"), 1, "A\\B\\Logs"}, {CreateFolderChain, base.File("A\\B\\Logs"), 1, "A\\B\\Logs"},
                {CreateFolderChain, base.File("X\\Y\\"), 1, "X\\Y"}, {EnsureFolder, base.File("X\\Y"), 1, "X\\Y"},
                {EnsureFolder, base.File("C"), 1, "C"}, {CreateFolderChain, "NoBackslash", 0, nullptr},
                {CreateFolderChain, base.File(std::string(600, 'x')), 0, nullptr},
                {EnsureFolder, base.File("Missing\\Child"), 0, nullptr}};  // the parent is not made
    for (const auto& row : rows) {
        EXPECT_EQ(row.call(row.path.c_str()), row.result) << row.path;
        EXPECT_EQ(kxtest::FolderExists(row.folder ? base.File(row.folder) : row.path), row.folder != nullptr);
    }
    ::SetCurrentDirectoryA(current);
    EXPECT_EQ(kxtest::Listing(base.Path()), "A|C|X|");
}

TEST(GetFileSizeAndTimes, ReadsSizeAndTimesAndGivesZeroForWhatItCannotOpen) {
    TempInstallDir base(false);
    const std::string path = base.File("sample.bin");
    base.Write("sample.bin", std::string(1234, 's'));
    base.Write("empty.bin", "");
    const FILETIME written{0x2ABC0000u, 0x01CEA8F0u};  // a moment in 2013
    HANDLE file = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(::SetFileTime(file, nullptr, nullptr, &written));
    ::CloseHandle(file);
    WIN32_FILE_ATTRIBUTE_DATA expected;
    ASSERT_TRUE(::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &expected));
    FILETIME creation{}, lastWrite{}, untouched{1, 2};
    EXPECT_EQ(GetFileSizeAndTimes(path.c_str(), &creation, &lastWrite), 1234u);
    EXPECT_EQ(::CompareFileTime(&lastWrite, &written), 0);
    EXPECT_EQ(::CompareFileTime(&creation, &expected.ftCreationTime), 0);
    EXPECT_EQ(GetFileSizeAndTimes(path.c_str(), nullptr, nullptr), 1234u);
    lastWrite = FILETIME{};
    EXPECT_EQ(GetFileSizeAndTimes(base.File("empty.bin").c_str(), nullptr, &lastWrite), 0u);
    EXPECT_NE(lastWrite.dwHighDateTime, 0u) << "an empty file is opened all the same";
    EXPECT_EQ(GetFileSizeAndTimes(base.File("missing.bin").c_str(), nullptr, &untouched), 0u);
    EXPECT_EQ(untouched.dwLowDateTime, 1u);
    EXPECT_EQ(GetFileSizeAndTimes(base.Path().c_str(), nullptr, nullptr), 0u);
    EXPECT_EQ(kxtest::Listing(base.Path()), "empty.bin|sample.bin|") << "nothing created";
}

// What start-up read into the options, with /QS and /AC given as "quick"
// and "autocure".
KX_PROBE(startup_settings) {
    StartupOptions options;
    options.quickScan = args.at(0) == "quick";
    options.autoCure = args.at(0) == "autocure";
    LoadStartupSettings(&options);
    std::printf("%lu|%lu|%s|%s|%s", options.autoCure, options.debugMask, options.quickScanExtensions,
                options.installDir, options.title);
    return 0;
}

TEST(StartupSettings, CureTypeQuickScanListTitleAndDebugMask) {
    RegisteredInstall install(true);
    char title[260] = {};
    ::GetPrivateProfileStringA("SCANNER", "TITLE", "", title, sizeof(title), (kxtest::BuildFolder() + "\\locale\\eng.lib").c_str());
    const struct {
        const char *ini, *shield;
        DWORD debugLevel;
        const char *arg, *expected;  // autoCure|mask|extensions
    } rows[] = {{"[MAIN]\ncuretype=1\n", "", 0, "", "1|0|"}, {"[main]\nCURETYPE=0\n", "", 0, "", "0|0|"},
                {"[main]\nCURETYPE=0\n", "", 0, "autocure", "1|0|"},  // 0 never turns it off
                {"[MAIN]\ncuretype=2\n", "", 0, "", "0|0|"}, {"", "", 0, "quick", "0|0|exe,com,bat,doc,ppt,xls"},
                {"", "[SYSTEM]\nShell=exe,scr,dll\n", 0, "quick", "0|0|exe,scr,dll"},
                {"", "[SYSTEM]\nShell=exe,scr,dll\n", 3, "", "0|3|"}};  // the list only for a quick scan
    for (const auto& row : rows) {
        install.dir.Write("qmrkx.ini", row.ini);
        install.dir.Write("qmshield.sys", row.shield);
        kxtest::RegSetDword(kProductKey, "DbgLevel", row.debugLevel);
        EXPECT_EQ(kxtest::RunProbe("startup_settings", {row.arg}).output,
                  row.expected + ("|" + install.dir.Path()) + "|" + title) << row.ini << row.shield << row.arg;
    }
    EXPECT_NE(title[0], '\0');
}

TEST(Startup, WithoutArgumentsEndsAtOnceAndTouchesNothing) {
    ProductRegistry registry;
    TempInstallDir install;
    const std::string before = kxtest::Listing(install.Path());
    kxtest::ChildProcess child;
    ASSERT_TRUE(kxtest::StartKxscan(&child, install, ""));
    EXPECT_EQ(child.FindWindow(1500), nullptr);
    ASSERT_TRUE(child.Wait(10000)) << "kxscan.exe without arguments kept running";
    EXPECT_EQ(child.ExitCode(), 0u);
    EXPECT_FALSE(kxtest::RegKeyExists("SOFTWARE\\Tarnwick Systems"));
    EXPECT_EQ(kxtest::Listing(install.Path()), before);
}

// The window is closed by its close button; without kxsoc.dll there is no
// scan whose stop would have to be confirmed.
TEST(Startup, TheUpdaterRunsAfterTheWindowOnlyWhenAskedAndTheRequestIsReset) {
    const struct {
        DWORD request, after;  // ExecuteUpdate before and after; 0: absent
        bool updater, runs;
    } rows[] = {{0, 0, true, false}, {1, 0, true, true}, {2, 2, true, false}, {1, 0, false, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.request) + (row.updater ? "" : " without update.exe"));
        RegisteredInstall install(true);
        if (!row.updater) ::DeleteFileA(install.dir.File("update.exe").c_str());
        if (row.request) kxtest::RegSetDword(kConfigKey, "ExecuteUpdate", row.request);
        kxtest::ChildProcess child;
        ASSERT_TRUE(kxtest::StartKxscan(&child, install.dir, kxtest::Quote(install.dir.Path()), {{"KXUPDATE_DELAY_MS", "700"}}));
        HWND window = child.FindWindow(15000);
        ASSERT_NE(window, nullptr);
        const DWORD clicked = ::GetTickCount();
        kxtest::ClickButton(window, 1008);
        ASSERT_TRUE(child.Wait(20000));
        if (row.runs) { EXPECT_GE(::GetTickCount() - clicked, 600u) << "kxscan.exe did not wait for the updater"; }
        const std::string command = '"' + install.dir.File("update.exe\" /hide /scan\n");
        EXPECT_EQ(install.dir.Read("update.log"), row.runs ? command : "");
        DWORD value = 99;
        EXPECT_EQ(kxtest::RegGetDword(kConfigKey, "ExecuteUpdate", &value), row.request != 0);
        if (row.request) { EXPECT_EQ(value, row.after); }
    }
}

}  // namespace
