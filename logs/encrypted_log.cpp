#include "logs/encrypted_log.h"

#include <windows.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/install_paths.h"
#include "app/system_facilities.h"
#include "framework/handles.h"
#include "logs/aria.h"
#include "logs/crc32.h"

namespace {

constexpr char kBufferMagic[8] = {'Q', 'M', 'R', '!', 'A', 'R', 'I', 'A'};
constexpr char kFileMagic[8] = {'Q', 'M', 'R', '!', 'L', 'O', 'G', 'S'};
constexpr int kHeaderSize = 16;  // magic, CRC-32, n
constexpr int kSealedSize = 2048;
constexpr size_t kErrorSize = 1024;

// Process-wide: the installation directory is read once; the name and path
// follow the last log written.
char g_installDir[260];
bool g_installDirRead = false;
char g_logName[260];
char g_logPath[260];

void PutLe32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

void SetError(char* error, const char* format, ...) __attribute__((format(printf, 2, 3)));
void SetError(char* error, const char* format, ...) {
    if (!error) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(error, kErrorSize, format, args);
    va_end(args);
}

bool Fits(int length, size_t size) { return length >= 0 && static_cast<size_t>(length) < size; }

// The byte that writers of one log lock while they check, start and append
// to it: far past the end of any log, so that neither appends nor readers
// ever meet the locked range.
constexpr DWORD kLockOffsetHigh = 0x40000000;
// A writer that cannot have the lock within this time (its holder hangs)
// goes on without it.
constexpr DWORD kLockWaitMs = 10000;

bool LockLog(HANDLE file) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        OVERLAPPED range = {};
        range.OffsetHigh = kLockOffsetHigh;
        if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) return true;
        const DWORD waited = ::GetTickCount() - start;
        if (::GetLastError() != ERROR_LOCK_VIOLATION || waited >= kLockWaitMs) return false;
        ::Sleep(waited < 100 ? 1 : 10);
    }
}

void UnlockLog(HANDLE file) {
    OVERLAPPED range = {};
    range.OffsetHigh = kLockOffsetHigh;
    ::UnlockFileEx(file, 0, 1, 0, &range);
}

// Appends `data` with one write, so that another appender, locked or not,
// can never land inside it.
bool AppendOnce(HANDLE file, const uint8_t* data, DWORD size) {
    DWORD written = 0;
    return ::WriteFile(file, data, size, &written, nullptr) && written == size;
}

// The record, with the file magic in front when the file is still empty
// (its creator ended before writing). Without the lock a started log is
// still appended to, but an empty one is left for a lock holder: two writers
// that both found it empty would each write the magic.
int AppendRecord(HANDLE file, bool locked, const uint8_t* magicAndRecord, DWORD recordSize) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size)) return 0;
    if (size.QuadPart > 0) return AppendOnce(file, magicAndRecord + sizeof(kFileMagic), recordSize) ? 1 : 0;
    if (!locked) return 0;
    return AppendOnce(file, magicAndRecord, sizeof(kFileMagic) + recordSize) ? 1 : 0;
}

// Writers share deleting too, so that the creator of a new log may remove it
// again (CreateLog).
constexpr DWORD kWriterSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Reading is asked for only because the system locks no range for a handle
// without read or write access; the handle never reads.
constexpr DWORD kWriterAccess = FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;

