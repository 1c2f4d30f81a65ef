// The automatic repair: for every listed block it looks for the cut that
// makes the block's declared size lead exactly to the next valid start code,
// checks each candidate against what the stream format can tell (the block
// then ends where a valid block begins, the packet header parses, the
// elementary stream reads on across the cut) and keeps the first that
// passes. Blocks that lost bytes are padded back to their declared size, a
// last block cut short by the end of the file gets the length the file
// holds. What it did to each block is reported, with how sure it is.
#pragma once

#include <string>
#include <vector>

#include "analysis/app_state.h"
#include "repair/strategies.h"

namespace mpg {

// The automatic repair on the listed entries (in any order; reported in
// ascending index order in outcome.repairs). Changes the table, the cut list
// and the table's planned writes only; reads the input named `inputPath`.
// Blocks it resolves leave the list; the others stay listed for the
// fallback the writer applies (state.headerFromRealSize).
// With `keepReport` false only outcome.summary counts them.
StrategyOutcome repairAutomatically(AppState& state, const std::vector<size_t>& listed,
                                    const std::string& inputPath, RepairProgress& progress,
                                    bool keepReport = true);

}  // namespace mpg
