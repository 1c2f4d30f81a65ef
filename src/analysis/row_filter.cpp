#include "analysis/row_filter.h"

#include <algorithm>
#include <charconv>

#include "stream/start_codes.h"

namespace mpg {

namespace {

std::optional<uint32_t> parseHex(std::string_view text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// "E0" or "C0-C1", each end of at most `maxDigits` hex digits, the range
// taken in either order.
std::optional<RowFilter::Range> parseRange(std::string_view text, size_t maxDigits) {
    const size_t dash = text.find('-');
    const auto low = parseHex(text.substr(0, dash), maxDigits);
    const auto high =
        dash == std::string_view::npos ? low : parseHex(text.substr(dash + 1), maxDigits);
    if (!low || !high) return std::nullopt;
    return RowFilter::Range{std::min(*low, *high), std::max(*low, *high)};
}

// A code as the list shows it, or its last byte alone: the list's blocks
// all begin with the start-code prefix.
uint32_t fullCode(uint32_t code) {
    return code <= 0xFF ? (kStartCodePrefix | code) : code;
}

bool parseDelta(std::string_view text, RowFilter& filter) {
    std::string_view op;
    for (std::string_view candidate : {">=", "<=", ">", "<", "="}) {
        if (text.starts_with(candidate)) {
            op = candidate;
            break;
        }
    }
    if (op.empty()) return false;
    const std::string_view digits = text.substr(op.size());
    int64_t n = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return false;
    }
    // A delta is a 32-bit number: the bounds stay far from overflow.
    if (n < INT32_MIN - int64_t{1} || n > INT32_MAX + int64_t{1}) return false;
    const auto raiseLow = [&](int64_t v) {
        filter.deltaLow = std::max(filter.deltaLow.value_or(v), v);
    };
    const auto lowerHigh = [&](int64_t v) {
        filter.deltaHigh = std::min(filter.deltaHigh.value_or(v), v);
    };
    if (op == ">=" || op == "=") raiseLow(n);
    if (op == "<=" || op == "=") lowerHigh(n);
    if (op == ">") raiseLow(n + 1);
    if (op == "<") lowerHigh(n - 1);
    return true;
}

// Whether a range of codes means one thing: each end read as it is written
// and as the code it stands for keeps the same order.
bool onlyReading(const RowFilter::Range& written) {
    return fullCode(written.low) <= fullCode(written.high);
}

std::optional<FilterFault> parseWord(std::string_view word, RowFilter& filter) {
    if (word.size() > 1 && word[0] == 'd' && (word[1] == '<' || word[1] == '>' || word[1] == '=')) {
        if (parseDelta(word.substr(1), filter)) return std::nullopt;
        return FilterFault::NotUnderstood;
    }
    if (const std::optional<FindingKind> kind = findingKindNamed(word)) {
        filter.kinds.push_back(*kind);
        return std::nullopt;
    }
    if (word.starts_with("r=")) {
        const auto bytes = parseRange(word.substr(2), 2);
        if (!bytes) return FilterFault::NotUnderstood;
        filter.runBytes.push_back(*bytes);
        return std::nullopt;
    }
    const auto codes = parseRange(word, 8);
    if (!codes) return FilterFault::NotUnderstood;
    if (!onlyReading(*codes)) return FilterFault::MixedRange;
    filter.codes.push_back({fullCode(codes->low), fullCode(codes->high)});
    return std::nullopt;
}

}  // namespace

namespace {

bool anyHolds(const std::vector<RowFilter::Range>& ranges, uint32_t v) {
    return ranges.empty() || std::any_of(ranges.begin(), ranges.end(),
                                         [v](const RowFilter::Range& g) { return g.holds(v); });
}

bool kindAsked(const std::vector<FindingKind>& kinds, FindingKind kind) {
    return kinds.empty() || std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

}  // namespace

bool RowFilter::accepts(const Finding& f) const {
    if (!kindAsked(kinds, f.kind) || deltaLow || deltaHigh || !runBytes.empty()) return false;
    if (codes.empty()) return true;
    return f.stream != 0 && anyHolds(codes, kStartCodePrefix | f.stream);
}

bool RowFilter::accepts(const BlockRecord& r, bool resolved) const {
    if (!kindAsked(kinds, FindingKind::BrokenBlock)) return false;
    if (!anyHolds(codes, r.code)) return false;
    if ((deltaLow || deltaHigh || !runBytes.empty()) && !resolved) return false;
    if (deltaLow && r.delta() < *deltaLow) return false;
    if (deltaHigh && r.delta() > *deltaHigh) return false;
    // A block without a recorded run has no run byte to match.
    if (!runBytes.empty() && (r.repeatLength == 0 || !anyHolds(runBytes, r.repeatByte))) {
        return false;
    }
    return true;
}

std::optional<RowFilter> parseRowFilter(std::string_view text, std::string* badWord,
                                        FilterFault* fault) {
    RowFilter filter;
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    size_t at = 0;
    while (at < lower.size()) {
        const size_t start = lower.find_first_not_of(" \t,;", at);
        if (start == std::string::npos) break;
        const size_t end = std::min(lower.find_first_of(" \t,;", start), lower.size());
        const std::string_view word = std::string_view(lower).substr(start, end - start);
        if (const std::optional<FilterFault> refused = parseWord(word, filter)) {
            if (badWord != nullptr) *badWord = std::string(text.substr(start, end - start));
            if (fault != nullptr) *fault = *refused;
            return std::nullopt;
        }
        at = end;
    }
    return filter;
}

}  // namespace mpg
