// The target list from the command line, the single-instance mutex name, and
// a second kxscan.exe on the same targets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/scan_targets.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::string> Targets(std::vector<std::string> args) {
    args.insert(args.begin(), "kxscan.exe");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    ScanTargetList list;
    int added = AddArgumentTargets(&list, static_cast<int>(argv.size()), argv.data());
    std::vector<std::string> paths;
    for (const ScanTarget& target : list) paths.push_back(target.path);
    EXPECT_EQ(added, static_cast<int>(paths.size()));
    return paths;
}

using Paths = std::vector<std::string>;

TEST(ScanTargets, OneTargetPerDriveLetterCutAtQuotes) {
    EXPECT_EQ(Targets({"Q:\\a\"R:\\b"}), (Paths{"Q:\\a", "R:\\b"}));
    EXPECT_EQ(Targets({"Q:\\a R:\\b"}), (Paths{"Q:\\a R:\\b", "R:\\b"}));
    EXPECT_EQ(Targets({"Q:\\one", "R:\\two"}), (Paths{"Q:\\one", "R:\\two"}));
    EXPECT_EQ(Targets({"no colon here", "/PR", "/X:\\y"}), Paths{});
    EXPECT_EQ(Targets({"C:"}), Paths{"C:\\"});
    EXPECT_EQ(Targets({"Q:\\not\\there.txt"}), Paths{"Q:\\not\\there.txt"}) << "kept as given";
}

TEST(ScanTargets, LeadingColonAndOverlongArgumentsStayInTheirBuffers) {
    EXPECT_EQ(Targets({":"}), Paths{});
    EXPECT_EQ(Targets({":Q:\\a"}), Paths{"Q:\\a"});
    EXPECT_EQ(Targets({"::"}), Paths{"?:\\"}) << "the first colon is already marked when the second is cut";

    std::string longArgument = "Q:\\" + std::string(700, 'x');
    Paths paths = Targets({longArgument});
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], longArgument.substr(0, 519));
}

TEST(ScanTargets, FoundPathsBecomeFullPaths) {
    kxtest::TempInstallDir folder(false);
    ASSERT_TRUE(folder.Write("found.txt", "x"));
    char previous[MAX_PATH] = {};
    ::GetCurrentDirectoryA(sizeof(previous), previous);
    ASSERT_TRUE(::SetCurrentDirectoryA(folder.Path().c_str()));
    ScanTargetList list;
    AddScanTarget(&list, "found.txt");
    AddScanTarget(&list, "Q:");
    ::SetCurrentDirectoryA(previous);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_STRCASEEQ(list[0].path, folder.File("found.txt").c_str());
    EXPECT_STREQ(list[1].path, "Q:\\");
}

ScanTargetList List(const Paths& paths) {
    ScanTargetList list;
    for (const std::string& path : paths) {
        ScanTarget target{};
        std::snprintf(target.path, sizeof(target.path), "%s", path.c_str());
        list.push_back(target);
    }
    return list;
}

std::string MutexName(const Paths& paths) {
    char name[32];
    ScanMutexName(List(paths), name, sizeof(name));
    return name;
}

TEST(ScanMutex, NameIsTheSumOfLowerCasedChecksums) {
    EXPECT_EQ(MutexName({}), "Kxscan_0");
    EXPECT_EQ(MutexName({"C:\\"}), "Kxscan_f2a46fcd");
    EXPECT_EQ(MutexName({"c:\\"}), "Kxscan_f2a46fcd");
    EXPECT_EQ(MutexName({"C:\\Data", "D:\\Backup\\"}), MutexName({"d:\\BACKUP\\", "c:\\data"}));
    EXPECT_NE(MutexName({"C:\\Data"}), MutexName({"C:\\Data2"}));
}

TEST(ScanMutex, SecondOwnerOfTheSameTargetsIsRefused) {
    kxtest::TempInstallDir folder(false);
    ScanTargetList list = List({folder.Path()});
    EXPECT_EQ(IsScanRunning(list), 0);
    EXPECT_EQ(IsScanRunning(list), 1);
}

TEST(ScanMutex, SecondProcessWithTheSameTargetsEndsWithoutScanning) {
    kxtest::ProductRegistry registry;
    kxtest::TempInstallDir install;
    install.Register();
    ASSERT_TRUE(::CopyFileA((kxtest::BuildFolder() + "\\kxsoc.dll").c_str(), install.File("kxsoc.dll").c_str(), FALSE));
    ASSERT_TRUE(::CreateDirectoryA(install.File("Logs").c_str(), nullptr));
    ASSERT_TRUE(kxtest::RegSetDword("SOFTWARE\\Tarnwick Systems\\Korvex", "DbgLevel", 2));
    ASSERT_TRUE(install.Write("data\\one.txt", "hello"));

    kxtest::ChildProcess first;
    ASSERT_TRUE(kxtest::StartKxscan(&first, install, kxtest::Quote(install.File("data"))));
    HWND window = first.FindWindow(20000);
    ASSERT_NE(window, nullptr);

    kxtest::ChildProcess second;
    std::string upper = install.File("DATA");
    ASSERT_TRUE(kxtest::StartKxscan(&second, install, kxtest::Quote(upper)));
    EXPECT_TRUE(second.Wait(10000)) << "the second process must end by itself";
    EXPECT_TRUE(::IsWindow(window)) << "the first one's window stays";

    ::Sleep(1500);
    std::string log = install.Read("Logs\\kxlog.01");
    std::string line = "ScanVirus (" + install.File("data\\one.txt") + ")";
    size_t first_hit = log.find(line);
    EXPECT_NE(first_hit, std::string::npos) << log;
    EXPECT_EQ(log.find(line, first_hit + 1), std::string::npos) << "scanned once only:\n" << log;

    ::PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(first.Wait(10000));
}

}  // namespace
