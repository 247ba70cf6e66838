// kxscan.exe /AL end to end: every fixed drive in the system's order, and the
// path arguments left alone. The test prefix cannot show that (its Z: is the
// Linux root), so the run happens in a throw-away copy of it whose only fixed
// drives are its own C: and two test folders as D: and E:.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

// $1: the booted prefix to copy, $2: the work folder (d, e, kx and this
// script). Runs kxscan.exe in the copy under the copy's own wineserver until
// the test creates "stop" (or 90 s pass), then removes the whole work folder:
// rm never follows the drive links, so the test folders go only once.
constexpr const char* kScript = R"(#!/bin/sh
source=$1
work=$2
prefix=$work/prefix
# Nothing of the copy's server may hold the test runner's output.
exec </dev/null >/dev/null 2>&1
# The copy gets a server of its own, never the test prefix's.
unset WINESERVERSOCKET
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
key='HKLM\SOFTWARE\Tarnwick Systems\Korvex'
if {
    # The socket file belongs to the original's running server.
    cp -a "$source" "$prefix" && rm -f "$prefix/wineserver" &&
    rm -f "$prefix/dosdevices/z:" &&
    ln -s "$work/d" "$prefix/dosdevices/d:" && ln -s "$work/e" "$prefix/dosdevices/e:" &&
    mv "$work/kx" "$prefix/drive_c/kx" &&
    timeout 30 $wine reg add "$key" /v InstallPath /d 'C:\kx' /f /reg:64 &&
    timeout 30 $wine reg add "$key" /v DbgLevel /t REG_DWORD /d 2 /f /reg:64
} >"$work/setup.log" 2>&1; then
    (cd "$prefix/drive_c/kx" && exec timeout 90 $wine 'C:\kx\kxscan.exe' /AL 'D:\twice.txt') &
else
    touch "$work/failed"
fi
i=0
while [ ! -e "$work/stop" ] && [ $i -lt 900 ]; do sleep 0.1; i=$((i + 1)); done
timeout 20 /usr/lib/wine/wineserver -k
timeout 20 /usr/lib/wine/wineserver -w
cd / && rm -rf "$work"
)";

// Everything of C: but the installation is left out, so the run stays short
// while C:\ is still a target. The log is left out so it never scans itself.
constexpr const char* kIni =
    "[main]\r\nexcludepath=C:\\windows|C:\\users|C:\\ProgramData|C:\\Program Files|C:\\kx\\Logs\r\n";

constexpr DWORD kScanLimitMs = 60000;
constexpr DWORD kQuietMs = 1500;

// The work folder, seen from this prefix (Z:\tmp\...) and from Linux (/tmp/...).
class DrivePrefix {
public:
    DrivePrefix() {
        char name[64];
        std::snprintf(name, sizeof(name), "kxscan_drives_%lu_%lu", ::GetCurrentProcessId(), ::GetTickCount());
        unix_ = std::string("/tmp/") + name;
        path_ = std::string("Z:\\tmp\\") + name;
        made_ = ::CreateDirectoryA(path_.c_str(), nullptr) != 0;
    }

    // The script removes the folder; without it the folder holds only what
    // this test wrote, and no links.
    ~DrivePrefix() {
        if (!made_) return;
        if (!started_) {
            kxtest::RemoveTree(path_);
            return;
        }
        kxtest::WriteFile(File("stop"), "");
        for (DWORD start = ::GetTickCount(); kxtest::FolderExists(path_) && ::GetTickCount() - start < 40000;)
            ::Sleep(100);
        EXPECT_FALSE(kxtest::FolderExists(path_)) << "the script did not clean up " << unix_;
    }

    DrivePrefix(const DrivePrefix&) = delete;
    DrivePrefix& operator=(const DrivePrefix&) = delete;

    bool Made() const { return made_; }
    std::string File(const std::string& relative) const { return path_ + "\\" + relative; }

    bool Write(const std::string& relative, const std::string& content) const {
        std::string path = File(relative);
        for (size_t slash = path.find('\\', path_.size() + 1); slash != std::string::npos;
             slash = path.find('\\', slash + 1))
            ::CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
        return kxtest::WriteFile(path, content);
    }

    bool CopyFromBuild(const std::string& relative) const {
        return Write("kx\\" + relative, kxtest::ReadFile(kxtest::BuildFolder() + "\\" + relative));
    }

