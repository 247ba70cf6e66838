// The option table of the command line.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "app/startup_options.h"

namespace {

StartupOptions Parse(std::initializer_list<const char*> arguments) {
    std::vector<char*> argv{const_cast<char*>("kxscan.exe")};
    for (const char* argument : arguments) argv.push_back(const_cast<char*>(argument));
    StartupOptions options;
    ApplyOptionArguments(static_cast<int>(argv.size()), argv.data(), &options);
    return options;
}

bool NoSwitch(const StartupOptions& o) {
    return !o.systemAreas && !o.closeWhenClean && !o.targetsGiven && !o.allLocalDrives && !o.quickScan &&
           !o.hiddenWindow && !o.autoCure;
}

TEST(CommandLine, EachOptionSetsItsSwitches) {
    EXPECT_EQ(Parse({"/PR"}).systemAreas, 1u);
    EXPECT_EQ(Parse({"/QS"}).quickScan, 1u);
    EXPECT_EQ(Parse({"/ED"}).quickScan, 1u);
    EXPECT_EQ(Parse({"/HD"}).hiddenWindow, 1u);
    EXPECT_EQ(Parse({"/AC"}).autoCure, 1u);
    EXPECT_EQ(Parse({"/AL"}).allLocalDrives, 1u);
    StartupOptions closed = Parse({"/SC"});
    EXPECT_EQ(closed.closeWhenClean, 1u);
    EXPECT_EQ(closed.targetsGiven, 1u);
}

TEST(CommandLine, OnlyTheFirstThreeCharactersCountWithoutCase) {
    EXPECT_EQ(Parse({"/hd"}).hiddenWindow, 1u);
    EXPECT_TRUE(NoSwitch(Parse({"/HIDE"})));  // begins with /HI
    EXPECT_EQ(Parse({"/scan"}).closeWhenClean, 1u);
    EXPECT_EQ(Parse({"/Scxyz"}).closeWhenClean, 1u);
    EXPECT_EQ(Parse({"/pRoCeSs"}).systemAreas, 1u);
    EXPECT_TRUE(NoSwitch(Parse({"/P"})));
    EXPECT_TRUE(NoSwitch(Parse({"/"})));
    EXPECT_TRUE(NoSwitch(Parse({""})));
    EXPECT_TRUE(NoSwitch(Parse({"-PR", "PR", "/XX"})));
}

TEST(CommandLine, TargetsAreLeftAloneAndOptionsMayRepeat) {
    EXPECT_TRUE(NoSwitch(Parse({"C:\\Users", "D:\\a\"E:\\b", "C:\\PR"})));

    StartupOptions options = Parse({"C:\\x", "/ac", "/AC", "/hd", "D:\\y", "/HD", "/qs"});
    EXPECT_EQ(options.autoCure, 1u);
    EXPECT_EQ(options.hiddenWindow, 1u);
    EXPECT_EQ(options.quickScan, 1u);
    EXPECT_EQ(options.systemAreas, 0u);
    EXPECT_EQ(options.closeWhenClean, 0u);
    EXPECT_EQ(options.allLocalDrives, 0u);
}

}  // namespace
