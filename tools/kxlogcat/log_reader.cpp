#include "tools/kxlogcat/log_reader.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "logs/crc32.h"
#include "tools/kxlogcat/aria_decrypt.h"

namespace {

constexpr char kLogMagic[8] = {'Q', 'M', 'R', '!', 'L', 'O', 'G', 'S'};
constexpr size_t kLengthField = 4;
constexpr size_t kTimeStampLength = 19;  // "YYYY-MM-DD hh:mm:ss"
constexpr size_t kWhySize = 256;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AllDigits(const std::string& text, size_t from) {
    if (from >= text.size()) return false;
    for (size_t i = from; i < text.size(); ++i)
        if (!IsDigit(text[i])) return false;
    return true;
}

// "YYYY-MM-DD hh:mm:ss" followed by "|".
bool StartsWithTimeStamp(const std::string& text) {
    static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd|";
    if (text.size() < sizeof(kShape) - 1) return false;
    for (size_t i = 0; i < sizeof(kShape) - 1; ++i) {
        if (kShape[i] == 'd' ? !IsDigit(text[i]) : text[i] != kShape[i]) return false;
    }
    return true;
}

void AppendCsvField(std::string* row, const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        *row += field;
        return;
    }
    *row += '"';
    for (char c : field) {
        if (c == '"') *row += '"';
        *row += c;
    }
    *row += '"';
}

std::string JoinCsv(std::initializer_list<std::string> fields) {
    std::string row;
    bool first = true;
    for (const std::string& field : fields) {
        if (!first) row += ',';
        first = false;
        AppendCsvField(&row, field);
    }
    return row;
}

// What is wrong with a record, into `why` (kWhySize bytes) unless it is null.
void Explain(char* why, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Explain(char* why, const char* format, ...) {
    if (!why) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(why, kWhySize, format, args);
    va_end(args);
}

}  // namespace

LogReader::LogReader(LogRecordSink sink, LogFaultSink faults) : sink_(std::move(sink)), faults_(std::move(faults)) {
    uint8_t key[32] = {};
    std::memcpy(key, kLogPassPhrase, std::strlen(kLogPassPhrase));
    rounds_ = AriaExpandDecryptKey(key, 256, roundKeys_);
}

bool LogReader::Feed(const uint8_t* data, size_t size) {
    while (size > 0 && !notLog_) {
        if (end_ == sizeof(buffer_)) {
            // Keep only what is not looked at yet: less than one record.
            std::memmove(buffer_, buffer_ + at_, end_ - at_);
            base_ += at_;
            end_ -= at_;
            at_ = 0;
        }
        const size_t take = std::min(sizeof(buffer_) - end_, size);
        std::memcpy(buffer_ + end_, data, take);
        end_ += take;
        data += take;
        size -= take;
        Walk(false);
    }
    return !notLog_;
}

bool LogReader::Finish() {
    if (!notLog_) Walk(true);
    return !fault_.found;
}

void LogReader::Walk(bool atEnd) {
    if (!header_) {
        if (end_ < sizeof(kLogMagic)) {
            if (!atEnd || end_ == 0) return;
            notLog_ = true;
            char why[128];
            std::snprintf(why, sizeof(why), "not a log file (%u bytes, shorter than the 8-byte header \"QMR!LOGS\")",
                          static_cast<unsigned>(end_));
            fault_ = LogFault{true, 0, 0, why};
        } else if (std::memcmp(buffer_, kLogMagic, sizeof(kLogMagic)) != 0) {
            notLog_ = true;
            fault_ = LogFault{true, 0, 0, "not a log file (its first 8 bytes are not \"QMR!LOGS\")"};
        }
        if (notLog_) {
            if (faults_) faults_(fault_);
            return;
        }
        header_ = true;
        at_ = sizeof(kLogMagic);
    }
    char why[kWhySize];
    while (at_ < end_) {
        // Inside a damaged stretch only its start is named.
        const int whole = Check(at_, atEnd, inStretch_ ? nullptr : why);
        if (whole < 0) return;
        if (whole == 0) {
            // Look for the next whole record one byte further on.
            if (!inStretch_) stretch_ = LogFault{true, base_ + at_, 0, why};
            inStretch_ = true;
            ++at_;
            continue;
        }
        const uint32_t length = GetLe32(buffer_ + at_);
        EndStretch(base_ + at_);
        sink_(LogRecord{base_ + at_, plain_, GetLe32(buffer_ + at_ + 8)});
        at_ += kLengthField + length;
    }
    if (atEnd) EndStretch(base_ + end_);
}

void LogReader::EndStretch(uint64_t end) {
    if (!inStretch_) return;
    inStretch_ = false;
    stretch_.length = end - stretch_.offset;
    if (!fault_.found) fault_ = stretch_;
    if (faults_) faults_(stretch_);
}

