// The log reader over any bytes: whole or in pieces of any size, the same
// records and the same fault, never past the end. And the input's bytes as a
// record, enciphered as the writer does: two of them read back as written;
// with any one bit of the first changed, or the file cut inside it, the
// fault is named at that record (at 0 within the header) and no record is
// given. (A changed text passing the CRC-32 is a chance of one in 2^32.)
#include <string>
#include <vector>

#include "logs/crc32.h"
#include "tools/kxlogcat/log_reader.h"

namespace {

LogFault Read(const std::string& file, size_t piece, std::vector<std::string>* texts) {
    LogReader reader(
        [texts](const LogRecord& r) { texts->emplace_back(reinterpret_cast<const char*>(r.text), r.length); });
    for (size_t at = 0; at < file.size(); at += piece)
        reader.Feed(reinterpret_cast<const uint8_t*>(file.data()) + at, std::min(piece, file.size() - at));
    reader.Finish();
    return reader.Fault();
}

std::string Le32(uint32_t value) { return {char(value), char(value >> 8), char(value >> 16), char(value >> 24)}; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size), text = bytes.substr(0, kMaxLogRecordText);
    std::vector<std::string> whole, pieces, back, none;
    const LogFault a = Read(bytes, size + 1, &whole), b = Read(bytes, size % 97 + 1, &pieces);
    if (whole != pieces || a.found != b.found || a.offset != b.offset || a.message != b.message || a.offset > size)
        __builtin_trap();
    const int n = static_cast<int>(text.size());
    std::string cipher((n + 15) / 16 * 16, '\0');
    if (!n || !AriaEnCryptSteram(kLogPassPhrase, data, reinterpret_cast<uint8_t*>(cipher.data()), n, nullptr)) return 0;
    const std::string record = Le32(8 + static_cast<uint32_t>(cipher.size())) + Le32(Crc32(data, n)) + Le32(n) + cipher;
    std::string file = "QMR!LOGS" + record + record;
    if (Read(file, 4096, &back).found || back != std::vector{text, text}) __builtin_trap();
    const size_t at = (data[0] * 256u + data[size - 1]) % (8 + record.size());
    // Cut there: but an empty file, or the header alone, is a log without records.
    const LogFault cut = at % 8 ? Read(file.substr(0, at), 4096, &none) : LogFault{true, at ? 8u : 0u, ""};
    file[at] ^= static_cast<char>(1 << data[size / 2] % 8);
    const LogFault changed = Read(file, 4096, &none);
    for (const LogFault& fault : {cut, changed})
        if (!fault.found || fault.offset != (at < 8 ? 0 : 8) || !none.empty()) __builtin_trap();
    return 0;
}
