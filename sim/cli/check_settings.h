// The rules `check` applies to each setting once the plug-in's own LoadINI
// has read it into the server table: the value it uses, where it came from,
// what it cut or forced into range, and the values start-up or a command
// line would refuse.
#pragma once

#include <string>
#include <vector>

#include "check_files.h"
#include "check_findings.h"

namespace sim::check {

// The checks start-up makes once every file is read; `files`: server 1's first.
void CheckStartUp(const std::vector<FileText> &files, Report *report);
// The global settings as the plug-in uses them, read from Brimvale.ini.
void ListGlobals(const FileText &main_file, Report *report, CheckGlobals *globals);
// The settings of `file`'s server as the plug-in uses them.
void ListServerSettings(const FileText &file, Report *report, std::vector<CheckSetting> *settings);
// Every value of `file`'s server the plug-in would refuse to put into a
// command line, each on its own (the plug-in stops at the first one of a command).
void CheckCommandValues(const FileText &file, Report *report);

}  // namespace sim::check
