// report.html: a run as one self-contained page a receiver owner opens in a
// browser. An SVG timeline (a row per server, one for the receiver), the
// screenshots as a strip, the summary table and the run log, each tied to
// its moment. Inline CSS and a few lines of inline script for hovering; the
// screenshots are referenced relatively, nothing is fetched from anywhere.
//
// It draws what a RunTimeline holds and knows nothing else of the run.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "timeline.h"

namespace sim {

// The SVG's geometry in its own pixels (it is drawn at 1:1): the time axis
// runs from kReportPlotLeft over kReportPlotWidth; rows start below the axis,
// servers first in the order given, then the receiver.
constexpr int kReportSvgWidth = 1180;
constexpr int kReportPlotLeft = 170;
constexpr int kReportPlotWidth = 1000;
constexpr int kReportAxisHeight = 40;
constexpr int kReportRowHeight = 56;
// Within a server row: the server's own state, then the mounted band.
constexpr int kReportStateTop = 6;
constexpr int kReportBandHeight = 13;
constexpr int kReportMountedTop = 23;
// Colours a reader of the picture can look for (RGB).
constexpr unsigned kReportAxisColour = 0x3d4b63;
constexpr unsigned kReportMountedColour = 0x2b8a3e;
constexpr unsigned kReportOutageColour = 0xf08080;

// Long runs keep the file small: at most this many log lines (the routine
// ones go first) and screenshots in the strip.
constexpr size_t kReportMaxLogLines = 4000;
constexpr size_t kReportMaxShots = 3000;

// Which files the run log shown comes from: the plug-in rotates its log,
// keeping one older part.
struct ReportLog {
  std::vector<std::string> files = {"Brimvale.log"};  // oldest first
  bool rotated_away = false;  // lines older than these were lost on the receiver
};

// The part of the screenshots where anything was drawn, with a margin: the
// report shows that part of each, enlarged, the same for the whole strip so
// that positions compare. Empty (w == 0): the whole frames, small.
struct ReportCrop {
  int x = 0, y = 0, w = 0, h = 0;
  int frame_w = 720, frame_h = 576;
};

struct ReportInfo {
  std::string title;                                       // the scenario's name
  std::vector<std::pair<std::string, std::string>> facts;  // shown under it: label, value
  std::string summary;                                     // summary.txt as written
  std::string screenshot_folder = "screenshots";           // relative to the page
  ReportLog log;
  ReportCrop crop;
};

std::string ReportHtml(const RunTimeline &timeline, const ReportInfo &info);
// Writes ReportHtml to `path`; false with a reason.
bool WriteReportHtml(const RunTimeline &timeline, const ReportInfo &info, const std::string &path, std::string *error);

}  // namespace sim
