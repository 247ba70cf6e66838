// kxlogcat: prints the records of the encrypted logs, for support staff and
// for the product's other components. It only ever reads a log.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/exact_path.h"
#include "framework/handles.h"
#include "tools/kxlogcat/log_reader.h"

namespace {

constexpr int kExitGood = 0;
constexpr int kExitUsage = 1;
constexpr int kExitBadInput = 2;
constexpr DWORD kReadChunk = 64 * 1024;

constexpr const char* kHelp =
    "Usage: kxlogcat [--csv] FILE...\n"
    "\n"
    "Prints the records of encrypted log files (virus.log, events.log in the\n"
    "Logs folder of the installation), one record per line, file after file.\n"
    "A log is only read, never changed; a log that is being written can be read.\n"
    "\n"
    "  --csv    print CSV rows (RFC 4180) instead of the record texts:\n"
    "           a virus-log record TIME|NAME|PATH|ACTION|SOURCE gives the columns\n"
    "           time, name, path, action, source (path, action and source are the\n"
    "           last three fields, so a name may hold \"|\"); any other record,\n"
    "           such as an event-log record TIME|TEXT, gives the columns time,\n"
    "           text; a record that does not begin with a time stamp and \"|\"\n"
    "           gives an empty time and its whole text. A field holding a comma,\n"
    "           a quote, CR or LF is quoted and its quotes doubled; CR and LF\n"
    "           stay as they are inside the quotes.\n"
    "  --help   print this help.\n"
    "\n"
    "Without --csv a record is printed as its text with a CR written as \\r, an\n"
    "LF as \\n, a backslash as \\\\ and any other control byte as \\xHH, so that\n"
    "every line is exactly one record. Lines end with CR LF.\n"
    "\n"
    "Each record is checked: the file must begin with \"QMR!LOGS\"; a record's\n"
    "length L must be 8 plus a multiple of 16, from 24 to 2040, and lie within\n"
    "the file; its text length n must be at least 1 with L - 8 = 16 * ceil(n/16);\n"
    "the CRC-32 of the deciphered text must match, and the rest of its last\n"
    "block must be zeros. A file of 0 bytes holds no records. A record that\n"
    "breaks these rules (torn by a writer that was stopped, or damaged) starts\n"
    "a damaged stretch: the next whole record is looked for at every later\n"
    "offset and printed, and so is every whole record after it. Each stretch\n"
    "is named on the error output, where it lies among the records printed:\n"
    "\"kxlogcat: FILE: offset N: what; M bytes damaged\", N being the byte\n"
    "offset of the faulty record, M the bytes up to the next whole record or\n"
    "the end of the file. A file that does not begin with the header is not\n"
    "a log: \"kxlogcat: FILE: offset 0: not a log file ...\", and the next\n"
    "file is read.\n"
    "\n"
    "Exit code: 0 when every record of every file is good; 1 for a bad command\n"
    "line; 2 when a file could not be read or has damage, or when the output\n"
    "could not be written (a full disk, a closed pipe).\n";

// The errno of the first failed write to standard output, 0 while none has
// failed. Nothing written after it would arrive, so the run ends.
int g_outputError = 0;

bool Print(const std::string& text) {
    if (g_outputError == 0 && std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
        g_outputError = errno ? errno : EIO;
    return g_outputError == 0;
}

// Standard output flushed; false, with a message, when any of it was lost.
bool OutputComplete() {
    if (g_outputError == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout))) g_outputError = errno ? errno : EIO;
    if (g_outputError == 0) return true;
    std::fprintf(stderr, "kxlogcat: cannot write the output: %s\n", std::strerror(g_outputError));
    return false;
}

// What the system says about `error`, without its line end.
std::string SystemMessage(DWORD error) {
    char text[256] = {};
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                    text, sizeof(text), nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' '))
        text[--length] = '\0';
    char result[300];
    std::snprintf(result, sizeof(result), "%s (error %lu)", length > 0 ? text : "system error", error);
    return result;
}

// The records go to standard output first, so a message lands after them.
void Report(const char* path, const std::string& what) {
    std::fflush(stdout);
    std::fprintf(stderr, "kxlogcat: %s: %s\n", path, what.c_str());
}

void ReportAt(const char* path, uint64_t offset, const std::string& what) {
    char where[48];
    std::snprintf(where, sizeof(where), "offset %llu: ", static_cast<unsigned long long>(offset));
    Report(path, where + what);
}

// Prints every whole record of one file and names each damaged stretch;
// false when the file could not be read or has damage.
bool PrintLog(const char* path, bool csv) {
    // By its exact name: "nul.log" is a file here, not the null device.
    fw::UniqueFile file(OpenExactFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      FILE_FLAG_SEQUENTIAL_SCAN));
    if (!file) {
        const DWORD error = ::GetLastError();
        Report(path, "cannot open: " + (error == ERROR_BAD_FILE_TYPE ? "not a file" : SystemMessage(error)));
        return false;
    }

    LogReader reader(
        [csv](const LogRecord& record) {
            std::string line =
                csv ? FormatCsvRow(record.text, record.length) : FormatPlainLine(record.text, record.length);
            Print(line + "\r\n");
        },
        [path](const LogFault& fault) {
            if (fault.length == 0) return ReportAt(path, fault.offset, fault.message);
            ReportAt(path, fault.offset, fault.message + "; " + std::to_string(fault.length) + " bytes damaged");
        });
    std::vector<uint8_t> buffer(kReadChunk);
    uint64_t offset = 0;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer.data(), kReadChunk, &got, nullptr)) {
            ReportAt(path, offset, "cannot read: " + SystemMessage(::GetLastError()));
            return false;
        }
        if (got == 0) break;
        offset += got;
        if (!reader.Feed(buffer.data(), got)) break;
        if (g_outputError) return false;
    }
    return reader.Finish();
}

int UsageError(const char* what) {
    std::fprintf(stderr, "kxlogcat: %s\nUsage: kxlogcat [--csv] FILE...  (kxlogcat --help tells more)\n", what);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    bool csv = false;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "/?") == 0) {
            Print(kHelp);
            return OutputComplete() ? kExitGood : kExitBadInput;
        }
        if (std::strcmp(arg, "--csv") == 0) {
            csv = true;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            std::string what = std::string("unknown option ") + arg;
            return UsageError(what.c_str());
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return UsageError("no log file given");

    // Record texts are written byte for byte: no LF to CR LF translation
    // inside a quoted CSV field.
    _setmode(_fileno(stdout), _O_BINARY);
    // The run-time library leaves output to a character device unbuffered,
    // the null device too, where a write per record costs a hundred times
    // the record (51 s for a 100 MB log against 6 s into a file). Only a
    // console, where a person reads along, keeps that.
    DWORD consoleMode = 0;
    if (!::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &consoleMode)) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    int status = kExitGood;
    for (const char* path : files) {
        if (!PrintLog(path, csv)) status = kExitBadInput;
        if (g_outputError) break;
    }
    return OutputComplete() ? status : kExitBadInput;
}
