#include "logs/encrypted_log.h"

#include <windows.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/install_paths.h"
#include "app/startup.h"
#include "app/system_facilities.h"
#include "framework/handles.h"
#include "logs/aria.h"
#include "logs/crc32.h"
#include "logs/debug_log.h"

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

// Where this process's last append to a log ended, by the log's identity:
// a record boundary for as long as the file is no shorter. The writer then
// walks only the records that others appended since. Two logs are written
// in turn; a few more entries cost nothing.
struct KnownEnd {
    DWORD volume, indexHigh, indexLow;
    uint64_t end;
};
KnownEnd g_knownEnds[4];
int g_nextKnownEnd = 0;

bool Identify(HANDLE file, KnownEnd* id) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file, &info)) return false;
    *id = KnownEnd{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow, 0};
    return true;
}

KnownEnd* FindKnownEnd(const KnownEnd& id) {
    for (KnownEnd& known : g_knownEnds)
        if (known.end != 0 && known.volume == id.volume && known.indexHigh == id.indexHigh &&
            known.indexLow == id.indexLow)
            return &known;
    return nullptr;
}

void RememberEnd(const KnownEnd& id, uint64_t end) {
    KnownEnd* known = FindKnownEnd(id);
    if (!known) {
        known = &g_knownEnds[g_nextKnownEnd];
        g_nextKnownEnd = (g_nextKnownEnd + 1) % 4;
    }
    *known = id;
    known->end = end;
}

// Reads `size` bytes at `offset` through a handle that may only append.
bool ReadAt(HANDLE file, uint64_t offset, uint8_t* data, DWORD size) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    return ::ReadFile(file, data, size, &got, &at) && got == size;
}

// Whether the bytes at `field` (`available` of them, at least 4) begin a
// record the format allows: its length, and, when the file holds it, the
// text length n it implies.
bool Plausible(const uint8_t* field, uint64_t available) {
    const uint32_t length = GetLe32(field);
    return IsRecordLength(length) && (available < 12 || TextFitsRecord(GetLe32(field + 8), length));
}

// Walks the records from the boundary `from` by their lengths, without
// deciphering, to the end of the file (`size` bytes). Returns the offset of a
// record that runs past the end, the tail that no one can read; `size` when
// the file ends on a boundary, and also when a length breaks the format: then
// where the records lie is not known, and nothing may be cut.
uint64_t TornTail(HANDLE file, uint64_t from, uint64_t size) {
    uint8_t chunk[16384];
    uint64_t chunkAt = 0;
    DWORD chunkSize = 0;
    for (uint64_t at = from; at < size;) {
        // The length field, and n behind it when the file holds it.
        const DWORD want = size - at < 12 ? static_cast<DWORD>(size - at) : 12;
        if (at < chunkAt || at + want > chunkAt + chunkSize) {
            chunkAt = at;
            chunkSize = size - at < sizeof(chunk) ? static_cast<DWORD>(size - at) : sizeof(chunk);
            if (!ReadAt(file, chunkAt, chunk, chunkSize)) return size;
        }
        if (want < 4) return at;
        const uint8_t* field = chunk + (at - chunkAt);
        if (!Plausible(field, want)) return size;
        if (size - at < 4 + static_cast<uint64_t>(GetLe32(field))) return at;
        at += 4 + static_cast<uint64_t>(GetLe32(field));
    }
    return size;
}

// Whether records the format allows run from some later offset of the torn
// record to the end of the file: a writer that knew no better may have
// appended whole records behind a torn one whose length reaches past them.
// A reader still finds those, so the tail is kept.
bool RecordsBehind(HANDLE file, uint64_t torn, uint64_t size) {
    uint8_t tail[4 + 8 + kMaxLogRecordText];
    const DWORD length = static_cast<DWORD>(size - torn);
    if (length > sizeof(tail) || !ReadAt(file, torn, tail, length)) return true;
    for (DWORD from = 1; from + 4 <= length; ++from) {
        DWORD at = from;
        while (at + 4 <= length && Plausible(tail + at, length - at) && length - at >= 4 + GetLe32(tail + at))
            at += 4 + GetLe32(tail + at);
        if (at == length) return true;
    }
    return false;
}

// Cuts the log back to `length` bytes. The writer's handle may only append,
// so that it can never overwrite a record; a handle that may write is opened
// on the same file for the cut alone.
bool CutLog(HANDLE file, uint64_t length) {
    fw::UniqueFile cutter(::ReOpenFile(file, FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0));
    if (!cutter) return false;
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    return ::SetFileInformationByHandle(cutter.get(), FileEndOfFileInfo, &end, sizeof end);
}

