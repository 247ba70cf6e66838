#include "tests/support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kxtest {

namespace {

std::map<std::string, ProbeFunction>& Probes() {
    static std::map<std::string, ProbeFunction> probes;
    return probes;
}

std::string ThisProgram() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, sizeof(path));
    return path;
}

}  // namespace

void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = folder + "\\" + name;
            ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                ::DeleteFileA(path.c_str());
        } while (::FindNextFileA(find, &entry));
        ::FindClose(find);
    }
    ::RemoveDirectoryA(folder.c_str());
}

namespace {

void CopyFolder(const std::string& from, const std::string& to) {
    ::CreateDirectoryA(to.c_str(), nullptr);
    WIN32_FIND_DATAA entry;
    HANDLE find = ::FindFirstFileA((from + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            ::CopyFileA((from + "\\" + entry.cFileName).c_str(), (to + "\\" + entry.cFileName).c_str(), FALSE);
    } while (::FindNextFileA(find, &entry));
    ::FindClose(find);
}

HKEY OpenKey(const std::string& key, REGSAM access) {
    HKEY handle = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, access | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS)
        return nullptr;
    return handle;
}

bool SetValue(const std::string& key, const std::string& value, DWORD type, const void* data, DWORD size) {
    HKEY handle = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                          &handle, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = ::RegSetValueExA(handle, value.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    ::RegCloseKey(handle);
    return ok;
}

// Environment block of the caller with `changes` applied (names compared
// without regard to case, as Windows does).
std::string BuildEnvironment(const std::map<std::string, std::string>& changes) {
    std::map<std::string, std::string> merged;
    auto upper = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return text;
    };
    std::map<std::string, std::string> names;  // upper-case name -> spelling
    char* block = ::GetEnvironmentStringsA();
    for (const char* p = block; *p; p += std::strlen(p) + 1) {
        const char* equals = std::strchr(p + 1, '=');  // entries like "=C:=C:\" start with '='
        if (!equals) continue;
        std::string name(p, equals - p);
        names[upper(name)] = name;
        merged[upper(name)] = equals + 1;
    }
    ::FreeEnvironmentStringsA(block);
    for (const auto& [name, value] : changes) {
        names[upper(name)] = name;
        merged[upper(name)] = value;
    }
    std::string result;
    for (const auto& [key, value] : merged) result += names[key] + "=" + value + '\0';
    result += '\0';
    return result;
}

}  // namespace

std::string BuildFolder() {
    std::string path = ThisProgram();
    return path.substr(0, path.find_last_of('\\'));
}

std::string ReadFile(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return {};
    std::string content;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) content.append(buffer, n);
    std::fclose(file);
    return content;
}

bool WriteFile(const std::string& path, const std::string& content) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    return std::fclose(file) == 0 && ok;
}

bool FileExists(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return data.nFileSizeLow;
}

TempInstallDir::TempInstallDir(bool withProgram) {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(sizeof(temp), temp);
    static unsigned counter = 0;
    for (;;) {
        char name[MAX_PATH];
        std::snprintf(name, sizeof(name), "%skxtest_%lu_%u", temp, ::GetCurrentProcessId(), counter++);
        if (::CreateDirectoryA(name, nullptr)) {
            path_ = name;
            break;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    if (!withProgram || path_.empty()) return;
    std::string build = BuildFolder();
    ::CopyFileA((build + "\\kxscan.exe").c_str(), File("kxscan.exe").c_str(), FALSE);
    ::CopyFileA((build + "\\update.exe").c_str(), File("update.exe").c_str(), FALSE);
    CopyFolder(build + "\\locale", File("locale"));
}

TempInstallDir::~TempInstallDir() {
    if (!path_.empty()) RemoveTree(path_);
}

bool TempInstallDir::Write(const std::string& relative, const std::string& content) const {
    std::string path = File(relative);
    for (size_t slash = path.find('\\', path_.size() + 1); slash != std::string::npos;
         slash = path.find('\\', slash + 1))
        ::CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
    return WriteFile(path, content);
}

void TempInstallDir::Register() const { RegSetString("SOFTWARE\\Tarnwick Systems\\Korvex", "InstallPath", path_); }

ScopedHklmKey::ScopedHklmKey(std::string subkey) : subkey_(std::move(subkey)) {
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, subkey_.c_str());
}

ScopedHklmKey::~ScopedHklmKey() { ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, subkey_.c_str()); }

bool RegSetString(const std::string& key, const std::string& value, const std::string& data) {
    return SetValue(key, value, REG_SZ, data.c_str(), static_cast<DWORD>(data.size()));
}

bool RegSetDword(const std::string& key, const std::string& value, DWORD data) {
    return SetValue(key, value, REG_DWORD, &data, sizeof(data));
}

