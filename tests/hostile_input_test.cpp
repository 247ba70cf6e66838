// What any user can write, met by the elevated scan: a registry key deleted
// during the walk, names Win32 path rules redirect, a UTF-8 ANSI code page
// and folder links. Cures through links are in engine_test.cpp, lost output
// and empty logs in kxlogcat_test.cpp.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/install_paths.h"
#include "scan/autostart.h"
#include "scan/file_walk.h"
#include "scan/scan_job.h"
#include "tests/support/kxscan_run.h"


namespace {


// A folder under /tmp holding an EICAR file "eicar", which `script` makes a
// tree of; removed at the end.
struct UnixTree {
    std::string name = "kxscan_hostile_" + std::to_string(::GetCurrentProcessId()), path = "Z:\\tmp\\" + name;
    explicit UnixTree(const std::string& script) {
        ::CreateDirectoryA(path.c_str(), nullptr);
        kxtest::WriteFile(path + "\\eicar", "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*");
        kxtest::Shell("cd /tmp/" + name + " && " + script);
    }
    ~UnixTree() { kxtest::Shell("rm -rf /tmp/" + name); }
};

// A scan with kxsoc.dll of the build, and what it found, as the window gets it.
struct Scan : ScanReports {
    std::vector<std::string> found;
    ScanJob job{this};
    Scan() { job.LoadEngine(kxtest::BuildFolder().c_str()); }
    void ProgressRange(DWORD) override {}
    void Finding(LONG, LONG, const char*, const char* path) override { found.push_back(path); }
    void ScanEnded() override {}
    DWORD CountAndScan(const std::string& target, int recurse = 1) {
        char path[520];
        DWORD count = CountFolderFiles(std::strcpy(path, target.c_str()), recurse, job);
        ScanFolder(std::strcpy(path, target.c_str()), recurse, job);
        return count;
    }
};

LONG WINAPI RemoveServiceOnScan(const char* path, DWORD, DWORD, char*, LONG*, const FILETIME*, DWORD) {
    if (std::strstr(path, "kx-removed"))
        ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\KxGone");
    return 0;
}

// Without the fix the walk of the deleted key runs for hours: the test's
// time-out fails it.
TEST(HostileRegistry, AKeyDeletedDuringTheWalkEndsItsWalk) {
    kxtest::ScopedHklmKey service("System\\CurrentControlSet\\Services\\KxGone");
    for (const char* sub : {"\\A", "\\B"})
        ASSERT_TRUE(kxtest::RegSetString(service.Path() + sub, "ImagePath", "C:\\kx-removed"));
    ScanJob job;
    job.engine.scanFile = RemoveServiceOnScan;
    ScanAutostart(1, job);
    EXPECT_FALSE(kxtest::RegKeyExists(service.Path()));
}

TEST(HostileNames, DeviceNamesAndTrailingDotsAreFoundAsThemselves) {
    UnixTree tree("for n in nul.txt aux.c com1 'evil.exe.' 'blank.exe '; do cp eicar \"$n\"; done; rm eicar");
    Scan scan;
    EXPECT_EQ(scan.CountAndScan(tree.path), 5u);
    const std::string at = tree.path + "\\";
    scan.CountAndScan(at + "evil.exe.", 0);  // a named target
    EXPECT_EQ(scan.found, (std::vector<std::string>{at + "aux.c", at + "blank.exe ", at + "com1", at + "evil.exe.",
                                                    at + "nul.txt", at + "evil.exe."}));
    EXPECT_EQ(scan.job.filesVisited, 6u);
}

// Windows refuses the best-fit and used-default arguments with UTF-8 (Wine 8
// takes them): this program's import of the conversion is pointed at one
// that refuses them too.
using Convert = int(WINAPI*)(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL);
KXTEST_IMPORT(Convert, g_import, WideCharToMultiByte, 32);
Convert g_convert;

int WINAPI ConvertAsWindows(UINT page, DWORD flags, LPCWCH in, int inSize, LPSTR out, int size, LPCCH fill,
                            LPBOOL used) {
    const bool utf8 = page == CP_UTF8 || (page == CP_ACP && ::GetACP() == CP_UTF8);
    if (utf8 && ((flags & ~WC_ERR_INVALID_CHARS) || fill || used)) return ::SetLastError(ERROR_INVALID_PARAMETER), 0;
    return g_convert(page, flags, in, inSize, out, size, fill, used);
}

KX_PROBE(scan_in_code_page) {
    g_convert = kxtest::PointImportAt(g_import, static_cast<Convert>(ConvertAsWindows));
    Scan scan;
    const DWORD count = scan.CountAndScan(args[0]);
    std::printf("code page %u: %lu counted, %lu visited, %u found\n", ::GetACP(), count,
                static_cast<unsigned long>(scan.job.filesVisited), static_cast<unsigned>(scan.found.size()));
    return 0;
}

TEST(HostileCodePage, AScanUnderUtf8VisitsEveryName) {
    // Wine's ANSI code page is UTF-8 for a language that has no other.
    const char* locales = std::getenv("KXSCAN_LOCPATH");  // where the test set-up makes the glibc locales
    const std::string locale = std::string(locales ? locales : "") + "/hi_IN.UTF-8";
    ASSERT_TRUE(locales);
    kxtest::Shell("[ -d " + locale + " ] || localedef -i hi_IN -f UTF-8 " + locale);
    UnixTree tree("true");
    const std::wstring at(tree.path.begin(), tree.path.end());
    for (const wchar_t* name :
         {L"\uD55C\uAE00.txt", L"\u0444\u0430\u0439\u043B", L"\u0928\u092E\u0938\u094D\u0924\u0947 x.exe"})
        ASSERT_TRUE(::CopyFileW((at + L"\\eicar").c_str(), (at + L"\\" + name).c_str(), TRUE));
    const std::string output = kxtest::RunProbeInLocale("hi_IN", "scan_in_code_page", {tree.path}).output;
    EXPECT_NE(output.find("code page 65001: 4 counted, 4 visited, 4 found"), std::string::npos) << output;
}

TEST(HostileFolders, LinksAreNotEnteredSoTheWalkEndsAndExclusionsHold) {
    UnixTree tree("mkdir -p T/sub E && cp eicar T/a && cp eicar T/sub/b && mv eicar E/ && ln -s .. T/sub/up && "
                  "ln -s ../E T/ex");
    LoadExcludedPaths();
    auto& exclusions = const_cast<ExcludedPathTable&>(ExcludedPaths());
    ParseExcludedPaths((tree.path + "\\E").c_str(), &exclusions);
    Scan scan;
    const std::string top = tree.path + "\\T";
    EXPECT_EQ(scan.CountAndScan(top), 2u);
    EXPECT_EQ(scan.CountAndScan(top + "\\sub\\up"), 2u) << "a link given as a target is walked";
    EXPECT_EQ(scan.found, (std::vector<std::string>{top + "\\a", top + "\\sub\\b", top + "\\sub\\up\\a",
                                                    top + "\\sub\\up\\sub\\b"}));
    EXPECT_EQ(scan.job.filesVisited, 4u);
    ParseExcludedPaths("", &exclusions);
}

}  // namespace
