// Stand-in for the product's updater. The scan window starts it, once its
// window has closed, with the command line "<install>\update.exe" /hide /scan
// and waits for it. It appends the command line it was given to update.log
// beside itself, so that the hand-over can be checked. KXUPDATE_DELAY_MS,
// when set, makes it take that long first (for tests of the wait).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main() {
    if (const char* delay = std::getenv("KXUPDATE_DELAY_MS")) ::Sleep(static_cast<DWORD>(std::strtoul(delay, nullptr, 10)));

    char path[MAX_PATH + 16];
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    char* slash = std::strrchr(path, '\\');
    if (!slash) return 1;
    std::strcpy(slash + 1, "update.log");

    FILE* log = std::fopen(path, "ab");
    if (!log) return 1;
    std::fprintf(log, "%s\n", ::GetCommandLineA());
    return std::fclose(log) == 0 ? 0 : 1;
}
