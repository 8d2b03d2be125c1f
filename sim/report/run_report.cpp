#include "run_report.h"

#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "../receiver/pc_file.h"
#include "../receiver/receiver.h"
#include "report_html.h"
#include "run_record.h"
#include "../scenario/scenario.h"
#include "timeline.h"
#include "../firmware/timer_table.h"

namespace sim {

namespace fs = std::filesystem;

namespace {

// An output of the run, or "" when the run did not write it (no run log
// without Logfile=1, no older part before the log passed its limit).
std::string ReadFile(const fs::path &path)
{
  std::string text;
  ReadPcFile(path.string(), &text);
  return text;
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

ReportCrop DrawnPart(const std::string &dir, const std::vector<std::string> &files)
{
  constexpr int kMargin = 16;
  ReportCrop crop;
  int x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
  std::vector<uint8_t> pixels;
  // A screen shown again is a hard link to its first picture: each picture
  // is decoded once.
  std::set<std::pair<dev_t, ino_t>> seen;
  for(const std::string &file : files)
  {
    struct stat st;
    if(stat((fs::path(dir) / file).c_str(), &st) != 0 || !seen.insert({st.st_dev, st.st_ino}).second) continue;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if(!png_image_begin_read_from_file(&image, (fs::path(dir) / file).c_str())) continue;
    image.format = PNG_FORMAT_GRAY;
    pixels.resize(PNG_IMAGE_SIZE(image));
    if(!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
    {
      png_image_free(&image);
      continue;
    }
    int w = static_cast<int>(image.width), h = static_cast<int>(image.height);
    crop.frame_w = w;
    crop.frame_h = h;
    for(int y = 0; y < h; ++y)
    {
      const uint8_t *row = pixels.data() + static_cast<size_t>(y) * w;
      // Rows already inside the found part need only be looked at outside it.
      for(int x = 0; x < w; ++x)
        if(row[x] != 0)
        {
          x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
          if(x >= x0 && x < x1) x = x1;
        }
    }
  }
  if(x1 < 0) return crop;
  crop.x = std::max(0, x0 - kMargin);
  crop.y = std::max(0, y0 - kMargin);
  crop.w = std::min(crop.frame_w, x1 + 1 + kMargin) - crop.x;
  crop.h = std::min(crop.frame_h, y1 + 1 + kMargin) - crop.y;
  return crop;
}

TimelineInput TimelineStart(const Scenario &scenario, Receiver &receiver)
{
  const ReceiverConfig &config = receiver.config();
  TimelineInput in;
  in.start_tick = config.start_tick;
  in.duration = scenario.duration_seconds;
  in.start_mjd = MjdFromDate(config.year, config.month, config.day);
  in.start_second = static_cast<uint32_t>(config.hour * 3600 + config.minute * 60 + config.second);
  in.servers = receiver.network().servers();
  return in;
}

bool WriteRunReport(const Scenario &scenario, Receiver &receiver, RunRecord &record,
                    const TimerTableImage &timers_before, int main_result, const std::string &folder,
                    std::string *error)
{
  const ReceiverConfig &config = receiver.config();
  TimelineInput in = TimelineStart(scenario, receiver);
  // Unanswered pings hold the clock for their wait, so a long run ends a
  // little after the scenario's duration: the stop request comes then.
  double ran = static_cast<double>(static_cast<uint32_t>(receiver.clock().tick() - config.start_tick)) / 100.0;
  in.duration = std::max(scenario.duration_seconds, ran);
  TimerTableImage timers_after = ReadTimerTable(scenario, receiver);
  for(size_t k = 0; k < timers_before.count(); ++k) in.timers_before.push_back(timers_before.timer(k));
  for(size_t k = 0; k < timers_after.count(); ++k) in.timers_after.push_back(timers_after.timer(k));
  in.main_result = main_result;
  in.stop_at_end = scenario.stop_at_end;
  // The plug-in keeps one older part of its log once it passed its limit:
  // the report shows both, and says whether lines before them are gone.
  ReportLog log;
  std::string older = ReadFile(fs::path(folder) / LOG_OLD_FILE_NAME);
  in.run_log = ReadFile(fs::path(folder) / LOG_FILE_NAME);
  std::error_code ec;
  if(fs::is_regular_file(fs::path(folder) / LOG_OLD_FILE_NAME, ec))
  {
    log.files = {LOG_OLD_FILE_NAME, LOG_FILE_NAME};
    log.rotated_away = record.log_bytes() > older.size() + in.run_log.size();
    in.run_log = older + in.run_log;
  }
  RunTimeline timeline = record.timeline().Finish(in);

  // Only pictures that are there: the list comes from what the run wrote.
  fs::path shots = fs::path(folder) / "screenshots";
  std::vector<Screenshot> kept;
  for(Screenshot s : timeline.screenshots)
    if(ResolveShot(shots, &s.file)) kept.push_back(s);
  timeline.screenshots = kept;

  ReportInfo info;
  info.log = log;
  std::vector<std::string> strip;
  for(size_t k = 0; k < timeline.screenshots.size() && k < kReportMaxShots; ++k)
    strip.push_back(timeline.screenshots[k].file);
  info.crop = DrawnPart(shots.string(), strip);
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
