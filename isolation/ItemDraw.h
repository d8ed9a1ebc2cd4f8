// The two items of isolation test 7, from two draws of the random generator:
// x anywhere, y 1 to 1000 numbers after x, where 1 follows the last item, so
// that y is never x.
#pragma once

#include <cstdint>

#include "config.h"

namespace acidkit {

struct ItemPair {
  int32_t x;
  int32_t y;
};

// drawX and drawY are two results of rand(), in the order they were drawn.
constexpr ItemPair itemsFromDraws(int drawX, int drawY) {
  int32_t x = drawX % kItems + 1;
  return {x, (drawY % 1000 + x) % kItems + 1};
}

}  // namespace acidkit