    // Starts the script on a copy of `sourcePrefix` (a Linux path).
    bool Start(const std::string& sourcePrefix) {
        if (!Write("run.sh", kScript)) return false;
        std::string command = "Z:\\bin\\sh " + kxtest::Quote(unix_ + "/run.sh") + " " + kxtest::Quote(sourcePrefix) +
                              " " + kxtest::Quote(unix_);
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        started_ =
            ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info) != 0;
        // Wine gives no handle to wait on for a Linux child: the files tell.
        if (info.hProcess) ::CloseHandle(info.hProcess);
        if (info.hThread) ::CloseHandle(info.hThread);
        return started_;
    }

private:
    std::string path_;
    std::string unix_;
    bool made_ = false;
    bool started_ = false;
};

// The paths of the "ScanVirus (path) (result)" lines, in log order.
std::vector<std::string> ScannedPaths(const std::string& log) {
    std::vector<std::string> paths;
    const std::string mark = "ScanVirus (";
    for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) {
        size_t start = at + mark.size();
        size_t end = log.find(") (", start);
        if (end == std::string::npos) break;
        paths.push_back(log.substr(start, end - start));
    }
    return paths;
}

bool OnDriveC(const std::string& path) { return path.compare(0, 3, "C:\\") == 0; }

TEST(AllLocalDrives, EveryFixedDriveInOrderAndNoPathArguments) {
    const char* testPrefix = std::getenv("WINEPREFIX");
    ASSERT_TRUE(testPrefix && *testPrefix) << "the Linux path of this test's prefix is needed to copy it";
    ASSERT_TRUE(kxtest::FileExists("Z:\\bin\\sh"));

    DrivePrefix work;
    ASSERT_TRUE(work.Made());
    // Given as a path argument too: ignored, it is scanned once, with D:.
    for (const char* name : {"d\\a.txt", "d\\sub\\b.txt", "d\\twice.txt", "e\\c.txt", "e\\deep\\d.txt"})
        ASSERT_TRUE(work.Write(name, name));
    for (const char* file : {"kxscan.exe", "kxsoc.dll", "locale\\default.lib", "locale\\eng.lib", "locale\\jpn.lib",
                             "locale\\kor.lib"})
        ASSERT_TRUE(work.CopyFromBuild(file)) << file;
    ASSERT_TRUE(work.Write("kx\\qmrkx.ini", kIni));
    ASSERT_TRUE(::CreateDirectoryA(work.File("kx\\Logs").c_str(), nullptr));
    ASSERT_TRUE(work.Start(testPrefix));

    const std::string logPath = work.File("prefix\\drive_c\\kx\\Logs\\kxlog.01");
    const std::string lastLine = "ScanVirus (E:\\deep\\d.txt)";
    std::string log;
    DWORD start = ::GetTickCount();
    DWORD quietSince = 0;
    // Past the last expected file the log must stay quiet a while, so that
    // anything scanned after the drives shows too.
    while (::GetTickCount() - start < kScanLimitMs && !kxtest::FileExists(work.File("failed"))) {
        std::string now = kxtest::ReadFile(logPath);
        if (now != log || now.find(lastLine) == std::string::npos) {
            log = now;
            quietSince = ::GetTickCount();
        } else if (::GetTickCount() - quietSince >= kQuietMs) {
            break;
        }
        ::Sleep(100);
    }
    ASSERT_FALSE(kxtest::FileExists(work.File("failed"))) << kxtest::ReadFile(work.File("setup.log"));
    ASSERT_NE(log.find(lastLine), std::string::npos) << "no end of the scan within the time limit:\n" << log;

    std::vector<std::string> paths = ScannedPaths(log);
    ASSERT_FALSE(paths.empty());
    EXPECT_TRUE(OnDriveC(paths.front())) << "C: comes first:\n" << log;
    size_t firstOther = 0;
    while (firstOther < paths.size() && OnDriveC(paths[firstOther])) ++firstOther;
    std::vector<std::string> onC(paths.begin(), paths.begin() + firstOther);
    std::vector<std::string> others(paths.begin() + firstOther, paths.end());
    EXPECT_NE(std::find(onC.begin(), onC.end(), "C:\\kx\\kxscan.exe"), onC.end()) << log;
    EXPECT_EQ(others, (std::vector<std::string>{"D:\\a.txt", "D:\\sub\\b.txt", "D:\\twice.txt", "E:\\c.txt",
                                                "E:\\deep\\d.txt"}))
        << "D: then E:, each file once, nothing of C: after them and no other drive:\n"
        << log;
}

}  // namespace
