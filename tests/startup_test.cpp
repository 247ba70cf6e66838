// Start-up of kxscan.exe as a real child process: no window without
// arguments, the window's basic life, the settings read before it and the
// updater run after it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/startup.h"
#include "tests/support/test_support.h"

namespace {

using kxtest::ChildProcess;
using kxtest::ProductRegistry;
using kxtest::TempInstallDir;

constexpr const char* kConfigKey = "SOFTWARE\\Tarnwick Systems\\Korvex\\Events\\config";

// Prints what start-up read, for the given switches set on the command line.
KX_PROBE(startup_settings) {
    StartupOptions options;
    for (const std::string& arg : args) {
        if (arg == "quick") options.quickScan = 1;
        if (arg == "autocure") options.autoCure = 1;
    }
    LoadStartupSettings(&options);
    std::printf("autoCure=%lu\nmask=%lu\ndir=%s\next=%s\ntitle=%s\n", options.autoCure, options.debugMask,
                options.installDir, options.quickScanExtensions, options.title);
    return 0;
}

std::string Field(const std::string& output, const std::string& name) {
    size_t start = output.find(name + "=");
    if (start == std::string::npos) return "<missing>";
    start += name.size() + 1;
    size_t end = output.find_first_of("\r\n", start);
    return output.substr(start, end - start);
}

std::string ShippedTitle() {
    char title[260] = {};
    std::string library = kxtest::BuildFolder() + "\\locale\\eng.lib";
    ::GetPrivateProfileStringA("SCANNER", "TITLE", "", title, sizeof(title), library.c_str());
    return title;
}

TEST(StartupSettings, CureTypeOneTurnsAutoCureOnButZeroNeverTurnsItOff) {
    ProductRegistry registry;
    TempInstallDir install;
    install.Register();

    install.Write("qmrkx.ini", "[MAIN]\ncuretype=1\n");
    EXPECT_EQ(Field(kxtest::RunProbe("startup_settings").output, "autoCure"), "1");

    install.Write("qmrkx.ini", "[main]\nCURETYPE=0\n");
    EXPECT_EQ(Field(kxtest::RunProbe("startup_settings").output, "autoCure"), "0");
    EXPECT_EQ(Field(kxtest::RunProbe("startup_settings", {"autocure"}).output, "autoCure"), "1");

    install.Write("qmrkx.ini", "[MAIN]\ncuretype=2\n");
    EXPECT_EQ(Field(kxtest::RunProbe("startup_settings").output, "autoCure"), "0");
}

TEST(StartupSettings, QuickScanListTitleAndDebugMask) {
    ProductRegistry registry;
    TempInstallDir install;
    install.Register();

    std::string output = kxtest::RunProbe("startup_settings").output;
    EXPECT_EQ(Field(output, "dir"), install.Path());
    EXPECT_EQ(Field(output, "ext"), "") << "the list is read only for a quick scan";
    EXPECT_EQ(Field(output, "mask"), "0");
    EXPECT_EQ(Field(output, "title"), ShippedTitle());
    EXPECT_FALSE(ShippedTitle().empty());

    EXPECT_EQ(Field(kxtest::RunProbe("startup_settings", {"quick"}).output, "ext"), "exe,com,bat,doc,ppt,xls");
    install.Write("qmshield.sys", "[SYSTEM]\nShell=exe,scr,dll\n");
    EXPECT_EQ(Field(kxtest::RunProbe("startup_settings", {"quick"}).output, "ext"), "exe,scr,dll");

    kxtest::RegSetDword("SOFTWARE\\Tarnwick Systems\\Korvex", "DbgLevel", 3);
    EXPECT_EQ(Field(kxtest::RunProbe("startup_settings").output, "mask"), "3");
}

// Files and folders directly inside `folder`, for before/after comparisons.
std::string Listing(const std::string& folder) {
    std::string names;
    WIN32_FIND_DATAA entry;
    HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names += std::string(entry.cFileName) + "|";
    while (::FindNextFileA(find, &entry));
    ::FindClose(find);
    return names;
}

TEST(Startup, WithoutArgumentsEndsAtOnceAndTouchesNothing) {
    ProductRegistry registry;
    TempInstallDir install;
    std::string before = Listing(install.Path());

    ChildProcess child;
    ASSERT_TRUE(kxtest::StartKxscan(&child, install, ""));
    EXPECT_EQ(child.FindWindow(1500), nullptr);
    ASSERT_TRUE(child.Wait(10000)) << "kxscan.exe without arguments kept running";
    EXPECT_EQ(child.ExitCode(), 0u);

    EXPECT_FALSE(kxtest::RegKeyExists("SOFTWARE\\Tarnwick Systems"));
    EXPECT_EQ(Listing(install.Path()), before);
}

// Starts kxscan.exe on a folder and waits for its window.
HWND OpenScanWindow(ChildProcess* child, const TempInstallDir& install,
                    const std::map<std::string, std::string>& environment = {}) {
    if (!kxtest::StartKxscan(child, install, kxtest::Quote(install.Path()), environment)) return nullptr;
    return child->FindWindow(15000);
}

TEST(Startup, WindowOpensWithTitleIgnoresEscAndEnterAndClosesByItsButton) {
    ProductRegistry registry;
    TempInstallDir install;
    install.Register();

    ChildProcess child;
    HWND window = OpenScanWindow(&child, install);
    ASSERT_NE(window, nullptr);

    char title[260] = {};
    ::GetWindowTextA(window, title, sizeof(title));
    EXPECT_EQ(std::string(title), ShippedTitle());
    RECT rect{};
    ::GetWindowRect(window, &rect);
    EXPECT_EQ(rect.right - rect.left, 594);
    EXPECT_EQ(rect.bottom - rect.top, 300);
    for (int id : {1001, 1002, 1003, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1012})
        EXPECT_NE(::GetDlgItem(window, id), nullptr) << "control " << id;

    for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
        ::PostMessageA(window, WM_KEYDOWN, key, 0);
        ::PostMessageA(::GetDlgItem(window, 1011), WM_KEYDOWN, key, 0);
    }
    EXPECT_FALSE(child.Wait(1000)) << "Esc or Enter closed the window";
}

