#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

#include "logs/encrypted_log.h"

namespace kxtest {

namespace {

// Filled while the other files are initialised, so made on first use.
std::map<std::string, ProbeFunction>& Probes() { static std::map<std::string, ProbeFunction> probes; return probes; }

std::string ThisProgram() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, sizeof(path));
    return path;
}

// Calls `visit(name, isFolder)` for each entry of the folder but . and ..
template <typename Visit>
void ForEachEntry(const std::string& folder, Visit visit) {
    WIN32_FIND_DATAA entry;
    HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &entry);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = ::FindNextFileA(find, &entry))
        if (std::strcmp(entry.cFileName, ".") != 0 && std::strcmp(entry.cFileName, "..") != 0)
            visit(std::string(entry.cFileName), (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
}

// A value of HKLM in the 64-bit view, written (creating its key) or read.
bool Value(bool write, const std::string& key, const std::string& value, DWORD type, void* data, DWORD size) {
    HKEY handle = nullptr;
    const REGSAM access = (write ? KEY_SET_VALUE : KEY_QUERY_VALUE) | KEY_WOW64_64KEY;
    if ((write ? ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, access, nullptr, &handle, nullptr)
               : ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, access, &handle)) != ERROR_SUCCESS)
        return false;
    const LONG status = write ? ::RegSetValueExA(handle, value.c_str(), 0, type, static_cast<BYTE*>(data), size)
                              : ::RegQueryValueExA(handle, value.c_str(), nullptr, nullptr, static_cast<BYTE*>(data), &size);
    ::RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

std::string ProbeCommandLine(const std::string& program, const std::string& name, const Strings& args) {
    std::string line = Quote(program) + " --probe " + name;
    for (const auto& arg : args) line.append(" ").append(Quote(arg));
    return line;
}

}  // namespace

void RemoveTree(const std::string& folder) {
    ForEachEntry(folder, [&](const std::string& name, bool isFolder) {
        const std::string path = folder + "\\" + name;
        ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        isFolder ? RemoveTree(path) : static_cast<void>(::DeleteFileA(path.c_str()));
    });
    ::RemoveDirectoryA(folder.c_str());
}

std::string Listing(const std::string& folder) {
    std::string names;
    ForEachEntry(folder, [&](const std::string& name, bool) { names += name + "|"; });
    return names;
}

Strings Lines(const std::string& text) {
    Strings lines;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start - (end > start && text[end - 1] == '\r')));
    }
    return lines;
}

std::string BuildFolder() { return ThisProgram().substr(0, ThisProgram().find_last_of('\\')); }

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary);
    return file.write(content.data(), static_cast<std::streamsize>(content.size())).flush().good();
}

// INVALID_FILE_ATTRIBUTES has every bit set, the folder bit among them; no real attributes have the top bit.
bool FileExists(const std::string& path) { return !(::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY); }
bool FolderExists(const std::string& path) {
    return (::GetFileAttributesA(path.c_str()) & (FILE_ATTRIBUTE_DIRECTORY | 0x80000000)) == FILE_ATTRIBUTE_DIRECTORY;
}

std::string Quote(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '"') quoted.append(backslashes + 1, '\\');  // double the run already written, escape the quote
        backslashes = c == '\\' ? backslashes + 1 : 0;
        quoted += c;
    }
    return quoted + std::string(backslashes, '\\') + '"';
}

int Occurrences(const std::string& text, const std::string& word) {
    int count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
    return count;
}

std::string Hex(const void* data, size_t length) {
    std::string text;
    char two[3];
    for (size_t i = 0; i < length; ++i) text += (std::snprintf(two, sizeof(two), "%02x", static_cast<const uint8_t*>(data)[i]), two);
    return text;
}

std::string EncryptedRecord(const std::string& text) {
    uint8_t sealed[16 + kMaxLogRecordText + 16];
    int size = sizeof sealed;
    const int n = AriaEnCryptBuffer(kLogPassPhrase, reinterpret_cast<const uint8_t*>(text.data()),
                                    static_cast<int>(text.size()), sealed, &size, nullptr);
    const uint32_t length = static_cast<uint32_t>(n - 8);
    return std::string(reinterpret_cast<const char*>(&length), 4) + std::string(reinterpret_cast<char*>(sealed) + 8, n - 8);
}

