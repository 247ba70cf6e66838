#include "engine/signatures.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kxsoc {
namespace {

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

bool EqualIgnoringCase(const char* text, const char* lower) {
    for (; *text && *lower; ++text, ++lower)
        if ((*text >= 'A' && *text <= 'Z' ? *text - 'A' + 'a' : *text) != *lower) return false;
    return *text == *lower;
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
    if (end == text || *end || errno || value < INT32_MIN || value > INT32_MAX) return "kind is not a decimal number";
    signature->kind = static_cast<int32_t>(value);
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
    signature->result = static_cast<int32_t>(static_cast<uint32_t>(value));
    return nullptr;
}

const char* ParseAction(const char* text, Signature* signature) {
    if (EqualIgnoringCase(text, "repair"))
        signature->action = CureAction::Repair;
    else if (EqualIgnoringCase(text, "delete"))
        signature->action = CureAction::Delete;
    else if (EqualIgnoringCase(text, "fail"))
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

// The parsing below works on C strings: a NUL would silently end the line
// there and cut a pattern short, so such a line is refused whole, as is one
// with any other control byte but tab and CR.
const char* ControlByte(const char* line, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == 0) return "NUL byte in the line";
        if (c < 0x20 && c != '\t' && c != '\r') return "control byte other than tab or CR in the line";
    }
    return nullptr;
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
    for (int b = 0; b < 256; ++b) {
        set->opens[b] = go[set->classOf[b]] != 0;
        if (!set->opens[b]) continue;
        if (set->openerCount < kMaxVectorOpeners) set->openers[set->openerCount] = static_cast<uint8_t>(b);
        ++set->openerCount;
    }
    if (set->openerCount > kMaxVectorOpeners) return;
    // A pattern of one byte, or too many second bytes, lets any byte follow.
    for (int k = 0; k < set->openerCount; ++k) {
        uint8_t* list = set->followers[k];
        int& count = set->followerCount[k];
        for (const auto& pattern : bytes) {
            if (pattern[0] != set->openers[k] || (pattern.size() > 1 && std::count(list, list + count, pattern[1])))
                continue;
            if (pattern.size() == 1 || count == kMaxVectorFollowers) {
                count = 0;
                break;
            }
            list[count++] = pattern[1];
        }
    }
}

// The first position at or after `from` where a match may start, or `size`.
// None starts at a byte that opens no pattern, nor at one followed by a byte
// that no pattern has after it; and the automaton would be in its start
// state there. Such positions are looked for 16 at a time: in most files they
// are rare, and this is where a scan spends its time.
size_t SkipToOpener(const SignatureSet& set, const uint8_t* data, size_t from, size_t size) {
    if (set.openerCount == 0) return size;
#if defined(__SSE2__)
    if (set.openerCount <= kMaxVectorOpeners) {
        // Each opener's byte and the bytes that may follow it, the list filled
        // up with its last entry; none listed: any byte may follow.
        const int openers = set.openerCount;
        __m128i first[kMaxVectorOpeners];
        __m128i second[kMaxVectorOpeners][kMaxVectorFollowers];
        for (int k = 0; k < openers; ++k) {
            const int count = set.followerCount[k];
            first[k] = _mm_set1_epi8(static_cast<char>(set.openers[k]));
            for (int f = 0; f < kMaxVectorFollowers; ++f)
                second[k][f] = _mm_set1_epi8(static_cast<char>(count ? set.followers[k][std::min(f, count - 1)] : 0));
        }
        const auto load = [data](size_t at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at)); };
        if (openers == 1 && set.followerCount[0] == 1) {
            // The common case, every pattern opening with the same two bytes: 64 positions a step.
            const auto hits = [&](size_t at) {
                return _mm_and_si128(_mm_cmpeq_epi8(load(at), first[0]), _mm_cmpeq_epi8(load(at + 1), second[0][0]));
            };
            for (; from + 65 <= size; from += 64) {
                const __m128i a = hits(from), b = hits(from + 16), c = hits(from + 32), d = hits(from + 48);
                if (!_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)))) continue;
                const uint64_t mask = static_cast<uint32_t>(_mm_movemask_epi8(a) | _mm_movemask_epi8(b) << 16) |
                                      static_cast<uint64_t>(_mm_movemask_epi8(c) | _mm_movemask_epi8(d) << 16) << 32;
                return from + static_cast<size_t>(__builtin_ctzll(mask));
            }
        }
        for (; from + 17 <= size; from += 16) {
            const __m128i block = load(from);
            const __m128i next = load(from + 1);
            __m128i hits = _mm_setzero_si128();
            for (int k = 0; k < openers; ++k) {
                __m128i follows = _mm_set1_epi8(-1);
                if (set.followerCount[k] > 0)
                    follows = _mm_or_si128(
                        _mm_or_si128(_mm_cmpeq_epi8(next, second[k][0]), _mm_cmpeq_epi8(next, second[k][1])),
                        _mm_or_si128(_mm_cmpeq_epi8(next, second[k][2]), _mm_cmpeq_epi8(next, second[k][3])));
                hits = _mm_or_si128(hits, _mm_and_si128(_mm_cmpeq_epi8(block, first[k]), follows));
            }
            if (int mask = _mm_movemask_epi8(hits)) return from + static_cast<size_t>(__builtin_ctz(mask));
        }
    }
