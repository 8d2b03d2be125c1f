// A run's trace and run log turned into spans and marks: the picture a
// receiver owner reads must say what the trace says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "app/log_texts.h"
#include "sim/receiver/clock.h"
#include "sim/report/run_record.h"
#include "sim_fixture.h"
#include "sim/report/timeline.h"

namespace {

using sim::MarkKind;
using sim::ServerState;
using sim::TraceKind;

constexpr uint32_t kStart = 5000;

uint32_t Tick(double seconds) { return kStart + static_cast<uint32_t>(std::llround(seconds * 100)); }

sim::TraceEntry At(double seconds, TraceKind kind, const std::string &text) { return {Tick(seconds), kind, text}; }

// A tool the shell ran, with its words, status and error as the shell
// records them; the text is the shell's too, for a reader that would parse it.
sim::TraceEntry Tool(double seconds, std::vector<std::string> args, int status, const std::string &error = "")
{
  std::string text;
  for(const std::string &word : args) text += (text.empty() ? "" : " ") + word;
  text += " -> " + std::to_string(status) + (error.empty() ? "" : " (" + error + ")");
  return {kStart + static_cast<uint32_t>(seconds * 100), TraceKind::kTool, text, std::move(args), status, error};
}

// A NAS asleep from the start that takes 50 s to boot once woken.
sim::NasConfig SleepingNas()
{
  sim::NasConfig nas;
  nas.name = "nas";
  nas.address = "10.0.0.1";
  nas.mac = "00:11:32:00:00:01";
  nas.asleep = true;
  nas.boot_seconds = 50;
  return nas;
}

// A sleeping NAS that is woken, refuses its first mount, holds the recording
// folder for half a minute, drops out, and is asked again while away; a
// second NAS whose settings the plug-in refused to put into a command.
class TimelineTest : public ::testing::Test {
 protected:
  void SetUp() override
  {
    sim::NasConfig nas = SleepingNas();
    nas.outages = {{100, 200}};
    sim::NasConfig other;
    other.name = "other";
    other.address = "10.0.0.2";
    in.servers = {nas, other};
    in.start_tick = kStart;
    in.duration = 300;
    in.start_mjd = sim::MjdFromDate(2027, 1, 1);
    in.start_second = 0;
    in.timers_before = {{sim::PackTimerStart(in.start_mjd, 0, 2), 30, 1, "News"}};
    in.timers_after = {{sim::PackTimerStart(in.start_mjd, 0, 4), 28, 1, "News"}};
    // In the plug-in's own wording.
    in.run_log =
        "01.01.2027 00:00:05 -> " LOG_PING_SENT "2" LOG_NAS_AT "10.0.0.2)\r\n"
        "01.01.2027 00:00:10 -> 2" LOG_NAS_ABOUT "\"a;b\" holds characters a command cannot take " LOG_NOT_RUN "\r\n"
        "01.01.2027 00:00:13 -> 1" LOG_NAS_AT "10.0.0.1" LOG_NAS_IS "offline\r\n"
        "01.01.2027 00:00:43 -> 1" LOG_NAS_AT "10.0.0.1" LOG_NAS_IS "offline\r\n"
        "01.01.2027 00:01:13 -> 1" LOG_NAS_AT "10.0.0.1" LOG_NAS_IS "online\r\n"
        "01.01.2027 00:01:30 -> Mounting of 1" LOG_NAS " finished successfully \xfc\r\n";
    const std::string refused = "mount: RPC: Program not registered";
    trace = {
        sim::WakeUpEvent(Tick(10), "00:11:32:00:00:01", {"nas"}),
        Tool(13, {"ping", "-c1", "-W3", "10.0.0.1"}, 1),
        sim::WakeUpEvent(Tick(20), "00:11:32:00:00:01", {"nas"}),
        Tool(70, {"mount", "10.0.0.1:/v", "/mnt/hd/MediaFiles/N", "-osoft"}, 255, refused),
        Tool(70, {"mount", "10.0.0.1:/r", "/mnt/hd/DataFiles", "-osoft"}, 255, refused),
        Tool(73, {"ping", "-c1", "-W3", "10.0.0.1"}, 0),
        Tool(90, {"mount", "10.0.0.1:/v", "/mnt/hd/MediaFiles/N", "-osoft"}, 0),
        sim::MountedEvent(Tick(90), "10.0.0.1:/v", "/mnt/hd/MediaFiles/N"),
        sim::MountedEvent(Tick(90), "/mnt/hd/DataFiles", "/mnt/hd/DF_local"),
        Tool(90, {"mount", "10.0.0.1:/r", "/mnt/hd/DataFiles", "-osoft"}, 0),
        sim::MountedEvent(Tick(90), "10.0.0.1:/r", "/mnt/hd/DataFiles"),
        At(95, TraceKind::kOsd, "TAP_Osd_Sync -> screen-a.png"),
        At(96, TraceKind::kOsd, "TAP_Osd_Sync"),
        sim::UnmountedEvent(Tick(120), "/mnt/hd/MediaFiles/N"),
        sim::UnmountedEvent(Tick(120), "/mnt/hd/DataFiles"),
        sim::UnmountedEvent(Tick(120), "/mnt/hd/DF_local"),
        Tool(150, {"mount", "10.0.0.1:/v", "/mnt/hd/MediaFiles/N", "-osoft"}, 255,
             "mount: RPC: Unable to receive; errno = No route to host"),
        Tool(250, {"mount", "10.0.0.1:/v", "/mnt/hd/MediaFiles/N", "-osoft"}, 0),
        sim::MountedEvent(Tick(250), "10.0.0.1:/v", "/mnt/hd/MediaFiles/N"),
    };
  }

