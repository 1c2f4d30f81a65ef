// The structured join and the plain glue of one to three pieces of the
// input. Byte 0 gives the number of pieces and the join's options, bytes 1
// to 4 two cut points; the pieces are cut from the rest.
#include <vector>

#include "join/join.h"

#include "fuzz_support.h"

using namespace mpg;
using namespace mpg::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kJoinHead) return 0;
    JoinPieces pieces = cutJoinPieces(data, size);
    JoinParams& params = pieces.params;
    const size_t n = pieces.bytes;
    MemFile joined, glued;
    NullSink sink;

    AppState state;
    params.output = joined.path();
    const Failure failure = joinStructured(state.job, params, sink);
    FUZZ_CHECK(failure.kind != FailureKind::Stopped);
    // Every block is copied at most once, the last of each piece padded by
    // no more than a largest block, and one end code closes the join.
    FUZZ_CHECK(joined.size() <= n + pieces.count * kLargestBlock + 4);
    if (!failure) {
        const std::vector<uint8_t> out = joined.bytes();
        FUZZ_CHECK(out.size() >= 4 && out[out.size() - 4] == 0 && out[out.size() - 3] == 0 &&
                   out[out.size() - 2] == 1 && out[out.size() - 1] == 0xB9);
    }

    params.output = glued.path();
    FUZZ_CHECK(!glueFiles(state.job, params, sink));
    FUZZ_CHECK(glued.bytes() == std::vector<uint8_t>(data + kJoinHead, data + size));
    return 0;
}
