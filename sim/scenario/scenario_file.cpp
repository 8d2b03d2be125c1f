// Reading a scenario file: its TOML tables into a Scenario, each value
// checked, the first mistake as "file:line: key: what is wrong".
#include "scenario.h"

#include "scenario_toml.h"
#include "settings_folder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace sim {

namespace fs = std::filesystem;

using scenario_toml::Errors;
using scenario_toml::HasControl;
using scenario_toml::kDateRange;
using scenario_toml::ParseErrorText;
using scenario_toml::Reader;
using scenario_toml::ReceiverDate;
using scenario_toml::SubTable;
using scenario_toml::Utf8Length;

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

// A server's name and address: present, plain, short enough for the
// plug-in's settings and the summary, and unlike every server before it.
bool CheckServerIdentity(const Reader &r, const toml::table &t, const NasConfig &nas,
                         const std::vector<ScenarioServer> &before)
{
  if(nas.address.empty()) return r.Fail(&t, "address", "is missing");
  if(HasControl(nas.address) || nas.address.size() >= kAddressBytes)
    return r.Fail(t.get("address"), "address",
                  "must be at most " + std::to_string(kAddressBytes - 1) +
                      " plain characters, as the plug-in's settings hold it");
  if(nas.name.empty() || nas.name.find_first_of("/\\") != std::string::npos || nas.name == "." || nas.name == ".." ||
     HasControl(nas.name))
    return r.Fail(t.get("name"), "name", "must be a plain name");
  if(Utf8Length(nas.name) > kServerNameChars)
    return r.Fail(t.get("name"), "name",
                  "must be at most " + std::to_string(kServerNameChars) + " characters, the summary's column");
  for(const ScenarioServer &other : before)
  {
    if(other.nas.name == nas.name) return r.Fail(t.get("name"), "name", "two servers are called " + nas.name);
    // The network would answer for the first only, and the summary would
    // give one server the other's figures.
    if(other.nas.address == nas.address)
      return r.Fail(t.get("address"), "address", "two servers have the address " + nas.address);
  }
  if(!nas.mac.empty() && NormalizeMac(nas.mac).empty())
    return r.Fail(t.get("mac"), "mac", "must look like 00:11:32:aa:bb:cc");
  return true;
}

// outages = [[from, to], ...], each a period of the run.
bool ReadOutages(const Reader &r, const toml::table &t, const std::string &prefix, double run_seconds,
                 Errors *errors, NasConfig *nas)
{
  const toml::node *outages = t.get("outages");
  if(outages == nullptr) return true;
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
    if(from >= run_seconds)
      errors->Warn(&period, prefix + "outages",
                   "begins at " + DurationText(from) + ", after the end of the run (" +
                       DurationText(run_seconds) + "): it never happens",
                   "outages that begin after the end of the run");
    nas->outages.emplace_back(from, to);
  }
  return true;
}

// exports = { "/volume1/video" = ["Film.ts", "Series/"], ... }
bool ReadExports(const Reader &r, const toml::table &t, ScenarioServer *server)
{
  const toml::node *exports = t.get("exports");
  if(exports == nullptr) return true;
  const toml::table *table = exports->as_table();
  if(table == nullptr) return r.Fail(exports, "exports", "must map export paths to lists of files");
  for(const auto &[path, files] : *table)
  {
    std::string export_path(path.str());
    if(export_path.empty() || export_path[0] != '/' || export_path.find("..") != std::string::npos ||
       HasControl(export_path))
      return r.Fail(&files, "exports", "\"" + export_path + "\" must be an absolute path");
    std::vector<std::string> &list = server->export_files[export_path];
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
  return true;
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
       !r.IntAs("refuse_mounts", 0, 1000, &nas.refuse_mounts) || !CheckServerIdentity(r, *t, nas, s->servers) ||
       !ReadOutages(r, *t, prefix, s->duration_seconds, errors, &nas) || !ReadExports(r, *t, &server))
      return false;
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

}  // namespace sim
