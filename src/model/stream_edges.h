// Where a stream begins and ends inside its file. A file as users hold it
// often carries bytes that are no part of the stream: an ID3v2 tag or the
// partial sector of a cut copy in front of the first pack header, an ID3v1
// or APE tag, or anything else behind the last block. The sound walk starts
// at the first pack header from which the blocks chain on, and ends where
// the bytes behind a sound block hold no start code any more.
#pragma once

#include <cstdint>
#include <optional>

#include "model/block_walk.h"

namespace mpg {

// How far into a file the walk looks for its first pack header, and how
// many bytes behind the last block it takes for junk at most: tags with
// cover pictures run to a few hundred kilobytes.
inline constexpr Position kJunkReach = Position{4} << 20;

// How many blocks from a pack header on must chain (each block's declared
// size leading to the next block, or to fill in front of a pack header)
// before the pack header counts as the stream's start: a stray 00 00 01 BA
// in a tag's picture is followed by no such chain.
inline constexpr int kChainedBlocks = 8;

// A position looked for in a stream: found, or none, or a read failed (the
// source keeps the reason).
struct EdgeSearch {
    std::optional<Position> at;
    bool failed = false;
};

// The first pack header within kJunkReach bytes from which kChainedBlocks
// blocks chain on (or fewer, to an end code or the end of the stream); a
// stream that begins with a pack header begins there, whatever follows.
// Under the sound rules.
EdgeSearch findStreamStart(ByteSource& source);

// Where the tags that players append to a file begin, behind `from`: an
// ID3v1 tag (the 128 bytes from "TAG" on, holding no start code) and an APE
// tag (its footer "APETAGEX" and what its size counts), in either order.
// The source's size when it ends with neither; nothing when a read fails.
std::optional<Position> tailTagsStart(ByteSource& source, Position from);

// The first position from `from` on, before `to`, where a start code that
// `codes` take for valid begins; `to` when there is none. Nothing when a
// read fails.
std::optional<Position> nextValidStartCode(ByteSource& source, const StreamCodes& codes,
                                           Position from, Position to);

}  // namespace mpg
