#include "analysis/error_list.h"

#include <algorithm>

#include <cstdio>

namespace mpg {

std::string formatCode(uint32_t code) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", code);
    return text;
}

std::string formatRun(const BlockRecord& r) {
    char byte[3];
    std::snprintf(byte, sizeof byte, "%02X", r.repeatByte);
    return std::to_string(r.repeatLength) + "(" + byte + ") at " + std::to_string(r.repeatStart);
}

void ErrorGrid::clear() {
    rows_.assign(2, ErrorRow{});
}

int ErrorGrid::takeRow() {
    if (!rows_.back()[0].empty()) rows_.emplace_back();
    return rowCount() - 1;
}

void ErrorGrid::writeHead(int r, int64_t index, const BlockRecord& e) {
    ErrorRow& row = rows_[static_cast<size_t>(r)];
    row[0] = std::to_string(r);
    row[1] = std::to_string(index);
    row[2] = formatCode(e.code);
    row[3] = std::to_string(e.offset);
    row[4] = std::to_string(e.declaredSize);
}

void ErrorGrid::writeTail(int r, const BlockRecord& e) {
    ErrorRow& row = rows_[static_cast<size_t>(r)];
    row[5] = std::to_string(e.realSize);
    row[6] = std::to_string(e.delta());
    row[7] = formatRun(e);
}

std::optional<size_t> ErrorGrid::rowEntry(int row, const BlockTable& table) const {
    const std::string& text = cell(row, 1);
    if (text.empty() || text.size() > 18 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const unsigned long long index = std::stoull(text);
    if (index >= table.size()) return std::nullopt;
    return static_cast<size_t>(index);
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
        rows_.back() = ErrorRow{};
    }
}

bool ErrorGrid::dropUnfinishedRow() {
    if (!rows_.back()[5].empty()) return false;
    dropLastRow();
    return true;
}

bool ErrorGrid::onWithdrawn(int64_t index) {
    if (rows_.back()[1] != std::to_string(index)) return false;
    dropLastRow();
    return true;
}

int ErrorGrid::onBroken(int64_t index, const BlockRecord& record) {
    const int r = takeRow();
    writeHead(r, index, record);
    return r;
}

int ErrorGrid::onResolved(int64_t index, const BlockRecord& record) {
    const int r = rowCount() - 1;
    writeHead(r, index, record);
    writeTail(r, record);
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
            break;
    }
    return -1;
}

void ErrorGrid::rebuildFromTable(const BlockTable& table) {
    clear();
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].broken != kBrokenListed) continue;
        const int r = takeRow();
        writeHead(r, static_cast<int64_t>(i), table[i]);
        writeTail(r, table[i]);
    }
}

ColumnWidths columnWidthsFor(int clientWidth, const ColumnWidths& widths) {
    ColumnWidths w = widths;
    const int share = (clientWidth - w[0] - w[1] - w[2]) / 5;
    w[3] = w[4] = w[5] = w[6] = share;
    w[7] = clientWidth - (w[0] + w[1] + w[2] + 4 * share) - 8;
    return w;
}

}  // namespace mpg
