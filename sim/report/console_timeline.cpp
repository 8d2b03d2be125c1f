// The console timeline: the run log's lines and the trace's commands,
// network, events and screen changes, one line each with the receiver's
// local time.
#include "console_timeline.h"

#include <time.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "../receiver/latin1.h"
#include "../receiver/receiver.h"
#include "run_record.h"

namespace sim {

namespace {

using Lines = std::vector<std::pair<const char *, std::string>>;

// Prints lines of the timeline: after clearing the progress line, written
// out ten times a second at most.
class TimelinePrinter {
 public:
  TimelinePrinter(Receiver &receiver, std::FILE *out, std::FILE *progress_stream, bool *progress_shown)
      : receiver_(receiver), out_(out), progress_stream_(progress_stream), progress_shown_(progress_shown) {}

  void Print(const Lines &lines)
  {
    if(lines.empty()) return;
    if(progress_shown_ != nullptr && *progress_shown_)
    {
      std::fputs("\r\033[K", progress_stream_);
      std::fflush(progress_stream_);
      *progress_shown_ = false;
    }
    for(const auto &[kind, text] : lines)
      std::fprintf(out_, "%s  %-8s %s\n", receiver_.clock().LocalText().c_str(), kind, text.c_str());
    // Out ten times a second: a day prints 130,000 lines, and a write each
    // would cost more than the run. The progress line and the end of the
    // run write out the rest.
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    int64_t ms = static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    if(ms - last_flush_ms_ >= 100)
    {
      std::fflush(out_);
      last_flush_ms_ = ms;
    }
  }

 private:
  Receiver &receiver_;
  std::FILE *out_;
  std::FILE *progress_stream_;
  bool *progress_shown_;
  int64_t last_flush_ms_ = 0;
};

// Each line of the run log, as the plug-in writes it, without its time.
Lines RunLogLines(const char *bytes, size_t n)
{
  Lines lines;
  std::istringstream added(std::string(bytes, n));
  for(std::string line; std::getline(added, line);)
  {
    while(!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    size_t arrow = line.find(" -> ");
    lines.emplace_back("log", Latin1ToUtf8(arrow == std::string::npos ? line : line.substr(arrow + 4)));
  }
  return lines;
}

// The timeline's line for a trace entry, if it has one. `texts` collects
// what is drawn until the screen changes.
Lines TraceLines(const TraceEntry &e, std::vector<std::string> *texts)
{
  Lines lines;
  switch(e.kind)
  {
    case TraceKind::kShell:
      lines.emplace_back("command", e.text + (e.error.empty() ? "" : " (" + Latin1ToUtf8(e.error) + ")"));
      break;
    case TraceKind::kNetwork: lines.emplace_back("network", e.text); break;
    case TraceKind::kEvent: lines.emplace_back("event", e.text); break;
    case TraceKind::kSystem: lines.emplace_back("system", e.text); break;
    case TraceKind::kPrint: lines.emplace_back("print", e.text); break;
    case TraceKind::kTerminal: lines.emplace_back("terminal", e.text); break;
    case TraceKind::kLoader:
      // The plug-in's own lookups of firmware objects are routine; failures are not.
      if(e.text != "dlopen(NULL)") lines.emplace_back("loader", e.text);
      break;
    case TraceKind::kOsd:
    {
      size_t quote = e.text.find(") \"");
      if(e.text.rfind("TAP_Osd_PutS(", 0) == 0 && quote != std::string::npos)
        texts->push_back(e.text.substr(quote + 2));
      else if(e.text.rfind("TAP_Osd_Sync -> ", 0) == 0)
      {
        std::string line = e.text.substr(16);
        for(const std::string &t : *texts) line += "  " + Latin1ToUtf8(t);
        texts->clear();
        lines.emplace_back("screen", line);
      }
      break;
    }
    default: break;
  }
  return lines;
}

}  // namespace

void PrintTimeline(Receiver &receiver, std::FILE *out, std::FILE *progress_stream, bool *progress_shown)
{
  if(out == nullptr)
  {
    receiver.trace().SetListener(nullptr);
    receiver.disk().WatchWrites("", nullptr);
    return;
  }
  auto printer = std::make_shared<TimelinePrinter>(receiver, out, progress_stream, progress_shown);
  std::string log_host;
  if(receiver.disk().HostPath(kRunLogPath, "/", &log_host))
    receiver.disk().WatchWrites(log_host,
                                [printer](const char *bytes, size_t n) { printer->Print(RunLogLines(bytes, n)); });

  auto texts = std::make_shared<std::vector<std::string>>();  // drawn since the last change of the screen
  // Disk calls and memory are not shown: building their entries would cost
  // more than the rest of the run.
  receiver.trace().ListenOnly({TraceKind::kShell, TraceKind::kOsd, TraceKind::kSystem, TraceKind::kPrint,
                               TraceKind::kTerminal, TraceKind::kLoader, TraceKind::kEvent, TraceKind::kNetwork});
  receiver.trace().SetListener([printer, texts](const TraceEntry &e) { printer->Print(TraceLines(e, texts.get())); });
}

}  // namespace sim
