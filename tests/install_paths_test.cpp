// The installation directory and its one registry write-back, the settings
// file and its excluded folders, the agent type and the parent-folder helper.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/install_paths.h"
#include "app/registry.h"
#include "tests/support/test_support.h"

namespace {

using kxtest::ProductRegistry;
using kxtest::TempInstallDir;

// Whether `call` changed a value of the product key, seen through a change
// notification armed just before it.
template <typename Call>
int WritesProductKey(HKEY key, Call call) {
    HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ::RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE);
    call();
    int changed = ::WaitForSingleObject(event, 300) == WAIT_OBJECT_0;
    ::CloseHandle(event);
    return changed;
}

// Two calls of GetInstallPath, each with whether it wrote the main value.
KX_PROBE(install_path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_NOTIFY | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return 2;
    char kept[8] = "kept";
    GetInstallPath(nullptr, 260);
    GetInstallPath(kept, 0);
    for (int call = 1; call <= 2; ++call) {
        char path[260] = {};
        int wrote = WritesProductKey(key, [&] { GetInstallPath(path, sizeof(path)); });
        std::printf("path%d=%s\nwrote%d=%d\n", call, path, call, wrote);
    }
    char small[4];
    GetInstallPath(small, sizeof(small));
    std::printf("small=%s\nkept=%s\nini=%s\n", small, kept, GetIniPath());
    ::RegCloseKey(key);
    return 0;
}

// The settings read from qmrkx.ini, and the excluded-path table before and
// after the file changes.
KX_PROBE(settings_file) {
    char text[16];
    std::memset(text, 'x', sizeof(text));
    int found = ReadIniText("main", "absent", text, sizeof(text));
    std::printf("ini=%s\ncuretype=%d\nabsent=%d[%.15s]\n", GetIniPath(), ReadIniInt("MAIN", "curetype", 0), found,
                text);
    LoadExcludedPaths();
    const ExcludedPathTable& table = ExcludedPaths();
    std::printf("loaded=%d\ncount=%lu\n", table.loaded, table.count);
    for (DWORD i = 0; i < table.count; ++i)
        std::printf("entry=%s|%lu\n", table.entries[i].path, table.entries[i].matchLength);
    kxtest::WriteFile(GetIniPath(), "[main]\nexcludepath=E:\\One|E:\\Two|E:\\Three\n");
    LoadExcludedPaths();
    std::printf("after=%lu\n", ExcludedPaths().count);
    return 0;
}

KX_PROBE(agent_type) {
    char message[1024] = {};
    int type = GetAgentType(message);
    std::printf("type=%d\nmessage=%s\n", type, message);
    return 0;
}

std::string Field(const std::string& output, const std::string& name) {
    size_t start = output.find(name + "=");
    if (start == std::string::npos) return "<missing>";
    start += name.size() + 1;
    return output.substr(start, output.find_first_of("\r\n", start) - start);
}

std::string MainInstallPath() {
    std::string path = "<missing>";
    kxtest::RegGetString(kProductKey, "InstallPath", &path);
    return path;
}

TEST(InstallPath, MainValueWinsAndIsNotRewritten) {
    ProductRegistry registry;
    kxtest::RegSetString(kProductKey, "InstallPath", "C:\\Main");
    kxtest::RegSetString(kUninstallKey, "InstallPath", "C:\\Uninstall");
    std::string out = kxtest::RunProbe("install_path").output;
    EXPECT_EQ(Field(out, "path1"), "C:\\Main");
    EXPECT_EQ(Field(out, "path2"), "C:\\Main");
    EXPECT_EQ(Field(out, "wrote1"), "0");
    EXPECT_EQ(Field(out, "wrote2"), "0");
    EXPECT_EQ(Field(out, "small"), "C:\\");
    EXPECT_EQ(Field(out, "kept"), "kept");
    EXPECT_EQ(Field(out, "ini"), "C:\\Main\\qmrkx.ini");
}