// What one append did, for the debug log, written once the lock is released.
struct AppendOutcome {
    int written = 0;
    uint64_t tornAt = 0, tornBytes = 0;  // a torn tail cut off before the append
    DWORD bytes = 0, size = 0;           // of the record: written, in all
    bool cutBack = false;                // a short write cut back to the old length
};

// Appends `data` with one write, so that another appender, locked or not,
// can never land inside it. A write that fails or falls short (a full disk
// writes what fits) is cut back to the length the file had, under the lock,
// so that no torn record is left.
bool AppendOnce(HANDLE file, bool locked, uint64_t oldSize, const uint8_t* data, DWORD size, AppendOutcome* outcome) {
    DWORD written = 0;
    if (::WriteFile(file, data, size, &written, nullptr) && written == size) return true;
    outcome->bytes = written;
    LARGE_INTEGER now;
    if (locked && ::GetFileSizeEx(file, &now) && static_cast<uint64_t>(now.QuadPart) > oldSize)
        outcome->cutBack = CutLog(file, oldSize);
    return false;
}

// The record, with the file magic in front when the file is still empty
// (its creator ended before writing). Without the lock a started log is
// still appended to, but an empty one is left for a lock holder: two writers
// that both found it empty would each write the magic. Under the lock a
// tail that ends inside a record is cut off first: no one can read it, and a
// record appended behind it would be lost to readers that trust lengths.
AppendOutcome AppendRecord(HANDLE file, bool locked, const uint8_t* magicAndRecord, DWORD recordSize) {
    AppendOutcome outcome;
    outcome.size = recordSize;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size)) return outcome;
    uint64_t oldSize = static_cast<uint64_t>(size.QuadPart);
    if (oldSize == 0) {
        if (locked && AppendOnce(file, locked, 0, magicAndRecord, sizeof(kFileMagic) + recordSize, &outcome))
            outcome.written = 1;
    } else {
        KnownEnd id{};
        const bool identified = locked && Identify(file, &id);
        if (identified) {
            const KnownEnd* known = FindKnownEnd(id);
            uint8_t magic[sizeof(kFileMagic)];
            uint64_t from = known && known->end <= oldSize ? known->end : 0;
            if (from == 0 && oldSize >= sizeof(magic) && ReadAt(file, 0, magic, sizeof(magic)) &&
                std::memcmp(magic, kFileMagic, sizeof(magic)) == 0)
                from = sizeof(kFileMagic);
            const uint64_t torn = from == 0 ? oldSize : TornTail(file, from, oldSize);
            if (torn < oldSize && !RecordsBehind(file, torn, oldSize) && CutLog(file, torn)) {
                outcome.tornAt = torn;
                outcome.tornBytes = oldSize - torn;
                oldSize = torn;
            }
        }
        if (AppendOnce(file, locked, oldSize, magicAndRecord + sizeof(kFileMagic), recordSize, &outcome)) {
            outcome.written = 1;
            if (identified) RememberEnd(id, oldSize + recordSize);
        }
    }
    return outcome;
}

void ReportAppend(const char* path, const AppendOutcome& outcome) {
    const DWORD mask = ProcessOptions().debugMask;
    if (outcome.tornBytes)
        DebugLog("logs", mask, kLevelWarn, "%s: a torn record at offset %llu cut off, %llu bytes dropped", path,
                 static_cast<unsigned long long>(outcome.tornAt), static_cast<unsigned long long>(outcome.tornBytes));
    if (!outcome.written)
        DebugLog("logs", mask, kLevelError, "%s: a record is lost, %lu of its %lu bytes written%s", path, outcome.bytes,
                 outcome.size, outcome.cutBack ? " and cut back" : "");
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
    const AppendOutcome outcome = AppendRecord(file.get(), locked, magicAndRecord, recordSize);
    LARGE_INTEGER size{};
    if (!outcome.written && ::GetFileSizeEx(file.get(), &size) && size.QuadPart == 0) {
        FILE_DISPOSITION_INFO disposition{TRUE};
        ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
    }
    if (locked) UnlockLog(file.get());
    ReportAppend(path, outcome);
    return outcome.written;
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
        const AppendOutcome outcome = AppendRecord(file.get(), locked, out, 4 + recordLength);
        if (locked) UnlockLog(file.get());
        ReportAppend(path, outcome);
        return outcome.written;
    }
    return 0;
}
