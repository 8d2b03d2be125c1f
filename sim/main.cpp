// brimvale-sim: a receiver on the PC. Loads a plug-in .tap, starts it and
// lets virtual time pass, printing what the plug-in makes the receiver do.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "receiver.h"
#include "scenario.h"

#ifndef BRIMVALE_FIRMWARE_DIR
#define BRIMVALE_FIRMWARE_DIR "firmware"
#endif

namespace {

bool ParseDate(const std::string &text, int *year, int *month, int *day)
{
  return std::sscanf(text.c_str(), "%d-%d-%d", year, month, day) == 3 && *month >= 1 && *month <= 12 && *day >= 1 &&
         *day <= 31;
}

bool ParseTime(const std::string &text, int *hour, int *minute, int *second)
{
  return std::sscanf(text.c_str(), "%d:%d:%d", hour, minute, second) == 3 && *hour >= 0 && *hour < 24 &&
         *minute >= 0 && *minute < 60 && *second >= 0 && *second < 60;
}

void PrintTimeline(sim::Receiver &receiver)
{
  receiver.trace().SetListener([&receiver](const sim::TraceEntry &e) {
    // Idle-time disk calls are the plug-in's bookkeeping; the rest tells the story.
    if(e.kind == sim::TraceKind::kDisk || e.kind == sim::TraceKind::kMemory || e.kind == sim::TraceKind::kFile) return;
    std::printf("%s  %-8s %s\n", receiver.clock().LocalText().c_str(), sim::TraceKindName(e.kind), e.text.c_str());
  });
}

std::string ReadText(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The output folder: the logs, every command with its status, the folder
// tree with the mount table, and a line per server.
void WriteOutputs(sim::Receiver &receiver, const std::string &out)
{
  namespace fs = std::filesystem;
  std::string hd = receiver.disk().host_root() + "/mnt/hd";
  for(const char *log : {"/ProgramFiles/Settings/Brimvale/Logs/Brimvale.log", "/ProgramFiles/Settings/SupportLib.log"})
    if(fs::exists(hd + log)) fs::copy_file(hd + log, out + "/" + fs::path(log).filename().string());

  std::ofstream commands(out + "/commands.txt");
  for(const sim::TraceEntry &e : receiver.trace().entries())
    if(e.kind == sim::TraceKind::kShell) commands << e.tick << "  " << e.text << "\n";

  std::ofstream tree(out + "/tree.txt");
  tree << "mount table:\n";
  for(const sim::MountEntry &m : receiver.disk().mounts())
    tree << "  " << m.source << " on " << m.point << " type " << m.type << "\n";
  tree << "/mnt/hd:\n";
  std::vector<std::string> paths;
  for(const auto &e : fs::recursive_directory_iterator(hd))
    paths.push_back(fs::relative(e.path(), hd).string() + (e.is_directory() ? "/" : ""));
  std::sort(paths.begin(), paths.end());
  for(const std::string &p : paths) tree << "  " << p << "\n";

  // Mounts and unmounts of each server, from the network's record.
  std::ofstream summary(out + "/summary.txt");
  summary << "server        address           woken  answered  mounts  unmounts  pings  wake-ups\n";
  for(const sim::NasConfig &nas : receiver.network().servers())
  {
    const sim::NasState *state = receiver.network().State(nas.name);
    int mounts = 0, unmounts = 0;
    std::set<std::string> points;  // where this server's exports are mounted now
    for(const std::string &t : receiver.trace().Texts(sim::TraceKind::kNetwork))
    {
      if(t.rfind("mounted " + nas.address + ":", 0) == 0)
      {
        ++mounts;
        points.insert(t.substr(t.rfind(" on ") + 4));
      }
      else if(t.rfind("unmounted ", 0) == 0 && points.erase(t.substr(10)) != 0)
        ++unmounts;
    }
    char line[256];
    std::snprintf(line, sizeof(line), "%-13s %-16s %6s %9s %7d %9d %6d %9d\n", nas.name.c_str(), nas.address.c_str(),
                  state->woken ? (std::to_string(static_cast<int>(state->woken_at)) + "s").c_str() : "-",
                  state->first_answer >= 0 ? (std::to_string(static_cast<int>(state->first_answer)) + "s").c_str() : "-",
                  mounts, unmounts, state->pings, state->wake_packets);
    summary << line;
  }
}

int RunScenario(const std::string &tap, const std::string &file, std::string out, const std::string &firmware_dir)
{
  namespace fs = std::filesystem;
  sim::Scenario scenario;
  std::string error;
  // Everything is read and checked before anything is written.
  if(!sim::LoadScenario(file, &scenario, &error))
  {
    std::cerr << "brimvale-sim: " << error << "\n";
    return 2;
  }
  if(out.empty()) out = "out/" + scenario.name;
  fs::remove_all(out);
  fs::create_directories(out + "/screenshots");
  scenario.config.root = fs::absolute(out + "/root").string();
  scenario.config.firmware_dir = firmware_dir;
  scenario.config.screenshot_dir = fs::absolute(out + "/screenshots").string();
  if(!sim::PrepareNetwork(&scenario, fs::absolute(out + "/nas").string(), &error))
  {
    std::cerr << "brimvale-sim: " << error << "\n";
    return 1;
  }
  sim::Receiver receiver(scenario.config);
  PrintTimeline(receiver);
  if(!receiver.Boot(&error) || !sim::PrepareReceiver(scenario, &receiver, &error) || !receiver.Load(tap, &error))
  {
    std::cerr << "brimvale-sim: " << error << "\n";
    return 1;
  }
  std::printf("scenario %s: %zu servers, %.0f s from %s\n", scenario.name.c_str(), scenario.servers.size(),
              scenario.duration_seconds, receiver.clock().LocalText().c_str());
  std::printf("TAP_Main returned %d\n", receiver.Start());

  uint64_t total = static_cast<uint64_t>(scenario.duration_seconds * 100), done = 0;
  size_t next_key = 0;
  while(done < total && !receiver.ended())
  {
    uint64_t step = std::min(scenario.step_ticks, total - done);
    receiver.RunIdle(step, step);
    done += step;
    while(next_key < scenario.keys.size() && scenario.keys[next_key].at_seconds * 100 <= static_cast<double>(done))
      receiver.Key(scenario.keys[next_key++].code);
  }
  if(scenario.stop_at_end && !receiver.ended()) receiver.Stop();

  WriteOutputs(receiver, out);
  std::printf("\n%s", ReadText(out + "/summary.txt").c_str());
  std::printf("run log: %s/Brimvale.log, commands: %s/commands.txt, folders and mounts: %s/tree.txt\n", out.c_str(),
              out.c_str(), out.c_str());
  std::printf("screenshots: %s/screenshots\n", out.c_str());
  return 0;
}

}  // namespace

int main(int argc, char **argv)
{
  CLI::App app{"brimvale-sim: a stand-in TMS receiver that runs a Brimvale.tap"};
  app.require_subcommand(1);

  CLI::App *run = app.add_subcommand("run", "start the plug-in and let virtual time pass");
  std::string tap, root, date = "2026-12-08", time = "12:00:00";
  std::string firmware_dir = BRIMVALE_FIRMWARE_DIR;
  std::string screenshots;
  double seconds = 60, uptime = 600;
  uint64_t step = 10;
  int language = 1;
  run->add_option("tap", tap, "the plug-in file")->required()->check(CLI::ExistingFile);
  run->add_option("--root", root, "folder that plays the receiver's root file system")->required();
  run->add_option("--seconds", seconds, "virtual seconds of idle events after start-up")->check(CLI::Range(0.0, 1e7));
  run->add_option("--step", step, "ticks (10 ms) between idle events")->check(CLI::Range(1, 100000));
  run->add_option("--uptime", uptime, "seconds the receiver has been up at start")->check(CLI::Range(0.0, 4e7));
  run->add_option("--date", date, "local date at start, YYYY-MM-DD");
  run->add_option("--time", time, "local time at start, HH:MM:SS");
  run->add_option("--language", language, "menu language (system variable 1; 2 = German)");
  run->add_option("--firmware-dir", firmware_dir, "folder with the firmware object files");
  run->add_option("--screenshots", screenshots,
                  "folder for PNG snapshots of the screen, one at each TAP_Osd_Sync that changed it");

  CLI::App *play = app.add_subcommand("scenario", "run the plug-in on the receiver and network a TOML scenario describes");
  std::string scenario_file, out_dir;
  play->add_option("tap", tap, "the plug-in file")->required()->check(CLI::ExistingFile);
  play->add_option("file", scenario_file, "the scenario")->required()->check(CLI::ExistingFile);
  play->add_option("--out", out_dir, "output folder (default out/<scenario name>)");
  play->add_option("--firmware-dir", firmware_dir, "folder with the firmware object files");

  CLI11_PARSE(app, argc, argv);
  if(play->parsed()) return RunScenario(tap, scenario_file, out_dir, firmware_dir);

  sim::ReceiverConfig config;
  config.root = std::filesystem::absolute(root).string();
  config.firmware_dir = firmware_dir;
  config.uptime_ticks = static_cast<uint64_t>(uptime * 100);
  config.language = language;
  if(!screenshots.empty()) config.screenshot_dir = std::filesystem::absolute(screenshots).string();
  if(!ParseDate(date, &config.year, &config.month, &config.day) ||
     !ParseTime(time, &config.hour, &config.minute, &config.second))
  {
    std::cerr << "brimvale-sim: --date wants YYYY-MM-DD and --time HH:MM:SS\n";
    return 2;
  }

  sim::Receiver receiver(config);
  PrintTimeline(receiver);

  std::string error;
  if(!receiver.Load(tap, &error))
  {
    std::cerr << "brimvale-sim: " << error << "\n";
    return 1;
  }
  std::printf("receiver: root %s, up %.0f s, local time %s\n", config.root.c_str(), uptime,
              receiver.clock().LocalText().c_str());
  int result = receiver.Start();
  std::printf("TAP_Main returned %d\n", result);
  uint64_t ticks = static_cast<uint64_t>(seconds * 100);
  receiver.RunIdle(ticks, step);
  if(!receiver.ended()) receiver.Stop();
  std::printf("%s  the plug-in %s; %zu trace entries, %zu blocks of plug-in memory still allocated\n",
              receiver.clock().LocalText().c_str(), receiver.exit_called() ? "exited" : "was stopped",
              receiver.trace().entries().size(), receiver.live_allocations());
  return 0;
}
