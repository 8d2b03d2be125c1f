// The settings checker. The plug-in's own code does all the reading and
// composing: LoadINI fills the server table on a stand-in receiver exactly as
// at start-up, and the mount, ping and wake-up commands come from the same
// functions Mountit, isOnline and Wakeup call. The checker itself only looks
// at the file text to tell the owner what was written and where: keys left
// out, keys the plug-in does not know, lines it cannot use, numbers it
// forced into range. Every rule writes into the findings (check_findings.h);
// the report is printed from them only when all have run (check_text.cpp),
// by brimvale-sim and by the web page alike.
//
// This file reads the folder in start-up's order and runs the rules:
// check_files.cpp on the files' text, check_settings.cpp on each setting,
// check_commands.cpp on the commands composed from them.
#include "check.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

#include "../../app/Brimvale.h"
#include "../../app/settings.h"
#include "../../lib/ini/ini.h"
#include "../../lib/paths/paths.h"
#include "../../lib/str/str.h"
#include "../scenario/settings_folder.h"
#include "check_commands.h"
#include "check_files.h"
#include "check_findings.h"
#include "check_receiver.h"
#include "check_settings.h"

namespace {

using namespace sim::check;

// What TAP_Main names the local recordings' subfolder on an English receiver.

// Resets the plug-in's application state as a fresh load finds it.
void FreshState()
{
  INICloseFile();
  std::memset(ServerTable, 0, sizeof(ServerTable));
  lang = TAP_GetSystemVar(SYSVAR_LANGUAGE);
  TotalNAS = 0;
  tapexit = 0;
  Initialdelay = INITIAL_DELAY_SECONDS;
  NASRecord = Timerdelay = Silentmode = logfile = 0;
  isRec = 0;
  StrCopy(DFLocal, sizeof(DFLocal), LOCAL_RECORDINGS_NAME);
  SetServerDefaults();
}

// Brimvale.ini first, then 2.ini ... 9.ini, then any other file; by line in each.
std::vector<sim::CheckProblem> SortedProblems(const std::vector<sim::CheckProblem> &problems)
{
  auto rank = [](const sim::CheckProblem &p) {
    int n = p.file == MAIN_INI_NAME ? 1 : ServerFileNumber(p.file);
    return std::make_tuple(n == 0 ? INT_MAX : n, p.file, p.line);
  };
  std::vector<sim::CheckProblem> sorted = problems;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [&](const sim::CheckProblem &a, const sim::CheckProblem &b) { return rank(a) < rank(b); });
  return sorted;
}

class Checker {
 public:
  explicit Checker(const std::string &folder) : folder_(folder) {}
  // Files already read (a scenario's settings): shown as `name`.
  Checker(const std::string &name, const sim::SettingsFolder &files) : folder_(name), given_(&files) {}

  // Every rule, into the findings; nothing is printed here.
  const sim::CheckFindings &Collect()
  {
    found_.folder = folder_;
    if(ListFolder())
    {
      found_.listed = true;
      CheckOnReceiver();
    }
    found_.ignored = ignored_;
    found_.warnings = report_.warnings();
    found_.problems = SortedProblems(report_.problems());
    return found_;
  }

 private:
  void Unreadable(const std::string &why) { found_.unreadable = why; }

  // The folder through the reader `run` uses too: only regular files (or
  // links to one beside them) of a sensible size; anything else under a
  // settings file's name is a problem and is not read.
  bool ListFolder()
  {
    sim::SettingsFolder read;
    if(given_ == nullptr)
    {
      std::string error;
      if(!sim::ReadSettingsFolder(folder_, &read, &error))
      {
        Unreadable(error);
        return false;
      }
    }
    const sim::SettingsFolder &folder = given_ != nullptr ? *given_ : read;
    names_ = folder.names;
    for(const auto &[name, text] : folder.files)
      if(sim::IsSettingsFileName(name)) texts_[name] = text;
    for(const auto &[name, why] : folder.problems)
    {
      int n = name == MAIN_INI_NAME ? 1 : ServerFileNumber(name);
      report_.Add(name, 0, n, "", why);
    }
    return true;
  }

  void CheckOnReceiver()
  {
    sim::CheckReceiver receiver;
    std::string error;
    if(!receiver.Start(texts_, &error))
    {
      Unreadable(error);
      return;
    }
    FreshState();
    HDD_ChangeDir(SETTINGS_FOLDER);
    if(texts_.count(MAIN_INI_NAME))
      CheckSettings();
    else
      MissingMainFile(receiver);
    INICloseFile();
  }

