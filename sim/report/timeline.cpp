#include "timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string_view>

#include "../../host/folders.h"
#include "../receiver/clock.h"
#include "../receiver/disk.h"
#include "../receiver/latin1.h"
#include "../../app/log_texts.h"
#include "mount_count.h"

namespace sim {

namespace {

const char *const kRecordingFolder = HDD_MOUNT RECORDING_FOLDER;

bool StartsWith(const std::string &text, std::string_view prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// The plug-in's wording of the run-log lines read here.
constexpr std::string_view kNas = LOG_NAS, kNasAt = LOG_NAS_AT, kNasAbout = LOG_NAS_ABOUT, kNasIs = LOG_NAS_IS;

// The server's power at `t` as the network decides it; `wakes` are the
// packets that woke it, in order.
Power PowerOf(const NasConfig &server, const std::vector<double> &wakes, double t)
{
  auto after = std::upper_bound(wakes.begin(), wakes.end(), t);
  return PowerAt(server, t, after == wakes.begin() ? -1.0 : *(after - 1));
}

ServerState StateAt(const NasConfig &server, const std::vector<double> &wakes, double t)
{
  for(const auto &outage : server.outages)
    if(t >= outage.first && t < outage.second) return ServerState::kOutage;
  switch(PowerOf(server, wakes, t))
  {
    case Power::kAsleep: return ServerState::kAsleep;
    case Power::kBooting: return ServerState::kBooting;
    case Power::kAwake: break;
  }
  for(const auto &refusal : server.refusals)
    if(t >= refusal.first && t < refusal.second) return ServerState::kRefusing;
  return ServerState::kUp;
}

std::vector<StateSpan> StateSpans(const NasConfig &server, const std::vector<double> &wakes, double end)
{
  std::vector<double> edges = {0, end};
  for(const auto &o : server.outages) edges.insert(edges.end(), {o.first, o.second});
  for(const auto &r : server.refusals) edges.insert(edges.end(), {r.first, r.second});
  for(double s : server.sleeps) edges.push_back(s);
  for(double w : wakes) edges.insert(edges.end(), {w, w + server.boot_seconds});
  std::sort(edges.begin(), edges.end());
  std::vector<StateSpan> spans;
  for(size_t k = 0; k + 1 < edges.size(); ++k)
  {
    double from = std::max(0.0, edges[k]), to = std::min(end, edges[k + 1]);
    if(to <= from) continue;
    ServerState state = StateAt(server, wakes, from);
    if(!spans.empty() && spans.back().state == state && spans.back().to == from)
      spans.back().to = to;
    else
      spans.push_back({from, to, state});
  }
  return spans;
}

// "08.12.2026 19:58:00 -> text": seconds since the start, false without a stamp.
bool LogLineTime(const std::string &line, const TimelineInput &in, double *at, std::string *text)
{
  int day, month, year, hour, minute, second, used = 0;
  if(std::sscanf(line.c_str(), "%2d.%2d.%4d %2d:%2d:%2d -> %n", &day, &month, &year, &hour, &minute, &second, &used) != 6 ||
     used == 0)
    return false;
  *at = static_cast<double>((MjdFromDate(year, month, day) - in.start_mjd) * 86400 + hour * 3600 + minute * 60 +
                            second - static_cast<int64_t>(in.start_second));
  *text = line.substr(static_cast<size_t>(used));
  return true;
}

// "2. NAS (192.168.178.21)" or "2. NAS: 192.168.178.21": the server number
// the plug-in uses, and the address when the text names one.
bool NasNumber(const std::string &text, int *n, std::string *address)
{
  size_t at = text.find(kNas);
  if(at == std::string::npos || at == 0) return false;
  size_t digits = at;
  while(digits > 0 && text[digits - 1] >= '0' && text[digits - 1] <= '9') --digits;
  if(digits == at) return false;
  *n = std::atoi(text.c_str() + digits);
  address->clear();
  if(text.compare(at, kNasAt.size(), kNasAt) == 0)
  {
    size_t from = at + kNasAt.size(), close = text.find(')', from);
    if(close != std::string::npos) *address = text.substr(from, close - from);
  }
  else if(text.compare(at, kNasAbout.size(), kNasAbout) == 0 && at + kNasAbout.size() < text.size() &&
          text[at + kNasAbout.size()] != '"')
  {
    size_t from = at + kNasAbout.size(), space = text.find(' ', from);
    *address = text.substr(from, space == std::string::npos ? std::string::npos : space - from);
  }
  return true;
}

double TimerSeconds(uint32_t start, const TimelineInput &in)
{
  int64_t mjd = start >> 16;
  int hour = (start >> 8) & 0xFF, minute = start & 0xFF;
  return static_cast<double>((mjd - in.start_mjd) * 86400 + hour * 3600 + minute * 60 -
                             static_cast<int64_t>(in.start_second));
}

}  // namespace

// Everything the builder gathers while the run goes on.
struct TimelineBuilder::State {
  explicit State(const TimelineInput &in) : in(in) {}
  TimelineInput in;  // the part known at the start
  RunTimeline tl;
  double last = 0;  // seconds of the latest entry
  std::map<std::string, size_t> by_address, by_name;
  // Per server: the wake-up packets that woke it (the others change
  // nothing of its state).
  std::vector<std::vector<double>> wakes;
  MountCount mounts{in.servers};
  std::vector<size_t> most;
  std::vector<double> mounted_since;
  std::string folder_server;  // where the recording folder is now
  double folder_since = 0;
  double exit_at = -1;
  // One attempt is every mount the plug-in asked a server for at one moment.
  struct Attempt {
    uint32_t tick = 0;
    int ok = 0, failed = 0;
    bool refused = false;
    std::string error;
  };
  std::vector<std::vector<Attempt>> attempts;
  std::vector<std::map<uint32_t, int>> unmounts;
  // Marks are merged within buckets of this many seconds once a server has
  // too many (0: not yet): a year of pings every half minute stays a few
  // thousand marks.
  double bucket = 0;
  std::vector<std::map<MarkKind, size_t>> last_of_kind;  // index in marks, while merging