TEST(InstallPath, UninstallValueIsCopiedOnceToTheMainKey) {
    ProductRegistry registry;
    kxtest::RegSetString(kProductKey, "InstallPath", "");  // an empty value counts as missing
    kxtest::RegSetString(kUninstallKey, "InstallPath", "C:\\Uninstall");
    std::string out = kxtest::RunProbe("install_path").output;
    EXPECT_EQ(Field(out, "path1"), "C:\\Uninstall");
    EXPECT_EQ(Field(out, "wrote1"), "1");
    EXPECT_EQ(Field(out, "path2"), "C:\\Uninstall");
    EXPECT_EQ(Field(out, "wrote2"), "0");
    EXPECT_EQ(MainInstallPath(), "C:\\Uninstall");

    out = kxtest::RunProbe("install_path").output;
    EXPECT_EQ(Field(out, "path1"), "C:\\Uninstall");
    EXPECT_EQ(Field(out, "wrote1"), "0");
}

TEST(InstallPath, WithoutRegistryValuesTheProgramFolderIsUsedAndWritten) {
    ProductRegistry registry;
    kxtest::RegSetDword(kProductKey, "DbgLevel", 0);  // the key exists, the value does not
    std::string out = kxtest::RunProbe("install_path").output;
    EXPECT_EQ(Field(out, "path1"), kxtest::BuildFolder());
    EXPECT_EQ(Field(out, "wrote1"), "1");
    EXPECT_EQ(Field(out, "wrote2"), "0");
    EXPECT_EQ(MainInstallPath(), kxtest::BuildFolder());
}

TEST(SettingsFile, ValuesAndExcludedPathsAreReadOnce) {
    ProductRegistry registry;
    TempInstallDir install;
    install.Register();
    install.Write("qmrkx.ini", "[MAIN]\ncuretype=1\nexcludepath=C:\\Temp||D:\\Backup\\\n");
    std::string out = kxtest::RunProbe("settings_file").output;
    EXPECT_EQ(Field(out, "ini"), install.File("qmrkx.ini"));
    EXPECT_EQ(Field(out, "curetype"), "1");
    EXPECT_EQ(Field(out, "absent"), "0[]");
    EXPECT_EQ(Field(out, "count"), "2");
    EXPECT_NE(out.find("entry=C:\\Temp\\|7"), std::string::npos) << out;
    EXPECT_NE(out.find("entry=D:\\Backup\\|10"), std::string::npos) << out;
    EXPECT_EQ(Field(out, "after"), "2");  // the table does not follow the file
}

TEST(SettingsFile, MissingFileGivesDefaultsAndNoExclusions) {
    ProductRegistry registry;
    TempInstallDir install;
    install.Register();
    std::string out = kxtest::RunProbe("settings_file").output;
    EXPECT_EQ(Field(out, "curetype"), "0");
    EXPECT_EQ(Field(out, "loaded"), "1");
    EXPECT_EQ(Field(out, "count"), "0");
    EXPECT_EQ(Field(out, "after"), "0");
}

TEST(ExcludedPaths, PiecesAreSplitCountedAndClosed) {
    ExcludedPathTable table{};
    ParseExcludedPaths("C:\\Temp|D:\\Backup\\", &table);
    ASSERT_EQ(table.count, 2u);
    EXPECT_STREQ(table.entries[0].path, "C:\\Temp\\");
    EXPECT_EQ(table.entries[0].matchLength, 7u);
    EXPECT_STREQ(table.entries[1].path, "D:\\Backup\\");
    EXPECT_EQ(table.entries[1].matchLength, 10u);

    ParseExcludedPaths("||C:\\A||", &table);
    ASSERT_EQ(table.count, 1u);
    EXPECT_STREQ(table.entries[0].path, "C:\\A\\");

    std::string twenty;
    for (int i = 0; i < 20; ++i) twenty += "C:\\Dir" + std::to_string(i) + "|";
    ParseExcludedPaths(twenty.c_str(), &table);
    ASSERT_EQ(table.count, 16u);
    EXPECT_STREQ(table.entries[15].path, "C:\\Dir15\\");

    ParseExcludedPaths("", &table);
    EXPECT_EQ(table.count, 0u);
    EXPECT_TRUE(table.loaded);
}

TEST(ExcludedPaths, LongPiecesStayWithinTheirField) {
    ExcludedPathTable table{};
    std::string longPiece = "C:\\" + std::string(600, 'a');
    std::string closed = "C:\\" + std::string(515, 'b') + "\\";  // 519 characters, already closed
    ParseExcludedPaths((longPiece + "|" + closed + "|C:\\Next").c_str(), &table);
    ASSERT_EQ(table.count, 3u);
    EXPECT_EQ(std::strlen(table.entries[0].path), 519u);
    EXPECT_EQ(table.entries[0].path[518], '\\');
    EXPECT_EQ(table.entries[0].matchLength, 518u);
    EXPECT_EQ(std::string(table.entries[1].path), closed);
    EXPECT_EQ(table.entries[1].matchLength, 519u);
    EXPECT_STREQ(table.entries[2].path, "C:\\Next\\");
}

