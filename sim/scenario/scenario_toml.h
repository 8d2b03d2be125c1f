// The scenario reader's tools for a TOML file: the first mistake found as
// "file:line: key: what is wrong" (Errors), and getters for one table's
// keys that check each value's type and range (Reader). Used by the files
// that read a scenario, not by the rest of the emulator.
#pragma once

#include <toml++/toml.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "scenario.h"

namespace sim {
namespace scenario_toml {

// Collects the first mistake as "file:line: key: what is wrong".
class Errors {
 public:
  explicit Errors(std::string file) : file_(std::move(file)) {}
  bool Fail(const toml::node *node, const std::string &key, const std::string &message)
  {
    std::string where = file_;
    if(node != nullptr && node->source().begin.line > 0) where += ":" + std::to_string(node->source().begin.line);
    error_ = where + ": " + key + ": " + message;
    return false;
  }
  const std::string &error() const { return error_; }

  // Something that is probably not what the writer meant, but runs. Of
  // each `kind` (what the warnings say, in the plural) the first few are
  // kept and the rest only counted: a generated scenario with thousands of
  // outages past its end wants a line or two, not thousands.
  void Warn(const toml::node *node, const std::string &key, const std::string &message, const std::string &kind)
  {
    if(++counts_[kind] > kWarningsOfAKind) return;
    std::string where = file_;
    if(node != nullptr && node->source().begin.line > 0) where += ":" + std::to_string(node->source().begin.line);
    warnings_.push_back(where + ": " + key + ": " + message);
  }
  std::vector<std::string> warnings() const
  {
    std::vector<std::string> all = warnings_;
    for(const auto &[kind, count] : counts_)
      if(count > kWarningsOfAKind)
        all.push_back(file_ + ": " + std::to_string(count - kWarningsOfAKind) + " more " + kind + " (not listed)");
    return all;
  }

 private:
  static constexpr size_t kWarningsOfAKind = 5;
  std::string file_;
  std::string error_;
  std::vector<std::string> warnings_;
  std::map<std::string, size_t> counts_;
};

inline constexpr char kDateRange[] =
    "must be a date from 1900-01-01 to 2038-04-22 (the receiver keeps dates as a 16-bit day number)";

inline bool ReceiverDate(int year, int month, int day)
{
  if(year < 1900 || year > 2038 || month < 1 || month > 12 || day < 1 || day > 31) return false;
  int64_t mjd = MjdFromDate(year, month, day);
  Date d = DateFromMjd(mjd);
  return d.day == day && d.month == month && mjd <= kMaxMjd;
}

// Reads one table of the scenario; every getter leaves its output alone when
// the key is absent.
class Reader {
 public:
  Reader(const toml::table &table, std::string prefix, Errors *errors)
      : table_(table), prefix_(std::move(prefix)), errors_(errors) {}

  // A misspelt key is a mistake, not something to ignore silently.
  bool OnlyKeys(const std::vector<const char *> &known) const
  {
    for(const auto &[key, node] : table_)
    {
      bool ok = false;
      for(const char *k : known) ok = ok || key.str() == k;
      if(!ok) return errors_->Fail(&node, prefix_ + std::string(key.str()), "unknown key");
    }
    return true;
  }

  bool Int(const char *key, long long min, long long max, long long *out) const
  {
    const toml::node *node = table_.get(key);
    if(node == nullptr) return true;
    std::optional<int64_t> value = node->value_exact<int64_t>();
    if(!value) return Fail(node, key, "must be a whole number");
    if(*value < min || *value > max)
      return Fail(node, key, "must lie from " + std::to_string(min) + " to " + std::to_string(max));
    *out = *value;
    return true;
  }

  template <typename T>
  bool IntAs(const char *key, long long min, long long max, T *out) const
  {
    long long value = static_cast<long long>(*out);
    if(!Int(key, min, max, &value)) return false;
    *out = static_cast<T>(value);
    return true;
  }

