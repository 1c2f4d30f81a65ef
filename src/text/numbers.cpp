#include "text/numbers.h"

namespace mpg {

std::string groupDigits(std::string_view digits) {
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    size_t taken = 0;
    for (size_t i = digits.size(); i-- > 0;) {
        out.push_back(digits[i]);
        if (++taken % 3 == 0 && i > 0) out.push_back('\'');
    }
    return {out.rbegin(), out.rend()};
}

std::string progressOf(uint64_t pos, uint64_t total) {
    return groupDigits(std::to_string(pos)) + " >> " + groupDigits(std::to_string(total));
}

}  // namespace mpg
