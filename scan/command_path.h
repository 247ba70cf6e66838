// How a command line or registry text names a file: the part of
// ExtractCommandPath and ExpandPathVariables (scan/autostart.h) that reads the
// text. Pure functions over bytes; the system's look-ups are passed in, so
// that the fuzz tests build them natively.
#pragma once

#include <cstddef>

// The buffers these work in, terminator included.
constexpr size_t kCommandTextSize = 260;

struct PathLookups {
    // The file `name` found on the search path, as SearchPathA gives it: the
    // length of the terminated result, or 0 or at least `size` when there is
    // none or it does not fit.
    size_t (*searchPath)(const char* name, char* out, size_t size);
    // The long form of `path`, counted the same way.
    size_t (*longPath)(const char* path, char* out, size_t size);
    // The text with its environment variables expanded, as
    // ExpandEnvironmentStringsA gives it: the characters with the
    // terminator, 0 on failure, more than `size` when it does not fit.
    size_t (*expand)(const char* text, char* out, size_t size);
};

// See ExtractCommandPath and ExpandPathVariables.
int ExtractCommandPathWith(char* text, const PathLookups& lookups);
void ExpandPathVariablesWith(char* path, const PathLookups& lookups);
