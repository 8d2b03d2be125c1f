#include "report_html.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace sim {

namespace {

std::string Escape(const std::string &text)
{
  std::string out;
  out.reserve(text.size());
  for(char c : text)
  {
    switch(c)
    {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A relative URL of a file: every byte but the plainest characters escaped,
// so a name with a space, '#' or '?' still finds its file.
std::string UrlPath(const std::string &path)
{
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for(unsigned char c : path)
  {
    if((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
       c == '/')
      out += static_cast<char>(c);
    else
    {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// A JavaScript string literal that cannot end the script element.
std::string JsString(const std::string &text)
{
  std::string out = "\"";
  for(char c : text)
  {
    if(c == '"' || c == '\\')
      out += std::string("\\") + c;
    else if(c == '<')
      out += "\\x3c";
    else if(static_cast<unsigned char>(c) < 0x20)
      out += ' ';
    else
      out += c;
  }
  return out + "\"";
}

std::string Number(double value)
{
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f", value);
  std::string s = text;
  while(s.back() == '0') s.pop_back();
  if(s.back() == '.') s.pop_back();
  return s;
}

std::string Length(double seconds)
{
  long s = std::lround(seconds);
  char text[48];
  if(s < 120)
    std::snprintf(text, sizeof(text), "%ld s", s);
  else if(s < 7200)
    std::snprintf(text, sizeof(text), "%ld min", s / 60);
  else if(s < 3 * 86400)
    std::snprintf(text, sizeof(text), "%ld h %ld min", s / 3600, s / 60 % 60);
  else
    std::snprintf(text, sizeof(text), "%ld d %ld h", s / 86400, s / 3600 % 24);
  return text;
}

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

// The timers, also those that lie outside the run, with where a recording
// starting then went: the answer to "why is it on the local disk".
std::string Page::Timers()
{
  if(tl_.timers.empty()) return "";
  std::ostringstream out;
  out << "<h3>Recording timers</h3><table class=\"sum timers\"><thead><tr><th>timer</th><th>recording</th>"
         "<th>first set for</th><th>starts</th><th>minutes</th><th>recordings went to</th></tr></thead><tbody>";
  for(const TimerSpan &t : tl_.timers)
  {
    std::string where = "(outside the run)";
    for(const FolderSpan &f : tl_.recording_folder)
      if(t.start >= f.from && (t.start < f.to || (t.start == f.to && f.to >= duration_)))
        where = f.server.empty() ? "the local disk" : f.server;
    std::string starts = TimelineClock(tl_, t.start, true);
    if(t.start != t.original) starts += " (delayed by " + Length(t.start - t.original) + ")";
    out << "<tr><td>" << Escape(t.name) << "</td><td>" << (t.record ? "yes" : "no") << "</td><td>"
        << Escape(TimelineClock(tl_, t.original, true)) << "</td><td>" << Escape(starts) << "</td><td>"
        << Number(t.minutes) << "</td><td>" << Escape(where) << "</td></tr>";
  }
  out << "</tbody></table>";
  return out.str();
}

// summary.txt as a table when its lines are columns of single words; as it
// stands otherwise.
std::string Page::Summary()
{
  std::istringstream in(info_.summary);
  std::vector<std::vector<std::string>> table;
  std::vector<std::string> rest;
  for(std::string line; std::getline(in, line);)
  {
    std::istringstream words(line);
    std::vector<std::string> row;
    for(std::string w; words >> w;) row.push_back(w);
    if(rest.empty() && !row.empty() && (table.empty() || row.size() == table[0].size()) && line.find(':') == std::string::npos)
      table.push_back(row);
    else if(!line.empty())
      rest.push_back(line);
  }
  if(table.size() < 2) return "<pre>" + Escape(info_.summary) + "</pre>";
  std::ostringstream out;
  out << "<table class=\"sum\"><thead><tr>";
  for(const std::string &h : table[0]) out << "<th>" << Escape(h) << "</th>";
  out << "</tr></thead><tbody>";
  for(size_t r = 1; r < table.size(); ++r)
  {
    out << "<tr>";
    for(const std::string &cell : table[r]) out << "<td>" << Escape(cell) << "</td>";
    out << "</tr>";
  }
  out << "</tbody></table>";
  if(!rest.empty())
  {
    out << "<pre class=\"after\">";
    for(const std::string &line : rest) out << Escape(line) << "\n";
    out << "</pre>";
  }
  return out.str();
}

std::string Page::Strip()
{
  std::ostringstream out;
  out << "<div class=\"strip\" id=\"strip\">";
  for(size_t k = 0; k < shots_.size(); ++k)
  {
    const Screenshot &s = tl_.screenshots[shots_[k]];
    std::string src = UrlPath(info_.screenshot_folder + "/" + s.file);
    if(info_.crop.w <= 0)
    {
      out << "<figure id=\"shot-" << k << "\" data-t=\"" << Number(s.at) << "\"><img loading=\"lazy\" src=\""
          << Escape(src) << "\" width=\"180\" height=\"144\" alt=\"the screen at " << Escape(Clock(s.at))
          << "\"><figcaption>" << Escape(Clock(s.at)) << "</figcaption></figure>";
      continue;
    }
    out << "<figure id=\"shot-" << k << "\" data-t=\"" << Number(s.at) << "\"><div class=\"shot\"><img loading=\"lazy\" src=\""
        << Escape(src) << "\" alt=\"the screen at " << Escape(Clock(s.at)) << "\"></div><figcaption>"
        << Escape(Clock(s.at)) << " \u00b7 <a class=\"full\" href=\"" << Escape(src)
        << "\" title=\"the whole frame, as the receiver drew it\">full frame</a></figcaption></figure>";
  }
  out << "</div>";
  if(shots_.size() < tl_.screenshots.size())
    out << "<p class=\"note\">" << tl_.screenshots.size() - shots_.size()
        << " later pictures are not in the strip; they are in " << Escape(info_.screenshot_folder) << "/.</p>";
  if(shots_.empty()) out << "<p class=\"note\">The plug-in showed nothing on the screen in this run.</p>";
  return out.str();
}

// The crop of the strip and of the preview: the drawn part of the frame,
// enlarged up to `most` times within `width` x `height` pixels.
std::string Page::CropStyle()
{
  const ReportCrop &c = info_.crop;
  if(c.w <= 0) return "";
  std::ostringstream css;
  auto rule = [&](const char *box, double width, double height, double most) {
    double scale = std::min({most, width / c.w, height / c.h});
    css << box << "{width:" << Number(c.w * scale) << "px;height:" << Number(c.h * scale) << "px}" << box
        << " img{width:" << Number(c.frame_w * scale) << "px;height:" << Number(c.frame_h * scale)
        << "px;margin:" << Number(-c.y * scale) << "px 0 0 " << Number(-c.x * scale) << "px}";
  };
  rule(".strip .shot", 720, 200, 3);
  rule(".preview .shot", 360, 288, 4);
  return css.str();
}

std::string Page::Log()
{
  std::vector<size_t> shown;
  size_t routine = 0;
  bool drop_routine = tl_.log.size() > kReportMaxLogLines;
  for(size_t k = 0; k < tl_.log.size(); ++k)
  {
    if(drop_routine && tl_.log[k].routine)
      ++routine;
    else
      shown.push_back(k);
  }
  size_t cut_at = shown.size(), cut = 0;
  if(shown.size() > kReportMaxLogLines)
  {
    cut_at = kReportMaxLogLines / 2;
    cut = shown.size() - kReportMaxLogLines;
    shown.erase(shown.begin() + static_cast<long>(cut_at), shown.begin() + static_cast<long>(cut_at + cut));
  }
  std::ostringstream out;
  if(tl_.log.empty())
  {
    out << "<p class=\"note\">No run log (Logfile is not 1).</p>";
    return out.str();
  }
  const std::vector<std::string> &files = info_.log.files;
  std::string named;
  for(size_t k = 0; k < files.size(); ++k) named += (k == 0 ? "" : k + 1 == files.size() ? " and " : ", ") + files[k];
  std::string has = files.size() == 1 ? " has" : " have";
  if(files.size() > 1)
  {
    out << "<p class=\"note\" id=\"log-span\">The plug-in rotated its run log on the receiver. Shown here: "
        << Escape(named) << ", from " << Escape(Clock(tl_.log.front().at)) << " to " << Escape(Clock(tl_.log.back().at))
        << (info_.log.rotated_away ? "; older lines of this run were rotated away on the receiver and are lost.</p>"
                                   : ", every line of this run.</p>");
  }
  if(routine > 0)
    out << "<p class=\"note\">" << routine
        << " routine lines (pings and their unchanged answers, wake-up commands) are left out here; "
        << Escape(named) << has << " every line.</p>";
  out << "<div class=\"log\" id=\"log\">";
  for(size_t i = 0; i < shown.size(); ++i)
  {
    if(cut > 0 && i == cut_at)
      out << "<div class=\"gap\">\u2026 " << cut << " lines left out here: see " << Escape(named) << " \u2026</div>";
    const LogLine &line = tl_.log[shown[i]];
    out << "<div class=\"ln\" id=\"l-" << shown[i] << "\" data-t=\"" << Number(line.at) << "\"><a href=\"#l-" << shown[i]
        << "\">" << Escape(Clock(line.at)) << "</a>" << Escape(line.text) << "</div>";
  }
  out << "</div>";
  return out.str();
}

std::string Page::Script()
{
  std::ostringstream js;
  js << "(function(){'use strict';\n";
  js << "var R={dur:" << Number(duration_) << ",x0:" << kReportPlotLeft << ",w:" << kReportPlotWidth
     << ",start:" << tl_.start_second << ",date:" << (with_date_ ? "true" : "false") << ",days:[";
  for(int d = 0; d <= static_cast<int>((tl_.start_second + duration_) / 86400); ++d)
  {
    std::string full = TimelineClock(tl_, d * 86400.0 - tl_.start_second, true);
    js << (d ? "," : "") << JsString(full.substr(0, full.rfind(' ')));
  }
  js << "],shots:[";
  for(size_t k = 0; k < shots_.size(); ++k)
  {
    const Screenshot &s = tl_.screenshots[shots_[k]];
    js << (k ? "," : "") << "[" << Number(s.at) << "," << JsString(UrlPath(info_.screenshot_folder + "/" + s.file)) << "]";
  }
  js << "]};\n";
  js << R"JS(
function pad(n){return (n<10?'0':'')+n;}
function clock(t){var s=Math.floor(R.start+t),d=Math.floor(s/86400);s-=d*86400;
  var c=pad(Math.floor(s/3600))+':'+pad(Math.floor(s/60)%60)+':'+pad(s%60);
  return R.date&&R.days[d]?R.days[d]+' '+c:c;}
function last(list,t){var lo=0,hi=list.length-1,k=-1;
  while(lo<=hi){var m=(lo+hi)>>1;if(list[m]<=t){k=m;lo=m+1;}else hi=m-1;}return k;}
var svg=document.getElementById('tl'),cur=document.getElementById('cursor');
var img=document.getElementById('now-img'),cap=document.getElementById('now-cap'),full=document.getElementById('now-full');
var strip=document.getElementById('strip'),logBox=document.getElementById('log');
var shotTimes=R.shots.map(function(s){return s[0];});
var lines=logBox?Array.prototype.slice.call(logBox.querySelectorAll('.ln')):[];
var lineTimes=lines.map(function(l){return +l.getAttribute('data-t');});
var pinned=-1,marked=null,markedLine=null;
function timeAt(ev){var r=svg.getBoundingClientRect();
  var x=(ev.clientX-r.left)*svg.viewBox.baseVal.width/r.width;return (x-R.x0)/R.w*R.dur;}
function show(t){
  var x=R.x0+t/R.dur*R.w;cur.setAttribute('x1',x);cur.setAttribute('x2',x);cur.setAttribute('visibility','visible');
  var k=last(shotTimes,t);
  if(k<0){img.removeAttribute('src');img.style.visibility='hidden';
    cap.textContent=clock(t)+': nothing from Brimvale on the screen yet';}
  else{if(img.getAttribute('src')!==R.shots[k][1]){img.setAttribute('src',R.shots[k][1]);if(full)full.setAttribute('href',R.shots[k][1]);}
    img.style.visibility='visible';
    cap.textContent=clock(t)+': the screen as it was since '+clock(R.shots[k][0]);}
  return k;}
function pin(t){pinned=t;var k=show(t);
  if(marked)marked.classList.remove('now');marked=k>=0?document.getElementById('shot-'+k):null;
  if(marked){marked.classList.add('now');strip.scrollLeft=marked.offsetLeft-strip.clientWidth/2+marked.clientWidth/2;}
  var j=last(lineTimes,t);if(j<0&&lines.length)j=0;
  if(markedLine)markedLine.classList.remove('now');markedLine=j>=0?lines[j]:null;
  if(markedLine){markedLine.classList.add('now');logBox.scrollTop=markedLine.offsetTop-logBox.offsetTop-logBox.clientHeight/3;}}
svg.addEventListener('mousemove',function(ev){var t=timeAt(ev);if(t>=0&&t<=R.dur)show(t);});
svg.addEventListener('mouseleave',function(){if(pinned>=0)show(pinned);else cur.setAttribute('visibility','hidden');});
svg.addEventListener('click',function(ev){var t=timeAt(ev);if(t>=0&&t<=R.dur)pin(t);});
Array.prototype.forEach.call(document.querySelectorAll('.strip figure'),function(f){
  f.addEventListener('click',function(){pin(+f.getAttribute('data-t'));
    document.getElementById('timeline').scrollIntoView({behavior:'smooth'});});});
lines.forEach(function(l){l.addEventListener('click',function(){pin(+l.getAttribute('data-t'));});});
// Until a moment is chosen the preview shows the first picture, and no
// cursor hides what lies under it.
show(shotTimes.length?shotTimes[0]:0);cur.setAttribute('visibility','hidden');
document.body.setAttribute('data-ready','1');
// How long the page took to be read and laid out (reading offsetHeight lays
// it out now), for anyone checking a long run's report.
void document.body.offsetHeight;
document.body.setAttribute('data-drawn-ms',String(Math.round(performance.now())));
})();
)JS";
  return js.str();
}

const char *const kStyle = R"CSS(
:root{--ink:#1f2937;--muted:#6b7280;--line:#e5e7eb}
*{box-sizing:border-box}
body{margin:0;font:14px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;color:var(--ink);background:#f3f4f6}
main{max-width:1260px;margin:0 auto;padding:16px}
header h1{margin:0 0 2px;font-size:22px}
header .sub{color:var(--muted);margin:0 0 10px}
.facts{display:flex;flex-wrap:wrap;gap:6px 18px;margin:0;padding:0;list-style:none}
.facts b{color:var(--muted);font-weight:500;margin-right:4px}
section{background:#fff;border:1px solid var(--line);border-radius:8px;padding:12px 14px;margin:14px 0}
h2{font-size:16px;margin:0 0 8px}
h3{font-size:14px;margin:14px 0 6px}
table.sum.timers td,table.sum.timers th{text-align:left}
.tlwrap{overflow-x:auto}
svg text{font:11px "DejaVu Sans",system-ui,sans-serif;fill:#374151}
svg .axis text{fill:#4b5563}
svg .axis .day{font-weight:600}
svg .grid{stroke:#e9ecef;stroke-width:1}
svg .base{stroke:#3d4b63;stroke-width:1;shape-rendering:crispEdges}
svg .alt{fill:#f8f9fb}
svg .rowbg{fill:none}
svg .name{font-size:13px;font-weight:600;fill:#111827}
svg .addr{fill:#6b7280}
svg rect{shape-rendering:crispEdges}
svg .in{font-size:10px;fill:#374151;pointer-events:none}
svg .in.on{fill:#fff}
.s-up{fill:#cdebd5}.s-ref{fill:#ffd8a8}.s-sleep{fill:#c5cde0}.s-boot{fill:#ffe066}.s-out{fill:#f08080}
.m-on{fill:#2b8a3e}.m-part{fill:#8ccf9a}
.k-ping{stroke:#8d99a6;stroke-width:1;fill:none}
.k-noping{stroke:#e03131;stroke-width:1.5;fill:none}
.k-wake{stroke:#9775fa;stroke-width:1;fill:none}
.k-woke{fill:#7048e8}
.k-mnt{fill:#fff;stroke:#1b5e20;stroke-width:1.5}
.k-mfail{fill:#e03131;stroke:#fff;stroke-width:1}
.k-mref{fill:#f08c00;stroke:#fff;stroke-width:1}
.k-umnt{fill:#343a40}.k-ufail{fill:#e03131}
.k-refuse{fill:#c92a2a;stroke:#fff;stroke-width:1}
.k-start{fill:#2f9e44;stroke:#2f9e44;stroke-width:1.5}
.k-stop{fill:#495057;stroke:#495057;stroke-width:1.5}
.k-shot{fill:#1c7ed6}
.f-local{fill:#dee2e6}.f-nas{fill:#3b5bdb}
.t-rec{fill:#ae3ec9}.t-other{fill:#adb5bd}
.t-delay{stroke:#ae3ec9;stroke-width:1.5;stroke-dasharray:3 2}
.t-orig{fill:#fff;stroke:#ae3ec9;stroke-width:1.5}
#cursor{stroke:#e8590c;stroke-width:1.5;pointer-events:none}
.below{display:flex;gap:18px;align-items:flex-start;margin-top:8px;flex-wrap:wrap}
.legend{flex:1;min-width:420px;display:grid;grid-template-columns:repeat(auto-fill,minmax(190px,1fr));gap:3px 12px;font-size:12.5px}
.legend span{display:inline-block;width:22px;height:11px;margin-right:6px;vertical-align:-1px;border-radius:2px}
.legend i{display:inline-block;width:22px;text-align:center;margin-right:6px;font-style:normal;font-weight:700}
.hint{color:var(--muted);font-size:12.5px;grid-column:1/-1;margin-top:6px}
.preview{width:372px}
.preview img{display:block;width:360px;height:288px;background:#000;border-radius:4px}
.preview div{font-size:12.5px;color:var(--muted);margin-top:4px}
.strip{display:flex;gap:8px;overflow-x:auto;padding-bottom:6px}
.strip figure{margin:0;flex:0 0 auto;cursor:pointer;border:2px solid transparent;border-radius:5px;padding:2px}
.strip figure.now{border-color:#e8590c}
.strip img{display:block;background:#000;border-radius:3px}
.strip figcaption{font-size:12px;color:var(--muted);text-align:center}
.shot{overflow:hidden;background:#000;border-radius:3px}
.shot img{display:block;max-width:none;border-radius:0}
.preview .shot img{background:#000}
.strip figcaption a.full{color:#1c7ed6;text-decoration:none}
table.sum{border-collapse:collapse;font-variant-numeric:tabular-nums}
table.sum th,table.sum td{padding:4px 12px;border-bottom:1px solid var(--line);text-align:right}
table.sum th:first-child,table.sum td:first-child,table.sum th:nth-child(2),table.sum td:nth-child(2){text-align:left}
table.sum th{color:var(--muted);font-weight:600}
pre{margin:8px 0 0;font:12.5px/1.4 "DejaVu Sans Mono",monospace;white-space:pre-wrap}
.log{max-height:440px;overflow-y:auto;font:12.5px/1.5 "DejaVu Sans Mono",monospace;border-top:1px solid var(--line)}
.ln{padding:0 6px;white-space:pre-wrap;cursor:pointer}
.ln:nth-child(even){background:#fafafa}
.ln.now{background:#fff3bf}
.ln a{color:#1c7ed6;text-decoration:none;margin-right:10px}
.ln:target{background:#fff3bf}
.gap{color:var(--muted);padding:4px 6px;font-style:italic}
.note{color:var(--muted);font-size:12.5px;margin:6px 0}
)CSS";

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

std::string Page::Build()
{
  for(size_t k = 0; k < tl_.screenshots.size() && shots_.size() < kReportMaxShots; ++k) shots_.push_back(k);
  std::ostringstream out;
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
         "<link rel=\"icon\" href=\"data:,\"><title>Brimvale run: "
      << Escape(info_.title) << "</title><style>" << kStyle << CropStyle() << "</style></head>\n<body><main>\n";
  out << "<header><h1>Brimvale run: " << Escape(info_.title) << "</h1><p class=\"sub\">"
      << Escape(TimelineClock(tl_, 0, true)) << " \u2013 " << Escape(TimelineClock(tl_, duration_, true)) << ", "
      << Escape(Length(duration_)) << ", " << tl_.servers.size() << (tl_.servers.size() == 1 ? " server" : " servers")
      << "</p><ul class=\"facts\">";
  for(const auto &[label, value] : info_.facts)
    out << "<li><b>" << Escape(label) << "</b>" << Escape(value) << "</li>";
  out << "</ul></header>\n";
  out << "<section id=\"timeline\"><h2>Timeline</h2><div class=\"tlwrap\">" << Svg() << "</div>\n";
  out << "<div class=\"below\">" << Legend()
      << (info_.crop.w > 0
              ? "<div class=\"preview\"><a id=\"now-full\" title=\"the whole frame\"><div class=\"shot\"><img id=\"now-img\" "
                "alt=\"the screen at the chosen moment\"></div></a><div id=\"now-cap\"></div></div>"
              : "<div class=\"preview\"><img id=\"now-img\" alt=\"the screen at the chosen moment\"><div id=\"now-cap\"></div></div>")
      << "</div>" << Timers() << "</section>\n";
  out << "<section id=\"screen\"><h2>The screen, each time it changed</h2>" << Strip() << "</section>\n";
  out << "<section id=\"summary\"><h2>Summary</h2>" << Summary() << "</section>\n";
  out << "<section id=\"runlog\"><h2>Run log</h2>" << Log() << "</section>\n";
  out << "</main>\n<script>\nwindow.addEventListener('error',function(e){document.body.setAttribute('data-error',String(e.message));});\n"
      << Script() << "</script>\n</body></html>\n";
  return out.str();
}

}  // namespace

std::string ReportHtml(const RunTimeline &timeline, const ReportInfo &info)
{
  Page page(timeline, info);
  return page.Build();
}

bool WriteReportHtml(const RunTimeline &timeline, const ReportInfo &info, const std::string &path, std::string *error)
{
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << ReportHtml(timeline, info);
  out.close();
  if(!out)
  {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace sim
