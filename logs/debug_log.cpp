#include "logs/debug_log.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/locking.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "app/install_paths.h"
#include "framework/handles.h"

namespace {

constexpr const char* kBaseName = "kxlog";
constexpr const char* kLockName = "kxlog.lock";
constexpr ULONGLONG kRotateSize = 5000000;
constexpr int kGenerations = 5;
constexpr size_t kLineSize = 1024;
constexpr size_t kTimeStampSize = 20;  // "YYYY-MM-DD hh:mm:ss" and its terminator

// As long as the run-time library's own waiting lock would take: 62 requests
// of ten seconds with a second between them.
constexpr DWORD kLockWaitMs = 62 * 10000 + 61 * 1000;

constexpr const char* kLevelNames[] = {"DEBUG",  "INFO",   "NOTICE", "WARN",   "ERROR", "CRIT",
                                       "ALERT",  "DEBUG0", "DEBUG1", "DEBUG2", "DEBUG3"};

// A level outside the table is printed as the plainest one, so that readers
// of the shared file keep seeing known names.
const char* LevelName(int level) {
    if (level < 0 || level >= static_cast<int>(sizeof(kLevelNames) / sizeof(kLevelNames[0]))) return kLevelNames[0];
    return kLevelNames[level];
}

// Takes the result of the snprintf that built `line`: a line cut to its
// buffer keeps its line feed, so it never runs into the next one.
void KeepLineFeed(char* line, size_t size, int length) {
    if (length < 0)
        line[0] = '\0';
    else if (static_cast<size_t>(length) >= size)
        line[size - 2] = '\n';
}

bool PathFits(int length, size_t size) { return length >= 0 && static_cast<size_t>(length) < size; }

// Whether a failed open of the lock file is worth retrying: another writer
// holds it in a way we cannot join, or its last holder has just closed it and
// it is waiting to be deleted (Windows then refuses every open and create).
// A file that is not there and still cannot be made is a plain refusal.
bool LockFileBusy(const char* path, DWORD error) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES || ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

}  // namespace

void DebugLog(const char* tag, DWORD mask, int level, const char* format, ...) {
    if ((mask & (kDebugToDebugger | kDebugToFile)) == 0) return;

    char text[kLineSize];
    int prefix = std::snprintf(text, sizeof(text), "[%lu] [%s] [%s] ", ::GetCurrentProcessId(), LevelName(level),
                               tag ? tag : "");
    if (prefix < 0) return;
    if (static_cast<size_t>(prefix) < sizeof(text) - 1 && format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(text + prefix, sizeof(text) - prefix, format, args);
        va_end(args);
    }

    if (mask & kDebugToDebugger) {
        char line[kLineSize];
        KeepLineFeed(line, sizeof(line), std::snprintf(line, sizeof(line), "%s\n", text));
        ::OutputDebugStringA(line);
    }

    if (mask & kDebugToFile) {
        char install[260];
        GetInstallPath(install, sizeof(install));
        // Without an installation "\Logs" would name a folder of the current drive's root.
        if (install[0] == '\0') return;
        char folder[520];
        std::snprintf(folder, sizeof(folder), "%s\\Logs", install);
        AppendDebugLine(folder, text);
    }
}

int AppendDebugLine(const char* folder, const char* text) {
    if (!folder || folder[0] == '\0' || !text) return -1;

    // A cut path would name some other file.
    char logPath[kLineSize];
    char lockPath[kLineSize];
    if (!PathFits(std::snprintf(logPath, sizeof(logPath), "%s\\%s.01", folder, kBaseName), sizeof(logPath)) ||
        !PathFits(std::snprintf(lockPath, sizeof(lockPath), "%s\\%s", folder, kLockName), sizeof(lockPath)))
        return -1;

    int lock = OpenLockFile(lockPath);
    if (lock == -1) return -1;

    WIN32_FILE_ATTRIBUTE_DATA status;
    if (::GetFileAttributesExA(logPath, GetFileExInfoStandard, &status) &&
        ((static_cast<ULONGLONG>(status.nFileSizeHigh) << 32) | status.nFileSizeLow) > kRotateSize)
        RotateDebugLog(folder, kBaseName);

    FILE* file = std::fopen(logPath, "at");
    if (!file) {
        CloseLockFile(lock);
        return -1;
    }
    char stamp[32];
    FormatLogTime(std::time(nullptr), stamp);
    char line[kLineSize];
    KeepLineFeed(line, sizeof(line), std::snprintf(line, sizeof(line), "%s : %s\n", stamp, text));
    bool written = std::fputs(line, file) >= 0 && std::fflush(file) == 0;
    written = std::fclose(file) == 0 && written;
    CloseLockFile(lock);
    return written ? 0 : -1;
}

