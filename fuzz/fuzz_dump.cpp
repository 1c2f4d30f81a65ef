// The hex dump of a block: its bytes read through the cut list, compared with
// a plain model of the file, and its lines checked field by field. A file may
// hold a long run of zeros (a hole in the memory file, so it costs nothing),
// and the block a length of its own choosing, so that long blocks, shown by
// their edges with a gap line between, are dumped as often as short ones.
//
// Byte 0: bits 0-1 the bytes per line, bit 2 whether the block is one a scan
// found (else the record given), bits 3-5 the number of cuts. Bytes 1-2 where
// the zeros go, bytes 3-4 how many there are (in 32s); bytes 5-16 a record:
// offset, declared size and real size, 32-bit little-endian; then 4 bytes per
// cut (start in 8s, length); the file's other bytes are the rest.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/dump.h"
#include "stream/cdxa.h"

#include "fuzz_support.h"
#include "text/messages.h"

using namespace mpg;
using namespace mpg::fuzz;

namespace {

constexpr size_t kHead = 17;
constexpr size_t kCutBytes = 4;
// A scan steps over the zeros byte by byte, and would spend most of the run
// on them: it gets a few. The record given takes a long block's edges.
constexpr uint64_t kMostZerosScanned = 8 * 1024;
// Lines are made of this many bytes at each edge, and of the file's first
// bytes on their own: formatting all 128 KiB of a long block's edges would
// cost a run most of its time.
constexpr size_t kLinesOf = 100;

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The file: the given bytes with `zeros` zero bytes inserted at `zerosAt`.
struct FileModel {
    const uint8_t* bytes;
    uint64_t count;
    uint64_t zerosAt;
    uint64_t zeros;

