// The timeline picture of an isolation test: one lane per transaction.
#pragma once

#include <string>
#include <string_view>

#include "Parse.h"

namespace acidkit {

// Text for XML character data and attribute values.
std::string xmlEscape(std::string_view text);

// A standalone SVG document: a lane per transaction (T0 first), its run from
// start to end, its pause shaded for pauseSeconds (cut at its end), marks
// with the exact line as tooltip, and a time axis in seconds from the first
// timestamp. A timeline without events gives a picture saying so.
std::string timelineSvg(std::string_view title, const Timeline& timeline, int pauseSeconds);

}  // namespace acidkit