Strings g_debugOutput;
LONG CALLBACK CatchDebugOutput(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2)
        g_debugOutput.emplace_back(reinterpret_cast<const char*>(record->ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_SEARCH;
}

Strings& DebugOutput() {
    static const void* catcher = ::AddVectoredExceptionHandler(1, CatchDebugOutput);
    return (void)catcher, g_debugOutput;
}

TempInstallDir::TempInstallDir(bool withProgram) {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(sizeof(temp), temp);
    static unsigned counter = 0;
    for (DWORD error = ERROR_ALREADY_EXISTS; path_.empty() && error == ERROR_ALREADY_EXISTS; error = ::GetLastError()) {
        const std::string name = temp + ("kxtest_" + std::to_string(::GetCurrentProcessId())) + "_" + std::to_string(counter++);
        if (::CreateDirectoryA(name.c_str(), nullptr)) path_ = name;
    }
    if (!withProgram || path_.empty()) return;
    CopyFromBuild("kxscan.exe");
    CopyFromBuild("update.exe");
    ForEachEntry(BuildFolder() + "\\locale", [&](const std::string& name, bool) { CopyFromBuild("locale\\" + name); });
}

TempInstallDir::~TempInstallDir() {
    if (!path_.empty()) RemoveTree(path_);
}

bool TempInstallDir::Write(const std::string& relative, const std::string& content) const {
    const std::string path = File(relative);
    for (size_t slash = path.find('\\', path_.size() + 1); slash != std::string::npos; slash = path.find('\\', slash + 1))
        ::CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
    return WriteFile(path, content);
}

bool TempInstallDir::CopyFromBuild(const std::string& relative) const {
    return Write(relative, "") && ::CopyFileA((BuildFolder() + "\\" + relative).c_str(), File(relative).c_str(), FALSE);
}

void TempInstallDir::Register() const { RegSetString("SOFTWARE\\Tarnwick Systems\\Korvex", "InstallPath", path_); }

bool RegSetString(const std::string& key, const std::string& value, const std::string& data) {
    return Value(true, key, value, REG_SZ, const_cast<char*>(data.c_str()), static_cast<DWORD>(data.size()));
}

bool RegSetDword(const std::string& key, const std::string& value, DWORD data) { return Value(true, key, value, REG_DWORD, &data, sizeof(data)); }

bool RegGetString(const std::string& key, const std::string& value, std::string* data) {
    char buffer[4096] = {};
    return Value(false, key, value, REG_SZ, buffer, sizeof(buffer) - 1) && (*data = buffer, true);
}

bool RegGetDword(const std::string& key, const std::string& value, DWORD* data) { return Value(false, key, value, REG_DWORD, data, sizeof(*data)); }

bool RegKeyExists(const std::string& key) {
    HKEY handle = nullptr;
    return ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &handle) == ERROR_SUCCESS && !::RegCloseKey(handle);
}

ChildProcess::~ChildProcess() {
    if (process_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) Wait(0);
    if (reader_.joinable()) reader_.join();
    if (outputRead_) ::CloseHandle(outputRead_);
    if (process_) ::CloseHandle(process_);
}

bool ChildProcess::Start(const std::string& commandLine, const std::string& folder, const Environment& environment) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE outputWrite = nullptr;
    if (!::CreatePipe(&outputRead_, &outputWrite, &inherit, 0)) return false;
    ::SetHandleInformation(outputRead_, HANDLE_FLAG_INHERIT, 0);
    // The child inherits this process's environment, changed for the moment of its creation.
    std::map<std::string, std::optional<std::string>> saved;
    for (const auto& [name, value] : environment) {
        char old[32767];
        saved[name] = ::GetEnvironmentVariableA(name.c_str(), old, sizeof(old)) ? std::optional<std::string>(old) : std::nullopt;
        ::SetEnvironmentVariableA(name.c_str(), value.c_str());
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup), startup.dwFlags = STARTF_USESTDHANDLES, startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = outputWrite;
    PROCESS_INFORMATION info{};
    std::string line = commandLine;
    const BOOL ok = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                     folder.empty() ? nullptr : folder.c_str(), &startup, &info);
    for (const auto& [name, value] : saved) ::SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
    ::CloseHandle(outputWrite);
    if (!ok) return false;
    ::CloseHandle(info.hThread);
    process_ = info.hProcess, pid_ = info.dwProcessId;
    reader_ = std::thread([this] {
        char buffer[4096];
        for (DWORD n = 0; ::ReadFile(outputRead_, buffer, sizeof(buffer), &n, nullptr) && n > 0;) output_.append(buffer, n);
    });
    return true;
}

bool ChildProcess::Wait(DWORD timeoutMs) {
    if (!process_) return false;
    const bool finished = ::WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
    if (!finished) ::TerminateProcess(process_, 0xDEAD);
    ::WaitForSingleObject(process_, 5000);
    ::GetExitCodeProcess(process_, &exitCode_);
    if (reader_.joinable()) reader_.join();
    return finished;
}

HWND ChildProcess::FindWindow(DWORD timeoutMs) const {
    // A dialog exists before its initialisation has placed it; once the
    // process waits for input, its modal loop runs.
    ::WaitForInputIdle(process_, timeoutMs);
    for (DWORD start = ::GetTickCount(), owner = 0; ::GetTickCount() - start < timeoutMs;) {
        for (HWND window = nullptr; (window = ::FindWindowExA(nullptr, window, "#32770", nullptr));)
            if (::GetWindowThreadProcessId(window, &owner) && owner == pid_) return window;
        if (::WaitForSingleObject(process_, 20) == WAIT_OBJECT_0) break;
    }
    return nullptr;
}

