// What the open check found at the start of a file, as a value: the front
// ends name it in their own words.
#pragma once

namespace mpg {

enum class [[nodiscard]] CheckResult{
    Ok, NoName, OpenFailed, TooLarge, NoSignature, NoSystemHeader, NotRegular, ReadFailed,
};

}  // namespace mpg