bool RegGetString(const std::string& key, const std::string& value, std::string* data) {
    HKEY handle = OpenKey(key, KEY_QUERY_VALUE);
    if (!handle) return false;
    char buffer[4096] = {};
    DWORD size = sizeof(buffer) - 1;
    DWORD type = 0;
    bool ok = ::RegQueryValueExA(handle, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) ==
              ERROR_SUCCESS;
    ::RegCloseKey(handle);
    if (ok) data->assign(buffer, std::strlen(buffer));
    return ok;
}

bool RegGetDword(const std::string& key, const std::string& value, DWORD* data) {
    HKEY handle = OpenKey(key, KEY_QUERY_VALUE);
    if (!handle) return false;
    DWORD size = sizeof(*data);
    bool ok = ::RegQueryValueExA(handle, value.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) ==
              ERROR_SUCCESS;
    ::RegCloseKey(handle);
    return ok;
}

bool RegKeyExists(const std::string& key) {
    HKEY handle = OpenKey(key, KEY_QUERY_VALUE);
    if (handle) ::RegCloseKey(handle);
    return handle != nullptr;
}

ChildProcess::~ChildProcess() {
    if (process_) {
        DWORD code = 0;
        if (::GetExitCodeProcess(process_, &code) && code == STILL_ACTIVE) {
            ::TerminateProcess(process_, 1);
            ::WaitForSingleObject(process_, 5000);
        }
    }
    if (reader_.joinable()) reader_.join();
    if (outputRead_) ::CloseHandle(outputRead_);
    if (process_) ::CloseHandle(process_);
}

bool ChildProcess::Start(const std::string& commandLine, const std::string& folder,
                         const std::map<std::string, std::string>& environment) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE outputWrite = nullptr;
    if (!::CreatePipe(&outputRead_, &outputWrite, &inherit, 0)) return false;
    ::SetHandleInformation(outputRead_, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outputWrite;
    startup.hStdError = outputWrite;
    PROCESS_INFORMATION info{};
    std::string line = commandLine;
    std::string block = environment.empty() ? std::string() : BuildEnvironment(environment);
    BOOL ok = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0,
                               block.empty() ? nullptr : block.data(), folder.empty() ? nullptr : folder.c_str(),
                               &startup, &info);
    ::CloseHandle(outputWrite);
    if (!ok) return false;
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = info.dwProcessId;
    reader_ = std::thread([this] {
        char buffer[4096];
        DWORD n = 0;
        while (::ReadFile(outputRead_, buffer, sizeof(buffer), &n, nullptr) && n > 0) output_.append(buffer, n);
    });
    return true;
}

bool ChildProcess::Wait(DWORD timeoutMs) {
    if (!process_) return false;
    bool finished = ::WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
    if (!finished) {
        ::TerminateProcess(process_, 0xDEAD);
        ::WaitForSingleObject(process_, 5000);
    }
    ::GetExitCodeProcess(process_, &exitCode_);
    if (reader_.joinable()) reader_.join();
    return finished;
}

namespace {
struct WindowSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    char className[16] = {};
    ::GetClassNameA(window, className, sizeof(className));
    if (owner != search->pid || std::strcmp(className, "#32770") != 0) return TRUE;
    search->found = window;
    return FALSE;
}
}  // namespace

HWND ChildProcess::FindWindow(DWORD timeoutMs) const {
    WindowSearch search{pid_, nullptr};
    DWORD start = ::GetTickCount();
    // A dialog exists before its initialisation has placed it; once the
    // process waits for input, its modal loop runs.
    ::WaitForInputIdle(process_, timeoutMs);
    do {
        ::EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        if (::WaitForSingleObject(process_, 20) == WAIT_OBJECT_0) return nullptr;
    } while (::GetTickCount() - start < timeoutMs);
    return nullptr;
}

RunResult Run(const std::string& commandLine, DWORD timeoutMs, const std::string& folder,
              const std::map<std::string, std::string>& environment) {
    RunResult result;
    ChildProcess child;
    DWORD start = ::GetTickCount();
    result.started = child.Start(commandLine, folder, environment);
    if (!result.started) return result;
    result.finished = child.Wait(timeoutMs);
    result.elapsedMs = ::GetTickCount() - start;
    result.exitCode = child.ExitCode();
    result.output = child.Output();
    return result;
}

bool StartKxscan(ChildProcess* child, const TempInstallDir& install, const std::string& args,
                 const std::map<std::string, std::string>& environment) {
    std::string line = Quote(install.File("kxscan.exe"));
    if (!args.empty()) line += " " + args;
    return child->Start(line, install.Path(), environment);
}

MessageBoxAnswerer::MessageBoxAnswerer(std::string title, int button, DWORD timeoutMs) {
    thread_ = std::thread([this, title = std::move(title), button, timeoutMs] {
        DWORD start = ::GetTickCount();
        while (!stop_ && ::GetTickCount() - start < timeoutMs) {
            HWND box = ::FindWindowA("#32770", title.c_str());
            HWND target = box ? ::GetDlgItem(box, button) : nullptr;
            if (target) {
                char text[1024] = {};
                ::GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));  // the static text of a message box
                text_ = text;
                ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(target));
                answered_ = true;
                return;
            }
            ::Sleep(20);
        }
    });
}