  bool Bool(const char *key, bool *out) const
  {
    const toml::node *node = table_.get(key);
    if(node == nullptr) return true;
    std::optional<bool> value = node->value_exact<bool>();
    if(!value) return Fail(node, key, "must be true or false");
    *out = *value;
    return true;
  }

  bool String(const char *key, std::string *out) const
  {
    const toml::node *node = table_.get(key);
    if(node == nullptr) return true;
    std::optional<std::string> value = node->value_exact<std::string>();
    if(!value) return Fail(node, key, "must be a text");
    *out = *value;
    return true;
  }

  bool Duration(const char *key, double *out, double max = kMaxRunSeconds) const
  {
    const toml::node *node = table_.get(key);
    return node == nullptr || DurationNode(node, prefix_ + key, out, errors_, max);
  }

  bool Date(const char *key, int *year, int *month, int *day) const
  {
    const toml::node *node = table_.get(key);
    if(node == nullptr) return true;
    std::optional<toml::date> date = node->value_exact<toml::date>();
    if(!date) return Fail(node, key, "must be a date like 2026-12-08");
    if(!ReceiverDate(date->year, date->month, date->day)) return Fail(node, key, kDateRange);
    *year = date->year, *month = date->month, *day = date->day;
    return true;
  }

  bool Time(const char *key, int *hour, int *minute, int *second) const
  {
    const toml::node *node = table_.get(key);
    if(node == nullptr) return true;
    std::optional<toml::time> time = node->value_exact<toml::time>();
    if(!time) return Fail(node, key, "must be a time like 19:58:00");
    if(time->nanosecond != 0) return Fail(node, key, "must be a whole second, like 19:58:00");
    *hour = time->hour, *minute = time->minute, *second = time->second;
    return true;
  }

  bool Fail(const toml::node *node, const char *key, const std::string &message) const
  {
    return errors_->Fail(node, prefix_ + key, message);
  }

  static bool DurationNode(const toml::node *node, const std::string &key, double *out, Errors *errors,
                           double max = kMaxRunSeconds)
  {
    double seconds = 0;
    if(std::optional<int64_t> n = node->value_exact<int64_t>())
    {
      if(*n < 0) return errors->Fail(node, key, "must not be negative");
      seconds = static_cast<double>(*n);
    }
    else
    {
      std::optional<std::string> text = node->value_exact<std::string>();
      if(!text || !ParseDuration(*text, &seconds))
        return errors->Fail(node, key, "must be seconds or a text like \"90s\", \"15m\", \"1h30m\", \"2d\"");
    }
    if(!(seconds <= max))
    {
      std::string limit = max == kMaxUptimeSeconds
                              ? " (the receiver counts its uptime in 10 ms ticks in 32 bits)"
                              : " (a year)";
      return errors->Fail(node, key, "must be at most " + DurationText(max) + limit);
    }
    *out = seconds;
    return true;
  }

  const toml::table &table() const { return table_; }

 private:
  const toml::table &table_;
  std::string prefix_;
  Errors *errors_;
};

inline const toml::table *SubTable(const toml::table &root, const char *key, Errors *errors, bool *ok)
{
  const toml::node *node = root.get(key);
  if(node == nullptr) return nullptr;
  if(!node->is_table()) *ok = errors->Fail(node, key, "must be a table");
  return node->as_table();
}

// A control character (a NUL above all) in a name or path would be cut off
// or refused by the PC's file system halfway through the run.
inline bool HasControl(const std::string &text)
{
  for(unsigned char c : text)
    if(c < 0x20 || c == 0x7F) return true;
  return false;
}

inline size_t Utf8Length(const std::string &text)
{
  size_t n = 0;
  for(unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

// A TOML syntax error as the scenario's other mistakes read: "file:line:
// key: what". The TOML reader's own range messages are put plainly (and
// its hour range, which it gives as 0 to 59, corrected).
std::string ParseErrorText(const std::string &path, int line, const std::string &description);

}  // namespace scenario_toml
}  // namespace sim
