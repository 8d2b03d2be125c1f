// The timeline of report.html as an SVG chart: the time axis, a row per
// server (its state, the mounted band, the marks of what the plug-in did)
// and one for the receiver (recording folder, timers, start and stop,
// screenshots), each shape with its tooltip; and the legend that reads it.
#include <cstdio>
#include <map>

#include "report_html_page.h"

namespace sim::html {

namespace {

const char *StateName(ServerState state)
{
  switch(state)
  {
    case ServerState::kUp: return "up";
    case ServerState::kRefusing: return "refusing mounts";
    case ServerState::kAsleep: return "asleep";
    case ServerState::kBooting: return "booting";
    case ServerState::kOutage: return "outage";
  }
  return "";
}

const char *StateClass(ServerState state)
{
  switch(state)
  {
    case ServerState::kUp: return "s-up";
    case ServerState::kRefusing: return "s-ref";
    case ServerState::kAsleep: return "s-sleep";
    case ServerState::kBooting: return "s-boot";
    case ServerState::kOutage: return "s-out";
  }
  return "";
}

// Marks that happen all the time are drawn as one path per row; the others
// each get their own shape and tooltip.
bool Routine(MarkKind kind) { return kind == MarkKind::kPingAnswered || kind == MarkKind::kWakeUp; }

const char *MarkName(MarkKind kind)
{
  switch(kind)
  {
    case MarkKind::kPingAnswered: return "pings answered";
    case MarkKind::kPingUnanswered: return "pings not answered";
    case MarkKind::kWakeUp: return "wake-up packets";
    case MarkKind::kWokeUp: return "wake-up packet that woke it";
    case MarkKind::kMountOk: return "mount attempts";
    case MarkKind::kMountFailed: return "failed mount attempts";
    case MarkKind::kMountRefused: return "refused mount attempts";
    case MarkKind::kUnmount: return "unmounts";
    case MarkKind::kUnmountFailed: return "failed unmounts";
    case MarkKind::kRefusal: return "commands not run";
    case MarkKind::kStart: return "start";
    case MarkKind::kExit: return "end";
    case MarkKind::kStop: return "stop request";
  }
  return "";
}

}  // namespace

void Page::Axis(std::ostringstream &svg, int height)
{
  // A tick every step of wall-clock time, aligned to the clock (on the hour,
  // at midnight), about a dozen across.
  static const double kSteps[] = {10,     30,     60,     120,     300,     600,     900,     1800,
                                  3600,   7200,   10800,  21600,   43200,   86400,   172800,  604800,
                                  1209600, 2419200, 4838400, 9676800, 19353600};
  double step = kSteps[0];
  for(double s : kSteps)
  {
    step = s;
    if(duration_ / s <= 12) break;
  }
  double first = std::ceil(tl_.start_second / step) * step - tl_.start_second;
  int y = kReportAxisHeight - 6;
  svg << "<g class=\"axis\">";
  std::string last_day;
  for(double t = first; t <= duration_ + 1e-6; t += step)
  {
    double x = kReportPlotLeft + t * scale_;
    svg << "<line class=\"grid\" x1=\"" << Number(x) << "\" y1=\"" << y << "\" x2=\"" << Number(x) << "\" y2=\"" << height
        << "\"/>";
    std::string full = TimelineClock(tl_, t, true);  // "Tue 08.12. 20:05:00"
    size_t blank = full.rfind(' ');
    std::string day = full.substr(0, blank), clock = full.substr(blank + 1, step >= 60 ? 5 : 8);
    std::string label = step >= 86400 ? day : clock;
    svg << "<text x=\"" << Number(x) << "\" y=\"" << y - 4 << "\" text-anchor=\"middle\">" << Escape(label) << "</text>";
    if(step < 86400 && day != last_day && with_date_)
      svg << "<text class=\"day\" x=\"" << Number(x) << "\" y=\"" << y - 18 << "\" text-anchor=\"middle\">"
          << Escape(day) << "</text>";
    last_day = day;
  }
  svg << "<line class=\"base\" x1=\"" << kReportPlotLeft << "\" y1=\"" << y + 0.5 << "\" x2=\""
      << kReportPlotLeft + kReportPlotWidth << "\" y2=\"" << y + 0.5 << "\"/></g>";
}

// One pixel column is one stretch of time; where several states share one,
// the most important is drawn, so that short outages stay visible in a month.
void Page::States(std::ostringstream &svg, const std::vector<StateSpan> &spans, int y)
{
  struct Cell {
    int state = -1;
    double from = 0, to = 0;
  };
  std::vector<Cell> cells(kReportPlotWidth);
  for(const StateSpan &s : spans)
  {
    int c0 = Column(s.from), c1 = std::max(c0, static_cast<int>(std::ceil(s.to * scale_)) - 1);
    c1 = std::min(c1, kReportPlotWidth - 1);
    for(int c = c0; c <= c1; ++c)
    {
      Cell &cell = cells[c];
      int state = static_cast<int>(s.state);
      if(state > cell.state)
        cell = {state, s.from, s.to};
      else if(state == cell.state)
      {
        cell.from = std::min(cell.from, s.from);
        cell.to = std::max(cell.to, s.to);
      }
    }
  }
  for(int c = 0; c < kReportPlotWidth;)
  {
    int end = c + 1;
    double from = cells[c].from, to = cells[c].to;
    while(end < kReportPlotWidth && cells[end].state == cells[c].state)
    {
      to = std::max(to, cells[end].to);
      ++end;
    }
    if(cells[c].state >= 0)
    {
      ServerState state = static_cast<ServerState>(cells[c].state);
      int w = end - c;
      svg << "<rect class=\"" << StateClass(state) << "\" x=\"" << kReportPlotLeft + c << "\" y=\"" << y
          << "\" width=\"" << w << "\" height=\"" << kReportBandHeight << "\"><title>" << StateName(state) << ": "
          << Escape(Range(from, to)) << "</title></rect>";
      std::string name = StateName(state);
      if(state != ServerState::kUp && w >= static_cast<int>(name.size()) * 6 + 8)
        svg << "<text class=\"in\" x=\"" << kReportPlotLeft + c + w / 2.0 << "\" y=\"" << y + 10
            << "\" text-anchor=\"middle\">" << name << "</text>";
    }
    c = end;
  }
}

// Mounted where a column is covered all through; a column only partly covered
// (a short mount or unmount within it) in a lighter colour.
void Page::Mounted(std::ostringstream &svg, const std::vector<MountSpan> &spans, int y)
{
  std::vector<double> cover(kReportPlotWidth, 0);
  std::vector<int> span_of(kReportPlotWidth, -1);
  double column = duration_ / kReportPlotWidth;
  for(size_t k = 0; k < spans.size(); ++k)
  {
    const MountSpan &s = spans[k];
    for(int c = Column(s.from); c <= Column(std::max(s.from, s.to - 1e-9)); ++c)
    {
      double lo = std::max(s.from, c * column), hi = std::min(s.to, (c + 1) * column);
      if(hi > lo) cover[c] += hi - lo;
      if(span_of[c] < 0) span_of[c] = static_cast<int>(k);
    }
  }
  auto level = [&](int c) { return cover[c] >= column * 0.98 ? 2 : cover[c] > column * 0.02 ? 1 : 0; };
  for(int c = 0; c < kReportPlotWidth;)
  {
    int lv = level(c), end = c + 1;
    while(end < kReportPlotWidth && level(end) == lv) ++end;
    if(lv > 0)
    {
      // The spans this stretch shows, for its tooltip.
      int first = span_of[c], last = first;
      for(int k = c; k < end; ++k)
        if(span_of[k] >= 0) last = span_of[k];
      std::string title;
      if(first == last && first >= 0)
        title = "mounted (" + std::to_string(spans[first].shares) + " shares): " +
                Range(spans[first].from, spans[first].to);
      else if(first >= 0)
        title = std::to_string(last - first + 1) + " mounted spans " + Range(spans[first].from, spans[last].to);
      int w = end - c;
      svg << "<rect class=\"" << (lv == 2 ? "m-on" : "m-part") << "\" x=\"" << kReportPlotLeft + c << "\" y=\"" << y
          << "\" width=\"" << w << "\" height=\"" << kReportBandHeight << "\"><title>" << Escape(title)
          << "</title></rect>";
      if(lv == 2 && w >= 60)
        svg << "<text class=\"in on\" x=\"" << kReportPlotLeft + c + w / 2.0 << "\" y=\"" << y + 10
            << "\" text-anchor=\"middle\">mounted</text>";
    }
    c = end;
  }
}

void Page::Marks(std::ostringstream &svg, const std::vector<Mark> &marks, int y)
{
  // Per kind and pixel column: how many, from when to when, the first text.
  struct Cell {
    int count = 0;
    double first = 0, last = 0;
    std::string text;
  };
  std::map<MarkKind, std::map<int, Cell>> cells;
  for(const Mark &m : marks)
  {
    Cell &cell = cells[m.kind][Column(m.at)];
    if(cell.count == 0)
    {
      cell.first = m.at;
      cell.text = m.text;
    }
    cell.count += m.count;
    cell.last = m.count > 1 ? m.until : m.at;
  }
  for(const auto &[kind, columns] : cells)
  {
    size_t total = 0;
    for(const auto &[c, cell] : columns) total += static_cast<size_t>(cell.count);
    if(Routine(kind))
    {
      bool ping = kind == MarkKind::kPingAnswered;
      svg << "<path class=\"" << (ping ? "k-ping" : "k-wake") << "\" d=\"";
      for(const auto &[c, cell] : columns)
        svg << "M" << kReportPlotLeft + c << ".5 " << (ping ? y + 38 : y + 45) << "v" << (ping ? 5 : 6);
      svg << "\"><title>" << total << " " << MarkName(kind) << "</title></path>";
      continue;
    }
    for(const auto &[c, cell] : columns)
    {
      double x = kReportPlotLeft + c + 0.5;
      std::string title = cell.count == 1 ? Clock(cell.first) + " " + cell.text
                                          : std::to_string(cell.count) + " " + MarkName(kind) + " " +
                                                Clock(cell.first) + " \u2013 " + Clock(cell.last) + "; first: " + cell.text;
      std::string shape;
      char buf[160];
      switch(kind)
      {
        case MarkKind::kPingUnanswered:
          std::snprintf(buf, sizeof(buf), "<path class=\"k-noping\" d=\"M%.1f %dv9\"", x, y + 36);
          break;
        case MarkKind::kWokeUp:
          std::snprintf(buf, sizeof(buf), "<path class=\"k-woke\" d=\"M%.1f %dl5 9h-10z\"", x, y + 42);
          break;
        case MarkKind::kMountOk:
        case MarkKind::kMountFailed:
        case MarkKind::kMountRefused:
          std::snprintf(buf, sizeof(buf), "<path class=\"%s\" d=\"M%.1f %dl5 5 -5 5 -5 -5z\"",
                        kind == MarkKind::kMountOk ? "k-mnt" : kind == MarkKind::kMountRefused ? "k-mref" : "k-mfail", x,
                        y + kReportMountedTop + 1);
          break;
        case MarkKind::kUnmount:
        case MarkKind::kUnmountFailed:
          std::snprintf(buf, sizeof(buf), "<path class=\"%s\" d=\"M%.1f %dh8l-4 7z\"",
                        kind == MarkKind::kUnmount ? "k-umnt" : "k-ufail", x - 4, y + kReportMountedTop - 7);
          break;
        case MarkKind::kRefusal:
          std::snprintf(buf, sizeof(buf), "<circle class=\"k-refuse\" cx=\"%.1f\" cy=\"%d\" r=\"4.5\"", x, y + 47);
          break;
        case MarkKind::kStart:
          std::snprintf(buf, sizeof(buf), "<path class=\"k-start\" d=\"M%.1f %dv22l9 -6 -9 -5\"", x, y + 2);
          break;
        case MarkKind::kExit:
        case MarkKind::kStop:
          std::snprintf(buf, sizeof(buf), "<path class=\"k-stop\" d=\"M%.1f %dv22l-9 -6 9 -5\"", x, y + 2);
          break;
        default: buf[0] = '\0';
      }
      if(buf[0] != '\0') svg << buf << "><title>" << Escape(title) << "</title></" << (kind == MarkKind::kRefusal ? "circle" : "path") << ">";
    }
  }
}

void Page::ReceiverRow(std::ostringstream &svg, int y)
{
  svg << "<g class=\"row receiver\">";
  svg << "<text class=\"name\" x=\"10\" y=\"" << y + 20 << "\">receiver</text>";
  svg << "<text class=\"addr\" x=\"10\" y=\"" << y + 36 << "\">recordings, timers, screen</text>";
  // The recording folder: drawn per span (there are few: it moves when the first NAS comes and goes).
  for(const FolderSpan &f : tl_.recording_folder)
  {
    double x0 = kReportPlotLeft + f.from * scale_, w = std::max(1.0, (f.to - f.from) * scale_);
    std::string label = f.server.empty() ? "recordings on the local disk" : "recordings on " + f.server;
    svg << "<rect class=\"" << (f.server.empty() ? "f-local" : "f-nas") << "\" x=\"" << Number(x0) << "\" y=\"" << y + kReportStateTop
        << "\" width=\"" << Number(w) << "\" height=\"" << kReportBandHeight << "\"><title>" << Escape(label) << ": "
        << Escape(Range(f.from, f.to)) << "</title></rect>";
    if(w >= label.size() * 6.0 + 8)
      svg << "<text class=\"in" << (f.server.empty() ? "" : " on") << "\" x=\"" << Number(x0 + w / 2) << "\" y=\""
          << y + kReportStateTop + 10 << "\" text-anchor=\"middle\">" << Escape(label) << "</text>";
  }
  // Timers: the recording as a bar from its start; the original start a hollow
  // ring joined to it when the plug-in delayed it.
  for(const TimerSpan &t : tl_.timers)
  {
    int ty = y + kReportMountedTop;
    double x0 = kReportPlotLeft + t.start * scale_, x1 = x0 + std::max(2.0, t.minutes * 60 * scale_);
    double xo = kReportPlotLeft + t.original * scale_;
    std::string title = "timer \"" + t.name + "\"" + (t.record ? "" : " (not recording)") + ": " +
                        Range(t.start, t.start + t.minutes * 60);
    if(t.start != t.original) title += ", first set for " + Clock(t.original) + ", delayed by " + Length(t.start - t.original);
    svg << "<g class=\"timer\"><title>" << Escape(title) << "</title>";
    double lo = std::max<double>(kReportPlotLeft, x0), hi = std::min<double>(kReportPlotLeft + kReportPlotWidth, x1);
    if(hi > lo)
      svg << "<rect class=\"" << (t.record ? "t-rec" : "t-other") << "\" x=\"" << Number(lo) << "\" y=\"" << ty + 2
          << "\" width=\"" << Number(hi - lo) << "\" height=\"9\"/>";
    if(t.start != t.original && xo >= kReportPlotLeft && xo <= kReportPlotLeft + kReportPlotWidth)
      svg << "<line class=\"t-delay\" x1=\"" << Number(xo) << "\" y1=\"" << ty + 6.5 << "\" x2=\"" << Number(lo)
          << "\" y2=\"" << ty + 6.5 << "\"/><circle class=\"t-orig\" cx=\"" << Number(xo) << "\" cy=\"" << ty + 6.5
          << "\" r=\"4\"/>";
    if(hi - lo >= t.name.size() * 6.0 + 8)
      svg << "<text class=\"in on\" x=\"" << Number(lo + 4) << "\" y=\"" << ty + 10 << "\">" << Escape(t.name) << "</text>";
    svg << "</g>";
  }
  Marks(svg, tl_.receiver_marks, y);
  // The screen: one link per pixel column to the first picture shown in it.
  std::map<int, std::pair<size_t, int>> columns;  // column -> strip position, pictures
  for(size_t k = 0; k < shots_.size(); ++k)
  {
    auto &cell = columns[Column(tl_.screenshots[shots_[k]].at)];
    if(cell.second++ == 0) cell.first = k;
  }
  for(const auto &[c, cell] : columns)
  {
    const Screenshot &s = tl_.screenshots[shots_[cell.first]];
    svg << "<a href=\"#shot-" << cell.first << "\"><rect class=\"k-shot\" x=\"" << kReportPlotLeft + c - 1 << "\" y=\""
        << y + 40 << "\" width=\"3\" height=\"11\"><title>" << Escape(Clock(s.at)) << " the screen changed"
        << (cell.second > 1 ? " (" + std::to_string(cell.second) + " pictures)" : std::string()) << "</title></rect></a>";
  }
  svg << "</g>";
}

std::string Page::Svg()
{
  int rows = static_cast<int>(tl_.servers.size()) + 1;
  int height = kReportAxisHeight + rows * kReportRowHeight + 4;
  std::ostringstream svg;
  svg << "<svg id=\"tl\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kReportSvgWidth << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << kReportSvgWidth << " " << height << "\">";
  for(int r = 0; r < rows; ++r)
    if(r % 2 == 1)
      svg << "<rect class=\"alt\" x=\"0\" y=\"" << kReportAxisHeight + r * kReportRowHeight << "\" width=\""
          << kReportSvgWidth << "\" height=\"" << kReportRowHeight << "\"/>";
  Axis(svg, height);
  for(size_t k = 0; k < tl_.servers.size(); ++k)
  {
    const ServerTimeline &s = tl_.servers[k];
    int y = kReportAxisHeight + static_cast<int>(k) * kReportRowHeight;
    svg << "<g class=\"row server\" data-name=\"" << Escape(s.name) << "\">";
    svg << "<text class=\"name\" x=\"10\" y=\"" << y + 20 << "\">" << Escape(s.name) << "</text>";
    svg << "<text class=\"addr\" x=\"10\" y=\"" << y + 36 << "\">" << Escape(s.address) << "</text>";
    States(svg, s.states, y + kReportStateTop);
    Mounted(svg, s.mounted, y + kReportMountedTop);
    Marks(svg, s.marks, y);
    svg << "</g>";
  }
  ReceiverRow(svg, kReportAxisHeight + static_cast<int>(tl_.servers.size()) * kReportRowHeight);
  svg << "<line id=\"cursor\" x1=\"0\" y1=\"" << kReportAxisHeight - 2 << "\" x2=\"0\" y2=\"" << height
      << "\" visibility=\"hidden\"/></svg>";
  return svg.str();
}

std::string Legend()
{
  struct Item {
    const char *swatch;  // a CSS colour, or empty for a symbol
    const char *symbol;
    const char *colour;
    const char *text;
  };
  static const Item kItems[] = {
      {"#cdebd5", "", "", "server up"},
      {"#c5cde0", "", "", "server asleep"},
      {"#ffe066", "", "", "server booting after a wake-up"},
      {"#f08080", "", "", "server unreachable (outage)"},
      {"#ffd8a8", "", "", "server refusing mounts"},
      {"#2b8a3e", "", "", "mounted by Brimvale"},
      {"", "|", "#8d99a6", "ping answered"},
      {"", "|", "#e03131", "ping not answered"},
      {"", "\u25b2", "#7048e8", "wake-up packet that woke it"},
      {"", "|", "#9775fa", "wake-up packet"},
      {"", "\u25c7", "#1b5e20", "mount attempt"},
      {"", "\u25c6", "#e03131", "mount attempt failed"},
      {"", "\u25c6", "#f08c00", "mount refused by the server"},
      {"", "\u25bc", "#343a40", "unmounted"},
      {"", "\u25cf", "#c92a2a", "command not run (refused)"},
      {"#3b5bdb", "", "", "recording folder on a NAS"},
      {"#dee2e6", "", "", "recording folder on the local disk"},
      {"#ae3ec9", "", "", "recording timer (\u25cb first set start)"},
      {"", "\u25b6", "#2f9e44", "start"},
      {"", "\u25c0", "#495057", "stop / end"},
      {"", "\u258d", "#1c7ed6", "the screen changed"},
  };
  std::ostringstream out;
  out << "<div class=\"legend\">";
  for(const Item &item : kItems)
  {
    out << "<div>";
    if(item.swatch[0] != '\0')
      out << "<span style=\"background:" << item.swatch << "\"></span>";
    else
      out << "<i style=\"color:" << item.colour << "\">" << item.symbol << "</i>";
    out << item.text << "</div>";
  }
  out << "<div class=\"hint\">Point at the timeline to see the screen at that moment; click to pin it and jump to "
         "the run log. Every shape has a tooltip.</div></div>";
  return out.str();
}

}  // namespace sim::html
