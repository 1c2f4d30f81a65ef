// A list of records kept as runs. A stream broken throughout gives millions
// of accounts that differ only in fields that advance evenly (the block's
// index, its position): a record that follows the last one of a run by that
// run's step joins the run instead of being held itself, and is made again
// when it is read. The records read back are the ones given, in their order.
//
// `Steps` tells how records advance:
//   using Step = ...;                                    // the difference of two records
//   static Step stepFrom(const T& a, const T& b);        // b's fields less a's
//   static T at(const T& first, const Step& s, size_t k) // first advanced k steps
// A record joins a run when at(first, step, count) equals it (T has ==).
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <optional>
#include <vector>

#include "stream/position.h"

namespace mpg {

// The steps of records that advance in their `index` and in one place
// (a Position, or an optional one: absent throughout a run).
template <class T, auto Place>
struct IndexedSteps {
    struct Step {
        size_t index = 0;
        Position place = 0;
    };
    static Step stepFrom(const T& a, const T& b) {
        return {b.index - a.index, valueOf(b.*Place) - valueOf(a.*Place)};
    }
    static T at(T first, const Step& s, size_t k) {
        first.index += s.index * k;
        advance(first.*Place, s.place * static_cast<Position>(k));
        return first;
    }

  private:
    static Position valueOf(Position p) { return p; }
    static Position valueOf(const std::optional<Position>& p) { return p.value_or(0); }
    static void advance(Position& p, Position by) { p += by; }
    static void advance(std::optional<Position>& p, Position by) {
        if (p) *p += by;
    }
};

template <class T, class Steps>
class Runs {
    using Step = typename Steps::Step;
    struct Run {
        T first;
        Step step{};
        size_t count = 1;
        size_t before = 0;  // records in the runs in front of this one
    };

  public:
    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = T;

        const_iterator() = default;
        const_iterator(const Runs* runs, size_t run, size_t k) : runs_(runs), run_(run), k_(k) {}
        T operator*() const {
            const Run& r = runs_->runs_[run_];
            return Steps::at(r.first, r.step, k_);
        }
        const_iterator& operator++() {
            if (++k_ == runs_->runs_[run_].count) {
                ++run_;
                k_ = 0;
            }
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator was = *this;
            ++*this;
            return was;
        }
        bool operator==(const const_iterator& o) const { return run_ == o.run_ && k_ == o.k_; }

      private:
        const Runs* runs_ = nullptr;
        size_t run_ = 0, k_ = 0;
    };

    void push_back(const T& record) {
        ++size_;
        if (!runs_.empty()) {
            Run& last = runs_.back();
            if (last.count == 1) {
                const Step step = Steps::stepFrom(last.first, record);
                if (Steps::at(last.first, step, 1) == record) {
                    last.step = step;
                    ++last.count;
                    return;
                }
            } else if (Steps::at(last.first, last.step, last.count) == record) {
                ++last.count;
                return;
            }
        }
        runs_.push_back(Run{record, Step{}, 1, size_ - 1});
    }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void clear() {
        runs_.clear();
        runs_.shrink_to_fit();
        size_ = 0;
    }
    // How many runs hold the records.
    size_t runCount() const { return runs_.size(); }

    const_iterator begin() const { return {this, 0, 0}; }
    const_iterator end() const { return {this, runs_.size(), 0}; }

    // The k-th record.
    T operator[](size_t k) const {
        const auto run = std::upper_bound(runs_.begin(), runs_.end(), k,
                                          [](size_t i, const Run& r) { return i < r.before; }) -
                         1;
        return Steps::at(run->first, run->step, k - run->before);
    }

    // The record whose key (`key(record)`, ascending along the list) is
    // `wanted`; false when none is.
    template <class Key, class KeyOf>
    bool find(const Key& wanted, KeyOf key, T& out) const {
        auto run = std::upper_bound(runs_.begin(), runs_.end(), wanted,
                                    [&](const Key& w, const Run& r) { return w < key(r.first); });
        if (run == runs_.begin()) return false;
        --run;
        size_t lo = 0, hi = run->count;
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            if (key(Steps::at(run->first, run->step, mid)) < wanted) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        if (lo == run->count) return false;
        out = Steps::at(run->first, run->step, lo);
        return key(out) == wanted;
    }

  private:
    std::vector<Run> runs_;
    size_t size_ = 0;
};

}  // namespace mpg
