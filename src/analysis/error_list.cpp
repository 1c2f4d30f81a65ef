#include "analysis/error_list.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace mpg {

std::string formatCode(uint32_t code) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", code);
    return text;
}

std::string formatShortCode(uint32_t code) {
    if ((code >> 8) != (kStartCodePrefix >> 8)) return formatCode(code);
    char text[3];
    std::snprintf(text, sizeof text, "%02X", code & 0xFF);
    return text;
}

namespace {

template <class Number>
void appendNumber(std::string& out, Number value) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

// `digits` upper-case hex digits of `value`, the highest first.
void appendHex(std::string& out, uint32_t value, int digits) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

void appendRun(std::string& out, const BlockRecord& r) {
    appendNumber(out, r.repeatLength);
    out += '(';
    appendHex(out, r.repeatByte, 2);
    out += ") at ";
    appendNumber(out, r.repeatStart);
}

}  // namespace

std::string formatRun(const BlockRecord& r) {
    std::string out;
    appendRun(out, r);
    return out;
}

void appendErrorCell(std::string& out, int column, int number, int64_t index, const BlockRecord& e,
                     bool resolved) {
    switch (column) {
        case 0:
            return appendNumber(out, number);
        case 1:
            return appendNumber(out, index);
        case 2:
            return appendHex(out, e.code, 8);
        case 3:
            return appendNumber(out, e.offset);
        case 4:
            return appendNumber(out, e.declaredSize);
        default:
            break;
    }
    if (!resolved) return;
    switch (column) {
        case 5:
            return appendNumber(out, e.realSize);
        case 6:
            return appendNumber(out, e.delta());
        case 7:
            return appendRun(out, e);
        default:
            return;
    }
}

std::string errorCell(int column, int number, int64_t index, const BlockRecord& e, bool resolved) {
    std::string out;
    appendErrorCell(out, column, number, index, e, resolved);
    return out;
}

size_t countListed(const BlockTable& table) {
    size_t count = 0;
    for (size_t i = 0; i < table.size(); ++i) count += table[i].broken == kBrokenListed;
    return count;
}

std::vector<size_t> listedInTable(const BlockTable& table) {
    std::vector<size_t> listed;
    listed.reserve(countListed(table));
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].broken == kBrokenListed) listed.push_back(i);
    }
    return listed;
}

std::string findingCell(int column, int number, const Finding& f) {
    switch (column) {
        case 0:
            return std::to_string(number);
        case 2:
            return f.stream == 0 ? std::string() : formatShortCode(kStartCodePrefix | f.stream);
        case kOffsetColumn:
            return std::to_string(f.begin);
        case kLengthColumn:
            return std::to_string(f.end - f.begin);
        default:
            return {};
    }
}

std::string ErrorGrid::cell(int r, int c) const {
    const Row& row = rows_[static_cast<size_t>(r)];
    if (row.state == RowState::Empty) return {};
    if (row.state == RowState::Finding) return findingCell(c, r, findings_[size_t(row.index)]);
    return errorCell(c, r, row.index, row.record, row.state == RowState::Resolved);
}

ErrorRow ErrorGrid::row(int r) const {
    ErrorRow texts;
    if (!rowUsed(r)) return texts;
    for (int c = 0; c < kErrorColumns; ++c) texts[static_cast<size_t>(c)] = cell(r, c);
    return texts;
}

bool ErrorGrid::operator==(const ErrorGrid& other) const {
    const auto sameShown = [&](const Row& a, const Row& b) {
        if (a.state != b.state) return false;
        if (a.state == RowState::Empty) return true;
        if (a.state == RowState::Finding) {
            return findings_[size_t(a.index)] == other.findings_[size_t(b.index)];
        }
        const BlockRecord &x = a.record, &y = b.record;
        if (a.index != b.index || x.code != y.code || x.offset != y.offset ||
            x.declaredSize != y.declaredSize) {
            return false;
        }
        // The delta follows from the two sizes.
        return a.state != RowState::Resolved ||
               (x.realSize == y.realSize && x.repeatByte == y.repeatByte &&
                x.repeatLength == y.repeatLength && x.repeatStart == y.repeatStart);
    };
    return std::equal(rows_.begin(), rows_.end(), other.rows_.begin(), other.rows_.end(),
                      sameShown);
}

