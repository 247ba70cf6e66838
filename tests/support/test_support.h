// Helpers shared by the tests: a throw-away installation directory, registry
// keys that are cleared around a test, child processes with a time limit,
// message boxes answered from another thread, and probes (a function of this
// test program run in a fresh process of its own).
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// The import-table entry through which this program calls `function` (the
// 32-bit name carries the stdcall argument bytes), so that a test can point
// those calls at a stand-in.
#ifdef _WIN64
#define KXTEST_IMPORT(type, name, function, argumentBytes) extern "C" type name asm("__imp_" #function)
#else
#define KXTEST_IMPORT(type, name, function, argumentBytes) \
    extern "C" type name asm("__imp__" #function "@" #argumentBytes)
#endif

namespace kxtest {

// Points an import-table entry (KXTEST_IMPORT) at `standIn`; gives the function it pointed at.
template <typename T>
T PointImportAt(T& import, T standIn) {
    DWORD old;
    ::VirtualProtect(&import, sizeof import, PAGE_READWRITE, &old);
    return std::exchange(import, standIn);
}

using Environment = std::map<std::string, std::string>;
using Strings = std::vector<std::string>;

// Folder of the running test program (the build tree, where kxscan.exe,
// update.exe, kxsoc.dll and locale\ lie too).
std::string BuildFolder();

// Reads or writes a whole file; ReadFile gives "" when the file cannot be read.
std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// Deletes a folder with everything in it (read-only files too).
void RemoveTree(const std::string& folder);
// The names in a folder, sorted, each followed by "|"; "" for none.
std::string Listing(const std::string& folder);
// The lines of a text, each without its "\n" or "\r\n".
Strings Lines(const std::string& text);
// How often `word` stands in `text`, overlaps counted.
int Occurrences(const std::string& text, const std::string& word);
// Quotes one argument for a command line.
std::string Quote(const std::string& argument);
// Two lower-case hex digits for each byte.
std::string Hex(const void* data, size_t length);
// One record of an encrypted log (L, CRC-32, n, ciphertext), enciphered by the writer's own code.
std::string EncryptedRecord(const std::string& text);

// What this process sends to the debugger output (OutputDebugStringA), from
// the first call on, caught where it is raised.
Strings& DebugOutput();

// A fresh folder under the temporary folder, laid out as an installation:
// kxscan.exe, update.exe and locale\ copied from the build (none of them when
// `withProgram` is false). Removed with everything in it when the object ends.
class TempInstallDir {
public:
    explicit TempInstallDir(bool withProgram = true);
    ~TempInstallDir();
    TempInstallDir(const TempInstallDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& relative) const { return path_ + "\\" + relative; }
    // Writes the file, creating the folders on its way.
    bool Write(const std::string& relative, const std::string& content) const;
    std::string Read(const std::string& relative) const { return ReadFile(File(relative)); }
    // Copies a file of the build folder (kxsoc.dll, kxscan_tests.exe) here.
    bool CopyFromBuild(const std::string& relative) const;
    // Points the product's registry value InstallPath at this folder.
    void Register() const;

private:
    std::string path_;
};

// Removes the key `subkey` of HKLM (64-bit view) with all it holds when the
// object is made and again when it ends, so a test starts and leaves clean.
class ScopedHklmKey {
public:
    explicit ScopedHklmKey(std::string subkey) : subkey_(std::move(subkey)) { ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, subkey_.c_str()); }
    ~ScopedHklmKey() { ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, subkey_.c_str()); }
    const std::string& Path() const { return subkey_; }

private:
    std::string subkey_;
};

// The product's keys (SOFTWARE\Tarnwick Systems and the uninstall entry),
// cleared around a test.
struct ProductRegistry {
    ScopedHklmKey maker{"SOFTWARE\\Tarnwick Systems"};
    ScopedHklmKey uninstall{"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvex"};
};

// Cleared product keys and an installation registered in them.
struct RegisteredInstall {
    explicit RegisteredInstall(bool withProgram = false) : dir(withProgram) { dir.Register(); }
    ProductRegistry registry;
    TempInstallDir dir;
};

