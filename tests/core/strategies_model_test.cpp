// The three strategies against a plain model of what they do, on generated
// streams with many broken blocks and presses of the hammer in random order
// and settings: the model does everything the simple way (the list shrinks
// row by row, every later offset is lowered at once, the cuts are a flag per
// file byte), the strategies must end with the same table, rows, cuts and
// progress texts.
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "repair/strategies.h"
#include "stream/procedures.h"
#include "support/scanned.h"
#include "support/stream_builder.h"
#include "support/temp_dir.h"
#include "text/messages.h"

namespace mpg {
namespace {

struct Recorder : RepairProgress {
    void step(size_t row, size_t rows) override {
        texts.push_back(strategyProgressText(row, rows));
    }
    void finished() override { texts.push_back(""); }
    std::vector<std::string> texts;
};

std::string progressText(size_t row, size_t rows) {
    return "ptr: " + std::to_string(row) + " >> " + std::to_string(rows);
}

struct Model {
    std::vector<uint8_t> file;
    std::vector<bool> excised;
    std::vector<BlockRecord> table;
    std::vector<ErrorRow> rows;
    std::vector<std::string> texts;
    std::vector<uint64_t> kept;  // the file positions not cut, in order

    void keepUncut() {
        kept.clear();
        for (uint64_t f = 0; f < excised.size(); ++f) {
            if (!excised[f]) kept.push_back(f);
        }
    }

