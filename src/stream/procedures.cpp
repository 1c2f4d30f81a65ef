#include "stream/procedures.h"

namespace mpg {

bool readBE32(ByteSpan bytes, size_t index, uint32_t& out) {
    if (bytes.size() < index + 4 || index + 4 < index) return false;
    out = loadBE32(bytes.data() + index);
    return true;
}

bool readBE16(ByteSpan bytes, size_t index, uint16_t& out) {
    if (bytes.size() < index + 2 || index + 2 < index) return false;
    out = loadBE16(bytes.data() + index);
    return true;
}

bool isDecimal(std::string_view text) {
    if (text.empty()) return false;
    if (text.front() == '-') text.remove_prefix(1);
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

namespace {

// Whether any of the 16 bytes from `p` on equals the byte before it
// (p[-1] is read): sixteen compared at once, in the vector registers every
// target of the compiler has.
bool repeatsAny16(const uint8_t* p) {
    using Bytes16 = uint8_t __attribute__((vector_size(16)));
    Bytes16 here, before;
    std::memcpy(&here, p, 16);
    std::memcpy(&before, p - 1, 16);
    const auto equal = here == before;
    uint64_t lanes[2];
    std::memcpy(lanes, &equal, 16);
    return (lanes[0] | lanes[1]) != 0;
}

}  // namespace

// Once the longest run is `longest.length` bytes long, only a longer one
// matters, and every run longer than that which starts at or after `s`
// covers the byte `longest.length` past `s`: that byte alone is looked at,
// and the run around it measured. A long run found early (the zeros a drive
// gave for a sector it could not read) lets the search pass over the rest
// of a broken block a probe per run length. `s` begins a run; the current
// run at the end of the bytes is measured exactly, as the next piece and
// the sector fill need it.
void LongestRun::skipShortRuns(const uint8_t* bytes, uint32_t s, uint32_t count, uint64_t at,
                               Run& current, Run& longest) {
    for (;;) {
        const uint64_t reach = longest.length;
        if (count - s <= reach) {
            uint32_t start = count - 1;
            const uint8_t last = bytes[start];
            while (start > s && bytes[start - 1] == last) --start;
            current = {last, count - start, at + start};
            return;
        }
        const uint32_t probe = s + static_cast<uint32_t>(reach);
        const uint8_t byte = bytes[probe];
        uint32_t start = probe;
        while (start > s && bytes[start - 1] == byte) --start;
        const uint32_t end = endOfRun(bytes, probe + 1, count, byte);
        if (end == count) {
            current = {byte, count - start, at + start};
            return;
        }
        if (end - start > reach) longest = {byte, end - start, at + start};
        s = end;
    }
}

void LongestRun::take(const uint8_t* bytes, uint32_t count, uint64_t at) {
    // The runs are kept in locals: stores through a byte pointer could
    // change any member, so the compiler would reload them at every byte.
    Run current = current_, longest = longest_;
    for (uint32_t k = 0; k < count;) {
        if (longest.length >= kSkipFrom) {
            // The current run ends first, where the search by probes can
            // begin at a run's start.
            const uint32_t end = endOfRun(bytes, k, count, current.byte);
            current.length += end - k;
            if (end < count) {
                if (current.length > longest.length) longest = current;
                skipShortRuns(bytes, end, count, at, current, longest);
            }
            break;
        }
        // Most of a block's payload is bytes that each differ from the one
        // before them: taken eight at a time, each begins a run of one, and
        // of those only the first may become the longest.
        if (count - k >= 8) {
            const uint32_t plain =
                beforeFirstMark(repeatedBytes(loadLE64(bytes + k), current.byte));
            if (plain > 0) {
                if (current.length > longest.length) longest = current;
                if (plain > 1 && longest.length == 0) longest = {bytes[k], 1, at + k};
                k += plain;
                // Whole words more of them change nothing but the current run.
                if (plain == 8) {
                    while (count - k >= 16 && !repeatsAny16(bytes + k)) k += 16;
                    while (count - k >= 8 && repeatedBytes(loadLE64(bytes + k), bytes[k - 1]) == 0)
                        k += 8;
                }
                current = {bytes[k - 1], 1, at + k - 1};
                continue;
            }
        }
        if (bytes[k] == current.byte) {
            // The run goes on: its equal bytes are counted at once.
            const uint32_t end = endOfRun(bytes, k + 1, count, current.byte);
            current.length += end - k;
            k = end;
            continue;
        }
        if (current.length > longest.length) longest = current;
        current = {bytes[k], 1, at + k};
        ++k;
    }
    current_ = current;
    longest_ = longest;
}

uint32_t progressPercent(uint64_t pos, uint64_t size) {
    if (size <= 1000) return size == 0 ? 0 : static_cast<uint32_t>(pos * 100 / size);
    return static_cast<uint32_t>(pos / (size / 100));
}

}  // namespace mpg
