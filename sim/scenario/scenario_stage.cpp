// Staging a scenario: its servers' exports on the PC, its files, tools
// and timers on the receiver, and then its time played out on the receiver.
#include "scenario.h"

#include "../../host/folders.h"

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>

namespace sim {

namespace fs = std::filesystem;

namespace {

bool WriteHostFile(const std::string &host, const std::string &text)
{
  std::error_code ec;
  fs::create_directories(fs::path(host).parent_path(), ec);
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

}  // namespace

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

namespace {

const char *const kBusybox = HDD_MOUNT PROGRAM_FOLDER "/busybox";

// Writes `text` as the receiver's file at `receiver_path`.
bool PutFile(Receiver *receiver, const std::string &receiver_path, const std::string &text, std::string *error)
{
  std::string host;
  if(receiver->disk().HostPath(receiver_path, "/", &host) && WriteHostFile(host, text)) return true;
  *error = "cannot write " + receiver_path;
  return false;
}

// The files the plug-in looks for at start-up: its settings, the firmware's
// FirmwareTMS.dat and busybox.
bool PutProgramFiles(const Scenario &scenario, Receiver *receiver, std::string *error)
{
  for(const auto &[name, text] : scenario.settings)
    if(!PutFile(receiver, HDD_MOUNT SETTINGS_FOLDER "/" + name, text, error)) return false;
  if(scenario.write_firmware_dat &&
     !PutFile(receiver, HDD_MOUNT PROGRAM_FOLDER "/FirmwareTMS.dat", scenario.firmware_dat.Bytes(), error))
    return false;
  // Copied onto the disk without its execute rights, as a user would; the
  // plug-in sets them at start-up.
  return !scenario.busybox || PutFile(receiver, kBusybox, "busybox stand-in\n", error);
}

// [disk] files: recordings and folders below /mnt/hd.
bool PutLocalFiles(const Scenario &scenario, Receiver *receiver, std::string *error)
{
  for(const std::string &file : scenario.local_files)
  {
    std::string host;
    if(!receiver->disk().HostPath("/mnt/hd/" + file, "/", &host)) return PutFile(receiver, "/mnt/hd/" + file, "", error);
    std::error_code ec;
    bool ok = file.back() == '/' ? (fs::create_directories(host, ec), !ec) : WriteHostFile(host, "local:" + file + "\n");
    if(!ok)
    {
      *error = "cannot write /mnt/hd/" + file;
      return false;
    }
  }
  return true;
}

// The receiver's tools as the scenario has them fail.
void SetUpTools(const Scenario &scenario, Receiver *receiver)
{
  // A busybox on a disk that refuses to change it (a file system without
  // Unix rights): chmod fails on it and works on everything else.
  if(scenario.busybox_unchangeable) receiver->shell().LockRights(kBusybox);
  if(scenario.portmap_running) receiver->processes().Start("portmap", 1196);
  if(scenario.portmap_fails)
    receiver->shell().AddTool("portmap", [](ToolCall &call) {
      call.err = "portmap: cannot bind udp: Permission denied";
      return 1;
    });
}

// The recording timers in the receiver's timer table, and the paddings the
// firmware keeps in its EEPROM.
bool PutTimers(const Scenario &scenario, Receiver *receiver, std::string *error)
{
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

}  // namespace

bool PrepareReceiver(const Scenario &scenario, Receiver *receiver, std::string *error)
{
  if(!PutProgramFiles(scenario, receiver, error) || !PutLocalFiles(scenario, receiver, error))
    return false;
  SetUpTools(scenario, receiver);
  return PutTimers(scenario, receiver, error);
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
