#include "analysis/dump.h"

#include <algorithm>

namespace mpg {

namespace {

// Code points of the bytes 0x80 to 0xBF in the Cyrillic code page (0x98 has
// none there); 0xC0 to 0xFF are U+0410 to U+044F.
constexpr char16_t kHighHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void appendDumpChar(std::string& out, uint8_t b, DumpCharset charset) {
    if (b == 0x00 || b == 0x09 || b == 0x0A || b == 0x0D) {
        out += '.';
    } else if (b < 0x20) {
        appendUtf8(out, 0x2400 + b);
    } else if (b == 0x7F) {
        appendUtf8(out, 0x2421);
    } else if (b < 0x80) {
        out += static_cast<char>(b);
    } else if (charset == DumpCharset::Ascii) {
        out += '.';
    } else if (b < 0xC0) {
        appendUtf8(out, kHighHalf[b - 0x80]);
    } else {
        appendUtf8(out, 0x0410 + (b - 0xC0));
    }
}

// Upper-case hex digits, written by hand: a dump of 128 KiB has 8,192 lines
// and 131,072 bytes to show, and a formatted print per byte costs more than
// everything else the dump does.
constexpr char kHexDigits[] = "0123456789ABCDEF";

// A line's offset takes at least 8 hex digits, and those it needs past 4 GiB.
int offsetDigits(Position offset) {
    int digits = 8;
    while (digits < 16 && (offset >> (4 * digits)) != 0) ++digits;
    return digits;
}

}  // namespace

std::string dumpChar(uint8_t b, DumpCharset charset) {
    std::string out;
    appendDumpChar(out, b, charset);
    return out;
}

std::vector<std::string> dumpLines(ByteSpan bytes, Position baseOffset, int perLine,
                                   DumpCharset charset) {
    const size_t n = static_cast<size_t>(perLine);
    std::vector<std::string> lines;
    lines.reserve(bytes.size() / n + 1);
    for (size_t index = 0; index < bytes.size(); index += n) {
        const size_t count = std::min(n, bytes.size() - index);
        std::string line;
        const Position offset = baseOffset + index;
        const int digits = offsetDigits(offset);
        for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
            line += kHexDigits[(offset >> shift) & 15];
        }
        line += ' ';
        // The characters' column stands behind a full line's bytes.
        const size_t width = line.size() + 3 * n + 2 * (n / 4);
        line.reserve(width + 3 * count);
        for (size_t i = 0; i < count; ++i) {
            const uint8_t b = bytes[index + i];
            line += kHexDigits[b >> 4];
            line += kHexDigits[b & 15];
            line += ' ';
            if (i % 4 == 3) line += "| ";
        }
        line.resize(std::max(line.size(), width), ' ');
        for (size_t i = 0; i < count; ++i) appendDumpChar(line, bytes[index + i], charset);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<DumpHighlight> dumpHighlights(const BlockRecord& r, Position length) {
    std::vector<DumpHighlight> marks;
    if (!r.isBroken()) return marks;
    const auto add = [&](DumpMark mark, Position from, Position to) {
        to = std::min(to, length);
        if (from < to) marks.push_back({mark, from, to});
    };
    add(DumpMark::PastDeclaredSize, static_cast<Position>(std::max(r.declaredSize, 0)), length);
    if (r.repeatLength > 0)
        add(DumpMark::LongestRun, r.repeatStart, Position{r.repeatStart} + r.repeatLength);
    return marks;
}

DumpCell dumpCellOf(const BlockDump& dump, int perLine, Position at) {
    const Position n = static_cast<Position>(perLine);
    const Position headLines = (dump.head.size() + n - 1) / n;
    const Position tailAt = dump.length - dump.tail.size();
    DumpCell cell;
    Position lineStart = 0;  // the block byte that begins the line
    if (at < dump.head.size()) {
        cell.line = static_cast<size_t>(at / n);
        lineStart = at / n * n;
    } else if (dump.tail.empty() || at < tailAt) {
        cell.line = static_cast<size_t>(headLines);
        return cell;
    } else {
        cell.line = static_cast<size_t>(headLines + 1 + (at - tailAt) / n);
        lineStart = tailAt + (at - tailAt) / n * n;
    }
    // As dumpLines lays a line out: the offset and a space, three columns
    // a byte and two more behind every fourth, then a character a byte.
    const size_t prefix = static_cast<size_t>(offsetDigits(dump.offset + lineStart)) + 1;
    const size_t i = static_cast<size_t>(at - lineStart);
    cell.hexColumn = prefix + 3 * i + 2 * (i / 4);
    cell.charColumn = prefix + 3 * static_cast<size_t>(n) + 2 * static_cast<size_t>(n / 4) + i;
    cell.shown = true;
    return cell;
}

std::optional<size_t> blockHolding(const BlockTable& table, Position pos) {
    // The first entry that starts behind `pos`, by halving.
    size_t low = 0, high = table.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (table[middle].offset <= pos) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low == 0) return std::nullopt;
    return low - 1;
}

bool readBlockForDump(AppState& state, const std::string& inputPath, size_t index, BlockDump& out) {
    if (index >= state.table.size()) return false;
    const BlockRecord& e = state.table[index];
    StreamView& view = state.view;
    if (!view.openFile(inputPath)) return false;
    const Position fileSize = view.fileLength();
    // An entry from a foreign index file may claim gigabytes: the dump shows
    // at most what the file holds behind the block and one largest block more.
    const Position room = (fileSize > e.offset ? fileSize - e.offset : 0) + kLargestBlock;
    const int64_t wanted = std::max<int64_t>({e.declaredSize, e.realSize, 0});
    out.index = index;
    out.record = e;
    out.offset = out.titled = e.offset;
    out.length = std::min<Position>(static_cast<Position>(wanted), room);
    const bool whole = out.length <= kDumpWhole;
    bool changed = false;
    const auto read = [&](Position from, Position count, std::vector<uint8_t>& into) {
        into.assign(count, 0);  // what cannot be read stays zero
        const bool complete = view.readPieces(
            e.offset + from, count,
            [&](const uint8_t* bytes, uint32_t piece, Position done) {
                std::copy(bytes, bytes + piece, into.begin() + static_cast<ptrdiff_t>(done));
                return true;
            },
            StreamView::Fill::Exact);
        if (!complete && view.failure().kind == FailureKind::InputChanged) changed = true;
    };
    view.invalidateWindow();
    read(0, whole ? out.length : kDumpEdge, out.head);
    if (whole) {
        out.tail.clear();
    } else {
        read(out.length - kDumpEdge, kDumpEdge, out.tail);
    }
    view.closeFile();
    return !changed;
}

}  // namespace mpg