TEST(Startup, CloseButtonEndsTheProcess) {
    ProductRegistry registry;
    TempInstallDir install;
    install.Register();

    ChildProcess child;
    HWND window = OpenScanWindow(&child, install);
    ASSERT_NE(window, nullptr);
    kxtest::ClickButton(window, 1008);
    EXPECT_TRUE(child.Wait(10000));
    EXPECT_FALSE(install.Exists("update.log")) << "the updater ran without being asked";
}

// Opens and closes the window with ExecuteUpdate preset; returns the ms that
// the process lived after the close click.
DWORD CloseWithUpdate(const TempInstallDir& install, const std::map<std::string, std::string>& environment = {}) {
    ChildProcess child;
    HWND window = OpenScanWindow(&child, install, environment);
    if (!window) return 0;
    DWORD clicked = ::GetTickCount();
    kxtest::ClickButton(window, 1008);
    EXPECT_TRUE(child.Wait(20000));
    return ::GetTickCount() - clicked;
}

TEST(Startup, ExecuteUpdateOneRunsTheUpdaterWaitsForItAndResetsTheValue) {
    ProductRegistry registry;
    TempInstallDir install;
    install.Register();
    kxtest::RegSetDword(kConfigKey, "ExecuteUpdate", 1);

    DWORD lived = CloseWithUpdate(install, {{"KXUPDATE_DELAY_MS", "1500"}});
    EXPECT_GE(lived, 1400u) << "kxscan.exe did not wait for the updater";
    EXPECT_EQ(install.Read("update.log"), "\"" + install.Path() + "\\update.exe\" /hide /scan\n");
    DWORD value = 99;
    EXPECT_TRUE(kxtest::RegGetDword(kConfigKey, "ExecuteUpdate", &value));
    EXPECT_EQ(value, 0u);
}

TEST(Startup, ExecuteUpdateTwoRunsNothingAndStays) {
    ProductRegistry registry;
    TempInstallDir install;
    install.Register();
    kxtest::RegSetDword(kConfigKey, "ExecuteUpdate", 2);

    CloseWithUpdate(install);
    EXPECT_FALSE(install.Exists("update.log"));
    DWORD value = 0;
    EXPECT_TRUE(kxtest::RegGetDword(kConfigKey, "ExecuteUpdate", &value));
    EXPECT_EQ(value, 2u);
}

TEST(Startup, UpdaterThatCannotStartStillResetsTheValue) {
    ProductRegistry registry;
    TempInstallDir install;
    install.Register();
    ::DeleteFileA(install.File("update.exe").c_str());
    kxtest::RegSetDword(kConfigKey, "ExecuteUpdate", 1);

    CloseWithUpdate(install);
    DWORD value = 99;
    EXPECT_TRUE(kxtest::RegGetDword(kConfigKey, "ExecuteUpdate", &value));
    EXPECT_EQ(value, 0u);
}

}  // namespace