  // What start-up does without Brimvale.ini: write one from the defaults and end.
  void MissingMainFile(const sim::CheckReceiver &receiver)
  {
    report_.Add(MAIN_INI_NAME, 0, 1, "",
                "missing: the plug-in writes a new Brimvale.ini from its defaults, asks for it to be edited and "
                "ends without mounting anything");
    for(const std::string &name : names_)
      if(Lower(name) == Lower(MAIN_INI_NAME))
        report_.Add(name, 0, 0, "", "not read: file names are case-sensitive on the receiver; call it Brimvale.ini");
    for(const auto &entry : texts_)
      report_.Add(entry.first, 0, 0, "", "not read: without Brimvale.ini the plug-in reads no other settings file");
    if(LoadINI(MAIN_INI_NAME, 1) != 0) return;
    std::string written;
    receiver.ReadSettingsFile(MAIN_INI_NAME, &written);
    std::vector<std::string> &shown = found_.default_file.emplace();
    std::istringstream lines(written);
    for(std::string line; std::getline(lines, line);)
    {
      if(!line.empty() && line.back() == '\r') line.pop_back();
      shown.push_back(line);
    }
  }

  void CheckSettings()
  {
    if(!ReadFiles()) return;
    for(const FileText &f : files_) f.CheckLines(AllKeys(), f.server() == 1, &report_);
    CheckFileNames(names_, TotalNAS, &report_, &ignored_);
    CheckStartUp(files_, &report_);

    for(int n = 1; n <= TotalNAS; ++n)
      found_.files_read.push_back(FileOfServer(n) + (n == 1 ? " (server 1 and the global settings)" : ""));
    ListGlobals(files_[0], &report_, &found_.globals);
    found_.globals.network_check = NetworkCheckCommand();
    for(const FileText &file : files_) CheckServerFile(file);
  }

  // Server 1 and the global settings, then 2.ini ... up to the first gap,
  // as start-up reads them: the plug-in's LoadINI fills the server table.
  bool ReadFiles()
  {
    if(!ReadFile(MAIN_INI_NAME, 1)) return false;
    LoadINI(MAIN_INI_NAME, 1);
    TotalNAS = 1;
    while(TotalNAS < MAX_SERVERS)
    {
      int n = TotalNAS + 1;
      HDD_ChangeDir(SETTINGS_FOLDER);
      StrFormat(ininum, sizeof(ininum), SERVER_INI_FORMAT, n);
      if(!TAP_Hdd_Exist(ininum)) break;
      if(!ReadFile(ininum, n)) return false;
      HDD_ChangeDir(SETTINGS_FOLDER);
      LoadINI(ininum, n);
      TotalNAS = n;
    }
    return true;
  }

  bool ReadFile(const std::string &name, int server)
  {
    HDD_ChangeDir(SETTINGS_FOLDER);
    FileText file(name, server);
    if(!file.Read(AllKeys(), texts_[name].size()))
    {
      Unreadable("the plug-in's INI store cannot read " + name);
      return false;
    }
    files_.push_back(file);
    return true;
  }

  // A server's settings, the values its commands would refuse and the commands.
  void CheckServerFile(const FileText &file)
  {
    const ServerRecord &s = ServerTable[file.server()];
    sim::CheckServer &server = found_.servers.emplace_back();
    server.n = file.server();
    server.file = file.name();
    server.boot_time = s.bootTime;
    server.ping_gap = s.pingGap;
    ListServerSettings(file, &report_, &server.settings);
    CheckCommandValues(file, &report_);
    ComposeCommands(file, &report_, &server);
  }

  std::string folder_;
  const sim::SettingsFolder *given_ = nullptr;
  sim::CheckFindings found_;
  std::set<std::string> names_;
  std::map<std::string, std::string> texts_;  // the files start-up may read
  std::vector<std::string> ignored_;
  Report report_;
  std::vector<FileText> files_;  // the files read, server 1 first
};

}  // namespace

int CheckSettingsFolder(const std::string &folder, std::ostream &out)
{
  Checker checker(folder);
  const sim::CheckFindings &found = checker.Collect();
  sim::PrintCheckFindings(found, out);
  return sim::CheckStatus(found);
}

SettingsCheck CheckSettingsFiles(const std::string &name, const sim::SettingsFolder &files)
{
  Checker checker(name, files);
  const sim::CheckFindings &found = checker.Collect();
  SettingsCheck result;
  result.status = sim::CheckStatus(found);
  if(result.status == kCheckUnreadable)
  {
    std::ostringstream report;
    sim::PrintCheckFindings(found, report);
    result.problems.push_back(report.str());
  }
  for(const sim::CheckProblem &p : found.problems) result.problems.push_back(sim::ProblemPlace(p) + ": " + p.text);
  result.warnings = found.warnings;
  for(int n = 1; n <= TotalNAS; ++n) result.addresses.push_back(ServerTable[n].address);
  return result;
}
