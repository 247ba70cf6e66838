// Reads kxsoc.sig and builds the automaton. A bad line never stops the
// engine: it is skipped and named on the debugger output.
#include "engine/signatures.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "framework/handles.h"

namespace kxsoc {
namespace {

constexpr size_t kMaxLine = 2048;
// Every pattern byte may add a state of up to 257 table entries; this keeps
// the table within 16 MiB whatever the file holds.
constexpr size_t kMaxPatternBytes = 16384;

// Any object of this module: its address names the dll to the loader.
const char kModuleAnchor = 0;

void Report(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    ::OutputDebugStringA(text);
}

// kxsoc.sig in the folder of this dll, whatever the dll is called.
bool SignatureFilePath(char (&path)[520]) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              &kModuleAnchor, &module))
        return false;
    DWORD length = ::GetModuleFileNameA(module, path, sizeof path);
    if (length == 0 || length >= sizeof path) return false;
    char* slash = std::strrchr(path, '\\');
    if (!slash || static_cast<size_t>(slash + 1 - path) + sizeof "kxsoc.sig" > sizeof path) return false;
    std::strcpy(slash + 1, "kxsoc.sig");
    return true;
}

char* Trim(char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\t' || text[length - 1] == '\r'))
        text[--length] = '\0';
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

const char* ParseName(const char* text, Signature* signature) {
    size_t length = std::strlen(text);
    if (length == 0) return "empty name";
    if (length >= sizeof signature->name) return "name longer than 259 characters";
    for (const char* c = text; *c; ++c)
        if (static_cast<unsigned char>(*c) < 0x20) return "control character in the name";
    std::memcpy(signature->name, text, length + 1);
    return nullptr;
}

const char* ParseKind(const char* text, Signature* signature) {
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);
    if (end == text || *end || errno || value < LONG_MIN || value > LONG_MAX) return "kind is not a decimal number";
    signature->kind = static_cast<LONG>(value);
    return nullptr;
}

// Decimal or 0x-hexadecimal; never 0 (clean) or 0xFFFFFFFF (-1, not scanned).
const char* ParseResult(const char* text, Signature* signature) {
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (HexValue(text[0]) < 0) return "result is not a number";
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text, &end, base);
    if (*end || errno || value > 0xFFFFFFFFull) return "result is not a 32-bit number";
    if (value == 0 || value == 0xFFFFFFFFull) return "result 0 or 0xFFFFFFFF would read as clean or not scanned";
    signature->result = static_cast<LONG>(static_cast<DWORD>(value));
    return nullptr;
}

const char* ParseAction(const char* text, Signature* signature) {
    if (_stricmp(text, "repair") == 0)
        signature->action = CureAction::Repair;
    else if (_stricmp(text, "delete") == 0)
        signature->action = CureAction::Delete;
    else if (_stricmp(text, "fail") == 0)
        signature->action = CureAction::Fail;
    else
        return "cure action is not repair, delete or fail";
    return nullptr;
}

// Two hex digits per byte; blanks may separate bytes.
const char* ParsePattern(const char* text, std::vector<uint8_t>* bytes) {
    for (const char* c = text; *c;) {
        if (*c == ' ' || *c == '\t') {
            ++c;
            continue;
        }
        int high = HexValue(c[0]);
        int low = high < 0 ? -1 : HexValue(c[1]);
        if (low < 0) return "pattern is not pairs of hex digits";
        if (bytes->size() == kMaxPatternLength) return "pattern longer than 256 bytes";
        bytes->push_back(static_cast<uint8_t>(high * 16 + low));
        c += 2;
    }
    return bytes->empty() ? "empty pattern" : nullptr;
}

// name | kind | result | action | pattern, with "#" starting a comment.
// Sets `blank` for a line with nothing but blanks or a comment.
const char* ParseLine(char* line, Signature* signature, std::vector<uint8_t>* bytes, bool* blank) {
    if (char* hash = std::strchr(line, '#')) *hash = '\0';
    char* rest = Trim(line);
    *blank = *rest == '\0';
    if (*blank) return nullptr;

    char* fields[5];
    int count = 0;
    for (char* start = rest;;) {
        char* bar = std::strchr(start, '|');
        if (bar) *bar = '\0';
        if (count == 5) return "more than five fields";
        fields[count++] = Trim(start);
        if (!bar) break;
        start = bar + 1;
    }
    if (count != 5) return "fewer than five fields";
    const char* error = ParseName(fields[0], signature);
    if (!error) error = ParseKind(fields[1], signature);
    if (!error) error = ParseResult(fields[2], signature);
    if (!error) error = ParseAction(fields[3], signature);
    if (!error) error = ParsePattern(fields[4], bytes);
    return error;
}

struct Loader {
    SignatureSet* set;
    std::vector<std::vector<uint8_t>>* bytes;  // by pattern
    const char* path;
    size_t totalBytes = 0;
};

void AddLine(Loader* loader, unsigned number, char* line, bool tooLong) {
    if (number == 1 && std::strncmp(line, "\xEF\xBB\xBF", 3) == 0) line += 3;  // UTF-8 mark of some editors
    Signature signature{};
    std::vector<uint8_t> pattern;
    bool blank = false;
    const char* error = tooLong ? "line longer than 2047 characters" : ParseLine(line, &signature, &pattern, &blank);
    if (blank) return;
    int index = -1;
    if (!error) {
        index = FindSignature(*loader->set, signature.name);
        const Signature* same = index >= 0 ? &loader->set->signatures[index] : nullptr;
        if (same &&
            (same->kind != signature.kind || same->result != signature.result || same->action != signature.action))
            error = "kind, result or action differ from an earlier line of that name";
        else if (loader->totalBytes + pattern.size() > kMaxPatternBytes)
            error = "more pattern bytes in all than the engine takes (16384)";
    }
    if (error) {
        Report("kxsoc: %s line %u skipped: %s\n", loader->path, number, error);
        return;
    }
    if (index < 0) {
        index = static_cast<int>(loader->set->signatures.size());
        loader->set->signatures.push_back(signature);
    }
    loader->set->patterns.push_back({index, static_cast<int>(pattern.size()), -1});
    loader->totalBytes += pattern.size();
    loader->bytes->push_back(std::move(pattern));
}

