// The log reader over any bytes: whole or in pieces of any size, the same
// records and the same damaged stretches, never past the end. And the input's
// bytes as a record, enciphered as the writer does: two of them read back as
// written; with any one bit of the first changed the first is named damaged
// up to the second, which is still given; cut inside the first, nothing is
// given and the damage is named there (at 0 within the header). Any bytes put
// between the two records, or after them, never hide either of them. (A
// changed text passing the CRC-32 is a chance of one in 2^32.)
#include <algorithm>
#include <string>
#include <vector>

#include "logs/crc32.h"
#include "tools/kxlogcat/log_reader.h"

namespace {

// Each record as "offset:text" and each damaged stretch as "offset+length message", in file order.
struct Read {
    std::vector<std::string> records, faults;
    LogFault first;

    Read(const std::string& file, size_t piece) {
        LogReader reader(
            [this](const LogRecord& r) {
                records.push_back(std::to_string(r.offset) + ":" + std::string(reinterpret_cast<const char*>(r.text), r.length));
            },
            [this](const LogFault& f) { faults.push_back(std::to_string(f.offset) + "+" + std::to_string(f.length) + f.message); });
        for (size_t at = 0; at < file.size(); at += piece)
            reader.Feed(reinterpret_cast<const uint8_t*>(file.data()) + at, std::min(piece, file.size() - at));
        reader.Finish();
        first = reader.Fault();
    }
};

std::string Le32(uint32_t value) { return {char(value), char(value >> 8), char(value >> 16), char(value >> 24)}; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size), text = bytes.substr(0, kMaxLogRecordText);
    const Read whole(bytes, size + 1), pieces(bytes, size % 97 + 1);
    if (whole.records != pieces.records || whole.faults != pieces.faults || whole.first.found != !whole.faults.empty() ||
        whole.first.offset + whole.first.length > size)
        __builtin_trap();
    const int n = static_cast<int>(text.size());
    std::string cipher((n + 15) / 16 * 16, '\0');
    if (!n || !AriaEnCryptSteram(kLogPassPhrase, data, reinterpret_cast<uint8_t*>(cipher.data()), n, nullptr)) return 0;
    const std::string record = Le32(8 + static_cast<uint32_t>(cipher.size())) + Le32(Crc32(data, n)) + Le32(n) + cipher;
    const std::string first = "8:" + text, second = std::to_string(8 + record.size()) + ":" + text;
    std::string file = "QMR!LOGS" + record + record;
    const Read back(file, 4096);
    if (back.first.found || back.records != std::vector{first, second}) __builtin_trap();

    // The input's bytes from the middle on put between the records and after them.
    const std::string damage = bytes.substr(size / 2);
    const std::vector<std::string> around = Read("QMR!LOGS" + record + damage + record + damage, size % 61 + 1).records;
    const std::string moved = std::to_string(8 + record.size() + damage.size()) + ":" + text;
    if (std::find(around.begin(), around.end(), first) == around.end() || std::find(around.begin(), around.end(), moved) == around.end())
        __builtin_trap();

    const size_t at = (data[0] * 256u + data[size - 1]) % (8 + record.size());
    // Cut there: but an empty file, or the header alone, is a log without records.
    const Read cut(file.substr(0, at), 4096);
    if (at != 0 && at != 8 && (!cut.first.found || cut.first.offset != (at < 8 ? 0 : 8) || !cut.records.empty()))
        __builtin_trap();
    file[at] ^= static_cast<char>(1 << data[size / 2] % 8);
    const Read changed(file, 4096);
    const LogFault& fault = changed.first;
    if (!fault.found || fault.offset != (at < 8 ? 0 : 8) || fault.length != (at < 8 ? 0 : record.size()) ||
        changed.records != (at < 8 ? std::vector<std::string>{} : std::vector{second}))
        __builtin_trap();
    return 0;
}
