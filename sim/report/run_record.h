// What a run leaves while it runs: each command line goes into
// commands.txt the moment the shell has run it, and the summary's figures
// and the report's timeline are gathered from the trace as it arrives. The
// trace itself is not kept, so a run of a year needs about the memory of a
// run of a day.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "../../host/folders.h"
#include "../receiver/network.h"
#include "mount_count.h"
#include "timeline.h"
#include "../receiver/trace.h"

namespace sim {

class Receiver;
struct ReceiverConfig;

// The run log as the plug-in keeps it, and its one older part once it
// rotated.
constexpr const char *kRunLogPath = HDD_MOUNT LOG_FOLDER "/" LOG_FILE_NAME;
constexpr const char *kOldRunLogPath = HDD_MOUNT LOG_FOLDER "/" LOG_OLD_FILE_NAME;

// Makes the receiver's trace keep nothing: a RunRecord takes what the
// outputs need as the run goes.
void KeepRunTrace(Receiver *receiver);

// The receiver's local time at firmware tick `tick`: "2026-12-08 20:00:03.00".
std::string VirtualTime(const ReceiverConfig &config, uint32_t tick);

// A server's line of the summary, counted from the trace.
struct ServerFigures {
  size_t attempts = 0;  // mount attempts: the mounts asked for at one moment
  int failed = 0;       // attempts in which a mount failed
  int mounts = 0, unmounts = 0;
  bool mounted = false;  // an attempt without a failure happened, first at
  uint32_t mounted_tick = 0;
};

class RunRecord {
 public:
  // Writes `folder`/commands.txt and listens to `receiver` until End() or
  // its end; `timeline` is what is known of the run before it starts.
  RunRecord(Receiver &receiver, const std::string &folder, const TimelineInput &timeline);
  ~RunRecord();
  RunRecord(const RunRecord &) = delete;
  RunRecord &operator=(const RunRecord &) = delete;

  // Stops listening and closes commands.txt; false when it could not be
  // written.
  bool End();

  // In the order of the network's servers.
  const std::vector<ServerFigures> &servers() const { return figures_; }
  // The plug-in's last TAP_Exit, when it called it.
  bool exited() const { return exited_; }
  uint32_t exit_tick() const { return exit_tick_; }
  // Bytes the plug-in wrote to its run log in this run, in every part it
  // had (with those rotated away).
  uint64_t log_bytes() const { return log_bytes_; }
  TimelineBuilder &timeline() { return timeline_; }

 private:
  void Take(const TraceEntry &e);
  void CloseAttempt(size_t server);

  Receiver &receiver_;
  std::ofstream commands_;
  bool listening_ = false;
  std::vector<NasConfig> servers_;
  std::vector<ServerFigures> figures_;
  MountCount mounts_;
  // The attempt being counted per server: its tick and whether a mount failed.
  struct Open {
    bool open = false, failed = false;
    uint32_t tick = 0;
  };
  std::vector<Open> attempt_;
  bool exited_ = false;
  uint32_t exit_tick_ = 0;
  uint64_t log_bytes_ = 0;
  TimelineBuilder timeline_;
};

}  // namespace sim