TEST(AgentType, ReadFromTheFileBesideTheProgram) {
    TempInstallDir folder(false);
    std::string program = folder.File("kxscan_tests.exe");
    ASSERT_TRUE(::CopyFileA((kxtest::BuildFolder() + "\\kxscan_tests.exe").c_str(), program.c_str(), FALSE));
    auto run = [&](const char* ini) {
        if (ini)
            folder.Write("qmrka.ini", ini);
        else
            ::DeleteFileA(folder.File("qmrka.ini").c_str());
        return kxtest::Run(kxtest::Quote(program) + " --probe agent_type", 60000, folder.Path()).output;
    };
    struct Case {
        const char* ini;
        const char* type;
        const char* message;
    };
    for (const Case& c : {Case{"[SYSTEM]\nAgentType=1\n", "1", ""}, Case{"[system]\nagenttype=2abc\n", "2", ""},
                          Case{"[SYSTEM]\nAgentType=3\n", "0", "[GetAgentType] invalid agent type (3)"},
                          Case{"[SYSTEM]\nAgentType=0\n", "0", "[GetAgentType] invalid agent type (0)"},
                          Case{"[SYSTEM]\nAgentType=abc\n", "0", "[GetAgentType] invalid agent type (0)"},
                          Case{nullptr, "0", "[GetAgentType] invalid agent type (0)"}}) {
        std::string out = run(c.ini);
        EXPECT_EQ(Field(out, "type"), c.type) << (c.ini ? c.ini : "no file");
        EXPECT_EQ(Field(out, "message"), c.message) << (c.ini ? c.ini : "no file");
    }
    std::string out = run("[SYSTEM]\nAgentType=\n");
    EXPECT_EQ(Field(out, "type"), "0");
    EXPECT_EQ(Field(out, "message").rfind("[GetAgentType] fail to get agent type (" + folder.Path() + ") (", 0), 0u)
        << out;
}

TEST(ParentFolder, CutsTheLastComponent) {
    struct Case {
        const char* source;
        const char* parent;  // null: none
    };
    for (const Case& c : {Case{"C:\\Apps\\Scan\\main.exe", "C:\\Apps\\Scan"}, Case{"C:\\main.exe", "C:"},
                          Case{"C:\\Apps\\\\\\main.exe", "C:\\Apps"}, Case{"C:\\Apps\\Scan\\\\", "C:\\Apps"},
                          Case{"\\\\server\\share\\f", "\\\\server\\share"}, Case{"\\main.exe", "\\"},
                          Case{"C:\\", nullptr}, Case{"main.exe", nullptr}, Case{"C:main.exe", nullptr},
                          Case{"", nullptr}, Case{"\\\\\\", nullptr}}) {
        char destination[260];
        char* result = GetParentFolder(c.source, destination, sizeof(destination));
        if (c.parent) {
            ASSERT_EQ(result, destination) << c.source;
            EXPECT_STREQ(destination, c.parent) << c.source;
        } else {
            EXPECT_EQ(result, nullptr) << c.source;
        }
    }
}

TEST(ParentFolder, SmallBuffersNullsAndInPlace) {
    char destination[16] = "kept";
    EXPECT_EQ(GetParentFolder("C:\\a\\b", destination, 2), nullptr);
    EXPECT_EQ(GetParentFolder(nullptr, destination, sizeof(destination)), nullptr);
    EXPECT_EQ(GetParentFolder("C:\\a\\b", nullptr, sizeof(destination)), nullptr);
    EXPECT_STREQ(destination, "kept");

    // The parent of the whole source, never of a cut-off copy of it.
    EXPECT_EQ(GetParentFolder("C:\\Apps\\Scan\\main.exe", destination, 8), nullptr);
    EXPECT_STREQ(GetParentFolder("C:\\Apps\\Scan\\main.exe", destination, 13), "C:\\Apps\\Scan");

    char path[32] = "C:\\Apps\\Scan\\main.exe";
    EXPECT_EQ(GetParentFolder(path, path, sizeof(path)), path);
    EXPECT_STREQ(path, "C:\\Apps\\Scan");
}

}  // namespace
