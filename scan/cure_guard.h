// A cure acts only on what was scanned. The window runs with rights the user
// who asked for the scan may lack, and between the scan and the click on Cure
// a folder the user owns on a finding's path can be replaced by a link to
// somewhere else. So the links each finding's path held when it was listed
// are recorded, and right before the engine's cure the path is looked at
// again. The product's engine may cure by path without checks of its own, so
// this check must hold alone.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

// The names of a path below its root (drive or share), by position from the
// root, that are reparse points: folder links, junctions, mount points, file
// links. A path of 519 characters has at most 260 names.
constexpr size_t kMaxPathNames = 260;
using PathLinks = std::bitset<kMaxPathNames>;
// Those of the path read by its exact names, and by plain Win32 rules.
using ReadingLinks = std::array<PathLinks, 2>;

class ListedLinks {
public:
    // When a finding of `path` (as handed to the engine) is listed: the links
    // its path holds now. The latest listing of a path counts.
    void Record(const char* path);

    // Right before the engine's cure of `path`. False, with a debug-log line
    // naming it, when a name of the path is now a reparse point that was none
    // when the finding was listed, or cannot be looked at (a name that no
    // longer exists is left to the engine). The path is read both by its
    // exact names and by plain Win32 rules, which another engine may follow.
    // Otherwise true, and `enginePath` is the path to cure: `path` itself,
    // or, when it held folder links when listed, the same file's path with
    // those links resolved, so that an engine that refuses to cure through a
    // link still cures what the user named.
    bool MayCure(const char* path, char (&enginePath)[520]) const;

private:
    mutable std::mutex lock_;
    // Only the paths that held a link when listed; most hold none.
    std::unordered_map<std::string, ReadingLinks> linked_;
};