void ReadSignatureFile(Loader* loader) {
    fw::UniqueFile file(::CreateFileA(loader->path, GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            Report("kxsoc: %s cannot be opened (error %lu)\n", loader->path, error);
        return;
    }
    char chunk[4096];
    char line[kMaxLine];
    size_t length = 0;
    bool tooLong = false;
    unsigned number = 1;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) {
            Report("kxsoc: %s read failed after line %u (error %lu)\n", loader->path, number - 1, ::GetLastError());
            return;
        }
        if (got == 0) break;
        for (DWORD i = 0; i < got; ++i) {
            if (chunk[i] == '\n') {
                line[length] = '\0';
                AddLine(loader, number++, line, tooLong);
                length = 0;
                tooLong = false;
            } else if (length < sizeof line - 1) {
                line[length++] = chunk[i];
            } else {
                tooLong = true;
            }
        }
    }
    if (length > 0 || tooLong) {
        line[length] = '\0';
        AddLine(loader, number, line, tooLong);
    }
    Report("kxsoc: %s: %u patterns\n", loader->path, static_cast<unsigned>(loader->set->patterns.size()));
}

// Trie over the byte classes, then failure transitions filled in breadth
// first, so every state has a complete row and a step never backtracks.
void BuildAutomaton(const std::vector<std::vector<uint8_t>>& bytes, SignatureSet* set) {
    bool used[256] = {};
    for (const auto& pattern : bytes)
        for (uint8_t b : pattern) used[b] = true;
    for (int b = 0; b < 256; ++b)
        if (used[b]) set->classOf[b] = static_cast<uint8_t>(set->classes++);
    const uint32_t classes = set->classes;

    std::vector<int> go(classes, -1);
    std::vector<int>& terminal = set->terminal;
    terminal.assign(1, -1);
    for (size_t p = 0; p < bytes.size(); ++p) {
        size_t state = 0;
        for (uint8_t b : bytes[p]) {
            size_t edge = state * classes + set->classOf[b];
            if (go[edge] < 0) {
                go[edge] = static_cast<int>(terminal.size());
                terminal.push_back(-1);
                go.resize(go.size() + classes, -1);
            }
            state = go[edge];
        }
        int* last = &terminal[state];  // keep lines with the same bytes in file order
        while (*last >= 0) last = &set->patterns[*last].nextSame;
        *last = static_cast<int>(p);
        if (set->patterns[p].length > set->maxLength) set->maxLength = set->patterns[p].length;
    }

    const size_t states = terminal.size();
    std::vector<int> fail(states, 0);
    set->dictLink.assign(states, -1);
    std::vector<int> queue;
    queue.reserve(states);
    for (uint32_t c = 0; c < classes; ++c) {
        if (go[c] < 0)
            go[c] = 0;
        else
            queue.push_back(go[c]);
    }
    for (size_t head = 0; head < queue.size(); ++head) {
        size_t state = queue[head];
        for (uint32_t c = 0; c < classes; ++c) {
            int target = go[state * classes + c];
            int via = go[fail[state] * classes + c];
            if (target < 0) {
                go[state * classes + c] = via;
            } else {
                fail[target] = via;
                set->dictLink[target] = terminal[via] >= 0 ? via : set->dictLink[via];
                queue.push_back(target);
            }
        }
    }

    set->next.resize(go.size());
    for (size_t i = 0; i < go.size(); ++i) {
        int target = go[i];
        bool hit = terminal[target] >= 0 || set->dictLink[target] >= 0;
        set->next[i] = (static_cast<uint32_t>(target) * classes) << 1 | (hit ? 1u : 0u);
    }
    for (int b = 0; b < 256; ++b) set->opens[b] = go[set->classOf[b]] != 0;
}

SignatureSet LoadSignatures() {
    SignatureSet set;
    Signature eicar{};
    std::strcpy(eicar.name, "EICAR-Test-File");
    eicar.kind = 0;
    eicar.result = 0x0001;
    eicar.action = CureAction::Delete;
    set.signatures.push_back(eicar);

    std::vector<std::vector<uint8_t>> bytes;
    char path[520];
    if (SignatureFilePath(path)) {
        Loader loader{&set, &bytes, path};
        ReadSignatureFile(&loader);
    }
    BuildAutomaton(bytes, &set);
    return set;
}

}  // namespace

const SignatureSet& Signatures() {
    static const SignatureSet set = LoadSignatures();
    return set;
}

int FindSignature(const SignatureSet& set, const char* name) {
    for (size_t i = 0; i < set.signatures.size(); ++i)
        if (std::strcmp(set.signatures[i].name, name) == 0) return static_cast<int>(i);
    return -1;
}

int MatchAt(const SignatureSet& set, uint32_t row, int only) {
    int state = static_cast<int>(row / set.classes);
    for (int s = set.terminal[state] >= 0 ? state : set.dictLink[state]; s >= 0; s = set.dictLink[s])
        for (int p = set.terminal[s]; p >= 0; p = set.patterns[p].nextSame)
            if (only < 0 || set.patterns[p].signature == only) return p;
    return -1;
}

}  // namespace kxsoc
