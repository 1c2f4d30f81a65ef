// The stream scan: walks the open stream from block to block, fills the
// BlockTable, and resynchronises byte by byte after a block whose declared
// size does not lead to a valid start code.
#pragma once

#include <optional>

#include "analysis/app_state.h"
#include "analysis/error_list.h"
#include "analysis/job_sink.h"
#include "model/stream_edges.h"

namespace mpg {

// The body of the job "scan". Reads through state.view, which the caller has
// opened; continues after the last entry when state.resumeScan is 'y'. A
// read the system refuses stops the scan (its bytes are never taken for the
// stream), and so does a file that changed while it was read; the result
// says why, and the table holds what was recorded before. A stop request
// or a missing signature is no failure.
//
// A video CD rip's sectors are walked first (see walkSectorsOfView).
Failure scanStream(AppState& state, JobSink& sink);

// Walks the sectors of the open video CD rip, reporting progress and
// honouring a stop request: sets the exact layout on the view and keeps the
// faulty sectors in state.sectorFaults. A failed read or a changed file is
// the result; a stop leaves the layout as it was.
Failure walkSectorsOfView(AppState& state, JobSink& sink);

// The sector size the pack headers of the open stream's head, from `from`
// on, follow (see SectorSizeLearner); 0 when they follow none, nothing when
// a read fails.
std::optional<uint32_t> learnSectorSize(StreamView& view, Position from = 0);

// Where the open stream begins in its file: under the sound rules behind
// the junk in front of it (see findStreamStart), under the strict walk only
// at its first byte. None when no stream begins there.
EdgeSearch streamStartOf(StreamView& view, StreamRules rules);

// Opens `path`, drops the cut list and the cache, scans the file afresh and
// closes it again: a whole scan as batch work and tests run it. The failure
// of the open or of the scan.
Failure scanFileAfresh(AppState& state, const std::string& path, JobSink& sink);

// After a scan that was stopped or failed: the last row of the list, when
// its block's search was cut short (or no block was listed), goes, and with
// it the table's last entry, so that a resumed scan reaches that block again
// from the end of the one before and searches it anew.
void dropUnfinishedBlock(BlockTable& table, ErrorGrid& grid);

}  // namespace mpg
