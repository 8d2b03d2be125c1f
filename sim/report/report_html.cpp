// report.html as a page: its head and style, the sections in order (the
// timeline with its legend and timers, the screenshots, the summary table,
// the run log) and the script that ties them to a moment on hover.
#include "report_html.h"

#include <cstdio>
#include <fstream>
#include <map>

#include "report_html_page.h"

namespace sim {

namespace html {

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

namespace {

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

}  // namespace

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

}  // namespace html

std::string ReportHtml(const RunTimeline &timeline, const ReportInfo &info)
{
  html::Page page(timeline, info);
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
