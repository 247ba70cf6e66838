// Reads the encrypted log files ("QMR!LOGS", then records of L, CRC-32, n and
// the ARIA-256 ciphertext under the log key): checks the header, walks the
// records, deciphers each and checks its lengths and its CRC-32. Safe for any
// byte sequence: memory use is fixed, whatever the length fields say.
//
// A file of 0 bytes holds no records: a writer may have created it a moment
// before writing its header and first record.
//
// Rules, stricter than "L bytes follow" where the writer allows nothing else:
// - L is 8 plus a multiple of 16, at least 24 and at most 2040 (a text of
//   2032 bytes, the longest the writer takes);
// - n is at least 1 and the ciphertext is exactly the one n needs:
//   L - 8 == 16 * ceil(n / 16);
// - the CRC-32 of the first n deciphered bytes is the stored one, and the
//   deciphered bytes after them are zeros, as the writer pads.
// The first fault ends the walk; every good record before it has been given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "logs/aria.h"
#include "logs/encrypted_log.h"

// The largest L a record can have.
constexpr uint32_t kMaxLogRecordLength = 8 + kMaxLogRecordText;

// One good record. `text` is valid only during the call that hands it over.
struct LogRecord {
    uint64_t offset;  // file offset of its length field
    const uint8_t* text;
    size_t length;
};

// The first fault of a file. `offset` is that of the faulty record's length
// field, or 0 for a file without the log header.
struct LogFault {
    bool found = false;
    uint64_t offset = 0;
    std::string message;
};

using LogRecordSink = std::function<void(const LogRecord&)>;

// Walks one log file handed over in pieces of any size, so that a file of any
// length is read through a fixed buffer.
class LogReader {
public:
    explicit LogReader(LogRecordSink sink);

    // The next `size` bytes of the file. False once a fault has been found;
    // later bytes are then ignored.
    bool Feed(const uint8_t* data, size_t size);
    // The file ends here: a header or record left incomplete is a fault.
    // False when the file has a fault.
    bool Finish();
    const LogFault& Fault() const { return fault_; }

private:
    enum class Part { Header, Length, Record };

    void Complete();
    void CheckRecord(uint32_t length);
    void Fail(uint64_t offset, const char* format, ...) __attribute__((format(printf, 3, 4)));

    LogRecordSink sink_;
    LogFault fault_;
    AriaRoundKeys roundKeys_;
    int rounds_;
    Part part_ = Part::Header;
    uint64_t recordOffset_ = 0;
    size_t have_ = 0;
    size_t need_;
    // The header, or one record with its length field.
    uint8_t pending_[4 + kMaxLogRecordLength];
    uint8_t plain_[kMaxLogRecordText];
};

// A whole file held in memory. False with `fault` filled when it has a fault.
bool ReadLog(const uint8_t* data, size_t size, const LogRecordSink& sink, LogFault* fault);

// One record text as one output line: CR as "\r", LF as "\n", a backslash as
// "\\" and other control bytes as "\xHH", so the text can be told back exactly.
std::string FormatPlainLine(const uint8_t* text, size_t length);

// One record text as a CSV row (RFC 4180 quoting), without line end:
// "TIME|NAME|PATH|ACTION|SOURCE" (a virus-log record) gives time, name, path,
// action, source; the name may hold "|", as a Windows path cannot, so path,
// action and source are the last three fields. Any other text ("TIME|TEXT",
// an event-log record) gives time, text; a text that does not begin with a
// time stamp and "|" gives an empty time and the whole text.
std::string FormatCsvRow(const uint8_t* text, size_t length);
