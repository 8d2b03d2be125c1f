#include "scenario.h"

#include "settings_folder.h"

#include <toml++/toml.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace sim {

namespace fs = std::filesystem;

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

namespace {

// Every key a scenario may hold, by table.
const std::vector<const char *> kTables = {"run", "receiver", "settings", "server", "timer", "key", "disk"};
const std::vector<const char *> kRunKeys = {"duration", "step", "stop"};
const std::vector<const char *> kReceiverKeys = {
    "system_id", "system_type", "remote_type", "firmware_date", "firmware_dat", "language", "uptime", "date",
    "time", "busybox", "portmap", "ps", "internet", "utf8_firmware", "chdir_success", "timer_slot", "pre_padding",
    "second_padding", "state", "c_library", "hdd_rename"};
const std::vector<const char *> kServerKeys = {"name",    "address",       "mac",    "asleep", "boot_time",
                                               "outages", "refuse_mounts", "exports"};
const std::vector<const char *> kTimerKeys = {"start", "date", "time", "duration", "record", "name"};
const std::vector<const char *> kKeyKeys = {"at", "code"};
const std::vector<const char *> kDiskKeys = {"files"};

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

const char kDateRange[] = "must be a date from 1900-01-01 to 2038-04-22 (the receiver keeps dates as a 16-bit day number)";

bool ReceiverDate(int year, int month, int day)
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

const toml::table *SubTable(const toml::table &root, const char *key, Errors *errors, bool *ok)
{
  const toml::node *node = root.get(key);
  if(node == nullptr) return nullptr;
  if(!node->is_table()) *ok = errors->Fail(node, key, "must be a table");
  return node->as_table();
}

bool ReadRun(const toml::table &root, Scenario *s, Errors *errors)
{
  bool ok = true;
  const toml::table *t = SubTable(root, "run", errors, &ok);
  if(t == nullptr) return ok;
  Reader r(*t, "run.", errors);
  long long step = static_cast<long long>(s->step_ticks);
  if(!r.OnlyKeys(kRunKeys) || !r.Duration("duration", &s->duration_seconds) ||
     !r.Int("step", 1, 100000, &step) || !r.Bool("stop", &s->stop_at_end))
    return false;
  s->step_ticks = static_cast<uint64_t>(step);
  return true;
}

// busybox = true (copied to the disk), false (missing) or "unchangeable"
// (there, but chmod on it fails).
bool ReadBusybox(const Reader &r, Scenario *s)
{
  const toml::node *node = r.table().get("busybox");
  if(node == nullptr) return true;
  if(std::optional<bool> present = node->value_exact<bool>())
  {
    s->busybox = *present;
    return true;
  }
  if(node->value_exact<std::string>().value_or("") != "unchangeable")
    return r.Fail(node, "busybox", "must be true, false or \"unchangeable\"");
  s->busybox = true;
  s->busybox_unchangeable = true;
  return true;
}

// c_library = "new" (exports lstat64), "old" (only __lxstat64) or "none".
bool ReadCLibrary(const Reader &r, Scenario *s)
{
  const toml::node *node = r.table().get("c_library");
  if(node == nullptr) return true;
  std::string value = node->value_exact<std::string>().value_or("");
  if(value != "new" && value != "old" && value != "none")
    return r.Fail(node, "c_library", "must be \"new\", \"old\" or \"none\"");
  s->config.c_library = value == "old" ? CLibrary::kOld : value == "none" ? CLibrary::kNone : CLibrary::kNew;
  return true;
}

// portmap = "works", "fails" (exits non-zero when started) or "running"
// (one runs already, started by someone else, so starting another fails).
bool ReadPortmap(const Reader &r, Scenario *s)
{
  const toml::node *node = r.table().get("portmap");
  if(node == nullptr) return true;
  std::string value = node->value_exact<std::string>().value_or("");
  if(value != "works" && value != "fails" && value != "running")
    return r.Fail(node, "portmap", "must be \"works\", \"fails\" or \"running\"");
  s->portmap_fails = value == "fails";
  s->portmap_running = value == "running";
  return true;
}

// ps = "receiver" (the receiver's own layout), "busybox" or "procps".
bool ReadPsLayout(const Reader &r, Scenario *s)
{
  const toml::node *node = r.table().get("ps");
  if(node == nullptr) return true;
  std::string value = node->value_exact<std::string>().value_or("");
  if(value == "receiver")
    s->config.ps_layout = PsLayout::kReceiver;
  else if(value == "busybox")
    s->config.ps_layout = PsLayout::kBusybox;
  else if(value == "procps")
    s->config.ps_layout = PsLayout::kProcps;
  else
    return r.Fail(node, "ps", "must be \"receiver\", \"busybox\" or \"procps\"");
  return true;
}

bool ReadReceiver(const toml::table &root, Scenario *s, Errors *errors)
{
  bool ok = true;
  const toml::table *t = SubTable(root, "receiver", errors, &ok);
  if(t == nullptr) return ok;
  Reader r(*t, "receiver.", errors);
  ReceiverConfig &c = s->config;
  FirmwareDatReceiver model{static_cast<uint16_t>(c.system_id), 6, 1};
  long long system_id = c.system_id;
  std::string language = "english";
  double uptime = static_cast<double>(c.uptime_ticks) / 100.0;
  int slot = c.firmware.timer_slot_size;
  if(!r.OnlyKeys(kReceiverKeys) ||
     !r.Int("system_id", 0, 0xFFFFFFFFLL, &system_id) || !r.IntAs("system_type", 0, 0xFFFFFFFFLL, &model.system_type) ||
     !r.IntAs("remote_type", -0x80000000LL, 0x7FFFFFFFLL, &model.remote_type) ||
     !r.Date("firmware_date", &s->firmware_dat.date.year, &s->firmware_dat.date.month, &s->firmware_dat.date.day) ||
     !r.Bool("firmware_dat", &s->write_firmware_dat) || !r.String("language", &language) ||
     !r.Duration("uptime", &uptime, kMaxUptimeSeconds) || !r.Date("date", &c.year, &c.month, &c.day) ||
     !r.Time("time", &c.hour, &c.minute, &c.second) || !ReadBusybox(r, s) || !ReadPortmap(r, s) || !ReadPsLayout(r, s) ||
     !ReadCLibrary(r, s) || !r.Bool("hdd_rename", &c.hdd_rename) ||
     !r.Bool("internet", &c.internet) || !r.Bool("utf8_firmware", &c.firmware.utf8) ||
     !r.IntAs("chdir_success", 0, 1, &c.chdir_success) || !r.IntAs("timer_slot", 200, 208, &slot) ||
     !r.IntAs("pre_padding", 0, 31, &s->eeprom_pre_padding) || !r.IntAs("second_padding", 0, 31, &s->eeprom_second_padding) ||
     !r.IntAs("state", 0, 0xFFFF, &c.state))
    return false;
  if(slot != 200 && slot != 208) return r.Fail(t->get("timer_slot"), "timer_slot", "must be 200 or 208");
  if(language == "english")
    c.language = 1;
  else if(language == "german")
    c.language = LANGUAGE_GERMAN;
  else
    return r.Fail(t->get("language"), "language", "must be \"english\" or \"german\"");
  c.system_id = static_cast<int>(system_id);
  model.system_id = static_cast<uint16_t>(system_id);
  c.uptime_ticks = static_cast<uint64_t>(uptime * 100);
  c.firmware.timer_slot_size = slot;
  s->firmware_dat.receivers = {model};
  return true;
}

bool ReadSettings(const toml::table &root, Scenario *s, Errors *errors)
{
  bool ok = true;
  const toml::table *t = SubTable(root, "settings", errors, &ok);
  if(t == nullptr) return ok;
  for(const auto &[key, node] : *t)
  {
    std::string name(key.str());
    if(name == "from")
    {
      std::optional<std::string> folder = node.value_exact<std::string>();
      if(!folder) return errors->Fail(&node, "settings.from", "must be a folder name");
      fs::path dir = fs::path(*folder).is_absolute() ? fs::path(*folder) : fs::path(s->path).parent_path() / *folder;
      if(!fs::is_directory(dir)) return errors->Fail(&node, "settings.from", "no folder " + dir.string());
      // Read as `check` reads it: a file that is not what a settings file can
      // be is a mistake to fix before the run, not something to copy.
      SettingsFolder read;
      std::string error;
      if(!ReadSettingsFolder(dir.string(), &read, &error)) return errors->Fail(&node, "settings.from", error);
      if(!read.problems.empty())
        return errors->Fail(&node, "settings.from",
                            (dir / read.problems.begin()->first).string() + " " + read.problems.begin()->second);
      for(const auto &[name, text] : read.files) s->settings[name] = text;
      continue;
    }
    std::optional<std::string> text = node.value_exact<std::string>();
    if(!text) return errors->Fail(&node, "settings." + name, "must be the file's text");
    if(name.empty() || name.find('/') != std::string::npos || name.size() > 64)
      return errors->Fail(&node, "settings." + name, "must be a plain file name like \"Brimvale.ini\" or \"2.ini\"");
    if(text->size() > kMaxSettingsFileBytes)
      return errors->Fail(&node, "settings." + name, "is larger than 64 KiB, more than any settings file holds");
    s->settings[name] = *text;
  }
  return true;
}

// A control character (a NUL above all) in a name or path would be cut off
// or refused by the PC's file system halfway through the run.
bool HasControl(const std::string &text)
{
  for(unsigned char c : text)
    if(c < 0x20 || c == 0x7F) return true;
  return false;
}

size_t Utf8Length(const std::string &text)
{
  size_t n = 0;
  for(unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

bool ReadServers(const toml::table &root, Scenario *s, Errors *errors)
{
  const toml::node *node = root.get("server");
  if(node == nullptr) return true;
  const toml::array *list = node->as_array();
  if(list == nullptr) return errors->Fail(node, "server", "must be a list of [[server]] tables");
  for(size_t i = 0; i < list->size(); ++i)
  {
    const toml::table *t = (*list)[i].as_table();
    std::string prefix = "server[" + std::to_string(i + 1) + "].";
    if(t == nullptr) return errors->Fail(&(*list)[i], prefix, "must be a table");
    Reader r(*t, prefix, errors);
    ScenarioServer server;
    NasConfig &nas = server.nas;
    nas.name = "nas" + std::to_string(i + 1);
    if(!r.OnlyKeys(kServerKeys) ||
       !r.String("name", &nas.name) || !r.String("address", &nas.address) || !r.String("mac", &nas.mac) ||
       !r.Bool("asleep", &nas.asleep) || !r.Duration("boot_time", &nas.boot_seconds) ||
       !r.IntAs("refuse_mounts", 0, 1000, &nas.refuse_mounts))
      return false;
    if(nas.address.empty()) return r.Fail(t, "address", "is missing");
    if(HasControl(nas.address) || nas.address.size() >= kAddressBytes)
      return r.Fail(t->get("address"), "address",
                    "must be at most " + std::to_string(kAddressBytes - 1) +
                        " plain characters, as the plug-in's settings hold it");
    if(nas.name.empty() || nas.name.find_first_of("/\\") != std::string::npos || nas.name == "." || nas.name == ".." ||
       HasControl(nas.name))
      return r.Fail(t->get("name"), "name", "must be a plain name");
    if(Utf8Length(nas.name) > kServerNameChars)
      return r.Fail(t->get("name"), "name",
                    "must be at most " + std::to_string(kServerNameChars) + " characters, the summary's column");
    for(const ScenarioServer &other : s->servers)
    {
      if(other.nas.name == nas.name) return r.Fail(t->get("name"), "name", "two servers are called " + nas.name);
      // The network would answer for the first only, and the summary would
      // give one server the other's figures.
      if(other.nas.address == nas.address)
        return r.Fail(t->get("address"), "address", "two servers have the address " + nas.address);
    }
    if(!nas.mac.empty() && NormalizeMac(nas.mac).empty())
      return r.Fail(t->get("mac"), "mac", "must look like 00:11:32:aa:bb:cc");
    if(const toml::node *outages = t->get("outages"))
    {
      const toml::array *periods = outages->as_array();
      if(periods == nullptr) return r.Fail(outages, "outages", "must be a list of [from, to] pairs");
      for(const toml::node &period : *periods)
      {
        const toml::array *pair = period.as_array();
        double from = 0, to = 0;
        if(pair == nullptr || pair->size() != 2 ||
           !Reader::DurationNode(&(*pair)[0], prefix + "outages", &from, errors) ||
           !Reader::DurationNode(&(*pair)[1], prefix + "outages", &to, errors))
          return errors->error().empty() ? r.Fail(&period, "outages", "each outage is [from, to]") : false;
        if(to <= from) return r.Fail(&period, "outages", "an outage must end after it begins");
        if(from >= s->duration_seconds)
          errors->Warn(&period, prefix + "outages",
                       "begins at " + DurationText(from) + ", after the end of the run (" +
                           DurationText(s->duration_seconds) + "): it never happens",
                       "outages that begin after the end of the run");
        nas.outages.emplace_back(from, to);
      }
    }
    if(const toml::node *exports = t->get("exports"))
    {
      const toml::table *table = exports->as_table();
      if(table == nullptr) return r.Fail(exports, "exports", "must map export paths to lists of files");
      for(const auto &[path, files] : *table)
      {
        std::string export_path(path.str());
        if(export_path.empty() || export_path[0] != '/' || export_path.find("..") != std::string::npos ||
           HasControl(export_path))
          return r.Fail(&files, "exports", "\"" + export_path + "\" must be an absolute path");
        std::vector<std::string> &list = server.export_files[export_path];
        const toml::array *array = files.as_array();
        if(array == nullptr) return r.Fail(&files, "exports", "\"" + export_path + "\" must list its files");
        for(const toml::node &file : *array)
        {
          std::optional<std::string> name = file.value_exact<std::string>();
          if(!name || name->empty() || (*name)[0] == '/' || name->find("..") != std::string::npos || HasControl(*name))
            return r.Fail(&file, "exports", "files are relative paths inside the export");
          list.push_back(*name);
        }
      }
    }
    s->servers.push_back(server);
  }
  return true;
}

// "2026-12-08 20:05", "2026-12-08T20:05" or with ":00" seconds.
bool ParseStartText(const std::string &text, int *year, int *month, int *day, int *hour, int *minute)
{
  char sep = 0;
  int second = 0, used = 0;
  int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d%n:%2d%n", year, month, day, &sep, hour, minute, &used, &second,
                      &used);
  return n >= 6 && (sep == 'T' || sep == ' ') && static_cast<size_t>(used) == text.size() && second == 0;
}

// What is wrong with a timer's start, or null.
const char *StartProblem(int year, int month, int day, int hour, int minute, const char *not_a_time)
{
  if(month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 || minute > 59)
    return not_a_time;
  Date d = DateFromMjd(MjdFromDate(year, month, day));
  if(d.day != day || d.month != month) return not_a_time;
  return ReceiverDate(year, month, day) ? nullptr : kDateRange;
}

bool ReadTimerStart(const Reader &r, const toml::table &t, FirmwareTimer *timer)
{
  const char *how = "must be a local date and time like 2026-12-08T20:05:00 or \"2026-12-08 20:05\", "
                    "or be given as date and time";
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  const toml::node *start = t.get("start");
  if(start != nullptr)
  {
    if(t.get("date") != nullptr || t.get("time") != nullptr)
      return r.Fail(start, "start", "give either start or date and time, not both");
    if(std::optional<toml::date_time> when = start->value_exact<toml::date_time>())
    {
      if(when->offset) return r.Fail(start, "start", "is local time on the receiver: leave the time zone out");
      year = when->date.year, month = when->date.month, day = when->date.day;
      hour = when->time.hour, minute = when->time.minute, second = when->time.second;
      if(when->time.nanosecond != 0) return r.Fail(start, "start", "timers start on a whole minute");
    }
    else if(!ParseStartText(start->value_exact<std::string>().value_or(""), &year, &month, &day, &hour, &minute))
      return r.Fail(start, "start", how);
    if(second != 0) return r.Fail(start, "start", "timers start on a whole minute");
    if(const char *problem = StartProblem(year, month, day, hour, minute, "is not a date and time"))
      return r.Fail(start, "start", problem);
  }
  else
  {
    const toml::node *date = t.get("date");
    const toml::node *time = t.get("time");
    if(date == nullptr || time == nullptr) return r.Fail(date != nullptr ? date : time != nullptr ? time : &t, "start", how);
    std::string time_text = time->value_exact<std::string>().value_or("");
    if(!r.Date("date", &year, &month, &day)) return false;
    if(!time_text.empty())
    {
      if(std::sscanf(time_text.c_str(), "%2d:%2d", &hour, &minute) != 2 || time_text.size() != 5)
        return r.Fail(time, "time", "must be a time like 20:05");
    }
    else if(!r.Time("time", &hour, &minute, &second))
      return false;
    if(second != 0) return r.Fail(time, "time", "timers start on a whole minute");
    if(const char *problem = StartProblem(year, month, day, hour, minute, "is not a time of day"))
      return r.Fail(time, "time", problem);
  }
  timer->start = PackTimerStart(MjdFromDate(year, month, day), hour, minute);
  return true;
}

bool ReadTimers(const toml::table &root, Scenario *s, Errors *errors)
{
  const toml::node *node = root.get("timer");
  if(node == nullptr) return true;
  const toml::array *list = node->as_array();
  if(list == nullptr) return errors->Fail(node, "timer", "must be a list of [[timer]] tables");
  uint32_t system_type = s->firmware_dat.receivers.empty() ? 0 : s->firmware_dat.receivers[0].system_type;
  if(!list->empty() && !TimerLayoutFor(system_type, s->config.firmware.timer_slot_size, &s->timer_layout))
    return errors->Fail(&(*list)[0], "timer",
                        "receiver.system_type " + std::to_string(system_type) +
                            " has no timer table: recording timers need system type 5, 6 or 7");
  for(size_t i = 0; i < list->size(); ++i)
  {
    const toml::table *t = (*list)[i].as_table();
    std::string prefix = "timer[" + std::to_string(i + 1) + "].";
    if(t == nullptr) return errors->Fail(&(*list)[i], prefix, "must be a table");
    Reader r(*t, prefix, errors);
    FirmwareTimer timer;
    timer.duration = 60;
    if(!r.OnlyKeys(kTimerKeys) ||
       !r.IntAs("duration", 0, 0xFFFF, &timer.duration) || !r.IntAs("record", 0, 255, &timer.record) ||
       !r.String("name", &timer.name) || !ReadTimerStart(r, *t, &timer))
      return false;
    if(timer.name.size() > kTimerNameChars || timer.name.find('\0') != std::string::npos)
      return r.Fail(t->get("name"), "name", "must be at most " + std::to_string(kTimerNameChars) + " characters");
    s->timers.push_back(timer);
  }
  s->config.timer_count = static_cast<int>(s->timers.size());
  return true;
}

bool ReadKeys(const toml::table &root, Scenario *s, Errors *errors)
{
  const toml::node *node = root.get("key");
  if(node == nullptr) return true;
  const toml::array *list = node->as_array();
  if(list == nullptr) return errors->Fail(node, "key", "must be a list of [[key]] tables");
  for(size_t i = 0; i < list->size(); ++i)
  {
    const toml::table *t = (*list)[i].as_table();
    std::string prefix = "key[" + std::to_string(i + 1) + "].";
    if(t == nullptr) return errors->Fail(&(*list)[i], prefix, "must be a table");
    Reader r(*t, prefix, errors);
    ScenarioKey key{0, 0};
    if(!r.OnlyKeys(kKeyKeys) || !r.Duration("at", &key.at_seconds) || !r.IntAs("code", 0, 0xFFFFFFFFLL, &key.code))
      return false;
    if(t->get("code") == nullptr) return r.Fail(t, "code", "is missing");
    if(key.at_seconds > s->duration_seconds)
      errors->Warn(t->get("at"), prefix + "at",
                   DurationText(key.at_seconds) + " is after the end of the run (" + DurationText(s->duration_seconds) +
                       "): the key is never pressed",
                   "keys set after the end of the run");
    s->keys.push_back(key);
  }
  // Pressed in the order of their times, however they were listed.
  std::stable_sort(s->keys.begin(), s->keys.end(),
                   [](const ScenarioKey &a, const ScenarioKey &b) { return a.at_seconds < b.at_seconds; });
  return true;
}

bool ReadDisk(const toml::table &root, Scenario *s, Errors *errors)
{
  bool ok = true;
  const toml::table *t = SubTable(root, "disk", errors, &ok);
  if(t == nullptr) return ok;
  Reader r(*t, "disk.", errors);
  if(!r.OnlyKeys(kDiskKeys)) return false;
  if(const toml::node *files = t->get("files"))
  {
    const toml::array *array = files->as_array();
    if(array == nullptr) return r.Fail(files, "files", "must list paths below /mnt/hd");
    for(const toml::node &file : *array)
    {
      std::optional<std::string> name = file.value_exact<std::string>();
      if(!name || name->empty() || (*name)[0] == '/' || name->find("..") != std::string::npos || HasControl(*name))
        return r.Fail(&file, "files", "paths are relative to /mnt/hd, like \"DataFiles/Film.rec\"");
      s->local_files.push_back(*name);
    }
  }
  return true;
}

bool WriteHostFile(const std::string &host, const std::string &text)
{
  std::error_code ec;
  fs::create_directories(fs::path(host).parent_path(), ec);
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

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

// A TOML syntax error as the scenario's other mistakes read: "file:line:
// key: what". The TOML reader's own range messages are put plainly (and
// its hour range, which it gives as 0 to 59, corrected).
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

}  // namespace

std::vector<std::string> ScenarioKeys()
{
  std::vector<std::string> keys;
  const std::pair<const char *, const std::vector<const char *> *> tables[] = {
      {"run", &kRunKeys}, {"receiver", &kReceiverKeys}, {"server", &kServerKeys},
      {"timer", &kTimerKeys}, {"key", &kKeyKeys}, {"disk", &kDiskKeys}};
  for(const auto &[table, names] : tables)
    for(const char *name : *names) keys.push_back(std::string(table) + "." + name);
  keys.push_back("settings.from");
  return keys;
}

bool LoadScenario(const std::string &path, Scenario *scenario, std::string *error)
{
  Scenario s;
  s.path = path;
  s.name = fs::path(path).stem().string();
  s.config.terminals = {0};  // somebody is logged in on the first terminal
  // Without a [receiver] table: the usual receiver, TMST timer slots.
  s.firmware_dat.receivers = {FirmwareDatReceiver{static_cast<uint16_t>(s.config.system_id), 6, 1}};
  Errors errors(path);
  toml::table root;
  try
  {
    root = toml::parse_file(path);
  }
  catch(const toml::parse_error &e)
  {
    *error = ParseErrorText(path, static_cast<int>(e.source().begin.line), std::string(e.description()));
    return false;
  }
  Reader top(root, "", &errors);
  if(!top.OnlyKeys(kTables) || !ReadRun(root, &s, &errors) ||
     !ReadReceiver(root, &s, &errors) || !ReadSettings(root, &s, &errors) || !ReadServers(root, &s, &errors) ||
     !ReadTimers(root, &s, &errors) || !ReadKeys(root, &s, &errors) || !ReadDisk(root, &s, &errors))
  {
    *error = errors.error();
    return false;
  }
  // The run log's dates come from the receiver's 16-bit day number.
  int64_t start_mjd = MjdFromDate(s.config.year, s.config.month, s.config.day);
  double start_second = s.config.hour * 3600.0 + s.config.minute * 60.0 + s.config.second;
  if(start_mjd + static_cast<int64_t>((start_second + s.duration_seconds + kLastEventSeconds) / 86400) > kMaxMjd)
  {
    const toml::node *duration = root.at_path("run.duration").node();
    errors.Fail(duration, "run.duration",
                "the run would go past 2038-04-22, the last day the receiver's dates hold (its last events may "
                "take " + DurationText(kLastEventSeconds) + " beyond its end)");
    *error = errors.error();
    return false;
  }
  s.warnings = errors.warnings();
  *scenario = s;
  return true;
}

bool PrepareNetwork(Scenario *scenario, const std::string &nas_root, std::string *error)
{
  scenario->config.servers.clear();
  for(ScenarioServer &server : scenario->servers)
  {
    server.nas.exports.clear();
    for(const auto &[export_path, files] : server.export_files)
    {
      std::string dir = nas_root + "/" + server.nas.name + export_path;
      std::error_code ec;
      fs::create_directories(dir, ec);
      if(ec)
      {
        *error = "cannot make " + dir + ": " + ec.message();
        return false;
      }
      for(const std::string &file : files)
      {
        // A name ending in "/" is a folder; anything else a small file.
        bool ok = file.back() == '/' ? fs::create_directories(dir + "/" + file, ec) || !ec
                                     : WriteHostFile(dir + "/" + file, server.nas.name + ":" + export_path + "/" + file + "\n");
        if(!ok)
        {
          *error = "cannot make " + dir + "/" + file;
          return false;
        }
      }
      server.nas.exports[export_path] = dir;
    }
    scenario->config.servers.push_back(server.nas);
  }
  return true;
}

bool PrepareReceiver(const Scenario &scenario, Receiver *receiver, std::string *error)
{
  auto put = [&](const std::string &receiver_path, const std::string &text) {
    std::string host;
    if(receiver->disk().HostPath(receiver_path, "/", &host) && WriteHostFile(host, text)) return true;
    *error = "cannot write " + receiver_path;
    return false;
  };
  for(const auto &[name, text] : scenario.settings)
    if(!put("/mnt/hd/ProgramFiles/Settings/Brimvale/" + name, text)) return false;
  if(scenario.write_firmware_dat && !put("/mnt/hd/ProgramFiles/FirmwareTMS.dat", scenario.firmware_dat.Bytes()))
    return false;
  if(scenario.busybox)
  {
    // Copied onto the disk without its execute rights, as a user would; the
    // plug-in sets them at start-up.
    if(!put("/mnt/hd/ProgramFiles/busybox", "busybox stand-in\n")) return false;
  }
  for(const std::string &file : scenario.local_files)
  {
    std::string host;
    if(!receiver->disk().HostPath("/mnt/hd/" + file, "/", &host)) return put("/mnt/hd/" + file, "");
    std::error_code ec;
    bool ok = file.back() == '/' ? (fs::create_directories(host, ec), !ec) : WriteHostFile(host, "local:" + file + "\n");
    if(!ok)
    {
      *error = "cannot write /mnt/hd/" + file;
      return false;
    }
  }
  if(scenario.busybox_unchangeable)
  {
    // A busybox on a disk that refuses to change it (a file system without
    // Unix rights): chmod fails on it and works on everything else.
    receiver->shell().AddTool("chmod", [](ToolCall &call) {
      if(call.args.size() < 3)
      {
        call.err = "chmod: missing operand";
        return 1;
      }
      mode_t mode = static_cast<mode_t>(std::strtoul(call.args[1].c_str(), nullptr, 8));
      int code = 0;
      for(size_t k = 2; k < call.args.size(); ++k)
      {
        std::string host;
        if(fs::path(call.args[k]).filename() == "busybox")
        {
          call.err += "chmod: " + call.args[k] + ": Operation not permitted\n";
          code = 1;
        }
        else if(!call.HostPath(call.args[k], &host) || ::chmod(host.c_str(), mode) != 0)
        {
          call.err += "chmod: " + call.args[k] + ": No such file or directory\n";
          code = 1;
        }
        else
          call.receiver->disk().Changed(host);
      }
      return code;
    });
  }
  if(scenario.portmap_running) receiver->processes().Start("portmap", 1196);
  if(scenario.portmap_fails)
    receiver->shell().AddTool("portmap", [](ToolCall &call) {
      call.err = "portmap: cannot bind udp: Permission denied";
      return 1;
    });
  if(!scenario.timers.empty())
  {
    std::vector<uint8_t> &table = receiver->timer_table();
    const TimerSlotLayout &layout = scenario.timer_layout;
    if(layout.size == 0 || table.size() < scenario.timers.size() * layout.size)
    {
      *error = scenario.path + ": timer: the receiver was built without room for its timers";
      return false;
    }
    for(size_t k = 0; k < scenario.timers.size(); ++k)
      EncodeTimerSlot(scenario.timers[k], k, layout, table.data() + k * layout.size);
  }
  receiver->eeprom()[33] = static_cast<uint8_t>(scenario.eeprom_pre_padding & 0x1F);
  receiver->eeprom()[34] = static_cast<uint8_t>(scenario.eeprom_second_padding & 0x1F);
  return true;
}

TimerTableImage ReadTimerTable(const Scenario &scenario, Receiver &receiver)
{
  TimerTableImage image;
  image.layout = scenario.timer_layout;
  size_t bytes = scenario.timers.size() * image.layout.size;
  const std::vector<uint8_t> &table = receiver.timer_table();
  if(bytes <= table.size()) image.bytes.assign(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(bytes));
  return image;
}

int PlayScenario(const Scenario &scenario, Receiver *receiver,
                 const std::function<bool(uint64_t done, uint64_t total)> &progress)
{
  // Every time of the scenario is on the receiver's clock, counted from
  // where the network counts its outages: a ping that waits for an answer
  // moves it on as much as the idle ticks do.
  const uint64_t start = receiver->network().start_uptime();
  auto elapsed = [&] { return receiver->clock().uptime() - start; };
  int result = receiver->Start();
  const uint64_t total = static_cast<uint64_t>(scenario.duration_seconds * 100);
  size_t next_key = 0;
  while(elapsed() < total && !receiver->ended() && receiver->disk().failure().empty())
  {
    uint64_t step = std::min(scenario.step_ticks, total - elapsed());
    receiver->RunIdle(step, step);
    // A key is pressed once its time has come, after the event under way:
    // the firmware delivers nothing while the plug-in waits for a ping.
    while(next_key < scenario.keys.size() && scenario.keys[next_key].at_seconds * 100 <= static_cast<double>(elapsed()))
      receiver->Key(scenario.keys[next_key++].code);
    if(progress && !progress(std::min(elapsed(), total), total)) return result;
  }
  // A disk that lost what the plug-in wrote ends the run: what followed
  // would not be what the receiver does.
  if(scenario.stop_at_end && !receiver->ended() && receiver->disk().failure().empty()) receiver->Stop();
  return result;
}

}  // namespace sim
