// The structured join and the plain glue of one to three pieces of the
// input. Byte 0 gives the number of pieces and the join's options, bytes 1
// to 4 two cut points; the pieces are cut from the rest.
#include <algorithm>
#include <memory>
#include <vector>

#include "join/join.h"

#include "fuzz_support.h"

using namespace mpg;
using namespace mpg::fuzz;

namespace {

constexpr size_t kHead = 5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHead) return 0;
    const uint8_t settings = data[0];
    const uint8_t* body = data + kHead;
    const size_t n = size - kHead;
    const size_t pieces = 1 + (settings & 3) % 3;
    size_t cuts[2] = {(size_t(data[1]) << 8 | data[2]) % (n + 1),
                      (size_t(data[3]) << 8 | data[4]) % (n + 1)};
    std::sort(cuts, cuts + 2);
    std::vector<size_t> bounds = {0};
    if (pieces >= 2) bounds.push_back(cuts[0]);
    if (pieces == 3) bounds.push_back(cuts[1]);
    bounds.push_back(n);

    std::vector<std::unique_ptr<MemFile>> inputs;
    JoinParams params;
    for (size_t k = 0; k + 1 < bounds.size(); ++k) {
        inputs.push_back(std::make_unique<MemFile>(body + bounds[k], bounds[k + 1] - bounds[k]));
        params.inputs.push_back(inputs.back()->path());
    }
    params.oneSystemHeader = settings & 0x04;
    params.onePadding = settings & 0x08;
    MemFile joined, glued;
    NullSink sink;

    AppState state;
    params.output = joined.path();
    const Failure failure = joinStructured(state.job, params, sink);
    FUZZ_CHECK(failure.kind != FailureKind::Stopped);
    // Every block is copied at most once, the last of each piece padded by
    // no more than a largest block, and one end code closes the join.
    FUZZ_CHECK(joined.size() <= n + pieces * kLargestBlock + 4);
    if (!failure) {
        const std::vector<uint8_t> out = joined.bytes();
        FUZZ_CHECK(out.size() >= 4 && out[out.size() - 4] == 0 && out[out.size() - 3] == 0 &&
                   out[out.size() - 2] == 1 && out[out.size() - 1] == 0xB9);
    }

    params.output = glued.path();
    FUZZ_CHECK(!glueFiles(state.job, params, sink));
    FUZZ_CHECK(glued.bytes() == std::vector<uint8_t>(body, body + n));
    return 0;
}
