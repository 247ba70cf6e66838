#include "scan/module_list.h"

#include <cstring>

namespace {

bool ParseProcessId(const char* text, size_t length, unsigned long* id) {
    if (length == 0 || length > 10) return false;
    unsigned long long value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    if (value > 0xFFFFFFFFull) return false;
    *id = static_cast<unsigned long>(value);
    return true;
}

// One line without its ending; false when it is no module line.
bool ParseLine(const char* line, size_t length, ListedModule* module) {
    if (std::memchr(line, '\0', length)) return false;
    const char* tab = static_cast<const char*>(std::memchr(line, '\t', length));
    if (!tab || !ParseProcessId(line, static_cast<size_t>(tab - line), &module->processId)) return false;
    const size_t pathLength = length - static_cast<size_t>(tab + 1 - line);
    if (pathLength == 0 || pathLength >= kListedPathSize) return false;
    module->path.assign(tab + 1, pathLength);
    return true;
}

}  // namespace

ModuleListing ParseModuleList(const char* data, size_t size) {
    ModuleListing listing;
    size_t start = 0;
    bool ended = false;
    while (start < size) {
        const char* newline = static_cast<const char*>(std::memchr(data + start, '\n', size - start));
        if (!newline) {
            // Cut short: the lister ended, or was ended, in the middle of a line.
            ++listing.rejected;
            listing.complete = false;
            break;
        }
        size_t length = static_cast<size_t>(newline - (data + start));
        const size_t next = start + length + 1;
        if (length > 0 && data[start + length - 1] == '\r') --length;
        ListedModule module;
        if (!ended && length == 3 && std::memcmp(data + start, "end", 3) == 0) {
            ended = listing.complete = true;
        } else if (!ended && ParseLine(data + start, length, &module)) {
            listing.modules.push_back(std::move(module));
        } else {
            // Anything after "end" means the output is not what the lister wrote.
            ++listing.rejected;
            listing.complete = false;
        }
        start = next;
    }
    return listing;
}