  sim::TimelineInput in;
  std::vector<sim::TraceEntry> trace;
};

TEST_F(TimelineTest, ServerStateFollowsSleepWakeUpBootAndOutage)
{
  sim::RunTimeline tl = BuildTimeline(in, trace);
  ASSERT_EQ(tl.servers.size(), 2u);
  struct Row {
    double from, to;
    ServerState state;
  };
  const Row expected[] = {
      {0, 10, ServerState::kAsleep},   {10, 60, ServerState::kBooting}, {60, 100, ServerState::kUp},
      {100, 200, ServerState::kOutage}, {200, 300, ServerState::kUp},
  };
  const std::vector<sim::StateSpan> &states = tl.servers[0].states;
  ASSERT_EQ(states.size(), std::size(expected));
  for(size_t k = 0; k < states.size(); ++k)
  {
    EXPECT_DOUBLE_EQ(states[k].from, expected[k].from) << k;
    EXPECT_DOUBLE_EQ(states[k].to, expected[k].to) << k;
    EXPECT_EQ(states[k].state, expected[k].state) << k;
  }
  ASSERT_EQ(tl.servers[1].states.size(), 1u);
  EXPECT_EQ(tl.servers[1].states[0].state, ServerState::kUp);
}

// The timeline draws a server's sleep as the network keeps it: at each edge
// of a sleep, a wake-up and a boot, what the report shows is what a ping
// would have met. Packets while booting or up change nothing.
TEST(TimelineSleepTest, ServerStateIsWhatTheNetworkAnswers)
{
  sim::NasConfig nas = SleepingNas();
  nas.sleeps = {200, 500};
  sim::TimelineInput in;
  in.servers = {nas};
  in.start_tick = kStart;
  in.duration = 600;
  sim::Network network;
  network.AddServer(nas);
  network.SetStart(kStart);
  const double packets[] = {10, 30, 100, 250, 290, 320};
  const double edges[] = {0, 10, 30, 60, 100, 200, 250, 290, 300, 320, 500, 599.99};
  std::vector<sim::TraceEntry> trace;
  std::vector<bool> sleeping;  // what the network answers, at each edge
  size_t next = 0;
  for(double t : edges)
    for(double at : {t - 0.01, t})
    {
      if(at < 0) continue;
      for(; next < std::size(packets) && packets[next] <= at; ++next)
      {
        network.Wake(nas.mac, Tick(packets[next]));
        trace.push_back(sim::WakeUpEvent(Tick(packets[next]), nas.mac, {nas.name}));
      }
      sleeping.push_back(network.Sleeping(nas, Tick(at)));
    }
  sim::RunTimeline tl = BuildTimeline(in, trace);
  size_t k = 0;
  for(double t : edges)
    for(double at : {t - 0.01, t})
    {
      if(at < 0) continue;
      ServerState drawn = ServerState::kUp;
      for(const sim::StateSpan &span : tl.servers[0].states)
        if(span.from <= at + 1e-9 && at + 1e-9 < span.to) drawn = span.state;
      bool asleep = drawn == ServerState::kAsleep || drawn == ServerState::kBooting;
      EXPECT_EQ(asleep, sleeping[k]) << "at " << at << " s";
      ++k;
    }
  // Not a rule that always says the same: asleep, booting and up all occur.
  EXPECT_EQ(std::count(sleeping.begin(), sleeping.end(), true), 15);
}

TEST_F(TimelineTest, MountedSpansAndTheRecordingFolderFollowMountsAndUnmounts)
{
  sim::RunTimeline tl = BuildTimeline(in, trace);
  // The bind mount of the local recordings belongs to no server; a span
  // still open at the end of the run ends there.
  const std::vector<sim::MountSpan> &mounted = tl.servers[0].mounted;
  ASSERT_EQ(mounted.size(), 2u);
  EXPECT_DOUBLE_EQ(mounted[0].from, 90);
  EXPECT_DOUBLE_EQ(mounted[0].to, 120);
  EXPECT_EQ(mounted[0].shares, 2);
  EXPECT_DOUBLE_EQ(mounted[1].from, 250);
  EXPECT_DOUBLE_EQ(mounted[1].to, 300);
  EXPECT_TRUE(tl.servers[1].mounted.empty());

  ASSERT_EQ(tl.recording_folder.size(), 3u);
  EXPECT_EQ(tl.recording_folder[0].server, "");
  EXPECT_DOUBLE_EQ(tl.recording_folder[1].from, 90);
  EXPECT_DOUBLE_EQ(tl.recording_folder[1].to, 120);
  EXPECT_EQ(tl.recording_folder[1].server, "nas");
  EXPECT_EQ(tl.recording_folder[2].server, "");
  EXPECT_DOUBLE_EQ(tl.recording_folder[2].to, 300);
}

// The summary's figures and the timeline count one server's mounts and
// unmounts alike, also of a folder whose name holds " on " and of a point
// another server was mounted over (unmounting it uncovers the first).
class MountCountTest : public SimTest {};

TEST_F(MountCountTest, SummaryAndTimelineCountTheSameMountsAndUnmounts)
{
  config.servers = {NasWithExports("a", "10.0.0.1", {"/v"}), NasWithExports("b", "10.0.0.2", {"/v"})};
  sim::Receiver &r = Boot();
  MakeDir("/mnt/hd/MediaFiles/Live on Stage");
  MakeDir("/mnt/hd/MediaFiles/N");
  sim::TimelineInput in;
  in.servers = config.servers;
  in.start_tick = r.clock().tick();
  in.duration = 600;
  sim::RunRecord record(r, sandbox.path(), in);
  const char *const commands[] = {
      "mount 10.0.0.1:/v \"/mnt/hd/MediaFiles/Live on Stage\"",
      "mount 10.0.0.1:/v /mnt/hd/MediaFiles/N",
      "mount 10.0.0.2:/v /mnt/hd/MediaFiles/N",
      "umount \"/mnt/hd/MediaFiles/Live on Stage\"",
      "umount /mnt/hd/MediaFiles/N",
      "umount /mnt/hd/MediaFiles/N",
  };
  for(const char *command : commands) ASSERT_EQ(system(command), 0) << command;
  ASSERT_TRUE(record.End());
  sim::RunTimeline tl = record.timeline().Finish(in);
  const int expected[] = {2, 1};  // mounts = unmounts, by server
  for(size_t k = 0; k < 2; ++k)
  {
    const sim::ServerFigures &f = record.servers()[k];
    EXPECT_EQ(f.mounts, expected[k]) << k;
    EXPECT_EQ(f.unmounts, expected[k]) << k;
    int unmounted = 0;
    for(const sim::Mark &m : tl.servers[k].marks)
      if(m.kind == MarkKind::kUnmount) unmounted += std::atoi(m.text.c_str() + std::string("unmounted ").size());
    EXPECT_EQ(unmounted, f.unmounts) << k << ": the timeline's unmounts";
    ASSERT_FALSE(tl.servers[k].mounted.empty()) << k;
    EXPECT_LT(tl.servers[k].mounted.back().to, in.duration) << k << ": still mounted at the end";
  }
}

TEST_F(TimelineTest, MarksTellPingsWakeUpsAttemptsAndRefusalsApart)
{
  sim::RunTimeline tl = BuildTimeline(in, trace);
  struct Row {
    double at;
    MarkKind kind;
  };
  // One attempt per moment, however many shares it asked for; only the
  // first packet of a sleep wakes the server.
  const Row expected[] = {
      {10, MarkKind::kWokeUp},       {13, MarkKind::kPingUnanswered}, {20, MarkKind::kWakeUp},
      {70, MarkKind::kMountRefused}, {73, MarkKind::kPingAnswered},   {90, MarkKind::kMountOk},
      {120, MarkKind::kUnmount},     {150, MarkKind::kMountFailed},   {250, MarkKind::kMountOk},
  };
  const std::vector<sim::Mark> &marks = tl.servers[0].marks;
  ASSERT_EQ(marks.size(), std::size(expected));
  for(size_t k = 0; k < marks.size(); ++k)
  {
    EXPECT_DOUBLE_EQ(marks[k].at, expected[k].at) << k;
    EXPECT_EQ(marks[k].kind, expected[k].kind) << k << " " << marks[k].text;
  }
  // The refused setting belongs to the server the plug-in numbers 2.
  ASSERT_EQ(tl.servers[1].marks.size(), 1u);
  EXPECT_EQ(tl.servers[1].marks[0].kind, MarkKind::kRefusal);
  EXPECT_DOUBLE_EQ(tl.servers[1].marks[0].at, 10);
}

TEST_F(TimelineTest, LogScreenshotsAndTimersAreAtTheirMoments)
{
  sim::RunTimeline tl = BuildTimeline(in, trace);
  ASSERT_EQ(tl.screenshots.size(), 1u);
  EXPECT_DOUBLE_EQ(tl.screenshots[0].at, 95);
  EXPECT_EQ(tl.screenshots[0].file, "screen-a.png");

  struct Row {
    double at;
    bool routine;
  };
  // A ping answer is routine only when it repeats the last one.
  const Row expected[] = {{5, true}, {10, false}, {13, false}, {43, true}, {73, false}, {90, false}};
  ASSERT_EQ(tl.log.size(), std::size(expected));
  for(size_t k = 0; k < tl.log.size(); ++k)
  {
    EXPECT_DOUBLE_EQ(tl.log[k].at, expected[k].at) << k;
    EXPECT_EQ(tl.log[k].routine, expected[k].routine) << k << " " << tl.log[k].text;
  }
  EXPECT_EQ(tl.log[5].text, "Mounting of 1. NAS finished successfully \xc3\xbc");

  ASSERT_EQ(tl.timers.size(), 1u);
  EXPECT_DOUBLE_EQ(tl.timers[0].original, 120);
  EXPECT_DOUBLE_EQ(tl.timers[0].start, 240);
  EXPECT_DOUBLE_EQ(tl.timers[0].minutes, 28);
  EXPECT_EQ(sim::TimelineClock(tl, 86400 + 3725, true), "Sat 02.01. 01:02:05");

  // A run that passes a new year's eve tells the years apart.
  in.start_mjd = sim::MjdFromDate(2026, 12, 31);
  in.start_second = 23 * 3600;
  in.duration = 7200;
  sim::RunTimeline years = BuildTimeline(in, {});
  EXPECT_EQ(sim::TimelineClock(years, 0, true), "Thu 31.12.2026 23:00:00");
  EXPECT_EQ(sim::TimelineClock(years, 7200, true), "Fri 01.01.2027 01:00:00");
}

// Months of pings every minute on six servers are a million marks: the
// timeline keeps them merged in bounded form, and the report's tooltips
// still count them all, in every pixel column of every row.
TEST_F(TimelineTest, MonthsOfPingsStayBoundedCountedAndInEveryColumn)
{
  const double days = 120;
  in.duration = days * 86400;
  in.run_log.clear();
  in.servers.clear();
  for(int n = 1; n <= 6; ++n)
  {
    sim::NasConfig nas;
    nas.name = "nas" + std::to_string(n);
    nas.address = "10.0.1." + std::to_string(n);
    in.servers.push_back(nas);
  }
  sim::TimelineBuilder builder(in);
  const size_t pings = static_cast<size_t>(days) * 1440;
  for(size_t k = 0; k < pings; ++k)
    for(const sim::NasConfig &nas : in.servers)
      builder.Add(Tool(static_cast<double>(k) * 60, {"ping", "-c1", "-W3", nas.address}, k % 1000 == 0 ? 1 : 0));
  sim::RunTimeline tl = builder.Finish(in);
  for(const sim::ServerTimeline &server : tl.servers)
  {
    EXPECT_LE(server.marks.size(), 40000u) << server.name;
    size_t answered = 0, unanswered = 0;
    std::set<int> columns;
    for(const sim::Mark &m : server.marks)
    {
      (m.kind == MarkKind::kPingAnswered ? answered : unanswered) += static_cast<size_t>(m.count);
      if(m.kind == MarkKind::kPingAnswered) columns.insert(static_cast<int>(m.at / in.duration * 1000));
    }
    EXPECT_EQ(unanswered, (pings + 999) / 1000) << server.name;
    EXPECT_EQ(answered + unanswered, pings) << server.name;
    EXPECT_GE(columns.size(), 999u) << server.name << ": pings drawn in too few of the report's columns";
  }
}

}  // namespace
