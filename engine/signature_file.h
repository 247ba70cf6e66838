// The signatures of this process: kxsoc.sig beside the dll, read once.
#pragma once

#include "engine/signatures.h"

namespace kxsoc {

// Loaded on first use; lines skipped are named on the debugger output (the
// first 100 one by one, then how many more).
const SignatureSet& Signatures();

}  // namespace kxsoc
