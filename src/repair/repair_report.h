// What the automatic repair did to each block it was given, and how sure
// it is: the report that the command line writes as JSON and the window
// shows in its list.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "repair/runs.h"
#include "stream/position.h"

namespace mpg {

// What the automatic repair did to one block.
enum class RepairAction : uint8_t {
    LeftAlone,       // no candidate passed: the block stays listed (the fallback writes it)
    CutRuns,         // bytes cut out of one to three runs of equal bytes
    CutAtBreak,      // bytes cut where the elementary stream breaks (one frame is lost)
    Padded,          // bytes lost: padded with zeros at the end of the payload
    LengthFromFile,  // the last block, cut short by the end of the file: its length rewritten
    Dropped,         // the last block, cut short inside its header: left out
    FillBehind,      // whole: the bytes behind it are sector fill, kept as they are
};

// How sure the repair is of a block.
enum class RepairCertainty : uint8_t {
    Exact,       // the structure checks pass and no other candidate did as well
    Probable,    // the stream is decodable again; its bytes may differ from the original
    Unresolved,  // nothing passed
};

// One excision: `length` bytes at `fileOffset` of the input file. `byte` is
// the value of the run cut from, or -1 for bytes of several values.
struct RepairCut {
    Position fileOffset = 0;
    uint32_t length = 0;
    int16_t byte = -1;
    bool operator==(const RepairCut&) const = default;
};

struct BlockRepair {
    size_t index = 0;          // BlockTable entry
    Position fileOffset = 0;   // the block's first byte in the input file
    uint32_t code = 0;         // its start code
    int32_t declaredSize = 0;  // as the scan found it
    int32_t realSize = 0;
    RepairAction action = RepairAction::LeftAlone;
    RepairCertainty certainty = RepairCertainty::Unresolved;
    uint8_t cutCount = 0;
    std::array<RepairCut, 3> cuts{};
    uint32_t padded = 0;  // zero bytes added (Padded)
    bool operator==(const BlockRepair&) const = default;
};

// Positions that advance evenly, as runs.
struct PositionSteps {
    using Step = Position;
    static Step stepFrom(Position a, Position b) { return b - a; }
    static Position at(Position first, Step s, size_t k) {
        return first + s * static_cast<Position>(k);
    }
};
using PositionRuns = Runs<Position, PositionSteps>;

// The accounts of the blocks, ascending by index.
using RepairLog = Runs<BlockRepair, IndexedSteps<BlockRepair, &BlockRepair::fileOffset>>;

// The account of block `index`, when the log holds one.
std::optional<BlockRepair> repairOfBlock(const RepairLog& log, size_t index);

struct RepairSummary {
    size_t blocks = 0;
    size_t exact = 0;       // restored exactly
    size_t decodable = 0;   // made decodable (probable cuts, padding, rewritten lengths)
    size_t unresolved = 0;  // left to the fallback
};
RepairSummary summarize(const RepairLog& repairs);

}  // namespace mpg