  double Seconds(uint32_t tick) const
  {
    return static_cast<double>(static_cast<uint32_t>(tick - in.start_tick)) / 100.0;
  }
  void SetFolder(double at, const std::string &server)
  {
    if(server == folder_server) return;
    if(at > folder_since) tl.recording_folder.push_back({folder_since, at, folder_server});
    folder_server = server;
    folder_since = at;
  }
  void AddMark(size_t s, Mark mark);
  void Compact(size_t s);
  void Tool(const TraceEntry &e, double at);
  void Network(const TraceEntry &e, double at);
  void WakeUp(const TraceEntry &e, double at);
  // At the end of the run.
  void FinishServer(size_t k, double end);
  void ReceiverMarks(const TimelineInput &end);
  void Timers(const TimelineInput &end);
  void RunLog(const TimelineInput &end, double until);
};

namespace {

// Marks a server may hold before the builder merges them.
constexpr size_t kMaxMarks = 40000;

}  // namespace

void TimelineBuilder::State::AddMark(size_t s, Mark mark)
{
  std::vector<Mark> &marks = tl.servers[s].marks;
  if(bucket > 0)
  {
    auto it = last_of_kind[s].find(mark.kind);
    if(it != last_of_kind[s].end())
    {
      Mark &last_mark = marks[it->second];
      if(std::floor(last_mark.at / bucket) == std::floor(mark.at / bucket))
      {
        last_mark.count += mark.count;
        last_mark.until = mark.count > 1 ? mark.until : mark.at;
        return;
      }
    }
    last_of_kind[s][mark.kind] = marks.size();
  }
  marks.push_back(std::move(mark));
  if(marks.size() > kMaxMarks) Compact(s);
}

void TimelineBuilder::State::Compact(size_t s)
{
  // Buckets nest in the report's pixel columns: an eighth of a thousandth
  // of the run at first, doubled only while merging in them is not enough
  // (another server's marks may have set them already).
  double column = std::max(in.duration, last) / 1000.0;
  bool doubled = bucket <= 0;
  if(bucket <= 0) bucket = column / 8;
  std::vector<Mark> &marks = tl.servers[s].marks;
  for(;;)
  {
    std::vector<Mark> merged;
    std::swap(marks, merged);
    last_of_kind[s].clear();
    for(Mark &m : merged)
    {
      // Not AddMark: no compaction within compaction.
      auto it = last_of_kind[s].find(m.kind);
      if(it != last_of_kind[s].end() && std::floor(marks[it->second].at / bucket) == std::floor(m.at / bucket))
      {
        Mark &into = marks[it->second];
        into.count += m.count;
        into.until = m.count > 1 ? m.until : m.at;
        continue;
      }
      last_of_kind[s][m.kind] = marks.size();
      marks.push_back(std::move(m));
    }
    if(marks.size() <= kMaxMarks / 2) break;
    bucket *= 2;
    doubled = true;
  }
  if(!doubled) return;
  // The other servers merge with the same buckets from now on.
  for(size_t k = 0; k < tl.servers.size(); ++k)
    if(k != s)
    {
      last_of_kind[k].clear();
      const std::vector<Mark> &other = tl.servers[k].marks;
      for(size_t j = 0; j < other.size(); ++j) last_of_kind[k][other[j].kind] = j;
    }
}

void TimelineBuilder::State::Tool(const TraceEntry &e, double at)
{
  if(e.args.empty()) return;
  const std::string &tool = e.args[0];
  if(tool == "ping")
  {
    for(size_t k = 1; k < e.args.size(); ++k)
    {
      auto it = by_address.find(e.args[k]);
      if(it == by_address.end()) continue;
      bool answered = e.status == 0;
      AddMark(it->second, {at, answered ? MarkKind::kPingAnswered : MarkKind::kPingUnanswered,
                           answered ? "ping answered" : "ping not answered"});
      break;
    }
  }
  else if(tool == "mount" && e.args.size() >= 3)
  {
    long s = -1;
    for(size_t k = 1; k < e.args.size() && s < 0; ++k)
      if(!e.args[k].empty() && e.args[k][0] != '-') s = mounts.ServerOf(e.args[k]);
    if(s < 0) return;
    std::vector<Attempt> &list = attempts[static_cast<size_t>(s)];
    if(list.empty() || list.back().tick != e.tick)
    {
      list.emplace_back();
      list.back().tick = e.tick;
    }
    Attempt &a = list.back();
    if(e.status == 0)
      ++a.ok;
    else
    {
      ++a.failed;
      a.refused = a.refused || e.error.find("not registered") != std::string::npos;
      if(a.error.empty()) a.error = e.error;
    }
  }
  else if(tool == "umount" && e.args.size() >= 2 && e.status != 0)
  {
    // The point as the shell passed it: a folder name may hold blanks.
    std::string point;
    long s = Disk::Normalize(e.args[1], &point) ? mounts.Owner(point) : -1;
    if(s >= 0) AddMark(static_cast<size_t>(s), {at, MarkKind::kUnmountFailed, "unmount failed: " + e.error});
  }
}

// The servers a wake-up packet reached: the first packet of a sleep wakes
// a server.
void TimelineBuilder::State::WakeUp(const TraceEntry &e, double at)
{
  for(size_t k = 2; k < e.args.size(); ++k)
  {
    auto it = by_name.find(e.args[k]);
    if(it == by_name.end()) continue;
    size_t s = it->second;
    bool woke = PowerOf(in.servers[s], wakes[s], at) == Power::kAsleep;
    if(woke) wakes[s].push_back(at);
    AddMark(s, {at, woke ? MarkKind::kWokeUp : MarkKind::kWakeUp, woke ? "wake-up packet: woke it" : "wake-up packet"});
  }
}

void TimelineBuilder::State::Network(const TraceEntry &e, double at)
{
  if(!e.args.empty() && e.args[0] == kWakeUpEvent) return WakeUp(e, at);
  MountCount::Change change = mounts.Take(e);
  if(change.kind == MountCount::Change::kNone) return;
  // The recording folder is where the mount now on it is from.
  if(change.point == kRecordingFolder)
  {
    long owner = mounts.Owner(kRecordingFolder);
    if(change.kind == MountCount::Change::kUnmounted || owner >= 0)
      SetFolder(at, owner >= 0 ? in.servers[static_cast<size_t>(owner)].name : "");
  }
  if(change.server < 0) return;
  size_t k = static_cast<size_t>(change.server);
  size_t now = mounts.Mounted(k);
  if(change.kind == MountCount::Change::kMounted)
  {
    if(now == 1) mounted_since[k] = at;
    most[k] = std::max(most[k], now);
    return;
  }
  ++unmounts[k][e.tick];
  if(now == 0)
  {
    tl.servers[k].mounted.push_back({mounted_since[k], at, static_cast<int>(most[k])});
    most[k] = 0;
  }
}

TimelineBuilder::TimelineBuilder(const TimelineInput &in) : state_(std::make_unique<State>(in))
{
  State &st = *state_;
  st.tl.start_mjd = in.start_mjd;
  st.tl.start_second = in.start_second;
  size_t n = in.servers.size();
  for(const NasConfig &s : in.servers)
  {
    st.by_address[s.address] = st.tl.servers.size();
    st.by_name[s.name] = st.tl.servers.size();
    st.tl.servers.push_back({s.name, s.address, {}, {}, {}});
  }
  st.wakes.resize(n);
  st.most.assign(n, 0);
  st.mounted_since.assign(n, -1);
  st.attempts.resize(n);
  st.unmounts.resize(n);
  st.last_of_kind.resize(n);
}

TimelineBuilder::~TimelineBuilder() = default;

void TimelineBuilder::Add(const TraceEntry &e)
{
  State &st = *state_;
  double at = st.Seconds(e.tick);
  st.last = std::max(st.last, at);
  if(e.kind == TraceKind::kTool)
    st.Tool(e, at);
  else if(e.kind == TraceKind::kNetwork)
    st.Network(e, at);
  else if(e.kind == TraceKind::kSystem && e.text == "TAP_Exit" && st.exit_at < 0)
    st.exit_at = at;
  else if(e.kind == TraceKind::kOsd && StartsWith(e.text, "TAP_Osd_Sync -> ") &&
          e.text.find("snapshot failed") == std::string::npos)
    st.tl.screenshots.push_back({at, e.text.substr(16)});
}

// A server's spans and marks once the run is over: what is still mounted
// lasts to the end; the attempts and unmounts become marks.
void TimelineBuilder::State::FinishServer(size_t k, double end)
{
  ServerTimeline &s = tl.servers[k];
  if(mounts.Mounted(k) > 0) s.mounted.push_back({mounted_since[k], end, static_cast<int>(most[k])});
  for(const Attempt &a : attempts[k])
  {
    std::string what = std::to_string(a.ok) + " of " + std::to_string(a.ok + a.failed) + " mounts";
    if(a.failed == 0)
      s.marks.push_back({Seconds(a.tick), MarkKind::kMountOk, "mount attempt: " + what});
    else
      s.marks.push_back({Seconds(a.tick), a.refused ? MarkKind::kMountRefused : MarkKind::kMountFailed,
                         (a.refused ? "mount refused by the server: " : "mount attempt failed: ") + what + " (" +
                             a.error + ")"});
  }
  for(const auto &[tick, count] : unmounts[k])
    s.marks.push_back({Seconds(tick), MarkKind::kUnmount, "unmounted " + std::to_string(count) + " shares"});
  s.states = StateSpans(in.servers[k], wakes[k], end);
}

void TimelineBuilder::State::ReceiverMarks(const TimelineInput &end)
{
  tl.receiver_marks.push_back({0, MarkKind::kStart, "started: TAP_Main returned " + std::to_string(end.main_result)});
  if(exit_at >= 0 && exit_at < end.duration)
    tl.receiver_marks.push_back({exit_at, MarkKind::kExit, "the plug-in ended itself (TAP_Exit)"});
  else if(end.stop_at_end)
    tl.receiver_marks.push_back({end.duration, MarkKind::kStop, "stop request at the end of the run"});
}

void TimelineBuilder::State::Timers(const TimelineInput &end)
{
  for(size_t k = 0; k < end.timers_before.size() && k < end.timers_after.size(); ++k)
  {
    const FirmwareTimer &before = end.timers_before[k], &after = end.timers_after[k];
    tl.timers.push_back({after.name, after.record != 0, TimerSeconds(before.start, end),
                         TimerSeconds(after.start, end), static_cast<double>(after.duration)});
  }
}

// The run log: each line at its stamp (a line without one at the one
// before); a ping with the same answer as the last is routine.
void TimelineBuilder::State::RunLog(const TimelineInput &end, double until)
{
  std::map<int, std::string> number_address;
  std::map<int, std::string> last_answer;
  std::istringstream log(end.run_log);
  double at = 0;
  for(std::string raw; std::getline(log, raw);)
  {
    while(!raw.empty() && (raw.back() == '\r' || raw.back() == '\n')) raw.pop_back();
    std::string text = raw;
    double stamped;
    if(LogLineTime(raw, end, &stamped, &text)) at = std::min(std::max(stamped, 0.0), until);
    bool routine = StartsWith(text, LOG_PING_SENT) || StartsWith(text, LOG_PING_COMMAND) ||
                   text.find(LOG_WAKEUP_APPLET) != std::string::npos || text == LOG_NETWORK_CHECK;
    int n = 0;
    std::string address;
    bool numbered = NasNumber(text, &n, &address);
    if(numbered)
    {
      if(!address.empty()) number_address[n] = address;
      size_t is = text.rfind(kNasIs);
      if(is != std::string::npos)
      {
        std::string answer = text.substr(is + kNasIs.size());
        routine = last_answer[n] == answer;
        last_answer[n] = answer;
      }
    }
    if(text.find(LOG_NOT_RUN) != std::string::npos)
    {
      Mark mark{at, MarkKind::kRefusal, "not run: " + Latin1ToUtf8(text)};
      auto known = numbered ? number_address.find(n) : number_address.end();
      auto owner = known != number_address.end() ? by_address.find(known->second) : by_address.end();
      if(owner != by_address.end())
        tl.servers[owner->second].marks.push_back(mark);
      else
        tl.receiver_marks.push_back(mark);
    }
    tl.log.push_back({at, Latin1ToUtf8(text), routine});
  }
}

RunTimeline TimelineBuilder::Finish(const TimelineInput &in)
{
  State &st = *state_;
  RunTimeline &tl = st.tl;
  double end = std::max(in.duration, st.last);
  tl.duration = end;
  for(size_t k = 0; k < tl.servers.size(); ++k) st.FinishServer(k, end);
  if(end > st.folder_since) tl.recording_folder.push_back({st.folder_since, end, st.folder_server});
  st.ReceiverMarks(in);
  st.Timers(in);
  st.RunLog(in, end);
  auto by_time = [](const Mark &a, const Mark &b) { return a.at < b.at; };
  for(ServerTimeline &s : tl.servers) std::stable_sort(s.marks.begin(), s.marks.end(), by_time);
  std::stable_sort(tl.receiver_marks.begin(), tl.receiver_marks.end(), by_time);
  return tl;
}

RunTimeline BuildTimeline(const TimelineInput &input, const std::vector<TraceEntry> &trace)
{
  TimelineBuilder builder(input);
  for(const TraceEntry &e : trace) builder.Add(e);
  return builder.Finish(input);
}

std::string TimelineClock(const RunTimeline &timeline, double at, bool with_date)
{
  int64_t total = static_cast<int64_t>(timeline.start_second) + static_cast<int64_t>(at);
  int64_t day = total >= 0 ? total / 86400 : (total - 86399) / 86400;
  auto second = static_cast<uint32_t>(total - day * 86400);
  if(!with_date) return TimeOfDayText(second);
  // The year only where the run passes a new year's eve.
  int64_t last_day = (static_cast<int64_t>(timeline.start_second) + static_cast<int64_t>(timeline.duration)) / 86400;
  bool years = DateFromMjd(timeline.start_mjd).year != DateFromMjd(timeline.start_mjd + last_day).year;
  return DayTimeText(timeline.start_mjd + day, second, years);
}

}  // namespace sim
