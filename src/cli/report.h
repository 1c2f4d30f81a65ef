// The automatic repair's report as a JSON document, for scripts that judge a
// repair without reading the status texts: the files, the summary and, per
// block, what was done, how sure, the bytes cut and where the block now
// stands in the written output.
#pragma once

#include <string>
#include <vector>

#include "repair/repair_report.h"
#include "stream/cdxa.h"
#include "stream/file_io.h"

namespace mpg::cli {

// The fixed name of a sector fault for scripts (JSON): "bad_checksum", ...
// Like the repair actions' names, it stays whatever the texts say.
const char* sectorFaultName(SectorFault fault);

// The files the report is about. `output` is empty for a dry run, which
// writes none.
struct ReportFiles {
    std::string input;
    std::string output;
};

// Writes the report into `file`, which the caller has created, and
// finishes it; false (the reason in file.failure()) when a write failed.
// `located[k]` is where repairs[k] begins in the output, for the first
// located.size() blocks (those the writer reached; none in a dry run).
//
// {"input": path, "output": path or null,
//  "summary": {"blocks", "exact", "decodable", "unresolved"},
//  "blocks": [{"index", "file_offset", "code" (the start code as a number,
//    as scan --json gives it), "declared_size", "real_size", "action",
//    "certainty", "cuts": [{"file_offset", "length", "byte" (null: bytes of
//    several values)}], "padded", "output_offset" (null when not written)}]}
//
// The blocks are written one at a time: a stream broken throughout gives
// millions, which are never held as one document.
[[nodiscard]] bool writeReport(OutputFile& file, const ReportFiles& files, const RepairLog& repairs,
                               const PositionRuns& located);

}  // namespace mpg::cli
