// The PC's files as the tests that run real programs look at them: the
// namespace test with the real tools and the night on a MIPS Linux.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/receiver/pc_file.h"

namespace host_files {

// The whole file; empty when it is missing.
inline std::string ReadText(const std::string &path)
{
  std::string text;
  sim::ReadPcFile(path, &text);
  return text;
}

// A folder tree with the files' contents, sorted, for comparing before and
// after; "(missing)" when there is no such folder.
inline std::string Tree(const std::string &folder)
{
  namespace fs = std::filesystem;
  if(!fs::exists(folder)) return "(missing)";
  std::vector<std::string> lines;
  for(const auto &e : fs::recursive_directory_iterator(folder))
  {
    std::string rel = fs::relative(e.path(), folder).string();
    lines.push_back(rel + (e.is_directory() ? "/" : " = " + ReadText(e.path().string())));
  }
  std::sort(lines.begin(), lines.end());
  std::string out;
  for(const std::string &l : lines) out += l + "\n";
  return out;
}

// How often `what` occurs in `text`, overlaps counted.
inline size_t Count(const std::string &text, const std::string &what)
{
  size_t n = 0;
  for(size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace host_files
