// Reads kxsoc.sig from the folder of the dll into a signature set.
#include "engine/signature_file.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "framework/handles.h"

namespace kxsoc {
namespace {

// Any object of this module: its address names the dll to the loader.
const char kModuleAnchor = 0;

void Report(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    ::OutputDebugStringA(text);
}

// The first skipped lines are named one by one, the rest counted: a call to
// the debugger output costs tens of microseconds, and a file of nothing but
// bad lines would otherwise hold up the first scan for seconds.
constexpr unsigned kLinesNamed = 100;

struct SkippedLines {
    char path[520];
    unsigned count = 0;
};

void ReportLine(void* context, unsigned line, const char* error) {
    auto* skipped = static_cast<SkippedLines*>(context);
    if (++skipped->count <= kLinesNamed) Report("kxsoc: %s line %u skipped: %s\n", skipped->path, line, error);
}

// kxsoc.sig in the folder of this dll, whatever the dll is called.
bool SignatureFilePath(char (&path)[520]) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              &kModuleAnchor, &module))
        return false;
    DWORD length = ::GetModuleFileNameA(module, path, sizeof path);
    if (length == 0 || length >= sizeof path) return false;
    char* slash = std::strrchr(path, '\\');
    if (!slash || static_cast<size_t>(slash + 1 - path) + sizeof "kxsoc.sig" > sizeof path) return false;
    std::strcpy(slash + 1, "kxsoc.sig");
    return true;
}

// False when the file could not be read to its end.
bool ReadSignatureFile(const char* path, SignatureReader* reader) {
    fw::UniqueFile file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            Report("kxsoc: %s cannot be opened (error %lu)\n", path, error);
        return false;
    }
    char chunk[4096];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) {
            Report("kxsoc: %s read failed (error %lu)\n", path, ::GetLastError());
            return false;
        }
        if (got == 0) return true;
        reader->Feed(chunk, got);
    }
}

SignatureSet LoadSignatures() {
    SignatureSet set;
    SkippedLines skipped;
    SignatureReader reader(&set, ReportLine, &skipped);
    const bool read = SignatureFilePath(skipped.path) && ReadSignatureFile(skipped.path, &reader);
    reader.Finish(read);
    if (skipped.count > kLinesNamed)
        Report("kxsoc: %s: %u more lines skipped\n", skipped.path, skipped.count - kLinesNamed);
    if (read) Report("kxsoc: %s: %u patterns\n", skipped.path, static_cast<unsigned>(set.patterns.size()));
    return set;
}

}  // namespace

const SignatureSet& Signatures() {
    static const SignatureSet set = LoadSignatures();
    return set;
}

}  // namespace kxsoc
