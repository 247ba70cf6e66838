// The text library: which file the language picks, and how a value is read.
// The library path is cached for the life of a process, so every lookup of a
// chosen library runs in a probe of its own.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "app/local_text.h"
#include "tests/support/test_support.h"

namespace {

using kxtest::ProductRegistry;
using kxtest::RunResult;
using kxtest::TempInstallDir;

std::string Hex(const std::string& bytes) {
    std::string hex;
    char digits[3];
    for (unsigned char c : bytes) {
        std::snprintf(digits, sizeof(digits), "%02X", c);
        hex += digits;
    }
    return hex;
}

// Prints "ui=<language id> lang=<code>", then for each argument
// "SECTION|KEY|SIZE" one line "<result>:<hex of the text>", in hex so that no
// code page touches it. The buffer is filled with 'X' beforehand and one
// byte past `size` is watched for overruns.
KX_PROBE(local_text_lookup) {
    char code[16] = {};
    GetUiLanguage(code, sizeof(code));
    std::printf("ui=%04X lang=%s\n", ::GetSystemDefaultUILanguage(), code);
    for (const std::string& arg : args) {
        size_t bar1 = arg.find('|');
        size_t bar2 = arg.find('|', bar1 + 1);
        std::string section = arg.substr(0, bar1);
        std::string key = arg.substr(bar1 + 1, bar2 - bar1 - 1);
        DWORD size = static_cast<DWORD>(std::strtoul(arg.c_str() + bar2 + 1, nullptr, 10));
        std::vector<char> buffer(size + 1, 'X');
        int result = GetLocalText(section.c_str(), key.c_str(), buffer.data(), size);
        size_t length = strnlen(buffer.data(), size);
        std::printf("%d:%s%s%s\n", result, Hex(std::string(buffer.data(), length)).c_str(),
                    length == size && size > 0 ? " unterminated" : "", buffer[size] != 'X' ? " overrun" : "");
    }
    return 0;
}

std::string Lookup(int result, const std::string& text) { return std::to_string(result) + ":" + Hex(text); }

std::vector<std::string> Lines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream stream(output);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Runs the lookup probe and returns its lines; the first one names the
// language, checked here so that a locale Wine did not take shows as such.
std::vector<std::string> LookUpIn(const std::string& locale, const std::string& expectedUi,
                                  const std::vector<std::string>& lookups) {
    RunResult run = kxtest::RunProbeInLocale(locale, "local_text_lookup", lookups);
    EXPECT_TRUE(run.started) << "needs drive Z: mapped to / and /bin/sh";
    EXPECT_TRUE(run.finished && run.exitCode == 0) << run.output;
    std::vector<std::string> lines = Lines(run.output);
    EXPECT_EQ(lines.size(), lookups.size() + 1) << run.output;
    if (lines.empty()) return std::vector<std::string>(lookups.size() + 1);
    EXPECT_EQ(lines[0], expectedUi) << "Wine did not take the locale " << locale
                                    << " (are the glibc locales of KXSCAN_LOCPATH built?)";
    lines.resize(lookups.size() + 1);
    return lines;
}

std::string Library(const std::string& title) { return "[SCANNER]\r\nTITLE=" + title + "\r\n"; }

// The build's locale folder: beside the test program or one level up.
std::string ShippedLocaleFolder() {
    std::string folder = kxtest::BuildFolder();
    if (kxtest::FolderExists(folder + "\\locale")) return folder + "\\locale";
    return folder.substr(0, folder.find_last_of('\\')) + "\\locale";
}

// The TITLE line of a shipped library, read as raw bytes.
std::string RawTitle(const std::string& library) {
    std::string content = kxtest::ReadFile(library);
    size_t start = content.find("\nTITLE=");
    if (start == std::string::npos) return "<no TITLE>";
    start += 7;
    size_t end = content.find_first_of("\r\n", start);
    std::string title = content.substr(start, end - start);
    while (!title.empty() && title.back() == ' ') title.pop_back();
    return title;
}

const char kKoreanTitle[] = "Korvex \xB0\xCB\xBB\xE7";       // "검사" in code page 949
const char kJapaneseTitle[] = "Korvex \x93\xFA\x96\x7B\x8C\xEA";  // "日本語" in code page 932

class LocalTextLanguage : public ::testing::Test {
protected:
    void SetUp() override {
        install.Register();
        install.Write("locale\\kor.lib", Library(kKoreanTitle));
        install.Write("locale\\jpn.lib", Library(kJapaneseTitle) +
                                             // "表n" keeps its n: 0x5C is the second byte of 表, no backslash.
                                             "Kanji=\x95\x5Cn\x95\x5C\\n\r\n");
        install.Write("locale\\eng.lib", Library("English library"));
        install.Write("locale\\default.lib", Library("Default library"));
    }