void ErrorGrid::clear() {
    rows_.assign(2, Row{});
    findings_.clear();
}

const Finding* ErrorGrid::rowFinding(int row) const {
    const Row& at = rows_[static_cast<size_t>(row)];
    return at.state == RowState::Finding ? &findings_[static_cast<size_t>(at.index)] : nullptr;
}

void ErrorGrid::showFindings(const std::vector<Finding>& findings) {
    // The rows of findings stand behind every block's row.
    while (rows_.back().state == RowState::Finding) dropLastRow();
    findings_ = findings;
    for (size_t k = 0; k < findings_.size(); ++k) {
        rows_[static_cast<size_t>(takeRow())] = {BlockRecord{}, static_cast<int64_t>(k),
                                                 RowState::Finding};
    }
}

int ErrorGrid::takeRow() {
    if (rows_.back().state != RowState::Empty) rows_.emplace_back();
    return rowCount() - 1;
}

std::optional<size_t> ErrorGrid::rowEntry(int row, const BlockTable& table) const {
    const Row& at = rows_[static_cast<size_t>(row)];
    if (!namesBlock(at) || at.index < 0 || uint64_t(at.index) >= table.size()) {
        return std::nullopt;
    }
    return static_cast<size_t>(at.index);
}

const BlockRecord* ErrorGrid::rowRecord(int row) const {
    const Row& at = rows_[static_cast<size_t>(row)];
    return namesBlock(at) ? &at.record : nullptr;
}

int64_t ErrorGrid::rowIndex(int row) const {
    const Row& at = rows_[static_cast<size_t>(row)];
    return namesBlock(at) ? at.index : -1;
}

std::vector<size_t> ErrorGrid::listedEntries(const BlockTable& table) const {
    std::vector<size_t> listed;
    for (int row = 1; row < rowCount(); ++row) {
        if (const auto index = rowEntry(row, table)) listed.push_back(*index);
    }
    return listed;
}

void ErrorGrid::dropLastRow() {
    if (rows_.size() > 2) {
        rows_.pop_back();
    } else {
        rows_.back() = Row{};
    }
}

bool ErrorGrid::dropUnfinishedRow() {
    const RowState last = rows_.back().state;
    if (last == RowState::Resolved || last == RowState::Finding) return false;
    dropLastRow();
    return true;
}

bool ErrorGrid::onWithdrawn(int64_t index) {
    const Row& last = rows_.back();
    if (!namesBlock(last) || last.index != index) return false;
    dropLastRow();
    return true;
}

int ErrorGrid::onBroken(int64_t index, const BlockRecord& record) {
    const int r = takeRow();
    rows_[static_cast<size_t>(r)] = {record, index, RowState::Found};
    return r;
}

int ErrorGrid::onResolved(int64_t index, const BlockRecord& record) {
    const int r = rowCount() - 1;
    rows_[static_cast<size_t>(r)] = {record, index, RowState::Resolved};
    return r;
}

int ErrorGrid::onNotice(const Notice& notice) {
    switch (notice.kind) {
        case Notify::Broken:
            return onBroken(notice.payload, notice.record);
        case Notify::Resolved:
            return onResolved(notice.payload, notice.record);
        case Notify::Withdrawn:
            return onWithdrawn(notice.payload) ? rowCount() - 1 : -1;
        case Notify::Progress:
        case Notify::JoinProgress:
        case Notify::RowProgress:
        case Notify::PieceCheck:
            break;
    }
    return -1;
}

void ErrorGrid::rebuildFromTable(const BlockTable& table) {
    clear();
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].broken != kBrokenListed) continue;
        rows_[static_cast<size_t>(takeRow())] = {table[i], static_cast<int64_t>(i),
                                                 RowState::Resolved};
    }
}

void ErrorGrid::rebuildFromEntries(const BlockTable& table, const std::vector<size_t>& entries) {
    clear();
    for (const size_t i : entries) {
        if (i >= table.size()) continue;
        rows_[static_cast<size_t>(takeRow())] = {table[i], static_cast<int64_t>(i),
                                                 RowState::Resolved};
    }
}

}  // namespace mpg
