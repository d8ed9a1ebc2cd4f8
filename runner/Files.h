// The files of a run's results: whole texts read and written, and the
// time-stamped folder each run writes into.
#pragma once

#include <ctime>
#include <string>

namespace acidkit {

// The whole file; false when it cannot be read.
bool readTextFile(const std::string& path, std::string* text);
// Writes the whole file; false with *error ("cannot write PATH: why").
bool writeTextFile(const std::string& path, const std::string& text, std::string* error);
// Makes <parent>/<prefix>YYYYmmdd-HHMMSS for the local time `when` (and
// parent, if missing), with -2, -3, ... when a run of the same second has it
// already: a run never writes into another's folder.
bool makeStampedFolder(const std::string& parent, const char* prefix, const tm& when,
                       std::string* folder, std::string* error);

}  // namespace acidkit
