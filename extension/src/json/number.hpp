// Decimal to double for the reader: the exact short form the parser converts
// while it scans, and the correctly rounded general form for the rest.
#pragma once

#include <cfloat>
#include <cstdint>
#include <string_view>

namespace quillmar::ext::json_detail {

// Exactly representable powers of ten: one IEEE multiply or divide by one of
// them rounds a mantissa of at most 2^53 correctly.
inline constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr int max_exact_power = 22;
inline constexpr std::uint64_t max_exact_mantissa = std::uint64_t{1} << 53;

// mantissa * 10^exp10 with the sign, when one operation gives it exactly
// rounded; false when the general algorithm must decide.
inline bool exact_decimal_to_double(std::uint64_t mantissa, std::int64_t exp10, bool negative, double& out) {
#if FLT_EVAL_METHOD == 0
  if (mantissa > max_exact_mantissa || exp10 < -max_exact_power || exp10 > max_exact_power) {
    if (mantissa != 0) return false;
    exp10 = 0;  // zero times any power is zero
  }
  double value = static_cast<double>(mantissa);
  value = exp10 < 0 ? value / exact_powers_of_ten[-exp10] : value * exact_powers_of_ten[exp10];
  out = negative ? -value : value;
  return true;
#else
  (void)mantissa;
  (void)exp10;
  (void)negative;
  (void)out;
  return false;
#endif
}

// The double nearest to a JSON number's text, by the general algorithm
// (correctly rounded, ties to even); infinite or zero with the number's sign
// beyond the double range.
double rounded_decimal_to_double(std::string_view text);

}  // namespace quillmar::ext::json_detail