RunResult Run(const std::string& commandLine, DWORD timeoutMs, const std::string& folder, const Environment& environment) {
    ChildProcess child;
    const bool started = child.Start(commandLine, folder, environment), finished = started && child.Wait(timeoutMs);
    return {started, finished, child.ExitCode(), child.Output()};
}

bool StartKxscan(ChildProcess* child, const TempInstallDir& install, const std::string& args, const Environment& environment) {
    return child->Start(Quote(install.File("kxscan.exe")) + (args.empty() ? "" : " " + args), install.Path(), environment);
}

// A box is found by its title while it is still being set up: only once it
// is shown are its text and buttons in place, so it is answered only then.
MessageBoxAnswerer::MessageBoxAnswerer(std::string title, int button, DWORD timeoutMs) {
    thread_ = std::thread([this, title = std::move(title), button, timeoutMs] {
        for (DWORD start = ::GetTickCount(); !stop_ && ::GetTickCount() - start < timeoutMs; ::Sleep(20)) {
            HWND box = ::FindWindowA("#32770", title.c_str());
            HWND target = box ? ::GetDlgItem(box, button) : nullptr;
            if (!target || !::IsWindowVisible(box)) continue;
            char text[1024] = {};
            ::GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));  // the static text of a message box
            text_ = text, answered_ = true;
            ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(target));
            return;
        }
    });
}

MessageBoxAnswerer::~MessageBoxAnswerer() { stop_ = true, thread_.join(); }

void ClickButton(HWND dialog, int id) {
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

bool RegisterProbe(const char* name, ProbeFunction function) { return Probes().emplace(name, function).second; }

RunResult RunProbe(const std::string& name, const Strings& args, const Environment& environment, DWORD timeoutMs,
                   const std::string& program) {
    return Run(ProbeCommandLine(program.empty() ? ThisProgram() : program, name, args), timeoutMs, "", environment);
}

bool StartProbe(ChildProcess* child, const std::string& name, const Strings& args) {
    return child->Start(ProbeCommandLine(ThisProgram(), name, args));
}

// Wine starts a Windows child with the Unix environment of its parent, not
// with the block given to CreateProcess, so LANG cannot be handed to a probe
// that way. A Unix program does receive that block: /bin/sh (drive Z: is the
// Linux root) starts the probe under the locale. Wine gives no process handle
// to wait on for a Unix child, so the shell hands back the probe's output and
// then its exit code in a file it renames once complete. An empty locale
// clears the language variables: en-US.
RunResult RunProbeInLocale(const std::string& locale, const std::string& name, const Strings& args, DWORD timeoutMs) {
    static unsigned counter = 0;
    const std::string file = "kxscan_locale_" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(counter++);
    const char* locales = std::getenv("KXSCAN_LOCPATH");
    std::string script = locale.empty() ? "LC_ALL= LANG= LC_MESSAGES= LC_CTYPE= "
                                        : "LOCPATH='" + std::string(locales ? locales : "") + "' LANG=" + locale + ".UTF-8 LC_ALL=" + locale + ".UTF-8 ";
    script += "timeout " + std::to_string(timeoutMs / 1000 + 1) + " /usr/lib/wine/wine64 '" + ThisProgram() + "' --probe " + name;
    for (const std::string& arg : args) script.append(" '").append(arg).append("'");
    script += " >/tmp/" + file + " 2>&1; echo $? >>/tmp/" + file + "; mv /tmp/" + file + " /tmp/" + file + ".done";
    ChildProcess shell;
    const bool started = shell.Start("Z:\\bin\\sh -c " + Quote(script));
    const std::string done = "Z:\\tmp\\" + file + ".done";
    for (DWORD start = ::GetTickCount(); started && !FileExists(done) && ::GetTickCount() - start < timeoutMs + 5000;) ::Sleep(20);
    const std::string output = ReadFile(done);
    ::DeleteFileA(done.c_str());
    const size_t code = output.find_last_of('\n', output.size() - 2) + 1;  // the line after the probe's output
    return {started, !output.empty(), static_cast<DWORD>(std::strtoul(output.c_str() + code, nullptr, 10)), output.substr(0, code)};
}

}  // namespace kxtest

// Runs the tests, or with "--probe NAME ARGS..." the probe NAME.
int main(int argc, char** argv) {
    if (argc < 3 || std::strcmp(argv[1], "--probe") != 0) return ::testing::InitGoogleTest(&argc, argv), RUN_ALL_TESTS();
    const auto found = kxtest::Probes().find(argv[2]);
    if (found == kxtest::Probes().end()) return std::fprintf(stderr, "no probe named %s\n", argv[2]), 99;
    const int code = found->second(kxtest::Strings(argv + 3, argv + argc));
    std::fflush(stdout);
    return code;
}
