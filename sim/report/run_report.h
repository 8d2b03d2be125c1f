// report.html for a finished run: the run's trace and run log drawn as a
// timeline, with its screenshots, summary and log (timeline.h, report_html.h).
#pragma once

#include <string>

#include <vector>

#include "report_html.h"
#include "timeline.h"

namespace sim {

class Receiver;
class RunRecord;
struct Scenario;
struct TimerTableImage;

// The part of the pictures `files` in `dir` where anything but black was
// drawn, over all of them, with a margin: what the report's strip shows.
// w == 0 when nothing was (or none could be read).
ReportCrop DrawnPart(const std::string &dir, const std::vector<std::string> &files);

// What the timeline knows before the run: its servers, start and length.
TimelineInput TimelineStart(const Scenario &scenario, Receiver &receiver);

// Writes `folder`/report.html from what the run left in `folder` (run log
// and its older part, summary.txt, screenshots) and what `record` gathered
// of the trace; false with a reason.
bool WriteRunReport(const Scenario &scenario, Receiver &receiver, RunRecord &record,
                    const TimerTableImage &timers_before, int main_result, const std::string &folder,
                    std::string *error);

}  // namespace sim
