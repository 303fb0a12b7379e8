#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quillon {

// A stored best score: a decimal number with optional blanks, sign, fraction and exponent,
// read with a decimal point whatever the locale and rounded toward minus infinity.
// Empty when the text is not a number or the result does not fit 32 bits.
std::optional<std::int32_t> ParseScore(std::string_view text);

}  // namespace quillon
