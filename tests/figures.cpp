#include "figures.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace figures {

namespace {

const std::string kFile = std::string(BRIMVALE_SOURCE_DIR) + "/docs/figures.md";

// The text between the section's markers; empty when there is none.
std::string Section(const std::string &name)
{
  std::ifstream in(kFile, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string begin = "<!-- figures:" + name + " -->", end = "<!-- /figures:" + name + " -->";
  size_t from = text.find(begin), to = text.find(end);
  if(from == std::string::npos || to == std::string::npos || to < from) return "";
  return text.substr(from + begin.size(), to - from - begin.size());
}

// A table cell without blanks, backquotes and digit grouping.
std::string Bare(const std::string &cell)
{
  std::string out;
  for(char c : cell)
    if(c != ' ' && c != '`' && c != ',') out += c;
  return out;
}

}  // namespace

std::string OutputFolder()
{
  const char *dir = std::getenv("BRIMVALE_FIGURES_DIR");
  return dir != nullptr ? dir : "";
}

bool Described()
{
#if defined(__mips__) || defined(BRIMVALE_SANITIZE)
  return false;
#else
  return true;
#endif
}

std::string Grouped(uint64_t n)
{
  std::string digits = std::to_string(n), out;
  for(size_t k = 0; k < digits.size(); ++k)
  {
    if(k > 0 && (digits.size() - k) % 3 == 0) out += ',';
    out += digits[k];
  }
  return out;
}

bool Write(const std::string &file, const std::string &rows)
{
  std::ofstream out(OutputFolder() + "/" + file, std::ios::binary);
  out << rows;
  return static_cast<bool>(out.flush());
}

std::string Stale(const std::string &section, const std::vector<Count> &counts, const std::string &refresh)
{
  std::string text = Section(section), differ;
  if(text.empty()) return kFile + " has no section \"" + section + "\": run " + refresh + " to write it";
  for(const Count &count : counts)
  {
    std::string found = "nothing";
    std::istringstream lines(text);
    for(std::string line; std::getline(lines, line);)
    {
      std::vector<std::string> cells;
      std::istringstream row(line);
      for(std::string cell; std::getline(row, cell, '|');) cells.push_back(Bare(cell));
      // "| `name` | a | b |" splits into "", "name", "a", "b".
      if(cells.size() > count.cell + 2 && cells[0].empty() && cells[1] == count.row) found = cells[count.cell + 2];
    }
    if(found != std::to_string(count.value))
      differ += "  " + count.row + ": " + std::to_string(count.value) + " now, " + found + " in docs/figures.md\n";
  }
  if(differ.empty()) return "";
  return "figures are stale: run " + refresh + " to refresh docs/figures.md (section " + section + ")\n" + differ;
}

}  // namespace figures