int LogReader::Check(size_t at, bool atEnd, char* why) {
    const size_t have = end_ - at;
    if (have < kLengthField) {
        if (!atEnd) return -1;
        Explain(why, "record length field cut short by the end of the file (%u of 4 bytes)",
                static_cast<unsigned>(have));
        return 0;
    }
    const uint8_t* record = buffer_ + at + kLengthField;
    const uint32_t length = GetLe32(buffer_ + at);
    if (!IsRecordLengthShaped(length)) {
        Explain(why, "record length L = %u is not 8 plus a positive multiple of 16", static_cast<unsigned>(length));
        return 0;
    }
    if (!IsRecordLength(length)) {
        Explain(why, "record length L = %u is larger than any record (at most %u)", static_cast<unsigned>(length),
                static_cast<unsigned>(kMaxLogRecordLength));
        return 0;
    }
    if (have < kLengthField + 8) {
        if (!atEnd) return -1;
    } else if (const uint32_t textLength = GetLe32(record + 4); !TextFitsRecord(textLength, length)) {
        // The writer makes the smallest ciphertext that holds the text.
        Explain(why, "plaintext length n = %u does not fit a record of L = %u (L - 8 must be 16 * ceil(n / 16))",
                static_cast<unsigned>(textLength), static_cast<unsigned>(length));
        return 0;
    }
    if (have < kLengthField + length) {
        if (!atEnd) return -1;
        Explain(why, "record of L = %u runs past the end of the file (%u of its %u bytes present)",
                static_cast<unsigned>(length), static_cast<unsigned>(have - kLengthField), static_cast<unsigned>(length));
        return 0;
    }
    const uint32_t storedCrc = GetLe32(record);
    const uint32_t textLength = GetLe32(record + 4);
    const uint32_t cipherLength = length - 8;
    for (uint32_t i = 0; i < cipherLength; i += kAriaBlockSize)
        AriaCryptBlock(record + 8 + i, rounds_, roundKeys_, plain_ + i);
    const uint32_t crc = Crc32(plain_, textLength);
    if (crc != storedCrc) {
        Explain(why, "CRC mismatch (stored 0x%08X, computed 0x%08X)", static_cast<unsigned>(storedCrc),
                static_cast<unsigned>(crc));
        return 0;
    }
    // The writer fills the last block up with zeros; the CRC does not cover them.
    for (uint32_t i = textLength; i < cipherLength; ++i) {
        if (plain_[i] != 0) {
            Explain(why, "the last block is not filled up with zeros after the text");
            return 0;
        }
    }
    return 1;
}

bool ReadLog(const uint8_t* data, size_t size, const LogRecordSink& sink, LogFault* fault) {
    LogReader reader(sink);
    reader.Feed(data, size);
    const bool good = reader.Finish();
    if (fault) *fault = reader.Fault();
    return good;
}

std::string FormatPlainLine(const uint8_t* text, size_t length) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line;
    line.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const uint8_t c = text[i];
        if (c == '\\') {
            line += "\\\\";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\n') {
            line += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            line += "\\x";
            line += kHex[c >> 4];
            line += kHex[c & 0xF];
        } else {
            line += static_cast<char>(c);
        }
    }
    return line;
}

std::string FormatCsvRow(const uint8_t* text, size_t length) {
    const std::string whole(reinterpret_cast<const char*>(text), length);
    if (!StartsWithTimeStamp(whole)) return JoinCsv({"", whole});
    const std::string time = whole.substr(0, kTimeStampLength);
    const std::string rest = whole.substr(kTimeStampLength + 1);

    // From the right: source, action, path; the name is what is left.
    const size_t sourceBar = rest.rfind('|');
    const size_t actionBar = sourceBar == std::string::npos || sourceBar == 0 ? std::string::npos
                                                                              : rest.rfind('|', sourceBar - 1);
    const size_t pathBar = actionBar == std::string::npos || actionBar == 0 ? std::string::npos
                                                                           : rest.rfind('|', actionBar - 1);
    if (pathBar != std::string::npos) {
        const std::string action = rest.substr(actionBar + 1, sourceBar - actionBar - 1);
        const bool actionIsNumber = AllDigits(action, action.size() > 1 && action[0] == '-' ? 1 : 0);
        if (actionIsNumber && AllDigits(rest, sourceBar + 1)) {
            return JoinCsv({time, rest.substr(0, pathBar), rest.substr(pathBar + 1, actionBar - pathBar - 1), action,
                            rest.substr(sourceBar + 1)});
        }
    }
    return JoinCsv({time, rest});
}
