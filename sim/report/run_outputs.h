// The text outputs of a finished run: the plug-in's logs copied out, the
// folder tree with the mount table (tree.txt), the timer table before and
// after (timers.txt) and a line per server and per timer (summary.txt).
#pragma once

#include <string>

namespace sim {

class Receiver;
class RunRecord;
struct Scenario;
struct TimerTableImage;

// The output files of a finished run, written into `folder` beside the
// commands.txt that `record` wrote; ends the record.
bool WriteRunOutputs(const Scenario &scenario, Receiver &receiver, RunRecord &record,
                     const TimerTableImage &timers_before, int main_result, const std::string &folder,
                     std::string *error);

}  // namespace sim
