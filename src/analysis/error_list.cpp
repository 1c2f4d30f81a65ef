#include "analysis/error_list.h"

#include <cstdio>

namespace mpg {

const ErrorRow ErrorGrid::kHeader = {
    "",       "#",         "id", "offset в файле", "размер заявленный", "размер реальный",
    "дельта", "max повтор"};

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
    rows_[0] = kHeader;
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

void ErrorGrid::removeRows(const std::vector<bool>& drop) {
    size_t kept = 0;
    for (size_t r = 0; r < rows_.size(); ++r) {
        if (r < drop.size() && drop[r]) continue;
        if (kept != r) rows_[kept] = std::move(rows_[r]);
        ++kept;
    }
    rows_.resize(kept);
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

int ErrorGrid::onBroken(int64_t index, const BlockTable& table) {
    const int r = takeRow();
    writeHead(r, index, table[static_cast<size_t>(index)]);
    return r;
}

int ErrorGrid::onResolved(int64_t index, const BlockTable& table) {
    const int r = rowCount() - 1;
    writeHead(r, index, table[static_cast<size_t>(index)]);
    writeTail(r, table[static_cast<size_t>(index)]);
    return r;
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
