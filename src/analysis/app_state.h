// The state of one repair: the input seen as a stream, its block table and
// stream codes, and the running job's control. One instance is made at
// start-up and passed by reference; a test makes its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/check_result.h"
#include "model/block_table.h"
#include "model/finding.h"
#include "stream/failure.h"
#include "stream/stream_view.h"

namespace mpg {

struct JobState {
    std::atomic<bool> stopRequested{false};  // set by the window, polled by the job
};

struct AppState {
    StreamView view;
    BlockTable table;
    StreamCodes codes;
    // What the last open check found.
    StreamKind kind;
    // The faulty sectors of a video CD rip, as the last scan's sector walk
    // found them; emptied by the open check and by a fresh scan.
    SectorFaultList sectorFaults;
    // What the checks of the content found in the last scan (under the
    // sound rules): damage beside the broken blocks of the table.
    FindingList findings;
    JobState job;

    // 'y': the next scan continues after the last BlockTable entry.
    char resumeScan = '0';
    // The settings page's "высокий приоритет задачи": when off, a job's
    // thread runs at idle CPU and I/O priority and the scan rests up to 5 ms
    // per read window, so that it leaves the machine to others.
    std::atomic<bool> highPriority{true};
    // How the writer saves a broken block of a rewritable code: true sets
    // its length field to the real size; false cuts or pads the block to
    // its declared size.
    std::atomic<bool> headerFromRealSize{true};
    // The settings page's "строго по схеме MPEG-1" and the command line's
    // --literal: how the next open check, scan or index load reads a
    // stream. A job in progress keeps the rules it started with.
    std::atomic<StreamRules> rules{StreamRules::Sound};
    // The repair page's "проверять декодированием" and the command line's
    // --decode: the next scan under the sound rules also decodes every
    // stream a decoder reads and lists the frames the decoder finds damaged.
    // Slower by far than the walk alone, so off unless asked for.
    std::atomic<bool> decodeCheck{false};
};

}  // namespace mpg
