// report.html for a finished run: the run's trace and run log drawn as a
// timeline, with its screenshots, summary and log (timeline.h, report_html.h).
#pragma once

#include <string>

namespace sim {

class Receiver;
struct Scenario;
struct TimerTableImage;

// Writes `folder`/report.html from what the run left in `folder` (run log,
// summary.txt, screenshots) and the receiver's trace; false with a reason.
bool WriteRunReport(const Scenario &scenario, Receiver &receiver, const TimerTableImage &timers_before,
                    int main_result, const std::string &folder, std::string *error);

}  // namespace sim
