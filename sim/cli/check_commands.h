// The command lines `check` shows for each server: composed by the very
// functions the plug-in's ping, wake-up and mount use, from the server table
// LoadINI filled; a command that would not fit its buffer is a problem.
#pragma once

#include <string>

#include "check_files.h"
#include "check_findings.h"

namespace sim::check {

// "MediaFiles" ... for the share RF_*.
std::string ShareName(int share);
// The internet probe's ping start-up runs when MountDelay is 0, in UTF-8, or "".
std::string NetworkCheckCommand();
// The ping, wake-up and mount commands of `file`'s server, into `server`.
void ComposeCommands(const FileText &file, Report *report, CheckServer *server);

}  // namespace sim::check
