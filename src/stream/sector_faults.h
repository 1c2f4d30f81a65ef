// The faulty sectors of a video CD rip as its sector walk lists them. A rip
// whose every sector went wrong (a disc read with a bad drive, a rip of
// gigabytes of zeros) lists millions of rows that follow one pattern: the
// list keeps them as runs, each the rows of one sector repeated over the
// sectors behind it with every position moved by the same steps. The rows
// read back are exactly those listed, in their order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "stream/position.h"

namespace mpg {

// What went wrong with a sector.
enum class SectorFault : uint8_t {
    BadChecksum,    // the EDC disagrees with the bytes (a Form 2 zero is no EDC)
    Unreadable,     // all 2,352 bytes zero: the ripper's fill for a sector it could not read
    Missing,        // addresses skipped: sectors lost (count of them, an empty stream range)
    Duplicate,      // the previous sector again, address and data: left out of the stream
    OutOfOrder,     // an address behind or other than the one expected: kept
    DamagedHeader,  // sync pattern or address damaged, the sector still on its slot: kept
    SteppedOver,    // bytes off the sector grid, no whole sector: left out
    CutShort,       // the last sector, cut short by the end of the file: what is there is kept
};

// One faulty sector (or run of lost ones) as the walk found it.
struct SectorFaultRow {
    Position sector = 0;   // 0-based, counting the slots of the file
    uint32_t address = 0;  // disc address in frames (for Missing: the first one lost)
    SectorFault fault = SectorFault::BadChecksum;
    uint32_t count = 1;                       // Missing: sectors lost
    Position streamStart = 0, streamEnd = 0;  // the stream bytes it covers
    Position fileStart = 0, fileEnd = 0;      // the file bytes it covers
    bool operator==(const SectorFaultRow&) const = default;
};

class SectorFaultList {
  public:
    void push_back(const SectorFaultRow& row);
    size_t size() const { return rows_; }
    bool empty() const { return rows_ == 0; }
    void clear();
    // Row i (< size()), found in logarithmic time.
    SectorFaultRow operator[](size_t i) const;
    std::vector<SectorFaultRow> rows() const;
    bool operator==(const SectorFaultList& other) const;

    class Iterator {
      public:
        using iterator_category = std::input_iterator_tag;
        using value_type = SectorFaultRow;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = SectorFaultRow;

        SectorFaultRow operator*() const;
        Iterator& operator++();
        bool operator==(const Iterator& other) const {
            return run_ == other.run_ && row_ == other.row_;
        }

      private:
        friend class SectorFaultList;
        Iterator(const SectorFaultList* list, size_t run) : list_(list), run_(run) {}
        const SectorFaultList* list_;
        size_t run_;
        size_t row_ = 0;  // within the run
    };
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, runs_.size()}; }

  private:
    // Rows of one sector (the pattern, kept in patterns_) repeated: the k-th
    // repetition moves the sector, the address and both ranges by k steps.
    // `partial` rows of the next repetition have come so far.
    struct Run {
        size_t firstRow = 0;
        size_t pattern = 0;  // its first row in patterns_
        uint32_t width = 1;
        uint32_t partial = 0;
        Position repeats = 1;
        Position sectorStep = 0, streamStep = 0, fileStep = 0;
        uint32_t addressStep = 0;
        size_t rows() const { return static_cast<size_t>(repeats) * width + partial; }
    };
    static constexpr uint32_t kWidest = 4;

    bool extend(Run& run, const SectorFaultRow& row);
    void startRun(const SectorFaultRow& row);
    SectorFaultRow rowOf(const Run& run, size_t inRun) const;

    std::vector<SectorFaultRow> patterns_;
    std::vector<Run> runs_;
    size_t rows_ = 0;
};

}  // namespace mpg
