// The eleven warehouses whose districts conditions 2 and 4 check: the
// smallest and the largest number and nine fractions of the largest between.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>

#include "ConsistStatements.h"

namespace acidkit {

inline constexpr std::size_t kSampleSize = 11;

// min, then max × 0.1, 0.2, ... 0.9 in double precision, each truncated toward
// zero as it comes (90 × 0.7 gives 62), then max. Duplicates stay.
inline std::array<int, kSampleSize> warehouseSample(int min, int max) {
  static constexpr double kFractions[] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9};
  std::array<int, kSampleSize> sample{};
  sample[0] = min;
  for (std::size_t k = 1; k <= 9; ++k) {
    sample[k] = static_cast<int>(static_cast<double>(max) * kFractions[k - 1]);
  }
  sample[10] = max;
  return sample;
}

// The INSERT of the sample into TEMP_W, continuation lines indented by 26
// blanks. Room enough for eleven ints of any value.
inline constexpr std::size_t kSampleInsertSize = 512;
inline void formatSampleInsert(const std::array<int, kSampleSize>& s,
                               char (&text)[kSampleInsertSize]) {
  snprintf(text, sizeof text, kInsertTempWFormat, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7],
           s[8], s[9], s[10]);
}

}  // namespace acidkit