#endif
    while (from < size && !set.opens[data[from]]) ++from;
    return from;
}

}  // namespace

SignatureReader::SignatureReader(SignatureSet* set, Report report, void* context)
    : set_(set), report_(report), context_(context) {
    Signature eicar{};
    std::strcpy(eicar.name, "EICAR-Test-File");
    eicar.kind = 0;
    eicar.result = 0x0001;
    eicar.action = CureAction::Delete;
    set_->signatures.push_back(eicar);
}

void SignatureReader::Feed(const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            AddLine();
        } else if (length_ < sizeof line_ - 1) {
            line_[length_++] = data[i];
        } else {
            tooLong_ = true;
        }
    }
}

void SignatureReader::Finish(bool whole) {
    if (whole && (length_ > 0 || tooLong_)) AddLine();
    BuildAutomaton(bytes_, set_);
}

void SignatureReader::AddLine() {
    line_[length_] = '\0';
    const unsigned number = number_++;
    const bool tooLong = tooLong_;
    const size_t length = length_;
    length_ = 0;
    tooLong_ = false;
    char* line = line_;
    if (number == 1 && std::strncmp(line, "\xEF\xBB\xBF", 3) == 0) line += 3;  // UTF-8 mark of some editors

    Signature signature{};
    std::vector<uint8_t> pattern;
    bool blank = false;
    const char* error = tooLong ? "line longer than 2047 characters" : ControlByte(line_, length);
    if (!error) error = ParseLine(line, &signature, &pattern, &blank);
    if (blank) return;
    int index = -1;
    if (!error) {
        index = FindSignature(*set_, signature.name);
        const Signature* same = index >= 0 ? &set_->signatures[index] : nullptr;
        if (same &&
            (same->kind != signature.kind || same->result != signature.result || same->action != signature.action))
            error = "kind, result or action differ from an earlier line of that name";
        else if (totalBytes_ + pattern.size() > kMaxPatternBytes)
            error = "more pattern bytes in all than the engine takes (16384)";
    }
    if (error) {
        if (report_) report_(context_, number, error);
        return;
    }
    if (index < 0) {
        index = static_cast<int>(set_->signatures.size());
        set_->signatures.push_back(signature);
    }
    set_->patterns.push_back({index, static_cast<int>(pattern.size()), -1});
    totalBytes_ += pattern.size();
    bytes_.push_back(std::move(pattern));
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

size_t MatchBytes(const SignatureSet& set, const uint8_t* data, size_t size, uint32_t* row, int only, int* pattern) {
    const uint32_t* next = set.next.data();
    uint32_t at = *row;
    *pattern = -1;
    for (size_t i = 0; i < size; ++i) {
        // In the start state most bytes lead nowhere: pass them without a step.
        if (at == 0 && !set.opens[data[i]]) {
            i = SkipToOpener(set, data, i + 1, size);
            if (i == size) break;
        }
        const uint32_t step = next[at + set.classOf[data[i]]];
        at = step >> 1;
        if (step & 1) {
            *pattern = MatchAt(set, at, only);
            if (*pattern >= 0) {
                *row = at;
                return i + 1;
            }
        }
    }
    *row = at;
    return size;
}

}  // namespace kxsoc
