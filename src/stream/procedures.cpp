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

void LongestRun::take(const uint8_t* bytes, uint32_t count, uint64_t at) {
    for (uint32_t k = 0; k < count;) {
        // Most of a block's payload is bytes that each differ from the one
        // before them: taken eight at a time, each begins a run of one, and
        // of those only the first may become the longest.
        if (count - k >= 8) {
            const uint32_t plain =
                beforeFirstMark(repeatedBytes(loadLE64(bytes + k), current_.byte));
            if (plain > 0) {
                endCurrent();
                if (plain > 1 && longest_.length == 0) longest_ = {bytes[k], 1, at + k};
                current_ = {bytes[k + plain - 1], 1, at + k + plain - 1};
                k += plain;
                continue;
            }
        }
        if (bytes[k] == current_.byte) {
            // The run goes on: its equal bytes are counted at once.
            const uint32_t end = endOfRun(bytes, k + 1, count, current_.byte);
            current_.length += end - k;
            k = end;
            continue;
        }
        endCurrent();
        current_ = {bytes[k], 1, at + k};
        ++k;
    }
}

std::string groupDigits(std::string_view digits) {
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    size_t taken = 0;
    for (size_t i = digits.size(); i-- > 0;) {
        out.push_back(digits[i]);
        if (++taken % 3 == 0 && i > 0) out.push_back('\'');
    }
    return {out.rbegin(), out.rend()};
}

uint32_t progressPercent(uint64_t pos, uint64_t size) {
    if (size <= 1000) return size == 0 ? 0 : static_cast<uint32_t>(pos * 100 / size);
    return static_cast<uint32_t>(pos / (size / 100));
}

std::string progressOf(uint64_t pos, uint64_t total) {
    return groupDigits(std::to_string(pos)) + " >> " + groupDigits(std::to_string(total));
}

}  // namespace mpg
