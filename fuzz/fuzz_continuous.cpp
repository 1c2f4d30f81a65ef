// The continuous join against the plain one, over the same one to three
// pieces of the input. Byte 0 gives the number of pieces and the options,
// bytes 1 to 4 two cut points; the pieces are cut from the rest.
//
// Moving the clock changes time stamps and nothing else: both joins fail
// alike or succeed alike; succeeding, their outputs are as long as each
// other, a single piece comes out the same, and every byte that differs
// lies in the head of a pack or a packet, among the bytes that carry SCR,
// PTS and DTS; the end codes met inside a piece are the same.
#include <vector>

#include "join/join.h"

#include "fuzz_support.h"

using namespace mpg;
using namespace mpg::fuzz;

namespace {

// The farthest a time stamp's last byte stands from its block's start code:
// an MPEG-1 packet's 16 stuffing bytes, its buffer size and both stamps.
constexpr size_t kStampReach = 6 + 16 + 2 + 10;

// Whether each byte that differs stands within kStampReach of the start
// code of a pack or a packet in front of it, behind the code itself.
NO_COVERAGE bool differsOnlyInStamps(const std::vector<uint8_t>& plain,
                                     const std::vector<uint8_t>& moved) {
    size_t lastCode = SIZE_MAX;
    for (size_t i = 0; i < plain.size(); ++i) {
        if (i >= 3 && plain[i - 3] == 0 && plain[i - 2] == 0 && plain[i - 1] == 1 &&
            plain[i] >= 0xBA) {
            lastCode = i - 3;
        }
        if (plain[i] == moved[i]) continue;
        if (lastCode == SIZE_MAX || i - lastCode >= kStampReach || i - lastCode < 4) return false;
        if (plain[lastCode + 3] == 0xB9 || plain[lastCode + 3] == 0xBB) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kJoinHead) return 0;
    JoinPieces pieces = cutJoinPieces(data, size);
    JoinParams& params = pieces.params;
    NullSink sink;
    AppState state;

    MemFile plainOut, movedOut;
    params.output = plainOut.path();
    std::vector<InnerEndCode> plainEnds, movedEnds;
    const Failure plain = joinStructured(state.job, params, sink, &plainEnds);
    params.output = movedOut.path();
    params.continuous = true;
    const Failure moved = joinStructured(state.job, params, sink, &movedEnds);

    FUZZ_CHECK(plain.kind == moved.kind && plain.piece == moved.piece);
    FUZZ_CHECK(plainEnds == movedEnds);
    if (plain) {
        FUZZ_CHECK(plain.position == moved.position);
        return 0;
    }
    const std::vector<uint8_t> a = plainOut.bytes(), b = movedOut.bytes();
    FUZZ_CHECK(a.size() == b.size());
    if (pieces.count == 1) FUZZ_CHECK(a == b);
    FUZZ_CHECK(differsOnlyInStamps(a, b));
    return 0;
}
