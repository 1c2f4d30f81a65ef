// A stream scanned as the window scans it: the table in an AppState and the
// error list's rows in an ErrorGrid, filled by the scan's notifications.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "analysis/app_state.h"
#include "analysis/error_list.h"
#include "analysis/grid_sink.h"
#include "analysis/scan.h"

namespace mpg::test {

using mpg::GridSink;

struct Scanned {
    AppState state;
    ErrorGrid grid;
    std::string path;

    // Scans `file` afresh; false when it cannot be opened or read.
    bool scan(const std::string& file) {
        path = file;
        GridSink sink(grid);
        return !scanFileAfresh(state, file, sink);
    }
    // The whole stream as the view shows it through the cut list.
    std::vector<uint8_t> streamBytes() {
        uint64_t end = state.view.streamSize();
        for (const CutRegion& r : state.view.cuts()) {
            if (r.start < state.view.streamSize())
                end -= std::min<uint64_t>(r.end(), state.view.streamSize()) - r.start;
        }
        std::vector<uint8_t> all(end), piece;
        if (!state.view.openFile(path)) return {};
        state.view.invalidateWindow();
        for (uint64_t pos = 0; pos < end; pos += piece.size()) {
            const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(end - pos, 1 << 20));
            if (!state.view.readAt(pos, count, piece)) break;
            std::copy(piece.begin(), piece.end(), all.begin() + static_cast<ptrdiff_t>(pos));
        }
        state.view.closeFile();
        return all;
    }
};

}  // namespace mpg::test