// A new log: its creator takes the lock at once, so that its magic is
// written once however many writers open it meanwhile. A creator that
// writes nothing (no lock, a failed write) removes the file again while it
// is still empty, so that no empty log is left behind. 1 written, 0 not,
// -1 when another writer made the file first.
int CreateLog(const char* path, const uint8_t* magicAndRecord, DWORD recordSize) {
    fw::UniqueFile file(
        ::CreateFileA(path, kWriterAccess | DELETE, kWriterSharing, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ::GetLastError() == ERROR_FILE_EXISTS ? -1 : 0;
    const bool locked = LockLog(file.get());
    const int result = AppendRecord(file.get(), locked, magicAndRecord, recordSize);
    LARGE_INTEGER size{};
    if (!result && ::GetFileSizeEx(file.get(), &size) && size.QuadPart == 0) {
        FILE_DISPOSITION_INFO disposition{TRUE};
        ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
    }
    if (locked) UnlockLog(file.get());
    return result;
}

}  // namespace

int AriaEnCryptBuffer(const char* keyText, const uint8_t* input, int length, uint8_t* output, int* outputSize,
                      char* error) {
    // A length the size formula cannot express is as unusable as a missing input.
    if (!keyText || !input || !output || !outputSize || length < 1 || length > INT_MAX - 2 * kAriaBlockSize) {
        SetError(error, "[AriaEnCryptBuffer] invalid input data");
        return 0;
    }
    const int required = ((length - 1) / kAriaBlockSize + 2) * kAriaBlockSize;
    if (required > *outputSize) {
        SetError(error, "[AriaEnCryptBuffer] invalid data length (%d) (%d)", required, *outputSize);
        *outputSize = required;
        return 0;
    }

    std::memcpy(output, kBufferMagic, sizeof(kBufferMagic));
    PutLe32(output + 8, Crc32(input, static_cast<size_t>(length)));
    PutLe32(output + 12, static_cast<uint32_t>(length));
    char streamError[kErrorSize] = {};
    int enciphered = AriaEnCryptSteram(keyText, input, output + kHeaderSize, length, streamError);
    if (enciphered <= 0) {
        SetError(error, "[AriaEnCryptBuffer] %s", streamError);
        return 0;
    }
    return enciphered + kHeaderSize;
}

void SetEncryptedLogName(const char* fileName) {
    if (!fileName) return;
    if (g_logPath[0] != '\0' && _stricmp(fileName, g_logName) == 0) return;
    if (!g_installDirRead) {
        GetInstallPath(g_installDir, sizeof(g_installDir));
        g_installDirRead = true;
    }

    // A name or path that does not fit is left empty, never cut: a cut path
    // could name another file. Without an installation "\Logs" would name a
    // folder of the current drive's root.
    g_logPath[0] = '\0';
    if (g_installDir[0] == '\0' || fileName[0] == '\0' ||
        !Fits(std::snprintf(g_logName, sizeof(g_logName), "%s", fileName), sizeof(g_logName))) {
        g_logName[0] = '\0';
        return;
    }
    if (!Fits(std::snprintf(g_logPath, sizeof(g_logPath), "%s\\Logs\\%s", g_installDir, fileName), sizeof(g_logPath)))
        g_logPath[0] = '\0';
}

const char* EncryptedLogPath() { return g_logPath; }

// Several processes append to the same log (two scan windows ending at once
// both write events.log). Every record goes out in a single write through a
// handle that may only append (no FILE_WRITE_DATA), so records never
// interleave or overwrite one another, whoever else writes, and an existing
// log is never rewritten. Whether the file is new and its magic are decided
// under an exclusive lock on a byte of the log itself, so a new file gets its
// magic exactly once. That lock needs no second file whose longer path might
// not fit, and the system drops it with its holder. The writer that creates a
// new log takes it first, and removes the log again when it wrote nothing.
int WriteEncryptedLogRecord(const char* fileName, const char* text) {
    // Without a name the record would go to whichever log was written last.
    if (!fileName || !text) return 0;
    SetEncryptedLogName(fileName);

    // The cipher completes the last block from the zeros after the text.
    uint8_t plain[kSealedSize] = {};
    const size_t length = strnlen(text, kMaxLogRecordText + 1);
    if (length == 0 || length > static_cast<size_t>(kMaxLogRecordText)) return 0;
    std::memcpy(plain, text, length);

    uint8_t sealed[kSealedSize];
    int sealedSize = sizeof(sealed);
    char error[kErrorSize];
    int size = AriaEnCryptBuffer(kLogPassPhrase, plain, static_cast<int>(length), sealed, &sealedSize, error);
    if (size <= 0) return 0;

    // "QMR!LOGS", L, then the encrypted buffer without its own magic.
    const DWORD recordLength = static_cast<DWORD>(size) - sizeof(kBufferMagic);
    uint8_t out[sizeof(kFileMagic) + 4 + kSealedSize];
    std::memcpy(out, kFileMagic, sizeof(kFileMagic));
    PutLe32(out + sizeof(kFileMagic), recordLength);
    std::memcpy(out + sizeof(kFileMagic) + 4, sealed + sizeof(kBufferMagic), recordLength);

    const char* path = g_logPath;
    const char* slash = std::strrchr(path, '\\');
    if (!slash) return 0;
    if (::GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        char folder[sizeof(g_logPath)];
        std::snprintf(folder, sizeof(folder), "%.*s", static_cast<int>(slash - path), path);
        if (!CreateFolderChain(folder)) return 0;
    }

    // A log made, or removed again, by another writer between the two opens
    // is opened afresh, a few times at most.
    for (int attempt = 0; attempt < 4; ++attempt) {
        fw::UniqueFile file(
            ::CreateFileA(path, kWriterAccess, kWriterSharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            if (::GetLastError() != ERROR_FILE_NOT_FOUND) return 0;
            const int created = CreateLog(path, out, 4 + recordLength);
            if (created >= 0) return created;
            continue;
        }
        const bool locked = LockLog(file.get());
        int result = AppendRecord(file.get(), locked, out, 4 + recordLength);
        if (locked) UnlockLog(file.get());
        return result;
    }
    return 0;
}
