// Lines of the programs' output that a reader, a person or the runner, judges
// a run by. The programs print them and the runner's parser looks for them,
// from this one place.
#pragma once

// Opens each line that says why a verdict failed: one or more such lines
// come right before the failed verdict.
inline constexpr char kReasonPrefix[] = "Reason: ";
