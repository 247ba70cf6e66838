// kxsoc.dll, the stand-in for the product's scan engine: the same ScanFile
// contract, with the EICAR test file and the signatures of kxsoc.sig.
//
// Scan (mode 0): 0 clean, -1 not scanned (no file, locked, unreadable, not a
// file of a disk, bad arguments), else the result bits of the first finding,
// with its name and kind. The first finding is the EICAR test file when the
// file is one, else the pattern that ends first in the file; at the same byte
// the longer pattern, then the earlier line of kxsoc.sig.
//
// Cure (mode 1), for the named finding, after checking the file still holds
// it: 0x0008 repaired (every match removed, the rest kept), 0x0200 deleted;
// 0 when the file no longer holds the finding; 0x0010 for every other
// failure (action "fail", file gone, locked or unreadable, a link or other
// reparse point, a path that leads elsewhere than its names say, a delete of
// one name of several, unknown name, bad arguments). Never -1 here: the
// caller tests the success bits alone, and -1 has them all. A failed cure
// leaves the file as it was, unless writing the repaired bytes back into it
// fails part of the way.
//
// Files are opened by their exact names (see app/exact_path.h): the path the
// caller gives is the name the file was listed under.
//
// KXSOC_DELAY_MS, when set in the environment, makes every call take that
// much longer, so that tests can watch a scan or a cure in progress.
#include "engine/scan_engine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <utility>

#include "app/exact_path.h"
#include "engine/signature_file.h"
#include "framework/handles.h"

namespace {

using kxsoc::CureAction;
using kxsoc::SignatureSet;

constexpr LONG kNotScanned = -1;
constexpr LONG kRepaired = 0x0008;
constexpr LONG kDeleted = 0x0200;
// Neither success bit; the same value as the caller's own "not cured" code.
constexpr LONG kCureFailed = 0x0010;
constexpr LONG kNothingToCure = 0;

// Files are streamed through buffers of this size, whatever their length.
constexpr DWORD kBufferSize = 64 * 1024;

// A repair whose removals keep joining the bytes around them into new
// matches gives up after this many passes rather than run on.
constexpr int kMaxRepairPasses = 8;

// The test file's own rule: these 68 characters at the start, then at most
// 60 more bytes of blanks, tabs, line ends or Ctrl-Z. A document that quotes
// the string, or the string inside a larger file, is not the test file.
constexpr char kEicarText[] = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
constexpr size_t kEicarLength = sizeof kEicarText - 1;
static_assert(kEicarLength == 68);
constexpr size_t kEicarMaxFile = 128;

constexpr int kNoFinding = -1;
constexpr int kReadFailed = -2;

// One buffer per call, so that calls from several threads do not meet.
using Buffer = std::unique_ptr<unsigned char[]>;

Buffer NewBuffer() { return Buffer(new (std::nothrow) unsigned char[kBufferSize]); }

bool IsEicarFile(const unsigned char* head, ULONGLONG size) {
    if (size < kEicarLength || size > kEicarMaxFile || std::memcmp(head, kEicarText, kEicarLength) != 0) return false;
    for (size_t i = kEicarLength; i < size; ++i) {
        unsigned char c = head[i];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != 0x1A) return false;
    }
    return true;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Other programs may hold the file open for writing or deleting; a file
// someone holds exclusively cannot be opened and is not scanned.
HANDLE OpenForReading(const char* path, DWORD extraAccess, DWORD flags) {
    return OpenExactFile(path, GENERIC_READ | extraAccess, kShareAll, FILE_FLAG_SEQUENTIAL_SCAN | flags);
}

bool SetAttributes(HANDLE file, DWORD attributes) {
    FILE_BASIC_INFO basic{};  // zero times: left as they are
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

bool Rewind(HANDLE file) {
    LARGE_INTEGER start{};
    return ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != 0;
}

bool WriteAll(HANDLE file, const unsigned char* data, DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(file, data, size, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// Reads `file` from its position to its end, once, and gives the signature
// of the first finding (see the top of this file), kNoFinding or
// kReadFailed. `only` limits the search to one signature (-1: all).
int FindFirst(const SignatureSet& set, HANDLE file, int only, unsigned char* buffer) {
    unsigned char head[kEicarMaxFile];
    ULONGLONG total = 0;
    uint32_t row = 0;
    int found = kNoFinding;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer, kBufferSize, &got, nullptr)) return kReadFailed;
        if (got == 0) break;
        if (total < kEicarMaxFile)
            std::memcpy(head + total, buffer, static_cast<size_t>(std::min<ULONGLONG>(got, kEicarMaxFile - total)));
        total += got;
        int pattern = -1;
        if (found == kNoFinding) kxsoc::MatchBytes(set, buffer, got, &row, only, &pattern);
        if (pattern >= 0) found = set.patterns[pattern].signature;
        // Past 128 bytes the file cannot be the test file, so the rest of it
        // cannot change the answer.
        if (found != kNoFinding && total > kEicarMaxFile) return found;
    }
    if ((only < 0 || only == kxsoc::kEicar) && IsEicarFile(head, total)) return kxsoc::kEicar;
    return found;
}

// Copies `in` to `out` without any byte of a match of signature `only`.
// Overlapping matches go as one. A byte may still turn out to belong to a
// match until the longest pattern's length has passed it, so the newest
// bytes wait in a ring before they are written.
bool RemoveMatches(const SignatureSet& set, HANDLE in, HANDLE out, int only, unsigned char* inBuffer,
                   unsigned char* outBuffer) {
    constexpr size_t kRing = kxsoc::kMaxPatternLength;
    unsigned char ring[kRing];
    bool drop[kRing];
    const ULONGLONG delay = static_cast<ULONGLONG>(set.maxLength);
    ULONGLONG position = 0;
    ULONGLONG written = 0;
    DWORD fill = 0;
    uint32_t row = 0;

    auto emit = [&]() {
        size_t slot = written++ % kRing;
        if (drop[slot]) return true;
        outBuffer[fill++] = ring[slot];
        if (fill < kBufferSize) return true;
        fill = 0;
        return WriteAll(out, outBuffer, kBufferSize);
    };

    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(in, inBuffer, kBufferSize, &got, nullptr)) return false;
        if (got == 0) break;
        for (DWORD i = 0; i < got; ++i) {
            size_t slot = position % kRing;
            ring[slot] = inBuffer[i];
            drop[slot] = false;
            uint32_t step = set.next[row + set.classOf[inBuffer[i]]];
            row = step >> 1;
            if (step & 1) {
                int pattern = kxsoc::MatchAt(set, row, only);
                if (pattern >= 0)
                    for (int back = 0; back < set.patterns[pattern].length; ++back)
                        drop[(position - back) % kRing] = true;
            }
            ++position;
            if (position - written >= delay && !emit()) return false;
        }
    }
    while (written < position)
        if (!emit()) return false;
    return WriteAll(out, outBuffer, fill) && ::SetEndOfFile(out);
}

