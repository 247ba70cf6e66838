#include "scan/command_path.h"

#include <cstring>
#include <initializer_list>

namespace {

// Keeps what follows the first double quote, cut at the last one after it.
void Unquote(char* copy) {
    char* first = std::strchr(copy, '"');
    if (!first) return;
    std::memmove(copy, first + 1, std::strlen(first + 1) + 1);
    if (char* last = std::strrchr(copy, '"')) *last = '\0';
}

// A look-up's result into `text` (kCommandTextSize bytes); false when there
// is none or it does not fit.
bool TakeResult(size_t length, const char* found, char* text) {
    if (length == 0 || length >= kCommandTextSize) return false;
    std::memcpy(text, found, length);
    text[length] = '\0';
    return true;
}

bool SearchFile(const char* name, char* text, const PathLookups& lookups) {
    char found[kCommandTextSize];
    return TakeResult(lookups.searchPath(name, found, sizeof(found)), found, text);
}

}  // namespace

int ExtractCommandPathWith(char* text, const PathLookups& lookups) {
    char copy[kCommandTextSize];
    const size_t length = strnlen(text, sizeof(copy) - 1);
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    if (std::strstr(copy, "\\\\")) return 0;
    if (SearchFile(copy, text, lookups)) return 1;

    for (const char* extension : {".exe", ".dll", ".Exe", ".Dll", ".EXE", ".DLL"}) {
        if (char* found = std::strstr(copy, extension)) {
            found[4] = '\0';
            break;
        }
    }

    if (!std::strchr(copy, '\\')) {
        Unquote(copy);
        return copy[0] != '\0' && SearchFile(copy, text, lookups) ? 1 : 0;
    }

    if (char* host = std::strstr(copy, "RUNDLL32.EXE")) {
        // The host name and the one separator after it; a host with nothing
        // after it names no library.
        size_t rest = std::strlen(host);
        if (rest <= 13) return 0;
        std::memmove(copy, host + 13, rest - 13 + 1);
    }
    Unquote(copy);
    if (std::strchr(copy, '%')) ExpandPathVariablesWith(copy, lookups);
    if (copy[0] == '\0') return 0;

    char longPath[kCommandTextSize];
    if (!TakeResult(lookups.longPath(copy, longPath, sizeof(longPath)), longPath, text))
        std::memcpy(text, copy, std::strlen(copy) + 1);
    return 1;
}

void ExpandPathVariablesWith(char* path, const PathLookups& lookups) {
    char result[kCommandTextSize] = {};
    size_t used = 0;
    const char* piece = path;
    while (*piece) {
        const char* end = std::strchr(piece, '\\');
        size_t length = end ? static_cast<size_t>(end - piece) : std::strlen(piece);
        if (length > 0) {
            char part[kCommandTextSize];
            if (length >= sizeof(part)) return;
            std::memcpy(part, piece, length);
            part[length] = '\0';
            if (std::strchr(part, '%')) {
                char expanded[kCommandTextSize];
                size_t size = lookups.expand(part, expanded, sizeof(expanded));
                if (size > 0 && size <= sizeof(expanded)) {
                    // Only what the system wrote before its terminator.
                    size_t expandedLength = strnlen(expanded, size - 1);
                    std::memcpy(part, expanded, expandedLength);
                    part[expandedLength] = '\0';
                }
            }
            size_t partLength = std::strlen(part);
            size_t needed = (used ? 1 : 0) + partLength;
            if (used + needed >= sizeof(result)) return;
            if (used) result[used++] = '\\';
            std::memcpy(result + used, part, partLength + 1);
            used += partLength;
        }
        if (!end) break;
        piece = end + 1;
    }
    std::memcpy(path, result, used + 1);
}
