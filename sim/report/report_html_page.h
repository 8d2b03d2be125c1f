// The pieces report.html is made of, shared by the files that draw them:
// the page and its sections (report_html.cpp), the SVG chart of the
// timeline (report_svg.cpp) and the screenshots strip (report_strip.cpp).
// Nothing outside those files includes this; report_html.h is the interface.
#pragma once

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "report_html.h"

namespace sim::html {

// Text made safe for an HTML element or attribute.
std::string Escape(const std::string &text);
// A relative URL of a file: every byte but the plainest characters escaped,
// so a name with a space, '#' or '?' still finds its file.
std::string UrlPath(const std::string &path);
// A number with at most two decimals and no trailing zeros ("12.5", "3").
std::string Number(double value);
// A span of time as a reader says it: "45 s", "12 min", "5 h 3 min", "4 d 2 h".
std::string Length(double seconds);
// What the shapes and colours of the timeline chart mean.
std::string Legend();

class Page {
 public:
  Page(const RunTimeline &tl, const ReportInfo &info) : tl_(tl), info_(info)
  {
    duration_ = tl.duration > 0 ? tl.duration : 1;
    scale_ = kReportPlotWidth / duration_;
    with_date_ = tl.start_second + duration_ >= 86400;
  }

  std::string Build();

 private:
  int Column(double at) const
  {
    int c = static_cast<int>(std::floor(at * scale_));
    return std::min(std::max(c, 0), kReportPlotWidth - 1);
  }
  std::string Clock(double at) const { return TimelineClock(tl_, at, with_date_); }
  std::string Range(double from, double to) const
  {
    return Clock(from) + " \u2013 " + Clock(to) + " (" + Length(to - from) + ")";
  }

  void Axis(std::ostringstream &svg, int height);
  void States(std::ostringstream &svg, const std::vector<StateSpan> &spans, int y);
  void Mounted(std::ostringstream &svg, const std::vector<MountSpan> &spans, int y);
  void Marks(std::ostringstream &svg, const std::vector<Mark> &marks, int y);
  void ReceiverRow(std::ostringstream &svg, int y);
  std::string Svg();
  std::string Summary();
  std::string Timers();
  std::string Strip();
  std::string CropStyle();
  std::string Log();
  std::string Script();

  const RunTimeline &tl_;
  const ReportInfo &info_;
  double duration_, scale_;
  bool with_date_;
  std::vector<size_t> shots_;  // the screenshots in the strip, by index
};

}  // namespace sim::html