    std::optional<size_t> entryOf(const ErrorRow& row) const {
        const std::string& t = row[1];
        if (t.empty() || t.size() > 18 || t.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const unsigned long long i = std::stoull(t);
        return i < table.size() ? std::optional<size_t>(i) : std::nullopt;
    }
    // The file position of the stream's byte `pos`: the pos-th byte not cut.
    uint64_t streamToFile(uint64_t pos) const {
        if (pos < kept.size()) return kept[pos];
        return excised.size() + (pos - kept.size());
    }
    uint8_t streamByte(uint64_t pos) const {
        const uint64_t f = streamToFile(pos);
        return f < file.size() ? file[f] : 0;
    }
    // Cuts `length` file bytes at the file position of stream byte `pos` and
    // lowers every later block; false when that lies beyond 32-bit positions.
    bool cut(size_t index, uint64_t pos, uint32_t length) {
        const uint64_t f = streamToFile(pos);
        if (f + length > std::numeric_limits<uint32_t>::max()) return false;
        if (excised.size() < f + length) excised.resize(f + length);
        for (uint64_t i = f; i < f + length; ++i) excised[i] = true;
        keepUncut();
        for (size_t j = index + 1; j < table.size(); ++j) table[j].offset -= length;
        return true;
    }

    void eqDelta(bool zerosOnly) {
        size_t row = 1;
        while (row < rows.size()) {
            texts.push_back(progressText(row, rows.size()));
            const auto index = entryOf(rows[row]);
            BlockRecord* e = index ? &table[*index] : nullptr;
            if (!e || (zerosOnly && e->repeatByte != 0) || int64_t{e->repeatLength} != e->delta() ||
                !cut(*index, uint64_t{e->offset} + e->repeatStart, e->repeatLength)) {
                ++row;
                continue;
            }
            *e = BlockRecord{e->offset, e->code, e->declaredSize};
            rows.erase(rows.begin() + static_cast<ptrdiff_t>(row));
            for (size_t r = row; r < rows.size(); ++r) {
                if (const auto moved = entryOf(rows[r]))
                    rows[r][3] = std::to_string(table[*moved].offset);
            }
        }
        texts.push_back("");
    }

    void rescan(const RepairOptions& o, uint32_t minRepeat) {
        for (size_t row = 1; row < rows.size(); ++row) {
            texts.push_back(progressText(row, rows.size()));
            const auto index = entryOf(rows[row]);
            if (!index) continue;
            BlockRecord& e = table[*index];
            if ((o.positiveDelta && e.delta() <= 0) || e.repeatLength < minRepeat ||
                (o.zerosOnly && e.repeatByte != 0) ||
                !cut(*index, uint64_t{e.offset} + e.repeatStart, e.repeatLength)) {
                continue;
            }
            e.realSize = static_cast<int32_t>(static_cast<uint32_t>(e.realSize) - e.repeatLength);
            const uint64_t end =
                std::min<uint64_t>(static_cast<uint32_t>(e.realSize),
                                   file.size() > e.offset ? file.size() - e.offset : 0);
            uint8_t byte = 0;
            uint32_t run = 0, start = 8;
            e.repeatByte = 0, e.repeatLength = 0, e.repeatStart = 0;
            const auto keep = [&] {
                if (run > e.repeatLength)
                    e.repeatByte = byte, e.repeatLength = run, e.repeatStart = start;
            };
            for (uint64_t i = 8; i < end; ++i) {
                const uint8_t b = streamByte(e.offset + i);
                if (b == byte) {
                    ++run;
                    keep();
                } else {
                    keep();
                    byte = b, run = 1, start = static_cast<uint32_t>(i);
                }
            }
            rows[row][5] = std::to_string(e.realSize);
            rows[row][6] = std::to_string(e.delta());
            rows[row][7] = formatRun(e);
        }
        texts.push_back("");
    }

    void fixSizes() {
        for (size_t row = 1; row < rows.size(); ++row) {
            texts.push_back(progressText(row, rows.size()));
            if (const auto index = entryOf(rows[row])) table[*index].broken = kBrokenAccepted;
        }
        rows = {ErrorRow{}, ErrorRow{}};
        texts.push_back("");
    }

    // The cut list the flags make: maximal runs of cut bytes.
    CutList regions() const {
        CutList out;
        for (uint32_t i = 0; i < excised.size(); ++i) {
            if (!excised[i]) continue;
            if (!out.empty() && out.back().end() == i) {
                ++out.back().length;
            } else {
                out.push_back({i, 1});
            }
        }
        return out;
    }
};

std::vector<ErrorRow> rowsOf(const ErrorGrid& grid) {
    std::vector<ErrorRow> out;
    for (int r = 0; r < grid.rowCount(); ++r) out.push_back(grid.row(r));
    return out;
}

// Lists the model's rows in their order, each from the entry it names, as
// the scan reports a block: found broken, then resolved.
void setRows(ErrorGrid& grid, const Model& m) {
    grid.clear();
    for (size_t r = 1; r < m.rows.size(); ++r) {
        const std::optional<size_t> index = m.entryOf(m.rows[r]);
        ASSERT_TRUE(index);
        grid.onBroken(static_cast<int64_t>(*index), m.table[*index]);
        grid.onResolved(static_cast<int64_t>(*index), m.table[*index]);
    }
}

// A stream of `packs` packs whose video packets carry, at random, one or two
// inserted runs of zeros or other bytes, or lost bytes.
test::StreamBuilder damagedStream(std::mt19937& rng, int packs) {
    test::StreamBuilder b = test::typicalStream(packs);
    for (int p = packs - 1; p >= 0; --p) {
        const size_t block = 3 + 3 * static_cast<size_t>(p), offset = b.blocks()[block].offset;
        const int kind = static_cast<int>(rng() % 6);
        if (kind == 0) continue;
        if (kind == 1) {
            b.erase(offset + 50 + rng() % 1500, 1 + rng() % 40);
            continue;
        }
        for (int run = 0; run < (kind == 2 ? 2 : 1); ++run) {
            const uint8_t byte = rng() % 3 == 0 ? 0xFF : 0x00;
            size_t at = offset + 20 + rng() % 1900;
            while (b.bytes()[at - 1] == byte || b.bytes()[at] == byte) ++at;
            b.insert(at, 5 + rng() % 400, byte);
        }
    }
    return b;
}

TEST(StrategiesAgainstModel, RandomPressesOnManyBrokenBlocks) {
    std::mt19937 rng(2024);
    test::TempDir dir;
    for (int round = 0; round < 12; ++round) {
        const test::StreamBuilder b = damagedStream(rng, 30 + static_cast<int>(rng() % 30));
        test::Scanned s;
        ASSERT_TRUE(s.scan(dir.write("d.mpg", b.bytes())));
        ASSERT_GT(s.grid.rowCount(), 10);
        Model m{b.bytes(), std::vector<bool>(b.size()), s.state.table.entries(), rowsOf(s.grid), {},
                {}};
        m.keepUncut();
        for (int press = 0; press < 5; ++press) {
            SCOPED_TRACE(testing::Message() << "round " << round << " press " << press);
            // Now and then the rows come in another order than the table's.
            if (rng() % 4 == 0) {
                std::shuffle(m.rows.begin() + 1, m.rows.end(), rng);
                for (size_t r = 1; r < m.rows.size(); ++r) m.rows[r][0] = std::to_string(r);
                setRows(s.grid, m);
                if (m.rows.size() > 1) {
                    ASSERT_EQ(rowsOf(s.grid), m.rows);
                }
            }
            const std::string minText =
                std::vector<std::string>{"100", "0", "20", "x", "300"}[rng() % 5];
            RepairOptions options{rng() % 3 != 0, rng() % 3 != 0,
                                  parseMinRepeat(minText).value_or(100)};
            Recorder progress;
            const int strategy = static_cast<int>(rng() % 7);
            if (strategy < 3) {
                applyStrategy(s.state, s.grid, Strategy::RemoveRunsEqualToDelta, options, s.path,
                              progress);
                m.eqDelta(options.zerosOnly);
            } else if (strategy < 6) {
                applyStrategy(s.state, s.grid, Strategy::RemoveRunsAndRemeasure, options, s.path,
                              progress);
                m.rescan(options, static_cast<uint32_t>(options.minRepeat));
            } else {
                applyStrategy(s.state, s.grid, Strategy::AcceptRealSizes, options, s.path,
                              progress);
                m.fixSizes();
            }
            ASSERT_EQ(s.state.table.entries(), m.table);
            ASSERT_EQ(progress.texts, m.texts);
            m.texts.clear();
            ASSERT_EQ(s.state.view.cuts(), m.regions());
            ASSERT_EQ(s.state.view.fileHandle(), -1);
            // The hammer shows the list anew from the table.
            BlockTable expected;
            expected.assign(m.table);
            ErrorGrid rebuilt;
            rebuilt.rebuildFromTable(expected);
            ASSERT_EQ(rowsOf(s.grid), rowsOf(rebuilt));
            // The walk goes over the rows that name a block: an empty list
            // keeps one empty row, which names none.
            m.rows = rowsOf(s.grid);
            std::erase_if(m.rows,
                          [&](const ErrorRow& r) { return &r != &m.rows[0] && !m.entryOf(r); });
        }
    }
}

TEST(StrategiesAgainstModel, AStopLeavesTableListAndCutsAgreeing) {
    std::mt19937 rng(9);
    test::TempDir dir;
    const test::StreamBuilder b = damagedStream(rng, 40);
    test::Scanned s;
    ASSERT_TRUE(s.scan(dir.write("d.mpg", b.bytes())));
    const auto table = s.state.table.entries();
    const auto rows = rowsOf(s.grid);
    s.state.job.stopRequested = true;
    RepairOptions options;
    Recorder progress;
    applyStrategy(s.state, s.grid, Strategy::RemoveRunsEqualToDelta, options, s.path, progress);
    applyStrategy(s.state, s.grid, Strategy::RemoveRunsAndRemeasure, options, s.path, progress);
    EXPECT_EQ(s.state.table.entries(), table);
    EXPECT_EQ(rowsOf(s.grid), rows);
    EXPECT_TRUE(s.state.view.cuts().empty());
    EXPECT_EQ(progress.texts, (std::vector<std::string>{"", ""}));
    applyStrategy(s.state, s.grid, Strategy::AcceptRealSizes, options, s.path, progress);
    EXPECT_EQ(s.state.table.entries(), table);
}

// What a press reports against what it changed: the bytes its cuts add to
// the cut list, the rows it fixed or shortened, and the rows still listed of
// those it was given (a part of the list, now and then).
TEST(StrategiesAgainstModel, OutcomeCountsWhatChanged) {
    std::mt19937 rng(77);
    test::TempDir dir;
    const auto cutBytes = [](const AppState& state) {
        Position sum = 0;
        for (const CutRegion& r : state.view.cuts()) sum += r.length;
        return sum;
    };
    for (int round = 0; round < 6; ++round) {
        const test::StreamBuilder b = damagedStream(rng, 20 + static_cast<int>(rng() % 20));
        test::Scanned s;
        ASSERT_TRUE(s.scan(dir.write("d.mpg", b.bytes())));
        for (int press = 0; press < 4; ++press) {
            SCOPED_TRACE(testing::Message() << "round " << round << " press " << press);
            std::vector<size_t> given = listedInTable(s.state.table);
            if (rng() % 3 == 0) given.resize(given.size() / 2);
            const std::vector<BlockRecord> before = s.state.table.entries();
            const Position cutBefore = cutBytes(s.state);
            const auto strategy = static_cast<Strategy>(rng() % 4);
            RepairOptions options{rng() % 2 == 0, rng() % 2 == 0,
                                  static_cast<int32_t>(1 + rng() % 200)};
            QuietRepairProgress progress;
            const StrategyOutcome o =
                applyStrategy(s.state, given, strategy, options, s.path, progress);
            EXPECT_EQ(o.bytesCut, cutBytes(s.state) - cutBefore);
            size_t left = 0, gone = 0, shortened = 0;
            for (const size_t i : given) {
                const BlockRecord& now = s.state.table[i];
                left += now.broken == kBrokenListed;
                gone += now.broken != kBrokenListed;
                shortened += now.broken == kBrokenListed && now.realSize < before[i].realSize;
            }
            EXPECT_EQ(o.left, left);
            switch (strategy) {
                case Strategy::RemoveRunsEqualToDelta:
                case Strategy::AcceptRealSizes:
                    EXPECT_EQ(o.fixed, gone);
                    break;
                case Strategy::RemoveRunsAndRemeasure:
                    EXPECT_EQ(gone, 0u);
                    EXPECT_EQ(o.remeasured, shortened);
                    break;
                case Strategy::Automatic:
                    EXPECT_EQ(o.summary.blocks, given.size());
                    EXPECT_EQ(o.summary.unresolved, left);
                    break;
            }
        }
    }
}

}  // namespace
}  // namespace mpg
