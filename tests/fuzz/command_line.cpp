// Option matching and the target split over any command-line argument; the
// kxscan.exe tests see what they give for the options and folders they name.
#include <cstring>
#include <string>

#include "app/ansi_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string argument(reinterpret_cast<const char*>(data), size);  // argv ends at a NUL
    MatchCommandOption(argument.c_str());
    SplitTargetArgument(argument.c_str(), [](void*, const char* target) {
        if (std::strlen(target) > kMaxTargetChars || std::strchr(target, '"')) __builtin_trap();
    }, nullptr);
    return 0;
}
