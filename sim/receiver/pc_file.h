// Reading a whole file of the PC (not of the receiver): a settings file
// copied in, an output the run wrote, a mark left by an earlier run.
#pragma once

#include <string>

namespace sim {

// The whole of the PC's file at `path` into *text. False, with *text
// emptied, when it is missing or cannot be read.
bool ReadPcFile(const std::string &path, std::string *text);

}  // namespace sim