    uint64_t size() const { return count + zeros; }
    // Whether `n` bytes at `got` are the file's from file position `f` on,
    // zeros past its end; compared a stretch of the same source at a time.
    NO_COVERAGE bool matches(uint64_t f, const uint8_t* got, uint64_t n) const {
        static const std::vector<uint8_t> kZeros(kDumpEdge);
        while (n > 0) {
            const uint8_t* from;
            uint64_t take;
            if (f < zerosAt) {
                from = bytes + f, take = zerosAt - f;
            } else if (f < zerosAt + zeros || f >= size()) {
                from = kZeros.data();
                take = f < zerosAt + zeros ? zerosAt + zeros - f : kZeros.size();
            } else {
                from = bytes + (f - zeros), take = size() - f;
            }
            take = std::min({take, n, uint64_t{kZeros.size()}});
            if (std::memcmp(got, from, take) != 0) return false;
            got += take, f += take, n -= take;
        }
        return true;
    }
};

// Whether `got` holds the stream bytes from stream position `pos` on: the
// file with the cut regions left out, zeros past its end.
NO_COVERAGE bool streamMatches(const FileModel& file, const CutList& cuts, uint64_t pos,
                               const std::vector<uint8_t>& got) {
    size_t c = 0;
    uint64_t f = pos;
    while (c < cuts.size() && cuts[c].start <= f) f += cuts[c++].length;
    for (uint64_t i = 0; i < got.size();) {
        const uint64_t take =
            std::min<uint64_t>(got.size() - i, c < cuts.size() ? cuts[c].start - f : UINT64_MAX);
        if (!file.matches(f, got.data() + i, take)) return false;
        i += take, f += take;
        while (c < cuts.size() && cuts[c].start <= f) f += cuts[c++].length;
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;  // lower case included: the dump writes upper case
}

// Decodes one UTF-8 character at `i`; -1 when it is no well-formed one.
int32_t nextCodePoint(const std::string& s, size_t& i) {
    const uint8_t b = static_cast<uint8_t>(s[i]);
    const size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : 0;
    if (n == 0 || i + n > s.size()) return -1;
    int32_t c = n == 1 ? b : b & (n == 2 ? 0x1F : 0x0F);
    for (size_t k = 1; k < n; ++k) {
        const uint8_t t = static_cast<uint8_t>(s[i + k]);
        if ((t >> 6) != 2) return -1;
        c = c << 6 | (t & 0x3F);
    }
    i += n;
    return c;
}

// One line: the offset in upper-case hex digits, at least 8 of them, each
// byte in two with a
// "| " after every fourth, spaces up to the characters' column, then one
// visible character per byte (no control code, which would break the line
// or start a terminal's escape sequence): printable ASCII as itself, 00,
// 09, 0A and 0D as ".", bytes from 0x80 up as non-ASCII characters.
NO_COVERAGE void checkLine(const std::string& line, uint64_t offset, const uint8_t* bytes,
                           size_t count, size_t perLine) {
    size_t digits = 8;
    while (digits < 16 && (offset >> (4 * digits)) != 0) ++digits;
    const size_t width = 3 * perLine + 2 * (perLine / 4) + digits + 1;
    FUZZ_CHECK(line.size() >= width + count && line[digits] == ' ');
    for (size_t k = 0; k < digits; ++k) {
        FUZZ_CHECK(hexValue(line[k]) == int((offset >> (4 * (digits - 1 - k))) & 15));
    }
    size_t i = digits + 1;
    for (size_t k = 0; k < count; ++k) {
        FUZZ_CHECK(hexValue(line[i]) * 16 + hexValue(line[i + 1]) == bytes[k] &&
                   hexValue(line[i]) >= 0 && hexValue(line[i + 1]) >= 0 && line[i + 2] == ' ');
        i += 3;
        if (k % 4 == 3) {
            FUZZ_CHECK(line[i] == '|' && line[i + 1] == ' ');
            i += 2;
        }
    }
    FUZZ_CHECK(count < perLine || i == width);
    for (; i < width; ++i) FUZZ_CHECK(line[i] == ' ');
    for (size_t k = 0; k < count; ++k) {
        const int32_t c = nextCodePoint(line, i);
        const uint8_t b = bytes[k];
        FUZZ_CHECK(c >= 0x20 && c != 0x7F);
        if (b == 0x00 || b == 0x09 || b == 0x0A || b == 0x0D) {
            FUZZ_CHECK(c == '.');
        } else if (b >= 0x20 && b < 0x7F) {
            FUZZ_CHECK(c == b);
        } else {
            FUZZ_CHECK(c >= 0x80);
        }
    }
    FUZZ_CHECK(i == line.size());
}

// The lines of `bytes` from line `first` on, their offsets counted from `base`.
NO_COVERAGE void checkLines(const std::vector<std::string>& lines, size_t first,
                            const std::vector<uint8_t>& bytes, uint64_t base, size_t perLine) {
    const size_t count = (bytes.size() + perLine - 1) / perLine;
    FUZZ_CHECK(lines.size() >= first + count);
    for (size_t k = 0; k < count; ++k) {
        const size_t at = k * perLine;
        checkLine(lines[first + k], base + at, bytes.data() + at,
                  std::min(perLine, bytes.size() - at), perLine);
    }
}

// "-------- пропущено 1'234 байт": the bytes left out, in groups of three.
void checkGapLine(const std::string& line, uint64_t skipped) {
    const std::string head = "-------- пропущено ", tail = " байт";
    FUZZ_CHECK(line.size() > head.size() + tail.size() && line.compare(0, head.size(), head) == 0 &&
               line.compare(line.size() - tail.size(), tail.size(), tail) == 0);
    const std::string number = line.substr(head.size(), line.size() - head.size() - tail.size());
    uint64_t value = 0;
    for (size_t k = 0; k < number.size(); ++k) {
        const bool mark = (number.size() - k) % 4 == 0;
        FUZZ_CHECK(mark ? number[k] == '\'' : (number[k] >= '0' && number[k] <= '9'));
        if (!mark) value = value * 10 + uint64_t(number[k] - '0');
    }
    FUZZ_CHECK(number.front() != '\'' && value == skipped);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHead) return 0;
    const uint8_t settings = data[0];
    static constexpr int kPerLine[4] = {16, 24, 32, 16};
    const int perLine = kPerLine[settings & 3];
    const bool scanned = settings & 0x04;
    const size_t cutCount = (settings >> 3) & 7;
    if (size < kHead + cutCount * kCutBytes) return 0;
    const uint8_t* cutBytes = data + kHead;
    const uint8_t* body = cutBytes + cutCount * kCutBytes;
    const size_t bodySize = size - kHead - cutCount * kCutBytes;

    FileModel model{body, bodySize, (uint64_t{data[1]} << 8 | data[2]) % (bodySize + 1),
                    (uint64_t{data[3]} << 8 | data[4]) * 32};
    if (scanned) model.zeros = std::min(model.zeros, kMostZerosScanned);
    MemFile file(body, model.zerosAt);
    file.extend(model.zeros);
    file.append(body + model.zerosAt, bodySize - model.zerosAt);
    // A video CD rip's stream is its sectors' payloads, not the file's bytes
    // this model holds: rips are fuzz_sectors' inputs.
    if (isCdxaFile(file.path())) return 0;

    AppState state;
    size_t index = 0;
    if (scanned) {
        ErrorGrid grid;
        if (!scanFile(state, grid, file.path())) abort();
        if (state.table.empty()) return 0;
        index = le32(data + 5) % state.table.size();
    } else {
        BlockRecord given;
        given.code = kPackStartCode;
        given.offset = le32(data + 5);
        given.declaredSize = static_cast<int32_t>(le32(data + 9));
        given.realSize = static_cast<int32_t>(le32(data + 13));
        given.broken = given.realSize != 0 ? kBrokenListed : kSound;
        state.table.assign({given});
    }
    for (size_t k = 0; k < cutCount; ++k) {
        const uint8_t* c = cutBytes + k * kCutBytes;
        state.view.addCut((uint32_t{c[0]} << 8 | c[1]) * 8, uint32_t{c[2]} << 8 | c[3]);
    }

    BlockDump dump;
    FUZZ_CHECK(!readBlockForDump(state, file.path(), state.table.size(), dump));
    FUZZ_CHECK(readBlockForDump(state, file.path(), index, dump));
    FUZZ_CHECK(!state.view.isOpen());

    // The larger of the two sizes, cut to what the file holds behind the
    // block and one largest block more.
    const BlockRecord& e = state.table[index];
    const uint64_t wanted = static_cast<uint64_t>(std::max({e.declaredSize, e.realSize, 0}));
    const uint64_t behind = model.size() > e.offset ? model.size() - e.offset : 0;
    FUZZ_CHECK(dump.offset == e.offset);
    FUZZ_CHECK(dump.length <= wanted && dump.length <= behind + kLargestBlock);
    FUZZ_CHECK(dump.length == wanted || wanted > behind);
    const bool whole = dump.length <= kDumpWhole;
    FUZZ_CHECK(dump.head.size() == (whole ? dump.length : kDumpEdge));
    FUZZ_CHECK(dump.tail.size() == (whole ? 0 : kDumpEdge));
    const CutList& cuts = state.view.cuts();
    FUZZ_CHECK(streamMatches(model, cuts, dump.offset, dump.head));
    const uint64_t tailAt = uint64_t{dump.offset} + dump.length - dump.tail.size();
    FUZZ_CHECK(streamMatches(model, cuts, tailAt, dump.tail));

    // The lines of the first and last bytes of each edge, the gap line
    // between them counting what is left out.
    BlockDump shown;
    shown.offset = dump.offset;
    shown.length = dump.length;
    shown.head.assign(dump.head.begin(), dump.head.begin() + std::min(dump.head.size(), kLinesOf));
    shown.tail.assign(dump.tail.end() - std::min(dump.tail.size(), kLinesOf), dump.tail.end());
    const std::vector<std::string> lines = dumpLines(shown, perLine);
    const size_t headLines = (shown.head.size() + perLine - 1) / perLine;
    checkLines(lines, 0, shown.head, shown.offset, perLine);
    if (shown.tail.empty()) {
        FUZZ_CHECK(lines.size() == headLines);
    } else {
        const size_t tailLines = (shown.tail.size() + perLine - 1) / perLine;
        FUZZ_CHECK(lines.size() == headLines + 1 + tailLines);
        checkGapLine(lines[headLines], shown.skipped());
        checkLines(lines, headLines + 1, shown.tail, tailAt + kDumpEdge - shown.tail.size(),
                   perLine);
    }

    // The file's first bytes at any offset, below 4 GiB and past it.
    const std::vector<uint8_t> first(body, body + std::min(bodySize, kLinesOf));
    for (const uint64_t base : {uint64_t{le32(data + 9)}, uint64_t{le32(data + 9)} << 8}) {
        const std::vector<std::string> own =
            dumpLines(ByteSpan(first.data(), first.size()), base, perLine);
        FUZZ_CHECK(own.size() == (first.size() + perLine - 1) / perLine);
        checkLines(own, 0, first, base, perLine);
    }
    return 0;
}
