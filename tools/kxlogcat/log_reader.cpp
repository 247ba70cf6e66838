#include "tools/kxlogcat/log_reader.h"

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
constexpr uint32_t kMinRecordLength = 8 + kAriaBlockSize;
constexpr size_t kTimeStampLength = 19;  // "YYYY-MM-DD hh:mm:ss"

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

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

}  // namespace

LogReader::LogReader(LogRecordSink sink) : sink_(std::move(sink)), need_(sizeof(kLogMagic)) {
    uint8_t key[32] = {};
    std::memcpy(key, kLogPassPhrase, std::strlen(kLogPassPhrase));
    rounds_ = AriaExpandDecryptKey(key, 256, roundKeys_);
}

bool LogReader::Feed(const uint8_t* data, size_t size) {
    while (size > 0 && !fault_.found) {
        const size_t take = need_ - have_ < size ? need_ - have_ : size;
        std::memcpy(pending_ + have_, data, take);
        have_ += take;
        data += take;
        size -= take;
        if (have_ == need_) Complete();
    }
    return !fault_.found;
}

bool LogReader::Finish() {
    if (fault_.found) return false;
    if (part_ == Part::Header && have_ > 0)
        Fail(0, "not a log file (%u bytes, shorter than the 8-byte header \"QMR!LOGS\")", static_cast<unsigned>(have_));
    else if (part_ == Part::Length && have_ > 0)
        Fail(recordOffset_, "record length field cut short by the end of the file (%u of 4 bytes)",
             static_cast<unsigned>(have_));
    else if (part_ == Part::Record)
        Fail(recordOffset_, "record of L = %u runs past the end of the file (%u of its %u bytes present)",
             static_cast<unsigned>(need_ - kLengthField), static_cast<unsigned>(have_ - kLengthField),
             static_cast<unsigned>(need_ - kLengthField));
    return !fault_.found;
}

void LogReader::Complete() {
    switch (part_) {
        case Part::Header:
            if (std::memcmp(pending_, kLogMagic, sizeof(kLogMagic)) != 0) {
                Fail(0, "not a log file (its first 8 bytes are not \"QMR!LOGS\")");
                return;
            }
            recordOffset_ = sizeof(kLogMagic);
            break;
        case Part::Length: {
            const uint32_t length = ReadLe32(pending_);
            if (length < kMinRecordLength || (length - 8) % kAriaBlockSize != 0) {
                Fail(recordOffset_, "record length L = %u is not 8 plus a positive multiple of 16",
                     static_cast<unsigned>(length));
            } else if (length > kMaxLogRecordLength) {
                Fail(recordOffset_, "record length L = %u is larger than any record (at most %u)",
                     static_cast<unsigned>(length), static_cast<unsigned>(kMaxLogRecordLength));
            } else {
                part_ = Part::Record;
                need_ = kLengthField + length;
            }
            return;
        }
        case Part::Record:
            CheckRecord(static_cast<uint32_t>(need_ - kLengthField));
            if (fault_.found) return;
            recordOffset_ += need_;
            break;
    }
    part_ = Part::Length;
    have_ = 0;
    need_ = kLengthField;
}

void LogReader::CheckRecord(uint32_t length) {
    const uint8_t* record = pending_ + kLengthField;
    const uint32_t storedCrc = ReadLe32(record);
    const uint32_t textLength = ReadLe32(record + 4);
    const uint32_t cipherLength = length - 8;
    // The writer makes the smallest ciphertext that holds the text.
    if (textLength == 0 || textLength > cipherLength || textLength <= cipherLength - kAriaBlockSize) {
        Fail(recordOffset_, "plaintext length n = %u does not fit a record of L = %u (L - 8 must be 16 * ceil(n / 16))",
             static_cast<unsigned>(textLength), static_cast<unsigned>(length));
        return;
    }
    for (uint32_t i = 0; i < cipherLength; i += kAriaBlockSize)
        AriaCryptBlock(record + 8 + i, rounds_, roundKeys_, plain_ + i);
    const uint32_t crc = Crc32(plain_, textLength);
    if (crc != storedCrc) {
        Fail(recordOffset_, "CRC mismatch (stored 0x%08X, computed 0x%08X)", static_cast<unsigned>(storedCrc),
             static_cast<unsigned>(crc));
        return;
    }
    // The writer fills the last block up with zeros; the CRC does not cover them.
    for (uint32_t i = textLength; i < cipherLength; ++i) {
        if (plain_[i] != 0) {
            Fail(recordOffset_, "the last block is not filled up with zeros after the text");
            return;
        }
    }
    sink_(LogRecord{recordOffset_, plain_, textLength});
}

void LogReader::Fail(uint64_t offset, const char* format, ...) {
    char message[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    fault_.found = true;
    fault_.offset = offset;
    fault_.message = message;
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
