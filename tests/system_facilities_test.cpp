#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "app/system_facilities.h"
#include "tests/support/test_support.h"

namespace {

using kxtest::FileExists;
using kxtest::FolderExists;
using kxtest::TempInstallDir;

SYSTEMTIME Time(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME time{};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    return time;
}

std::string Formatted(const SYSTEMTIME* time) {
    char text[21];
    std::memset(text, '#', sizeof(text));
    FormatDateTime(text, time);
    EXPECT_EQ(text[20], '#') << "written past 20 bytes";
    text[20] = '\0';
    return text;
}

// Sets one of the user's locale formats for the life of the object.
class UserFormat {
public:
    UserFormat(LCTYPE type, const char* value) : type_(type) {
        ::GetLocaleInfoA(LOCALE_USER_DEFAULT, type_, saved_, sizeof(saved_));
        ::SetLocaleInfoA(LOCALE_USER_DEFAULT, type_, value);
    }
    ~UserFormat() { ::SetLocaleInfoA(LOCALE_USER_DEFAULT, type_, saved_); }

private:
    LCTYPE type_;
    char saved_[80] = {};
};

TEST(FormatDateTime, GivesTheFixedFormWhateverTheUserFormats) {
    const SYSTEMTIME night = Time(2013, 9, 3, 1, 8, 10);
    const SYSTEMTIME afternoon = Time(2013, 9, 3, 13, 8, 10);
    EXPECT_EQ(Formatted(&night), "2013-09-03 01:08:10");
    EXPECT_EQ(Formatted(&afternoon), "2013-09-03 13:08:10");

    UserFormat date(LOCALE_SSHORTDATE, "dd.MM.yy");
    UserFormat time(LOCALE_STIMEFORMAT, "hh.mm.ss tt");
    char userDate[32] = {};
    ::GetDateFormatA(LOCALE_USER_DEFAULT, 0, &afternoon, nullptr, userDate, sizeof(userDate));
    ASSERT_STREQ(userDate, "03.09.13") << "the user format did not take";
    EXPECT_EQ(Formatted(&night), "2013-09-03 01:08:10");
    EXPECT_EQ(Formatted(&afternoon), "2013-09-03 13:08:10");
}

TEST(FormatDateTime, NullMeansNowAndABadTimeGivesAnEmptyText) {
    SYSTEMTIME before;
    ::GetLocalTime(&before);
    std::string now = Formatted(nullptr);
    SYSTEMTIME after;
    ::GetLocalTime(&after);
    before.wMilliseconds = after.wMilliseconds = 0;
    EXPECT_GE(now, Formatted(&before));
    EXPECT_LE(now, Formatted(&after));
    EXPECT_EQ(now.size(), 19u);

    const SYSTEMTIME thirteenthMonth = Time(2013, 13, 3, 1, 8, 10);
    EXPECT_EQ(Formatted(&thirteenthMonth), "");
}

TEST(CreateFolderChain, CreatesEveryMissingFolderBelowTheDrive) {
    TempInstallDir base(false);
    const std::string logs = base.File("A\\B\\Logs");
    EXPECT_EQ(CreateFolderChain(logs.c_str()), 1);
    EXPECT_TRUE(FolderExists(base.File("A")));
    EXPECT_TRUE(FolderExists(base.File("A\\B")));
    EXPECT_TRUE(FolderExists(logs));

    EXPECT_EQ(CreateFolderChain(logs.c_str()), 1) << "an existing chain is fine";
    EXPECT_EQ(CreateFolderChain((logs + "\\").c_str()), 1);
    EXPECT_EQ(EnsureFolder(logs.c_str()), 1);
}

TEST(CreateFolderChain, AFileInTheWayBecomesAFolder) {
    TempInstallDir base(false);
    ASSERT_TRUE(base.Write("A\\B", "not a folder"));
    ::SetFileAttributesA(base.File("A\\B").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(CreateFolderChain(base.File("A\\B\\Logs").c_str()), 1);
    EXPECT_TRUE(FolderExists(base.File("A\\B")));
    EXPECT_TRUE(FolderExists(base.File("A\\B\\Logs")));

    ASSERT_TRUE(base.Write("C", "not a folder"));
    EXPECT_EQ(EnsureFolder(base.File("C").c_str()), 1);
    EXPECT_TRUE(FolderExists(base.File("C")));
}

TEST(CreateFolderChain, RefusesWhatItCannotBuild) {
    TempInstallDir base(false);
    char folder[MAX_PATH] = {};
    ::GetCurrentDirectoryA(sizeof(folder), folder);
    ASSERT_TRUE(::SetCurrentDirectoryA(base.Path().c_str()));
    EXPECT_EQ(CreateFolderChain("NoBackslash"), 0);
    EXPECT_FALSE(FolderExists(base.File("NoBackslash")));
    ::SetCurrentDirectoryA(folder);

    const std::string tooLong = base.Path() + "\\" + std::string(600, 'x');
    EXPECT_EQ(CreateFolderChain(tooLong.c_str()), 0);
    EXPECT_EQ(EnsureFolder(base.File("Missing\\Child").c_str()), 0) << "a missing parent is not created";
    EXPECT_FALSE(FolderExists(base.File("Missing")));
}

TEST(GetFileSizeAndTimes, ReadsSizeAndTimesOfAFile) {
    TempInstallDir base(false);
    const std::string path = base.File("sample.bin");
    ASSERT_TRUE(base.Write("sample.bin", std::string(1234, 's')));
    FILETIME written{0x2ABC0000u, 0x01CEA8F0u};  // a fixed moment in 2013
    {
        HANDLE file = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(::SetFileTime(file, nullptr, nullptr, &written));
        ::CloseHandle(file);
    }
    WIN32_FILE_ATTRIBUTE_DATA expected;
    ASSERT_TRUE(::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &expected));

    FILETIME creation{};
    FILETIME lastWrite{};
    EXPECT_EQ(GetFileSizeAndTimes(path.c_str(), &creation, &lastWrite), 1234u);
    EXPECT_EQ(CompareFileTime(&lastWrite, &written), 0);
    EXPECT_EQ(CompareFileTime(&creation, &expected.ftCreationTime), 0);

    FILETIME creationOnly{};
    EXPECT_EQ(GetFileSizeAndTimes(path.c_str(), &creationOnly, nullptr), 1234u);
    EXPECT_EQ(CompareFileTime(&creationOnly, &expected.ftCreationTime), 0);
    EXPECT_EQ(GetFileSizeAndTimes(path.c_str(), nullptr, nullptr), 1234u);
}

TEST(GetFileSizeAndTimes, EmptyMissingAndFoldersGiveZero) {
    TempInstallDir base(false);
    ASSERT_TRUE(base.Write("empty.bin", ""));
    FILETIME lastWrite{};
    EXPECT_EQ(GetFileSizeAndTimes(base.File("empty.bin").c_str(), nullptr, &lastWrite), 0u);
    EXPECT_NE(lastWrite.dwHighDateTime, 0u) << "an empty file is opened all the same";

    FILETIME untouched{1, 2};
    EXPECT_EQ(GetFileSizeAndTimes(base.File("missing.bin").c_str(), nullptr, &untouched), 0u);
    EXPECT_EQ(untouched.dwLowDateTime, 1u);
    EXPECT_FALSE(FileExists(base.File("missing.bin"))) << "never created";
    EXPECT_EQ(GetFileSizeAndTimes(base.Path().c_str(), nullptr, nullptr), 0u);
}

TEST(ExpandShortPath, WidensShortNamesAndLeavesTheRestAlone) {
    TempInstallDir base(false);
    ASSERT_TRUE(base.Write("Long Folder Name\\Some Long File Name.document", "x"));
    const std::string longPath = base.File("Long Folder Name\\Some Long File Name.document");
    char path[260] = {};
    ASSERT_GT(::GetShortPathNameA(longPath.c_str(), path, sizeof(path)), 0u);
    ASSERT_NE(std::strchr(path, '~'), nullptr) << path;
    ExpandShortPath(path);
    EXPECT_EQ(lstrcmpiA(path, longPath.c_str()), 0) << path;

    std::strcpy(path, longPath.c_str());
    ExpandShortPath(path);
    EXPECT_STREQ(path, longPath.c_str());

    const char* missing = "C:\\NOSUCH~1\\FILE~1.TXT";
    std::strcpy(path, missing);
    ExpandShortPath(path);
    EXPECT_STREQ(path, missing) << "a path that cannot be widened stays as it was";
}

}  // namespace