int RotateDebugLog(const char* folder, const char* base) {
    if (!folder || !base) return 0;
    char basePath[1019];
    if (!PathFits(std::snprintf(basePath, sizeof(basePath), "%s\\%s", folder, base), sizeof(basePath))) return 0;

    char older[kLineSize];
    char newer[kLineSize];
    // A current generation that cannot be moved (a process holds it open
    // without sharing deleting) would stay while the older ones moved up and
    // the oldest was dropped, at every line again: four lines later no older
    // generation would be left. It grows on until it can be moved.
    std::snprintf(newer, sizeof(newer), "%s.%02d", basePath, 1);
    if (!fw::UniqueFile(::CreateFileA(newer, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, 0, nullptr)) &&
        ::GetLastError() != ERROR_FILE_NOT_FOUND)
        return 0;
    std::snprintf(older, sizeof(older), "%s.%02d", basePath, kGenerations);
    std::remove(older);
    for (int generation = kGenerations - 1; generation >= 1; --generation) {
        std::snprintf(newer, sizeof(newer), "%s.%02d", basePath, generation);
        std::rename(newer, older);
        std::snprintf(older, sizeof(older), "%s", newer);
    }
    return 0;
}

// The lock file is shared with the product's other writers: opened
// read/write, deleted when its last holder closes it, and its first byte
// locked. The run-time library's waiting lock does not wait everywhere, so
// this waits itself with short sleeps; a writer that finds the file busy or
// about to be deleted opens it again within the same wait.
int OpenLockFile(const char* path) {
    if (!path || path[0] == '\0') return -1;
    const DWORD start = ::GetTickCount();
    int descriptor = -1;
    bool refused = false;
    for (;;) {
        if (descriptor == -1) {
            descriptor = _sopen(path, _O_RDWR | _O_CREAT | _O_TEMPORARY, _SH_DENYNO, _S_IREAD | _S_IWRITE);
            if (descriptor == -1) {
                const DWORD error = _doserrno;
                if (LockFileBusy(path, error)) {
                    refused = false;
                } else {
                    // One more try covers a delete that ended between the open and the look.
                    if (error != ERROR_ACCESS_DENIED || refused) return -1;
                    refused = true;
                }
            }
        }
        if (descriptor != -1 && _locking(descriptor, _LK_NBLCK, 1) == 0) return descriptor;
        const DWORD waited = ::GetTickCount() - start;
        if (waited >= kLockWaitMs) {
            if (descriptor != -1) _close(descriptor);
            return -1;
        }
        ::Sleep(waited < 100 ? 1 : 10);
    }
}

void CloseLockFile(int descriptor) {
    if (descriptor == -1) return;
    _lseek(descriptor, 0, SEEK_SET);
    _locking(descriptor, _LK_UNLCK, 1);
    _close(descriptor);
}

char* FormatLogTime(time_t time, char* buffer) {
    if (!buffer) return nullptr;
    const tm* local = std::localtime(&time);
    if (!local) {
        // A time the system cannot convert keeps the stamp's shape.
        std::snprintf(buffer, kTimeStampSize, "0000-00-00 00:00:00");
        return buffer;
    }
    std::snprintf(buffer, kTimeStampSize, "%04d-%02d-%02d %02d:%02d:%02d", local->tm_year + 1900, local->tm_mon + 1,
                  local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec);
    return buffer;
}
