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
//
// Records carry no marker, so a torn or damaged record would hide every
// record after it if the walk trusted its length. Instead a record that
// breaks a rule starts a damaged stretch, and the walk looks at every later
// offset for the next whole record (a length the rules allow and a CRC that
// holds). The stretch, from the faulty record to that next whole one or to
// the end of the file, is reported once; every whole record is given. A file
// whose header is not "QMR!LOGS" is no log: nothing of it is read further.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "logs/aria.h"
#include "logs/encrypted_log.h"

// One good record. `text` is valid only during the call that hands it over.
struct LogRecord {
    uint64_t offset;  // file offset of its length field
    const uint8_t* text;
    size_t length;
};

// A damaged stretch: `offset` is that of the faulty record's length field
// (0 for a file without the log header), `length` the bytes up to the next
// whole record or the end of the file (0 for a file that is no log: it is
// not read further), `message` what is wrong at its start.
struct LogFault {
    bool found = false;
    uint64_t offset = 0;
    uint64_t length = 0;
    std::string message;
};

using LogRecordSink = std::function<void(const LogRecord&)>;
using LogFaultSink = std::function<void(const LogFault&)>;

// Walks one log file handed over in pieces of any size, so that a file of any
// length is read through a fixed buffer. Records and damaged stretches are
// handed over in file order.
class LogReader {
public:
    explicit LogReader(LogRecordSink sink, LogFaultSink faults = nullptr);

    // The next `size` bytes of the file. False once the file has shown it is
    // no log; later bytes are then ignored.
    bool Feed(const uint8_t* data, size_t size);
    // The file ends here: a header or record left incomplete is damage.
    // False when the file has any damage.
    bool Finish();
    // The first damaged stretch.
    const LogFault& Fault() const { return fault_; }

private:
    void Walk(bool atEnd);
    // Whether the record at buffer position `at` is whole: 1 yes, 0 no (with
    // `why`, 256 bytes, filled unless it is null), -1 when more bytes are
    // needed to tell.
    int Check(size_t at, bool atEnd, char* why);
    void EndStretch(uint64_t end);

    LogRecordSink sink_;
    LogFaultSink faults_;
    LogFault fault_;
    AriaRoundKeys roundKeys_;
    int rounds_;
    bool header_ = false;  // the header has been checked
    bool notLog_ = false;
    bool inStretch_ = false;
    LogFault stretch_;  // the damaged stretch being passed over
    uint64_t base_ = 0;  // file offset of buffer_[0]
    size_t at_ = 0;      // the record being looked at
    size_t end_ = 0;     // bytes held
    // Room for the longest record with its length field, and for the next
    // pieces, so that a piece is copied in once and checked in place.
    uint8_t buffer_[16384];
    uint8_t plain_[kMaxLogRecordText];
};

// A whole file held in memory. False with `fault` (the first damaged
// stretch) filled when it has damage.
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