MessageBoxAnswerer::~MessageBoxAnswerer() {
    stop_ = true;
    thread_.join();
}

void ClickButton(HWND dialog, int id) {
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

bool RegisterProbe(const char* name, ProbeFunction function) {
    Probes()[name] = function;
    return true;
}

static std::string ProbeCommandLine(const std::string& name, const std::vector<std::string>& args) {
    std::string line = Quote(ThisProgram());
    line += " --probe ";
    line += name;
    for (const auto& arg : args) {
        line += ' ';
        line += Quote(arg);
    }
    return line;
}

RunResult RunProbe(const std::string& name, const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& environment, DWORD timeoutMs,
                   const std::string& folder) {
    return Run(ProbeCommandLine(name, args), timeoutMs, folder, environment);
}

bool StartProbe(ChildProcess* child, const std::string& name, const std::vector<std::string>& args,
                const std::map<std::string, std::string>& environment) {
    return child->Start(ProbeCommandLine(name, args), "", environment);
}

int RunProbeMain(int argc, char** argv) {
    auto found = Probes().find(argv[2]);
    if (found == Probes().end()) {
        std::fprintf(stderr, "no probe named %s\n", argv[2]);
        return 99;
    }
    std::vector<std::string> args(argv + 3, argv + argc);
    int code = found->second(args);
    std::fflush(stdout);
    return code;
}

namespace {
std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
}  // namespace

// Wine starts a Windows child with the Unix environment of its parent, not
// with the block given to CreateProcess, so LANG cannot be handed to a probe
// that way. A Unix program does receive that block: /bin/sh (drive Z: is the
// Linux root) starts the probe under the locale and hands back its output and
// exit code in files, since Wine gives no process handle to wait on for a
// Unix child. An empty locale clears the language variables: en-US.
RunResult RunProbeInLocale(const std::string& locale, const std::string& name, const std::vector<std::string>& args,
                           DWORD timeoutMs) {
    RunResult result;
    static unsigned counter = 0;
    char folderName[64];
    std::snprintf(folderName, sizeof(folderName), "kxscan_locale_%lu_%u", ::GetCurrentProcessId(), counter++);
    const std::string folder = std::string("Z:\\tmp\\") + folderName;
    const std::string unixFolder = std::string("/tmp/") + folderName;
    if (!FileExists("Z:\\bin\\sh") || !::CreateDirectoryA(folder.c_str(), nullptr)) return result;

    std::string script;
    if (locale.empty()) {
        script = "LC_ALL= LANG= LC_MESSAGES= LC_CTYPE= ";
    } else {
        const char* locales = std::getenv("KXSCAN_LOCPATH");
        std::string value = locale + ".UTF-8";
        script = "LOCPATH=" + ShellQuote(locales ? locales : "") + " LANG=" + value + " LC_ALL=" + value + " ";
    }
    script += "timeout " + std::to_string(timeoutMs / 1000 + 1) + " /usr/lib/wine/wine64 ";
    script += ShellQuote(ThisProgram());
    script += " --probe ";
    script += ShellQuote(name);
    for (const std::string& arg : args) {
        script += ' ';
        script += ShellQuote(arg);
    }
    script += " >" + unixFolder + "/out 2>&1; echo $? >" + unixFolder + "/code.part; mv " + unixFolder +
              "/code.part " + unixFolder + "/code";

    std::string command = "Z:\\bin\\sh -c " + Quote(script);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    result.started =
        ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info) != 0;
    if (info.hProcess) ::CloseHandle(info.hProcess);
    if (info.hThread) ::CloseHandle(info.hThread);
    DWORD start = ::GetTickCount();
    while (result.started && !FileExists(folder + "\\code") && ::GetTickCount() - start < timeoutMs + 5000)
        ::Sleep(20);
    result.elapsedMs = ::GetTickCount() - start;
    std::string code = ReadFile(folder + "\\code");
    result.finished = !code.empty();
    result.exitCode = static_cast<DWORD>(std::strtoul(code.c_str(), nullptr, 10));
    result.output = ReadFile(folder + "\\out");
    ::DeleteFileA((folder + "\\out").c_str());
    ::DeleteFileA((folder + "\\code").c_str());
    ::RemoveDirectoryA(folder.c_str());
    return result;
}

std::string Quote(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
        } else if (c == '"') {
            quoted.append(backslashes + 1, '\\');  // double the run already written, escape the quote
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        quoted += c;
    }
    quoted.append(backslashes, '\\');
    quoted += '"';
    return quoted;
}

}  // namespace kxtest