// A work file in the temporary folder, removed by the system when its handle
// closes, even when the process ends first.
fw::UniqueFile NewWorkFile() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH || !::GetTempFileNameW(folder, L"kxs", 0, path)) return {};
    fw::UniqueFile file(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, TRUNCATE_EXISTING,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file) ::DeleteFileW(path);
    return file;
}

// Copies the repaired bytes over the start of the checked file and cuts it
// there. The writing handle is reopened from the checked one, so the bytes
// reach that very file, whatever its name now leads to (Wine reopens by
// name, so the writer is checked to be the same file). A read-only file is
// made writable for the while.
bool WriteBack(HANDLE original, HANDLE repaired, unsigned char* buffer) {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(original, FileBasicInfo, &basic, sizeof basic)) return false;
    const DWORD attributes = basic.FileAttributes;
    const bool readOnly = attributes & FILE_ATTRIBUTE_READONLY;
    if (readOnly && !SetAttributes(original, attributes & ~FILE_ATTRIBUTE_READONLY)) return false;
    fw::UniqueFile writer(::ReOpenFile(original, GENERIC_WRITE, kShareAll, 0));
    BY_HANDLE_FILE_INFORMATION checked{};
    BY_HANDLE_FILE_INFORMATION opened{};
    bool written = writer && ::GetFileInformationByHandle(original, &checked) &&
                   ::GetFileInformationByHandle(writer.get(), &opened) &&
                   checked.dwVolumeSerialNumber == opened.dwVolumeSerialNumber &&
                   checked.nFileIndexHigh == opened.nFileIndexHigh && checked.nFileIndexLow == opened.nFileIndexLow &&
                   Rewind(repaired);
    while (written) {
        DWORD got = 0;
        written = ::ReadFile(repaired, buffer, kBufferSize, &got, nullptr) != 0;
        if (!written || got == 0) break;
        written = WriteAll(writer.get(), buffer, got);
    }
    written = written && ::SetEndOfFile(writer.get()) && ::FlushFileBuffers(writer.get());
    if (readOnly) SetAttributes(original, attributes);
    return written;
}

