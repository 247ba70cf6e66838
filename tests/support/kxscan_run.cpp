#include "tests/support/kxscan_run.h"

#include "app/local_text.h"

namespace kxtest {

Files NumberedFiles(int count, int infected) {
    Files files;
    for (int i = 0; i < count; ++i)
        files.push_back({"file" + std::to_string(100 + i) + ".txt", i < infected ? "INFECTED" : "clean"});
    return files;
}

std::string Shell(const std::string& script) {
    static int runs = 0;
    const std::string base = "/tmp/kxscan_shell_" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(runs++);
    std::string windows = "Z:" + base;
    for (char& c : windows) c = c == '/' ? '\\' : c;
    if (::WinExec(("Z:\\bin\\sh -c " + Quote("(" + script + ") >" + base + " 2>&1; touch " + base + ".done")).c_str(),
                  SW_HIDE) < 32)
        return "";
    for (int wait = 0; wait < 3000 && !FileExists(windows + ".done"); ++wait) ::Sleep(20);
    const std::string output = ReadFile(windows);
    ::DeleteFileA(windows.c_str());
    ::DeleteFileA((windows + ".done").c_str());
    return output;
}

std::string Escaped(std::string text) {
    for (size_t at = text.find('\\'); at != std::string::npos; at = text.find('\\', at + 2)) text.insert(at, 1, '\\');
    return text;
}

KxscanRun::KxscanRun(Engine engine, const std::vector<std::string>& signatures) {
    install.Register();
    if (engine == kStandIn) install.CopyFromBuild("kxsoc.dll");
    std::string sig;
    for (const std::string& line : signatures) sig += line + "\r\n";
    if (!sig.empty()) install.Write("kxsoc.sig", sig);
    ::CreateDirectoryA(install.File("Logs").c_str(), nullptr);
    RegSetDword("SOFTWARE\\Tarnwick Systems\\Korvex", "DbgLevel", 2);
}

KxscanRun::~KxscanRun() {
    if (child.Handle()) ::TerminateProcess(child.Handle(), 1);
}

bool KxscanRun::Start(const Files& files, const std::string& options, DWORD delayMs) {
    ::CreateDirectoryA(install.File("data").c_str(), nullptr);
    for (const auto& [name, content] : files) install.Write("data\\" + name, content);
    if (!StartKxscan(&child, install, options + " " + Quote(install.File("data")),
                     {{"KXSOC_DELAY_MS", std::to_string(delayMs)}}))
        return false;
    window = child.FindWindow(20000);
    return window != nullptr;
}

std::string KxscanRun::Text(int id) const {
    char text[2048] = {};
    ::GetDlgItemTextA(window, id, text, sizeof(text));
    return text;
}

bool KxscanRun::WaitForText(int id, const std::string& text, DWORD timeoutMs) const {
    return Until([&] { return Text(id) == text; }, timeoutMs);
}

int KxscanRun::Lines(const std::string& word) const {
    return Occurrences(install.Read("Logs\\kxlog.01"), word);
}

bool KxscanRun::WaitForLines(const std::string& word, int count, DWORD timeoutMs) const {
    return Until([&] { return Lines(word) >= count; }, timeoutMs);
}

std::string KxscanRun::Log(const char* name) const {
    return Run(Quote(BuildFolder() + "\\kxlogcat.exe") + " " + Quote(install.File("Logs\\" + std::string(name))), 20000).output;
}

namespace {
struct BoxSearch {
    HWND window;
    HWND box;
};

BOOL CALLBACK FindBox(HWND candidate, LPARAM data) {
    auto* search = reinterpret_cast<BoxSearch*>(data);
    char name[16] = {};
    ::GetClassNameA(candidate, name, sizeof(name));
    if (candidate == search->window || std::string(name) != "#32770" || !::IsWindowVisible(candidate)) return TRUE;
    search->box = candidate;
    return FALSE;
}
}  // namespace

HWND KxscanRun::WaitForBox(DWORD timeoutMs) const {
    BoxSearch search{window, nullptr};
    const DWORD thread = ::GetWindowThreadProcessId(window, nullptr);
    for (DWORD start = ::GetTickCount(); !search.box && ::GetTickCount() - start < timeoutMs; ::Sleep(20))
        ::EnumThreadWindows(thread, FindBox, reinterpret_cast<LPARAM>(&search));
    return search.box;
}

void RemoteListCall(HWND list, UINT message, WPARAM row, LVITEMA* item, char* text) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(list, &pid);
    HANDLE process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    char* remote = static_cast<char*>(::VirtualAllocEx(process, nullptr, 1024, MEM_COMMIT, PAGE_READWRITE));
    item->pszText = remote + sizeof(LVITEMA);
    item->cchTextMax = 520;
    ::WriteProcessMemory(process, remote, item, sizeof(*item), nullptr);
    ::SendMessageA(list, message, row, reinterpret_cast<LPARAM>(remote));
    if (text) ::ReadProcessMemory(process, remote + sizeof(LVITEMA), text, 520, nullptr);
    ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    ::CloseHandle(process);
}

std::vector<std::string> Rows(HWND window) {
    HWND list = ::GetDlgItem(window, 1003);
    std::vector<std::string> rows;
    for (int row = 0; row < ::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0); ++row) {
        std::string line;
        for (int column = 0; column < 4; ++column) {
            LVITEMA item{};
            item.iSubItem = column;
            char text[520] = {};
            RemoteListCall(list, LVM_GETITEMTEXTA, row, &item, text);
            line += std::string(text) + "|";
        }
        const auto state = ::SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK);
        rows.push_back(line + (state == INDEXTOSTATEIMAGEMASK(2) ? "1" : "0"));
    }
    return rows;
}

std::string ScannerText(const char* key) {
    char text[260];
    GetLocalText("SCANNER", key, text, sizeof(text));
    return text;
}

}  // namespace kxtest
