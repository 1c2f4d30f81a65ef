// The error list's filter parser over any text, and the rows it passes.
// The input is the text; its first 12 bytes also make a row to test.
//
// The parser reads the text word by word: the whole is taken exactly when
// every word is taken alone, with the ranges of all the words, and refused
// with the first word refused alone, for the same reason. Case does not
// matter. Every range it keeps runs upwards, a code range over full codes;
// only a range of a last byte and a full code is refused for its ends. A
// row passes the filter exactly when it passes the filter of each kind of
// word on its own.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/row_filter.h"

#include "fuzz_support.h"

using namespace mpg;
using namespace mpg::fuzz;

namespace {

bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == ';';
}

std::vector<std::string_view> wordsOf(std::string_view text) {
    std::vector<std::string_view> words;
    for (size_t at = 0; at < text.size();) {
        while (at < text.size() && isSeparator(text[at])) ++at;
        size_t end = at;
        while (end < text.size() && !isSeparator(text[end])) ++end;
        if (end > at) words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

bool sameRanges(const std::vector<RowFilter::Range>& a, const std::vector<RowFilter::Range>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const RowFilter::Range& x, const RowFilter::Range& y) {
                          return x.low == y.low && x.high == y.high;
                      });
}

bool sameFilter(const RowFilter& a, const RowFilter& b) {
    return sameRanges(a.codes, b.codes) && sameRanges(a.runBytes, b.runBytes) &&
           a.deltaLow == b.deltaLow && a.deltaHigh == b.deltaHigh;
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
    return out;
}

std::optional<uint64_t> hexValue(std::string_view text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    uint64_t v = 0;
    for (const char c : text) {
        const int d = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (d < 0) return std::nullopt;
        v = v << 4 | uint64_t(d);
    }
    return v;
}

// "E0-1C0": two codes, one a last byte alone (up to FF) and one a full code.
bool mixedEnds(std::string_view word) {
    const size_t dash = word.find('-');
    if (dash == std::string_view::npos) return false;
    const auto a = hexValue(word.substr(0, dash)), b = hexValue(word.substr(dash + 1));
    return a && b && (*a <= 0xFF) != (*b <= 0xFF);
}

BlockRecord rowOf(const uint8_t* data, size_t size) {
    uint8_t b[12] = {};
    std::copy_n(data, std::min<size_t>(size, 12), b);
    BlockRecord r;
    r.code = 0x100 | b[0] | (b[1] & 1u) << 12;
    r.declaredSize = int32_t(b[2]) << 8 | b[3];
    r.realSize = int32_t(b[4]) << 8 | b[5];
    r.repeatByte = b[6];
    r.repeatLength = b[7] & 3;
    r.broken = kBrokenListed;
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string bad;
    FilterFault fault = FilterFault::NotUnderstood;
    const std::optional<RowFilter> whole = parseRowFilter(text, &bad, &fault);

    // Word by word.
    RowFilter joined;
    bool allTaken = true;
    for (const std::string_view word : wordsOf(text)) {
        std::string alone;
        FilterFault why = FilterFault::NotUnderstood;
        const std::optional<RowFilter> one = parseRowFilter(word, &alone, &why);
        if (!one) {
            FUZZ_CHECK(alone == word);
            FUZZ_CHECK(why == FilterFault::NotUnderstood || mixedEnds(word));
            if (allTaken) {
                FUZZ_CHECK(!whole && bad == word && fault == why);
            }
            allTaken = false;
            continue;
        }
        joined.codes.insert(joined.codes.end(), one->codes.begin(), one->codes.end());
        joined.runBytes.insert(joined.runBytes.end(), one->runBytes.begin(), one->runBytes.end());
        if (one->deltaLow)
            joined.deltaLow = std::max(joined.deltaLow.value_or(*one->deltaLow), *one->deltaLow);
        if (one->deltaHigh) {
            joined.deltaHigh =
                std::min(joined.deltaHigh.value_or(*one->deltaHigh), *one->deltaHigh);
        }
    }
    FUZZ_CHECK(whole.has_value() == allTaken);
    const std::optional<RowFilter> shouted = parseRowFilter(upper(text));
    FUZZ_CHECK(shouted.has_value() == whole.has_value());
    if (!whole) return 0;
    FUZZ_CHECK(sameFilter(*whole, joined) && sameFilter(*whole, *shouted));

    for (const RowFilter::Range& r : whole->codes) FUZZ_CHECK(r.low <= r.high && r.low >= 0x100);
    for (const RowFilter::Range& r : whole->runBytes) FUZZ_CHECK(r.low <= r.high && r.high <= 0xFF);

    // A row passes the whole exactly when it passes each kind on its own.
    const BlockRecord row = rowOf(data, size);
    for (const bool resolved : {false, true}) {
        RowFilter codes, runs, deltas;
        codes.codes = whole->codes;
        runs.runBytes = whole->runBytes;
        deltas.deltaLow = whole->deltaLow;
        deltas.deltaHigh = whole->deltaHigh;
        FUZZ_CHECK(whole->accepts(row, resolved) ==
                   (codes.accepts(row, resolved) && runs.accepts(row, resolved) &&
                    deltas.accepts(row, resolved)));
        FUZZ_CHECK(RowFilter{}.accepts(row, resolved));
    }
    return 0;
}