// Writes the file without the finding's bytes into a work file, checks the
// result is clean (removing again when the cut joined bytes into a new
// match), and only then writes it into the original file itself: its other
// names, security, streams and times stay with it.
LONG Repair(const SignatureSet& set, HANDLE original, int signature, unsigned char* buffer) {
    Buffer outBuffer = NewBuffer();
    fw::UniqueFile first = NewWorkFile();
    fw::UniqueFile second = NewWorkFile();
    if (!outBuffer || !first || !second) return kCureFailed;
    if (!Rewind(original) || !RemoveMatches(set, original, first.get(), signature, buffer, outBuffer.get()))
        return kCureFailed;

    HANDLE from = first.get();
    HANDLE to = second.get();
    for (int pass = 1;; ++pass) {
        if (!Rewind(from)) return kCureFailed;
        int found = FindFirst(set, from, signature, buffer);
        if (found == kReadFailed) return kCureFailed;
        if (found == kNoFinding) break;
        if (pass == kMaxRepairPasses || !Rewind(from) || !Rewind(to) ||
            !RemoveMatches(set, from, to, signature, buffer, outBuffer.get()))
            return kCureFailed;
        std::swap(from, to);
    }
    return WriteBack(original, from, buffer) ? kRepaired : kCureFailed;
}

// Deletes through the handle that was checked, so a file put in its place
// since is never the one removed. A read-only file is made writable first.
bool DeleteChecked(HANDLE file) {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return false;
    const DWORD attributes = basic.FileAttributes;
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !SetAttributes(file, attributes & ~FILE_ATTRIBUTE_READONLY))
        return false;
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition)) return true;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetAttributes(file, attributes);
    return false;
}

bool SamePath(const wchar_t* a, const wchar_t* b) { return ::CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL; }

// A 32-bit caller on 64-bit Windows names the native system folder by its
// alias <windows>\Sysnative, while a handle's final path names it as the
// system folder: `path` with the alias written as the system folder.
void UnaliasSystemFolder(wchar_t (&path)[kExactPathSize]) {
    wchar_t alias[MAX_PATH + 16];
    wchar_t system[MAX_PATH];
    const UINT windowsLength = ::GetSystemWindowsDirectoryW(alias, MAX_PATH);
    const UINT systemLength = ::GetSystemDirectoryW(system, MAX_PATH);
    if (windowsLength == 0 || windowsLength >= MAX_PATH || systemLength == 0 || systemLength >= MAX_PATH) return;
    std::wcscpy(alias + windowsLength, alias[windowsLength - 1] == L'\\' ? L"Sysnative" : L"\\Sysnative");
    const size_t aliasLength = std::wcslen(alias);
    const size_t pathLength = std::wcslen(path);
    if (pathLength < aliasLength || (path[aliasLength] != L'\0' && path[aliasLength] != L'\\') ||
        ::CompareStringOrdinal(path, static_cast<int>(aliasLength), alias, static_cast<int>(aliasLength), TRUE) !=
            CSTR_EQUAL ||
        pathLength - aliasLength + systemLength >= kExactPathSize)
        return;
    std::wmemmove(path + systemLength, path + aliasLength, pathLength - aliasLength + 1);
    std::wmemcpy(path, system, systemLength);
}