// Direct registry access (HKLM, 64-bit view) for fixtures and checks,
// bypassing the code under test. Reads report whether the value exists.
bool RegSetString(const std::string& key, const std::string& value, const std::string& data);
bool RegSetDword(const std::string& key, const std::string& value, DWORD data);
bool RegGetString(const std::string& key, const std::string& value, std::string* data);
bool RegGetDword(const std::string& key, const std::string& value, DWORD* data);
bool RegKeyExists(const std::string& key);

// A child process with its standard output (and error) captured.
class ChildProcess {
public:
    ~ChildProcess();
    // Starts `commandLine` in `folder` (the caller's when empty), with
    // `environment` added to (or replacing entries of) the caller's.
    bool Start(const std::string& commandLine, const std::string& folder = "", const Environment& environment = {});
    // Waits up to `timeoutMs`; false on time-out (the process is then killed).
    bool Wait(DWORD timeoutMs);
    HANDLE Handle() const { return process_; }
    DWORD ExitCode() const { return exitCode_; }
    const std::string& Output() const { return output_; }
    // The first top-level dialog window of the process, shown or hidden,
    // once the process waits for input (its dialog initialised), waiting up
    // to `timeoutMs`; null when none.
    HWND FindWindow(DWORD timeoutMs) const;

private:
    HANDLE process_ = nullptr, outputRead_ = nullptr;
    DWORD pid_ = 0, exitCode_ = STILL_ACTIVE;
    std::thread reader_;
    std::string output_;
};

// finished false: killed at the time limit.
struct RunResult {
    bool started = false, finished = false;
    DWORD exitCode = 0;
    std::string output;
};
RunResult Run(const std::string& commandLine, DWORD timeoutMs, const std::string& folder = "", const Environment& environment = {});

// Starts `<install>\kxscan.exe args` with the installation as working folder.
bool StartKxscan(ChildProcess* child, const TempInstallDir& install, const std::string& args, const Environment& environment = {});

// Answers the next message box with `title` by pressing `button` (IDYES,
// IDNO, IDOK, ...), from its own thread, for as long as the object lives.
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer(std::string title, int button, DWORD timeoutMs = 20000);
    ~MessageBoxAnswerer();
    bool Answered() const { return answered_; }
    // The text of the box that was answered.
    std::string Text() const { return text_; }

private:
    std::atomic<bool> stop_{false}, answered_{false};
    std::string text_;
    std::thread thread_;
};

// Presses a button of a dialog the way a click does (WM_COMMAND, BN_CLICKED).
void ClickButton(HWND dialog, int id);

// Probes: functions of this test program that a test runs in a process of
// their own ("--probe NAME ARGS..."), for process-wide state (caches,
// start-up). A probe prints what it finds to standard output and returns the
// process exit code. `program` is a copy of this test program to run instead
// of this one.
using ProbeFunction = int (*)(const Strings& args);
bool RegisterProbe(const char* name, ProbeFunction function);
RunResult RunProbe(const std::string& name, const Strings& args = {}, const Environment& environment = {}, DWORD timeoutMs = 60000,
                   const std::string& program = "");
// Starts a probe without waiting, for tests of several processes at once.
bool StartProbe(ChildProcess* child, const std::string& name, const Strings& args = {});

#define KX_PROBE(name)                                                               \
    static int name##_probe(const ::kxtest::Strings& args);                           \
    static const bool name##_registered = ::kxtest::RegisterProbe(#name, name##_probe); \
    static int name##_probe([[maybe_unused]] const ::kxtest::Strings& args)

// Runs a probe with Wine's user-interface language and ANSI code page taken
// from a glibc locale made by the test set-up ("ko_KR", "ja_JP", "de_DE"; ""
// for the default en-US). No argument may hold a single quote.
RunResult RunProbeInLocale(const std::string& locale, const std::string& name, const Strings& args = {}, DWORD timeoutMs = 60000);

}  // namespace kxtest
