// The autostart locations against fixtures in the test prefix's registry and
// an engine that records what reaches it: how each kind of entry becomes a
// path, the order of the locations, count against scan, and stopping.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/startup.h"
#include "scan/autostart.h"
#include "scan/scan_job.h"
#include "tests/support/recording_engine.h"
#include "tests/support/test_support.h"
#include "scan/scan_job.h"

namespace {

using kxtest::RecordingEngine;
using kxtest::RecordScan;
RecordingEngine& g_engine = kxtest::g_recorder;

constexpr REGSAM kView = KEY_WOW64_64KEY;

bool KeyExists(HKEY root, const std::string& key) {
    HKEY handle;
    if (::RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | kView, &handle) != ERROR_SUCCESS) return false;
    ::RegCloseKey(handle);
    return true;
}

// The outermost key of the path that does not exist yet ("" when all do).
std::string FirstMissingKey(HKEY root, const std::string& key) {
    for (size_t end = key.find('\\');; end = key.find('\\', end + 1)) {
        std::string part = key.substr(0, end);
        if (!KeyExists(root, part)) return part;
        if (end == std::string::npos) return "";
    }
}

bool SetValue(HKEY root, const std::string& key, const std::string& name, DWORD type, const std::string& data) {
    HKEY handle;
    if (::RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | kView, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG status = ::RegSetValueExA(handle, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                   static_cast<DWORD>(data.size() + 1));
    ::RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

// One fixture value: the value it replaces is put back (or the value deleted)
// afterwards, and keys it had to create are removed again.
class ScopedValue {
public:
    ScopedValue(HKEY root, std::string key, std::string name, std::string data, DWORD type = REG_SZ)
        : root_(root), key_(std::move(key)), name_(std::move(name)) {
        created_ = FirstMissingKey(root_, key_);
        if (!created_.empty() && root_ == HKEY_LOCAL_MACHINE)
            createdHklm_ = std::make_unique<kxtest::ScopedHklmKey>(created_);
        HKEY handle;
        if (created_.empty() &&
            ::RegOpenKeyExA(root_, key_.c_str(), 0, KEY_READ | kView, &handle) == ERROR_SUCCESS) {
            DWORD size = 0;
            if (::RegQueryValueExA(handle, name_.c_str(), nullptr, &oldType_, nullptr, &size) == ERROR_SUCCESS) {
                old_.resize(size);
                hadValue_ = ::RegQueryValueExA(handle, name_.c_str(), nullptr, &oldType_,
                                               reinterpret_cast<BYTE*>(old_.data()), &size) == ERROR_SUCCESS;
            }
            ::RegCloseKey(handle);
        }
        set_ = SetValue(root_, key_, name_, type, data);
    }
    ~ScopedValue() {
        if (!created_.empty()) {
            if (root_ != HKEY_LOCAL_MACHINE) ::RegDeleteTreeA(root_, created_.c_str());
            return;
        }
        HKEY handle;
        if (::RegOpenKeyExA(root_, key_.c_str(), 0, KEY_SET_VALUE | kView, &handle) != ERROR_SUCCESS) return;
        if (hadValue_)
            ::RegSetValueExA(handle, name_.c_str(), 0, oldType_, reinterpret_cast<const BYTE*>(old_.data()),
                             static_cast<DWORD>(old_.size()));
        else
            ::RegDeleteValueA(handle, name_.c_str());
        ::RegCloseKey(handle);
    }
    bool Set() const { return set_; }

private:
    HKEY root_;
    std::string key_;
    std::string name_;
    std::string created_;
    std::unique_ptr<kxtest::ScopedHklmKey> createdHklm_;
    bool hadValue_ = false;
    bool set_ = false;
    DWORD oldType_ = 0;
    std::string old_;
};

const std::string kCurrentVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const std::string kServices = "System\\CurrentControlSet\\Services";
const std::string kClassData = "{6A1B1D4E-0000-4000-8000-4B5843534E31}";
const std::string kClassName = "{6A1B1D4E-0000-4000-8000-4B5843534E32}";
const std::string kClassWithoutServer = "{6A1B1D4E-0000-4000-8000-4B5843534E33}";
const std::string kHelperObject = "{6A1B1D4E-0000-4000-8000-4B5843534E34}";

std::string SearchedPath(const char* name) {
    char found[260] = {};
    ::SearchPathA(nullptr, name, nullptr, sizeof(found), found, nullptr);
    return found;
}

std::string ExpandedLsass() {
    char expanded[260] = {};
    ::ExpandEnvironmentStringsA("%SystemRoot%\\system32\\lsass.exe", expanded, sizeof(expanded));
    char longPath[260] = {};
    DWORD length = ::GetLongPathNameA(expanded, longPath, sizeof(longPath));
    return length > 0 && length < sizeof(longPath) ? longPath : expanded;
}

// Every kind of entry, one or two per location, and the keys of the classes.
struct AutostartFixtures {
    kxtest::ScopedHklmKey classData{"SOFTWARE\\Classes\\CLSID\\" + kClassData};
    kxtest::ScopedHklmKey className{"SOFTWARE\\Classes\\CLSID\\" + kClassName};
    kxtest::ScopedHklmKey classWithoutServer{"SOFTWARE\\Classes\\CLSID\\" + kClassWithoutServer};
    kxtest::ScopedHklmKey service{kServices + "\\KxTestSvc"};
    std::vector<std::unique_ptr<ScopedValue>> values;

    void Add(HKEY root, const std::string& key, const std::string& name, const std::string& data,
             DWORD type = REG_SZ) {
        values.push_back(std::make_unique<ScopedValue>(root, key, name, data, type));
        EXPECT_TRUE(values.back()->Set()) << key << " " << name;
    }

    AutostartFixtures() {
        HKEY cu = HKEY_CURRENT_USER;
        HKEY lm = HKEY_LOCAL_MACHINE;
        Add(cu, kCurrentVersion + "\\Run", "KxQuoted", "\"C:\\Program Files\\Tool\\tool.exe\" /start");
        Add(cu, kCurrentVersion + "\\RunOnce", "KxRundll", "C:\\WINDOWS\\system32\\RUNDLL32.EXE C:\\x\\y.dll,Start");
        Add(lm, kCurrentVersion + "\\Run", "KxRundllLower", "rundll32.exe C:\\x\\y.dll,Start");
        Add(lm, kCurrentVersion + "\\RunOnce", "KxUnc", "\\\\server\\share\\x.exe");
        Add(lm, kCurrentVersion + "\\RunOnceEx\\KxSub", "1", "C:\\kxtest\\subkey.exe");
        Add(lm, kCurrentVersion + "\\RunServices", "KxSame1", "C:\\kxtest\\same.exe");
        Add(lm, kCurrentVersion + "\\RunServices", "KxSame2", "C:\\KXTEST\\same.exe");
        Add(lm, kCurrentVersion + "\\ShellServiceObjectDelayLoad", "KxObject", kClassData);
        Add(lm, "SOFTWARE\\Classes\\CLSID\\" + kClassData + "\\InProcServer32", "", "C:\\kxtest\\clsid_data.dll");
        Add(lm, kCurrentVersion + "\\Shell Extensions\\Approved", kClassName, "Kx extension");
        Add(lm, kCurrentVersion + "\\Shell Extensions\\Approved", kClassWithoutServer, "Kx without server");
        Add(lm, "SOFTWARE\\Classes\\CLSID\\" + kClassName + "\\InProcServer32", "", "C:\\kxtest\\clsid_name.dll");
        Add(lm, "SOFTWARE\\Classes\\CLSID\\" + kClassWithoutServer, "", "C:\\kxtest\\no_server.dll");
        Add(lm, kCurrentVersion + "\\Explorer\\Browser Helper Objects\\" + kHelperObject, "", "C:\\kxtest\\bho.dll");
        Add(lm, kServices + "\\KxTestSvc", "ImagePath", "%SystemRoot%\\system32\\lsass.exe /x");
        Add(lm, kServices + "\\KxTestSvc\\Parameters", "ServiceDll", "C:\\kxtest\\svc.dll");
        Add(lm, kServices + "\\KxTestSvc\\Parameters\\Deep", "ImagePath", "C:\\kxtest\\deep.exe");
        const std::string winlogon = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
        Add(lm, winlogon, "userinit", "C:\\kxtest\\userinit.exe,");
        Add(lm, winlogon, "Shell", "C:\\kxtest\\shell.exe");
        Add(lm, "System\\CurrentControlSet\\Control\\Session Manager", "BootExecute",
            std::string("C:\\kxtest\\boot.exe\0", 20), REG_MULTI_SZ);
    }
};

class Autostart : public ::testing::Test {
protected:
    void SetUp() override {
        g_engine = RecordingEngine{};
        job.engine.scanFile = RecordScan;
    }
    void TearDown() override { job.engine.scanFile = nullptr; }

    static size_t Occurrences(const std::vector<std::string>& paths, const std::string& path) {
        size_t count = 0;
        for (const std::string& each : paths) count += ::lstrcmpiA(each.c_str(), path.c_str()) == 0;
        return count;
    }
    static bool Mentions(const std::vector<std::string>& paths, const char* part) {
        for (const std::string& each : paths)
            if (each.find(part) != std::string::npos) return true;
        return false;
    }

    ScanJob job;
};

TEST_F(Autostart, EveryKindOfEntryGivesItsPathInLocationOrder) {
    AutostartFixtures fixtures;
    std::string rundll32 = SearchedPath("rundll32.exe");
    ASSERT_FALSE(rundll32.empty());
    const std::vector<std::string> expected = {
        "C:\\Program Files\\Tool\\tool.exe",   // quoted, with an argument
        "C:\\x\\y.dll",                         // RUNDLL32.EXE host dropped
        rundll32,                               // rundll32.exe found by the search
        "C:\\kxtest\\same.exe",                 // twice in a row, once here
        "C:\\kxtest\\clsid_data.dll",           // CLSID as data
        "C:\\kxtest\\clsid_name.dll",           // CLSID as value name
        "C:\\kxtest\\deep.exe",                 // deepest service key first
        ExpandedLsass(),                        // variables expanded, argument cut
        "C:\\kxtest\\svc.dll",                  // ServiceDll after every ImagePath
        "C:\\kxtest\\userinit.exe",
        "C:\\kxtest\\shell.exe",
        "C:\\kxtest\\boot.exe",
    };

    DWORD counted = ScanAutostart(0, job);
    DWORD scanned = ScanAutostart(1, job);
    const std::vector<std::string>& paths = g_engine.paths;
    EXPECT_EQ(counted, scanned);
    EXPECT_EQ(scanned, paths.size());
    EXPECT_EQ(job.filesVisited, paths.size());

    size_t at = 0;
    for (const std::string& path : expected) {
        EXPECT_EQ(Occurrences(paths, path), 1u) << path;
        size_t found = at;
        while (found < paths.size() && ::lstrcmpiA(paths[found].c_str(), path.c_str()) != 0) ++found;
        EXPECT_LT(found, paths.size()) << path << " missing or out of order";
        if (found < paths.size()) at = found + 1;
    }
    EXPECT_FALSE(Mentions(paths, "server")) << "a network path gives nothing";
    EXPECT_FALSE(Mentions(paths, "subkey.exe")) << "subkeys of a value-list key are not read";
    EXPECT_FALSE(Mentions(paths, "bho.dll"));
    EXPECT_FALSE(Mentions(paths, "no_server.dll")) << "a class without InProcServer32 is skipped";
}

TEST_F(Autostart, ScanPassHandsOverWhatTheCountPassCounted) {
    AutostartFixtures fixtures;
    ScanAutostart(1, job);
    ASSERT_FALSE(g_engine.paths.empty());
    std::vector<std::string> first = g_engine.paths;
    g_engine.paths.clear();

    // The count pass ending on the path the scan pass begins with.
    EXPECT_EQ(ScanAutostartFile(first.front().c_str(), 0, job), 1);
    EXPECT_EQ(ScanAutostartFile(first.front().c_str(), 0, job), 0) << "a repeat does not count";
    EXPECT_EQ(ScanAutostart(1, job), first.size());
    EXPECT_EQ(g_engine.paths, first);
}

TEST_F(Autostart, FileOfTheKernelFormIsScannedWithoutItsPrefix) {
    EXPECT_EQ(ScanAutostartFile("\\??\\C:\\kxtest\\kernel.sys", 1, job), 1);
    EXPECT_EQ(ScanAutostartFile("\\??\\c:\\KXTEST\\kernel.sys", 1, job), 0);
    EXPECT_EQ(g_engine.paths, (std::vector<std::string>{"C:\\kxtest\\kernel.sys"}));
}

TEST_F(Autostart, StopRequestEndsThePassAtTheNextEntry) {
    AutostartFixtures fixtures;
    job.cancel = 1;
    EXPECT_EQ(ScanAutostart(1, job), 0u);
    EXPECT_TRUE(g_engine.paths.empty());

    job.cancel = 0;
    g_engine.stopJob = &job;
    EXPECT_EQ(ScanAutostart(1, job), 1u);
    EXPECT_EQ(g_engine.paths.size(), 1u) << "no further entry or location once stopped";
}

TEST(ExtractCommandPath, HostNameAtTheEndOfTheTextGivesNothing) {
    // After the cut at ".EXE" nothing follows the host; the bytes behind the
    // cut must not be taken for a path.
    char text[260] = "C:\\x\\RUNDLL32.EXEX:\\evil.sys";
    EXPECT_EQ(ExtractCommandPath(text), 0);
    char bare[260] = "C:\\nowhere\\RUNDLL32.EXE";
    EXPECT_EQ(ExtractCommandPath(bare), 0);
    char separated[260] = "C:\\nowhere\\RUNDLL32.EXE ";
    EXPECT_EQ(ExtractCommandPath(separated), 0);
}

TEST(ExtractCommandPath, TextsWithoutAFolder) {
    char quoted[260] = "\"notepad.exe\" /p x.txt";
    EXPECT_EQ(ExtractCommandPath(quoted), 1);
    EXPECT_EQ(std::string(quoted), SearchedPath("notepad.exe"));
    char unknown[260] = "kx_no_such_program.exe /x";
    EXPECT_EQ(ExtractCommandPath(unknown), 0);
    char empty[260] = "";
    EXPECT_EQ(ExtractCommandPath(empty), 0);
    char network[260] = "C:\\a\\\\b.exe";
    EXPECT_EQ(ExtractCommandPath(network), 0);
}

TEST(ExtractCommandPath, LongTreeValueIsCutToOnePath) {
    // Subkey-tree values are read into 1024 bytes; the path still fits 260.
    char value[1024];
    std::memset(value, 'a', sizeof(value) - 1);
    value[sizeof(value) - 1] = '\0';
    std::memcpy(value, "C:\\kxtest\\", 10);
    EXPECT_EQ(ExtractCommandPath(value), 1);
    EXPECT_EQ(std::strlen(value), 259u);
    char firstExtension[260] = "C:\\k\\a.Dll\\b.exe";
    EXPECT_EQ(ExtractCommandPath(firstExtension), 1);
    EXPECT_STREQ(firstExtension, "C:\\k\\a.Dll\\b.exe") << "\".exe\" is tried before \".Dll\"";
}

TEST(ExpandPathVariables, ExpandsEachComponentAndDropsEmptyOnes) {
    char windows[260];
    ::GetWindowsDirectoryA(windows, sizeof(windows));
    char path[260] = "%SystemRoot%\\system32\\\\x.exe\\";
    ExpandPathVariables(path);
    EXPECT_STREQ(path, (std::string(windows) + "\\system32\\x.exe").c_str());

    char unknown[260] = "%KX_NOT_SET%\\y.dll";
    ExpandPathVariables(unknown);
    EXPECT_STREQ(unknown, "%KX_NOT_SET%\\y.dll");

    ::SetEnvironmentVariableA("KX_LONG", std::string(250, 'L').c_str());
    char tooLong[260] = "%KX_LONG%\\%KX_LONG%\\z.dll";
    ExpandPathVariables(tooLong);
    EXPECT_STREQ(tooLong, "%KX_LONG%\\%KX_LONG%\\z.dll") << "a result that does not fit leaves the path";
    ::SetEnvironmentVariableA("KX_LONG", nullptr);
}

}  // namespace