// Whether `file`, opened by `path`, is the file the path names: its final
// path is the long form of the path. A folder of the path that is a link, or
// has become one since the scan, makes the two differ; short names do not.
bool OpenedAsNamed(HANDLE file, const char* path) {
    wchar_t named[kExactPathSize];
    wchar_t plain[kExactPathSize];
    wchar_t opened[kExactPathSize];
    if (!ExactPath(path, named, kExactPathSize) || !FinalPathOf(file, named, opened, kExactPathSize)) return false;
    std::wcscpy(plain, named);
    PlainPath(plain);
    wchar_t compared[kExactPathSize];
    std::wcscpy(compared, plain);
    UnaliasSystemFolder(compared);
    if (SamePath(compared, opened)) return true;
    // The long form costs a folder listing per name under Wine, so only a path
    // that differs is expanded. Wine keeps the short names of a \\?\ path as
    // they are; the plain form has them expanded everywhere, while it fits.
    wchar_t longNamed[kExactPathSize];
    const wchar_t* query = std::wcslen(plain) < MAX_PATH ? plain : named;
    const DWORD longLength = ::GetLongPathNameW(query, longNamed, kExactPathSize);
    if (longLength == 0 || longLength >= kExactPathSize) return false;
    PlainPath(longNamed);
    UnaliasSystemFolder(longNamed);
    return SamePath(longNamed, opened);
}

LONG Scan(const char* path, char* name, LONG* kind) {
    const SignatureSet& set = kxsoc::Signatures();
    // On the caller's stack: a heap block of this size for every file cost as
    // much as reading a large file.
    unsigned char buffer[kBufferSize];
    fw::UniqueFile file(OpenForReading(path, 0, 0));
    if (!file) return kNotScanned;
    int found = FindFirst(set, file.get(), -1, buffer);
    if (found == kReadFailed) return kNotScanned;
    if (found == kNoFinding) return 0;
    const kxsoc::Signature& signature = set.signatures[found];
    std::strcpy(name, signature.name);  // at most 259 characters, as the buffer takes
    *kind = signature.kind;
    return signature.result;
}

LONG Cure(const char* path, const char* name, LONG* kind) {
    if (!std::memchr(name, '\0', 260)) return kCureFailed;
    const SignatureSet& set = kxsoc::Signatures();
    int index = kxsoc::FindSignature(set, name);
    if (index < 0) return kCureFailed;
    const kxsoc::Signature& signature = set.signatures[index];
    *kind = signature.kind;

    // The link itself is opened, never what it leads to, and a path through a
    // link is refused: a cure through one would change or remove something
    // other than the listed file. Everything after goes through this handle.
    Buffer buffer = NewBuffer();
    DWORD access = signature.action == CureAction::Fail ? 0 : FILE_WRITE_ATTRIBUTES;
    if (signature.action == CureAction::Delete) access |= DELETE;
    fw::UniqueFile file(OpenForReading(path, access, FILE_FLAG_OPEN_REPARSE_POINT));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!buffer || !file || !::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !OpenedAsNamed(file.get(), path))
        return kCureFailed;
    int found = FindFirst(set, file.get(), index, buffer.get());
    if (found == kReadFailed) return kCureFailed;
    if (found == kNoFinding) return kNothingToCure;  // changed since the scan: nothing of it is touched

    switch (signature.action) {
        case CureAction::Repair:
            return Repair(set, file.get(), index, buffer.get());
        case CureAction::Delete:
            // Removing one name of several would leave the bytes under the others.
            return info.nNumberOfLinks == 1 && DeleteChecked(file.get()) ? kDeleted : kCureFailed;
        case CureAction::Fail:
            break;
    }
    return kCureFailed;
}

}  // namespace

// `size` and `lastWrite` are the caller's view of the file; the engine reads
// the file itself to its end, so neither is needed.
LONG WINAPI ScanFile(const char* path, DWORD /*size*/, DWORD mode, char* name, LONG* kind,
                     const FILETIME* /*lastWrite*/, DWORD /*caller*/) {
    static const DWORD delay = [] {
        char text[16] = {};
        return ::GetEnvironmentVariableA("KXSOC_DELAY_MS", text, sizeof(text)) ? std::strtoul(text, nullptr, 10) : 0ul;
    }();
    if (delay) ::Sleep(delay);
    const LONG failed = mode == 1 ? kCureFailed : kNotScanned;
    if (!path || !name || !kind || mode > 1) return failed;
    try {
        return mode == 0 ? Scan(path, name, kind) : Cure(path, name, kind);
    } catch (...) {
        // Only running out of memory while loading the signatures can get
        // here; the caller's thread must not end for it.
        return failed;
    }
}
