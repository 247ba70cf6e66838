// The module lister's output as the scan reads it: every line is taken whole
// (its process identifier and its path, in order), or counted as not taken,
// or is the one closing "end"; nothing is cut or lost silently.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scan/module_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ModuleListing listing = ParseModuleList(reinterpret_cast<const char*>(data), size);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t lines = 0, taken = 0, start = 0, endLine = 0;
    bool endSeen = false, cut = false;
    while (start < text.size()) {
        const size_t newline = text.find('\n', start);
        ++lines;
        if ((cut = newline == std::string_view::npos)) break;
        std::string_view line = text.substr(start, newline - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line == "end" && !endSeen) {
            endSeen = true;
            endLine = lines;
        } else if (taken < listing.modules.size()) {
            // The next module taken, if this line is it: its identifier and its whole path.
            const ListedModule& module = listing.modules[taken];
            const size_t tab = line.find('\t');
            if (tab != std::string_view::npos && line.substr(tab + 1) == module.path &&
                std::strtoul(std::string(line.substr(0, tab)).c_str(), nullptr, 10) == module.processId)
                ++taken;
        }
        start = newline + 1;
    }
    if (taken != listing.modules.size()) std::abort();                          // a module from no whole line
    if (lines != listing.modules.size() + listing.rejected + endSeen) std::abort();  // a line neither taken nor counted
    if (listing.complete != (endSeen && endLine == lines && !cut)) std::abort();  // complete only when "end" closes it
    return 0;
}
