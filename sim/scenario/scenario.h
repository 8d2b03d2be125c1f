// A scenario: one receiver, its disk, its home network and what happens in
// a run, described in a TOML file that a person can write in a few lines.
//
//   [run]       duration = "2h", step = 10 (ticks between idle events), stop = true
//   [receiver]  model, firmware date, language, uptime, local date and time,
//               portmap = "works"/"fails"/"running", ps = "receiver"/"busybox"/"procps",
//               c_library = "old" (glibc before 2.33: no lstat64) or "none",
//               hdd_rename = false (a host without TAP_Hdd_Rename) ...
//   [settings]  "Brimvale.ini" = '''...''', "2.ini" = '''...''' or from = "folder"
//   [[server]]  name, address, mac, asleep, boot_time, outages, refuse_mounts, exports
//   [[timer]]   start = 2026-12-08T20:05:00 (or "2026-12-08 20:05", or date + time),
//               duration (minutes), record = 1/0, name
//   [[key]]     at, code
//   [disk]      files = ["DataFiles/Film.rec", ...]  (local files on /mnt/hd)
//
// Durations are seconds or texts like "90s", "15m", "1h30m", "2d".
// examples/reference.toml shows every key with what it does.
//
// Reading the file is scenario_file.cpp (with the TOML reader's tools in
// scenario_toml.*); staging it on a receiver and playing it is
// scenario_stage.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../firmware/firmware_dat.h"
#include "../receiver/network.h"
#include "../receiver/receiver.h"
#include "../firmware/timer_table.h"

namespace sim {

// A year of virtual time answers any question about a home network; longer
// runs are typing mistakes.
constexpr double kMaxRunSeconds = 366.0 * 86400;
// The receiver counts its uptime in 10 ms ticks in 32 bits.
constexpr double kMaxUptimeSeconds = 0xFFFFFFFFu / 100;
// The receiver keeps dates as a 16-bit Modified Julian Day: day 0xFFFF is
// 2038-04-22, the day after is 1858-11-17 again.
constexpr int64_t kMaxMjd = 0xFFFF;
// The run ends at its duration on the receiver's clock, but the idle event
// under way and the stop request finish first: nine servers' ping waits,
// mounts and unmounts take a few minutes at the very most.
constexpr double kLastEventSeconds = 600;
// The plug-in keeps a server's address in 20 bytes with its terminating zero.
constexpr size_t kAddressBytes = 20;
// A server's name fills the first column of the summary.
constexpr size_t kServerNameChars = 13;

struct ScenarioServer {
  NasConfig nas;  // exports hold export path -> (empty until prepared)
  std::map<std::string, std::vector<std::string>> export_files;  // export path -> files in it
};

struct ScenarioKey {
  double at_seconds;
  uint32_t code;
};

struct Scenario {
  std::string path;        // the scenario file
  std::string name;        // its file name without folder and ending
  ReceiverConfig config;   // clock, model, firmware objects, language ...
  bool write_firmware_dat = true;
  FirmwareDat firmware_dat;
  bool busybox = true;
  bool busybox_unchangeable = false;  // chmod on it fails
  bool portmap_fails = false;         // portmap exits non-zero
  bool portmap_running = false;       // a portmap runs before the plug-in starts
  int eeprom_pre_padding = 0;   // minutes, EEPROM byte 33
  int eeprom_second_padding = 0;
  std::map<std::string, std::string> settings;  // file name -> contents
  std::vector<ScenarioServer> servers;
  std::vector<FirmwareTimer> timers;
  TimerSlotLayout timer_layout;  // the receiver's, when it has timers
  std::vector<ScenarioKey> keys;
  std::vector<std::string> local_files;  // below /mnt/hd
  double duration_seconds = 60;
  uint64_t step_ticks = 10;
  bool stop_at_end = true;
  // "file:line: key: what" for what runs but was probably not meant (a key
  // pressed after the end of the run).
  std::vector<std::string> warnings;
};

// Reads a scenario file. False with "file:line: key: what is wrong". Keys
// come out in the order of their times, whatever the order in the file.
bool LoadScenario(const std::string &path, Scenario *scenario, std::string *error);

// Every key a scenario file may hold, as "table.key" ("server.mac" for a
// key of each [[server]]), for the reference example to be held against.
std::vector<std::string> ScenarioKeys();

// "90s", "15m", "1h30m", "1.5h", "2d" or a plain number of seconds; false
// when not one. The range is the caller's to check.
bool ParseDuration(const std::string &text, double *seconds);
// Whole seconds as "1d2h3m4s", leaving out what is zero.
std::string DurationText(double seconds);

// Makes the NAS exports with their files below `nas_root` on the PC and puts
// the servers into the receiver's configuration. Call before building the receiver.
bool PrepareNetwork(Scenario *scenario, const std::string &nas_root, std::string *error);

// Lays the scenario out on the receiver's disk and firmware: settings files,
// FirmwareTMS.dat, busybox, local files, EEPROM paddings. Call after the
// receiver is built and booted, before the plug-in starts.
bool PrepareReceiver(const Scenario &scenario, Receiver *receiver, std::string *error);

// The receiver's timer table as it stands, in the scenario's layout.
TimerTableImage ReadTimerTable(const Scenario &scenario, Receiver &receiver);

// Starts the loaded plug-in and lets the scenario's time pass: an idle event
// every step, the keys at their times, the stop request at the end unless the
// plug-in ended by itself. Times are on the receiver's clock from its power-up
// (as outages are): the run ends at start + duration however long the
// plug-in's pings waited. A failure of the receiver's disk (Disk::failure)
// ends the run at once, without a stop request. `progress` (may be empty)
// hears the virtual ticks done and the total after each step and answers
// false to cut the run short (no stop request then). Returns TAP_Main's result.
int PlayScenario(const Scenario &scenario, Receiver *receiver,
                 const std::function<bool(uint64_t done, uint64_t total)> &progress);

}  // namespace sim
