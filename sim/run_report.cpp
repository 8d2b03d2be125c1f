#include "run_report.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "receiver.h"
#include "report_html.h"
#include "scenario.h"
#include "timeline.h"
#include "timer_table.h"

namespace sim {

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path &path)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The picture a sync of the screen produced: the first file the entry names
// that is in the folder, whatever the screen called it.
bool ResolveShot(const fs::path &dir, std::string *name)
{
  std::error_code ec;
  if(!name->empty() && name->find('/') == std::string::npos && fs::is_regular_file(dir / *name, ec)) return true;
  std::istringstream words(*name);
  for(std::string w; words >> w;)
  {
    while(!w.empty() && (w.back() == ')' || w.back() == ',' || w.back() == '"')) w.pop_back();
    while(!w.empty() && (w.front() == '(' || w.front() == '"')) w.erase(0, 1);
    if(w.empty() || w.find('/') != std::string::npos) continue;
    if(fs::is_regular_file(dir / w, ec))
    {
      *name = w;
      return true;
    }
  }
  return false;
}

}  // namespace

bool WriteRunReport(const Scenario &scenario, Receiver &receiver, const TimerTableImage &timers_before,
                    int main_result, const std::string &folder, std::string *error)
{
  const ReceiverConfig &config = receiver.config();
  TimelineInput in;
  in.start_tick = config.start_tick;
  // Unanswered pings hold the clock for their wait, so a long run ends a
  // little after the scenario's duration: the stop request comes then.
  double ran = static_cast<double>(static_cast<uint32_t>(receiver.clock().tick() - config.start_tick)) / 100.0;
  in.duration = std::max(scenario.duration_seconds, ran);
  in.start_mjd = MjdFromDate(config.year, config.month, config.day);
  in.start_second = static_cast<uint32_t>(config.hour * 3600 + config.minute * 60 + config.second);
  in.servers = receiver.network().servers();
  TimerTableImage timers_after = ReadTimerTable(scenario, receiver);
  for(size_t k = 0; k < timers_before.count(); ++k) in.timers_before.push_back(timers_before.timer(k));
  for(size_t k = 0; k < timers_after.count(); ++k) in.timers_after.push_back(timers_after.timer(k));
  in.main_result = main_result;
  in.stop_at_end = scenario.stop_at_end;
  in.run_log = ReadFile(fs::path(folder) / "Brimvale.log");
  RunTimeline timeline = BuildTimeline(in, receiver.trace().entries());

  // Only pictures that are there: the list comes from what the run wrote.
  fs::path shots = fs::path(folder) / "screenshots";
  std::vector<Screenshot> kept;
  for(Screenshot s : timeline.screenshots)
    if(ResolveShot(shots, &s.file)) kept.push_back(s);
  timeline.screenshots = kept;

  ReportInfo info;
  info.title = scenario.name;
  info.summary = ReadFile(fs::path(folder) / "summary.txt");
  info.facts.push_back({"scenario", fs::path(scenario.path).filename().string()});
  info.facts.push_back({"receiver", "system id " + std::to_string(config.system_id)});
  char date[16];
  std::snprintf(date, sizeof(date), "%04d-%02d-%02d", scenario.firmware_dat.date.year, scenario.firmware_dat.date.month,
                scenario.firmware_dat.date.day);
  if(scenario.write_firmware_dat) info.facts.push_back({"firmware", date});
  info.facts.push_back({"language", config.language == LANGUAGE_GERMAN ? "German" : "English"});
  info.facts.push_back({"timers", std::to_string(scenario.timers.size())});
  return WriteReportHtml(timeline, info, (fs::path(folder) / "report.html").string(), error);
}

}  // namespace sim
