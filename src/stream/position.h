// The one type of a byte position or a length in a file or in the stream
// seen through the cut list. It is 64 bits wide everywhere inside the
// program; only a file format that stores 32 bits narrows it, and only
// through narrowPosition, which says when the value does not fit.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

namespace mpg {

using Position = uint64_t;

// The value as the narrower type, or nothing when it does not fit.
template <class Narrow>
constexpr std::optional<Narrow> narrowPosition(Position value) {
    static_assert(std::numeric_limits<Narrow>::is_integer && sizeof(Narrow) < sizeof(Position));
    if (value > static_cast<Position>(std::numeric_limits<Narrow>::max())) return std::nullopt;
    return static_cast<Narrow>(value);
}

}  // namespace mpg
