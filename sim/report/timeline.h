// A run seen on a time axis: each server's own state as the scenario drove
// it, and on top of it what the plug-in did (pings, wake-up packets, mount
// attempts, mounted spans, unmounts, commands it refused to run); for the
// receiver the recording folder, the recording timers, start and stop; the
// screenshots and the run log, each at its moment.
//
// Everything is read from the run's own trace and run log, never from the
// plug-in's memory, so the picture shows what the receiver saw happen. Times
// are seconds since the run began.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../receiver/network.h"
#include "../firmware/timer_table.h"
#include "../receiver/trace.h"

namespace sim {

// Drawn in this order of importance when they share a pixel: an outage that
// lasted a minute of a month must still show.
enum class ServerState { kUp, kRefusing, kAsleep, kBooting, kOutage };

enum class MarkKind {
  kPingAnswered,
  kPingUnanswered,
  kWakeUp,         // a packet to a server already up or booting
  kWokeUp,         // the packet that woke a sleeping server
  kMountOk,        // one attempt: every share it asked for was mounted
  kMountFailed,    // no answer, or a share the server does not have
  kMountRefused,   // the server answered and refused (its NFS service was down)
  kUnmount,
  kUnmountFailed,
  kRefusal,        // a command the plug-in would not run (unsafe value, too long)
  kStart,          // TAP_Main
  kExit,           // the plug-in ended itself
  kStop,           // the firmware's stop request at the end of the run
};

struct StateSpan {
  double from, to;
  ServerState state;
};

// While at least one of the server's exports is mounted.
struct MountSpan {
  double from, to;
  int shares;  // the most mounted at once
};

struct Mark {
  double at;
  MarkKind kind;
  std::string text;  // what happened (the first of them), for a tooltip
  // A long run's marks of one kind close together are merged into one.
  int count = 1;
  double until = 0;  // the last merged mark, when count > 1
};

struct ServerTimeline {
  std::string name, address;
  std::vector<StateSpan> states;   // cover the whole run, in order
  std::vector<MountSpan> mounted;  // in order
  std::vector<Mark> marks;         // in order
};

// Where new recordings go: the receiver's own disk, or a server's export
// mounted over /mnt/hd/DataFiles.
struct FolderSpan {
  double from, to;
  std::string server;  // empty = the local disk
};

struct TimerSpan {
  std::string name;
  bool record;
  double original;  // start as the timer table had it before the run
  double start;     // as it stood after the run (later when delayed)
  double minutes;   // duration after the run
};

struct Screenshot {
  double at;
  std::string file;  // as the run named it, in the screenshot folder
};

struct LogLine {
  double at;
  std::string text;  // UTF-8
  // A line that only repeats what the lines before said (a ping that got the
  // same answer as the last one): left out first when a long run's log must
  // be cut to keep the report small.
  bool routine;
};

struct RunTimeline {
  double duration = 0;       // seconds
  int64_t start_mjd = 0;     // local date and time the run began
  uint32_t start_second = 0; // of the day
  std::vector<ServerTimeline> servers;
  std::vector<FolderSpan> recording_folder;  // cover the whole run
  std::vector<TimerSpan> timers;
  std::vector<Mark> receiver_marks;          // start, exit, stop, refusals of no server
  std::vector<Screenshot> screenshots;
  std::vector<LogLine> log;
};

struct TimelineInput {
  uint32_t start_tick = 0;
  double duration = 0;  // seconds the scenario lets pass
  int64_t start_mjd = 0;
  uint32_t start_second = 0;
  std::vector<NasConfig> servers;
  std::vector<FirmwareTimer> timers_before, timers_after;  // by slot
  int main_result = 0;
  bool stop_at_end = true;  // the scenario sends the stop request at its end
  std::string run_log;      // Brimvale.log as written (ISO 8859-1), may be empty
};

// Reads the trace (tools, network, system and the screen's syncs) as the run
// goes, and the run log at its end, into spans and marks. What it keeps does
// not grow with the run's length beyond its mounts, outages and pictures.
class TimelineBuilder {
 public:
  // `start`: what is known before the run (servers, start tick and date).
  explicit TimelineBuilder(const TimelineInput &start);
  ~TimelineBuilder();
  TimelineBuilder(const TimelineBuilder &) = delete;
  TimelineBuilder &operator=(const TimelineBuilder &) = delete;
  void Add(const TraceEntry &entry);
  // `end`: the same with the run's duration, timers, result and run log.
  RunTimeline Finish(const TimelineInput &end);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The same for a whole trace at once.
RunTimeline BuildTimeline(const TimelineInput &input, const std::vector<TraceEntry> &trace);

// "20:05:12", or "Wed 09.12. 20:05:12" when `with_date` ("Fri 01.01.2027
// 01:00:00" in a run that passes a new year's eve).
std::string TimelineClock(const RunTimeline &timeline, double at, bool with_date);

}  // namespace sim
