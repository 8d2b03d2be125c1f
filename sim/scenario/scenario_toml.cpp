// Durations as a scenario writes them ("1h30m") and TOML syntax errors put
// as the scenario's other mistakes read.
#include "scenario_toml.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace sim {

bool ParseDuration(const std::string &text, double *seconds)
{
  if(text.empty()) return false;
  double total = 0;
  size_t i = 0;
  bool any = false;
  // Units come largest first, each at most once: "1h1h" or "30m1h" is a
  // slip of the keyboard, not a sum the writer meant.
  static const char kUnits[] = "dhms";
  static const double kUnitSeconds[] = {86400, 3600, 60, 1};
  const char *units = kUnits;
  while(i < text.size())
  {
    // A number is digits, optionally with a fraction: "1.5h", never "." or "1..5".
    size_t start = i;
    while(i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    if(start == i) return false;
    if(i < text.size() && text[i] == '.')
    {
      size_t fraction = ++i;
      while(i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
      if(fraction == i) return false;
    }
    double value = std::strtod(text.substr(start, i - start).c_str(), nullptr);
    double unit = 1;
    if(i < text.size())
    {
      const char *at = text[i] == '\0' ? nullptr : std::strchr(units, text[i]);
      if(at == nullptr) return false;
      unit = kUnitSeconds[at - kUnits];
      units = at + 1;
      ++i;
    }
    else if(any)
      return false;  // "1h30" leaves the unit of 30 open
    total += value * unit;
    any = true;
  }
  *seconds = total;
  return true;
}

std::string DurationText(double seconds)
{
  uint64_t s = static_cast<uint64_t>(seconds);
  std::string text;
  if(s >= 86400) text += std::to_string(s / 86400) + "d", s %= 86400;
  if(s >= 3600) text += std::to_string(s / 3600) + "h", s %= 3600;
  if(s >= 60) text += std::to_string(s / 60) + "m", s %= 60;
  if(s > 0 || text.empty()) text += std::to_string(s) + "s";
  return text;
}

namespace scenario_toml {

namespace {

// The key written on line `line` of the file, with its table as the other
// messages name it ("receiver.time", "timer[2].start"), or "".
std::string KeyOnLine(const std::string &path, int line)
{
  std::ifstream in(path, std::ios::binary);
  std::string table, text;
  std::map<std::string, int> counts;  // of each [[array]] table so far
  for(int n = 1; n <= line && std::getline(in, text); ++n)
  {
    size_t first = text.find_first_not_of(" \t");
    if(first == std::string::npos || text[first] == '#') continue;
    if(text[first] == '[')
    {
      bool array = text.compare(first, 2, "[[") == 0;
      size_t begin = first + (array ? 2 : 1), end = text.find(']', begin);
      if(end == std::string::npos) continue;
      std::string name = text.substr(begin, end - begin);
      name.erase(0, name.find_first_not_of(" \t"));
      name.erase(name.find_last_not_of(" \t") + 1);
      table = array ? name + "[" + std::to_string(++counts[name]) + "]" : name;
      continue;
    }
    if(n != line) continue;
    size_t equals = text.find('=');
    if(equals == std::string::npos) return "";
    std::string key = text.substr(first, equals - first);
    key.erase(key.find_last_not_of(" \t") + 1);
    return table.empty() ? key : table + "." + key;
  }
  return "";
}

}  // namespace

std::string ParseErrorText(const std::string &path, int line, const std::string &description)
{
  std::string message = description;
  static const char *const fields[] = {"hour", "minute", "second", "month", "day"};
  for(const char *field : fields)
  {
    std::string expected = std::string("expected ") + field + " between ";
    size_t at = message.find(expected), saw = message.find(", saw ");
    if(at == std::string::npos || saw == std::string::npos) continue;
    std::string range = message.substr(at + expected.size(), message.find(" (inclusive)") - at - expected.size());
    if(std::string(field) == "hour") range = "0 and 23";
    size_t and_at = range.find(" and ");
    if(and_at == std::string::npos) and_at = range.find(" to ");
    std::string from = range.substr(0, and_at), to = range.substr(range.rfind(' ') + 1);
    message = std::string("the ") + field + " must lie from " + from + " to " + to + ", not " + message.substr(saw + 6);
    break;
  }
  std::string key = KeyOnLine(path, line);
  return path + ":" + std::to_string(line) + ": " + (key.empty() ? "" : key + ": ") + message;
}

}  // namespace scenario_toml
}  // namespace sim
