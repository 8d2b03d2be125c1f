// A receiver owner's folder of settings files (Brimvale.ini, 2.ini ... 9.ini),
// read the one way that `check` and `run` both use. Only what could be a
// settings file on the receiver is read: a regular file, or a link to one in
// the same folder, of at most 64 KiB. Anything else under a settings file's
// name (a folder, a FIFO, a device, a link out of the folder) is named as a
// problem, never opened for reading; that keeps a link to /dev/zero or a
// FIFO from hanging or exhausting the program, and a link to a file
// elsewhere on the PC from being copied into a run's output.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>

namespace sim {

// Far more than nine servers' settings can take: a larger file is a log or a
// film saved under the wrong name.
constexpr size_t kMaxSettingsFileBytes = 64 * 1024;

struct SettingsFolder {
  std::map<std::string, std::string> files;     // settings file name -> its text
  std::set<std::string> names;                  // every file in the folder (regular, or a good link)
  std::map<std::string, std::string> problems;  // settings file name -> why it was not read
};

// Brimvale.ini or 2.ini ... 9.ini, spelt exactly so.
bool IsSettingsFileName(const std::string &name);

// Reads the folder. False (with `error`) only when the folder itself, or a
// regular settings file in it, cannot be read.
bool ReadSettingsFolder(const std::string &folder, SettingsFolder *out, std::string *error);

}  // namespace sim
