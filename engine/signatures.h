// The engine's signatures: the built-in EICAR test file and the lines of
// kxsoc.sig beside the dll, with one Aho-Corasick automaton over every
// pattern so that a file is searched for all of them in a single pass.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace kxsoc {

enum class CureAction { Repair, Delete, Fail };

struct Signature {
    char name[260];
    LONG kind;
    LONG result;
    CureAction action;
};

// Signature 0 is the EICAR test file, found by its own whole-file rule; lines
// of kxsoc.sig with that name only add patterns to it.
constexpr int kEicar = 0;

// The longest pattern, and so the most bytes a match can reach back.
constexpr int kMaxPatternLength = 256;

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
    uint32_t classes = 1;
    std::vector<uint32_t> next;
    std::vector<int> terminal;  // by state: first pattern ending exactly there, -1 when none
    std::vector<int> dictLink;  // by state: nearest shorter suffix state with a pattern, -1 when none
};

// The signatures of this process, loaded on first use.
const SignatureSet& Signatures();

// The index of the signature called `name`, -1 when there is none.
int FindSignature(const SignatureSet& set, const char* name);

// The longest pattern of signature `only` (of any when `only` is -1) that
// ends in the state at `row`; at equal bytes the earlier line. -1 when none.
int MatchAt(const SignatureSet& set, uint32_t row, int only);

}  // namespace kxsoc
