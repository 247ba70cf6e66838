// The engine's signatures: the built-in EICAR test file and the lines of
// kxsoc.sig, with one Aho-Corasick automaton over every pattern so that a file
// is searched for all of them in a single pass. Pure code over bytes, without
// system calls, so that the fuzz tests build it natively as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kxsoc {

enum class CureAction { Repair, Delete, Fail };

struct Signature {
    char name[260];
    int32_t kind;
    int32_t result;
    CureAction action;
};

// Signature 0 is the EICAR test file, found by its own whole-file rule; lines
// of kxsoc.sig with that name only add patterns to it.
constexpr int kEicar = 0;

// The longest pattern, and so the most bytes a match can reach back.
constexpr int kMaxPatternLength = 256;
constexpr size_t kMaxSignatureLine = 2048;
// Every pattern byte may add a state of up to 257 table entries; this keeps
// the table within 16 MiB whatever the file holds.
constexpr size_t kMaxPatternBytes = 16384;
// Up to this many distinct first bytes, each with up to that many second
// bytes, are searched for 16 bytes at a time.
constexpr int kMaxVectorOpeners = 8;
constexpr int kMaxVectorFollowers = 4;

struct Pattern {
    int signature;
    int length;
    int nextSame;  // next pattern with the same bytes (a later line), -1 at the end
};

struct SignatureSet {
    std::vector<Signature> signatures;
    std::vector<Pattern> patterns;
    int maxLength = 0;

    // The automaton. A state is kept as its row offset in `next` (state *
    // classes), so a step is one look-up. Each entry is the next state's row
    // offset shifted left by one, its low bit set when a pattern ends there.
    uint8_t classOf[256] = {};  // bytes that occur in no pattern share class 0
    bool opens[256] = {};       // bytes that lead out of the start state
    int openerCount = 0;        // how many bytes do
    // For the vector search: the bytes that open a pattern, and for each the
    // bytes a pattern may have after it (none listed: any byte may follow).
    uint8_t openers[kMaxVectorOpeners] = {};
    uint8_t followers[kMaxVectorOpeners][kMaxVectorFollowers] = {};
    int followerCount[kMaxVectorOpeners] = {};
    uint32_t classes = 1;
    std::vector<uint32_t> next;
    std::vector<int> terminal;  // by state: first pattern ending exactly there, -1 when none
    std::vector<int> dictLink;  // by state: nearest shorter suffix state with a pattern, -1 when none
};

// Builds a signature set from the text of a signature file handed over in
// pieces of any size. A bad line never stops the engine: it is skipped and
// reported with its number and what is wrong with it.
class SignatureReader {
public:
    using Report = void (*)(void* context, unsigned line, const char* error);

    // `set` receives the EICAR signature at once and the rest with Finish.
    SignatureReader(SignatureSet* set, Report report, void* context);
    void Feed(const char* data, size_t size);
    // The text ends here: its last line, then the automaton. Without
    // `whole` (a read failed) an unfinished last line is dropped.
    void Finish(bool whole = true);

private:
    void AddLine();

    SignatureSet* set_;
    Report report_;
    void* context_;
    std::vector<std::vector<uint8_t>> bytes_;  // by pattern
    size_t totalBytes_ = 0;
    unsigned number_ = 1;
    size_t length_ = 0;
    bool tooLong_ = false;
    char line_[kMaxSignatureLine];
};

// The index of the signature called `name`, -1 when there is none.
int FindSignature(const SignatureSet& set, const char* name);

// The longest pattern of signature `only` (of any when `only` is -1) that
// ends in the state at `row`; at equal bytes the earlier line. -1 when none.
int MatchAt(const SignatureSet& set, uint32_t row, int only);

// Steps `data` through the automaton from the state at `*row`, leaving the
// state reached there. Stops after the first byte at which a pattern of
// `only` (of any when -1) ends, with that pattern in `*pattern`, and gives the
// bytes taken; else takes them all, with -1 in `*pattern`.
size_t MatchBytes(const SignatureSet& set, const uint8_t* data, size_t size, uint32_t* row, int only, int* pattern);

}  // namespace kxsoc
