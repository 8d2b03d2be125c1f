// The measured figures in docs/figures.md. A test that measures some writes
// them, as rows of a Markdown table, when scripts/figures.sh runs it; on an
// ordinary run of the native build it checks the counts that only a change
// of code can change against the ones written there, so that the figures
// the README points to never go stale unnoticed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace figures {

// The folder scripts/figures.sh has the figures written to
// (BRIMVALE_FIGURES_DIR); empty on an ordinary run.
std::string OutputFolder();

// The figures describe the native build: the sanitizer build and the mipsel
// build run other lengths and are not compared.
bool Described();

// 2592000 as "2,592,000".
std::string Grouped(uint64_t n);

// Writes `rows` into OutputFolder()/file; false when it could not.
bool Write(const std::string &file, const std::string &rows);

// A count in a section of docs/figures.md: the row whose first cell is
// `row` in backquotes, its cell `cell` (0: the first after the name).
struct Count {
  std::string row;
  size_t cell;
  uint64_t value;
};

// Empty when every count is the one in the section; otherwise what differs
// and the command that writes them again.
std::string Stale(const std::string &section, const std::vector<Count> &counts, const std::string &refresh);

}  // namespace figures