    ProductRegistry registry;
    TempInstallDir install{false};
};

TEST_F(LocalTextLanguage, TheSystemLanguagePicksTheLibrary) {
    std::vector<std::string> korean = LookUpIn("ko_KR", "ui=0412 lang=kor", {"SCANNER|TITLE|260"});
    EXPECT_EQ(korean[1], Lookup(1, kKoreanTitle));

    std::vector<std::string> japanese =
        LookUpIn("ja_JP", "ui=0411 lang=jpn", {"SCANNER|TITLE|260", "SCANNER|Kanji|260"});
    EXPECT_EQ(japanese[1], Lookup(1, kJapaneseTitle));
    EXPECT_EQ(japanese[2], Lookup(1, "\x95\x5Cn\x95\x5C\n\r"));

    std::vector<std::string> german = LookUpIn("de_DE", "ui=0407 lang=eng", {"SCANNER|TITLE|260"});
    EXPECT_EQ(german[1], Lookup(1, "English library"));

    std::vector<std::string> unset = LookUpIn("", "ui=0409 lang=eng", {"SCANNER|TITLE|260"});
    EXPECT_EQ(unset[1], Lookup(1, "English library"));
}

TEST_F(LocalTextLanguage, AMissingLanguageFileFallsBackToDefaultOnly) {
    ASSERT_TRUE(::DeleteFileA(install.File("locale\\jpn.lib").c_str()));
    std::vector<std::string> fallback = LookUpIn("ja_JP", "ui=0411 lang=jpn", {"SCANNER|TITLE|260"});
    EXPECT_EQ(fallback[1], Lookup(1, "Default library"));

    // Never the English file: without default.lib there is no text at all.
    ASSERT_TRUE(::DeleteFileA(install.File("locale\\default.lib").c_str()));
    std::vector<std::string> none = LookUpIn("ja_JP", "ui=0411 lang=jpn", {"SCANNER|TITLE|260"});
    EXPECT_EQ(none[1], Lookup(0, ""));
}

TEST(LocalText, ShippedLibrariesAreChosenByLanguage) {
    ProductRegistry registry;
    TempInstallDir install(false);
    install.Register();
    const std::string shipped = ShippedLocaleFolder();
    for (const char* name : {"kor.lib", "jpn.lib", "eng.lib", "default.lib"})
        ASSERT_TRUE(install.Write(std::string("locale\\") + name, kxtest::ReadFile(shipped + "\\" + name))) << name;

    EXPECT_EQ(LookUpIn("ko_KR", "ui=0412 lang=kor", {"SCANNER|TITLE|260"})[1],
              Lookup(1, RawTitle(shipped + "\\kor.lib")));
    EXPECT_EQ(LookUpIn("ja_JP", "ui=0411 lang=jpn", {"SCANNER|TITLE|260"})[1],
              Lookup(1, RawTitle(shipped + "\\jpn.lib")));
    EXPECT_EQ(LookUpIn("de_DE", "ui=0407 lang=eng", {"SCANNER|TITLE|260"})[1],
              Lookup(1, RawTitle(shipped + "\\eng.lib")));
}

// Every text the program asks for is in every shipped library, and the two
// summary formats take exactly the two numbers they are given.
TEST(LocalText, ShippedLibrariesHoldEveryText) {
    const char* const scannerKeys[] = {
        "TITLE",      "INITSCAN", "INFECTIONNAME",   "FILEPATH",   "STATE",      "SHUTDOWN", "PAUSE",
        "RESTART",    "CANCEL",   "SCANNIG",         "NotIncurable", "SelectCure", "ENGININITFAILED",
        "SCANFINISH", "SCANCANCEL", "FINISH",        "CURE",       "Virus",      "AdSpyware", "InjureProgram",
        "HackingTool", "IncurableZip", "DEL",        "IncurableAD"};
    const std::string shipped = ShippedLocaleFolder();
    for (const char* name : {"kor.lib", "jpn.lib", "eng.lib", "default.lib"}) {
        const std::string library = shipped + "\\" + name;
        ASSERT_TRUE(kxtest::FileExists(library)) << library;
        char text[260];
        for (const char* key : scannerKeys)
            EXPECT_GT(::GetPrivateProfileStringA("SCANNER", key, "", text, sizeof(text), library.c_str()), 0u)
                << name << " SCANNER/" << key;
        EXPECT_GT(::GetPrivateProfileStringA("SERVICE", "DisplayName", "", text, sizeof(text), library.c_str()), 0u)
            << name;
        EXPECT_GT(::GetPrivateProfileStringA("MAIN", "sch_fullscan", "", text, sizeof(text), library.c_str()), 0u)
            << name;

        for (const char* key : {"SCANFINISH", "SCANCANCEL"}) {
            ::GetPrivateProfileStringA("SCANNER", key, "", text, sizeof(text), library.c_str());
            int decimals = 0;
            bool onlyDecimals = true;
            for (const char* p = std::strchr(text, '%'); p; p = std::strchr(p + 1, '%')) {
                if (p[1] == '%') {
                    ++p;
                    continue;
                }
                if (p[1] == 'd' || p[1] == 'u')
                    ++decimals;
                else
                    onlyDecimals = false;
            }
            EXPECT_EQ(decimals, 2) << name << " " << key;
            EXPECT_TRUE(onlyDecimals) << name << " " << key;
        }
    }
}

TEST(LocalText, ValuesAreReadAndCutSafely) {
    ProductRegistry registry;
    TempInstallDir install(false);
    install.Register();
    const std::string library = "[SCANNER]\r\n"
                                "TITLE=Korvex Test\r\n"
                                "MULTI=Line one\\nLine two\r\n"
                                "TWICE=a\\nb\\n\\nc\r\n"
                                "EMPTY=\r\n"
                                "LONG=" + std::string(300, 'L') + "\r\n";
    // Whatever language the machine has, the same library answers.
    for (const char* name : {"kor.lib", "jpn.lib", "eng.lib", "default.lib"})
        install.Write(std::string("locale\\") + name, library);

    RunResult run = kxtest::RunProbe("local_text_lookup", {"SCANNER|TITLE|260",
                                                           "scanner|Title|260",
                                                           "SCANNER|MULTI|260",
                                                           "SCANNER|TWICE|260",
                                                           "SCANNER|EMPTY|260",
                                                           "SCANNER|MISSING|260",
                                                           "NOSECTION|TITLE|260",
                                                           "SCANNER|TITLE|0",
                                                           "SCANNER|TITLE|1",
                                                           "SCANNER|TITLE|7",
                                                           "SCANNER|LONG|260"});
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    std::vector<std::string> lines = Lines(run.output);
    ASSERT_EQ(lines.size(), 12u) << run.output;
    EXPECT_EQ(lines[1], Lookup(1, "Korvex Test"));
    EXPECT_EQ(lines[2], Lookup(1, "Korvex Test")) << "TITLE and Title are one entry";
    EXPECT_EQ(lines[3], Lookup(1, "Line one\n\rLine two"));
    EXPECT_EQ(lines[4], Lookup(1, "a\n\rb\n\r\n\rc"));
    EXPECT_EQ(lines[5], Lookup(0, "")) << "an empty value counts as missing";
    EXPECT_EQ(lines[6], Lookup(0, ""));
    EXPECT_EQ(lines[7], Lookup(0, ""));
    EXPECT_EQ(lines[8], "0:") << "size 0 leaves the buffer alone";
    EXPECT_EQ(lines[9], Lookup(0, ""));
    EXPECT_EQ(lines[10], Lookup(1, "Korvex"));
    EXPECT_EQ(lines[11], Lookup(1, std::string(259, 'L')));
}

TEST(LocalText, ALibraryPathThatDoesNotFitIsNeverCut) {
    ProductRegistry registry;
    TempInstallDir base(false);
    // 246 characters: with "\locale\eng.lib" the path has 261, where 259 fit.
    // Cut to fit, it would name the file "eng.l" laid here as a trap.
    const std::string folder = std::string(246 - base.Path().size() - 1, 'i');
    const std::string install = base.File(folder);
    ASSERT_EQ(install.size(), 246u);
    kxtest::RegSetString("SOFTWARE\\Tarnwick Systems\\Korvex", "InstallPath", install);
    for (const char* cut : {"eng.l", "kor.l", "jpn.l"})
        ASSERT_TRUE(base.Write(folder + "\\locale\\" + cut, Library("Cut path"))) << cut;

    RunResult run = kxtest::RunProbe("local_text_lookup", {"SCANNER|TITLE|260"});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    std::vector<std::string> lines = Lines(run.output);
    ASSERT_EQ(lines.size(), 2u) << run.output;
    EXPECT_EQ(lines[1], Lookup(0, ""));
}

TEST(LocalText, UiLanguageCodeIsCutToTheBuffer) {
    char code[2] = {'?', '?'};
    EXPECT_EQ(GetUiLanguage(nullptr, 16), 0);
    EXPECT_EQ(GetUiLanguage(code, 0), 0);
    EXPECT_EQ(code[0], '?');
    EXPECT_EQ(GetUiLanguage(code, sizeof(code)), 1);
    EXPECT_EQ(code[1], '\0');
    EXPECT_NE(std::string("kje").find(code[0]), std::string::npos);
}

}  // namespace
