// The settings checker. The plug-in's own code does all the reading and
// composing: LoadINI fills the server table on a stand-in receiver exactly as
// at start-up, and the mount, ping and wake-up commands come from the same
// functions Mountit, isOnline and Wakeup call. The checker itself only looks
// at the file text to tell the owner what was written and where: keys left
// out, keys the plug-in does not know, lines it cannot use, numbers it
// forced into range. Every rule writes into the findings (check_findings.h);
// the report is printed from them only when all have run (check_text.cpp),
// by brimvale-sim and by the web page alike.
#include "check.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

#include "../../app/Brimvale.h"
#include "../../app/command.h"
#include "../../app/mount.h"
#include "../../app/probe.h"
#include "../../app/settings.h"
#include "../../lib/ini/ini.h"
// INIBuffer: the text the store reads, to say on which line an entry was found.
#include "../../lib/ini/ini_internal.h"
#include "../../lib/paths/paths.h"
#include "../../lib/str/str.h"
#include "../receiver/latin1.h"
#include "check_findings.h"
#include "check_receiver.h"
#include "../scenario/settings_folder.h"

namespace {

const char *const kShareNames[REMOTE_FOLDER_COUNT] = {"MediaFiles", "MP3Files", "PhotoFiles", "DataFiles"};
// What TAP_Main names the local recordings' subfolder on an English receiver.
const char kLocalRecordings[] = "DataFiles local";
// Large enough for any command the settings can make, to tell its length.
constexpr size_t kUnboundedCommand = 8192;

enum class Kind { kText, kNumber };

struct KeyInfo {
  std::string key;
  Kind kind;
  bool global;  // read from Brimvale.ini only
};

std::vector<KeyInfo> ServerKeys()
{
  std::vector<KeyInfo> keys = {{KEY_ADDRESS, Kind::kText, false},
                               {KEY_MAC, Kind::kText, false},
                               {KEY_LOCAL_NAME, Kind::kText, false}};
  for(const char *key : RemoteFolderKeys) keys.push_back({key, Kind::kText, false});
  keys.push_back({KEY_MOUNT_OPTIONS, Kind::kText, false});
  for(const char *key : {KEY_BOOT_TIME, KEY_AUTO_MOUNT, KEY_PING_WAIT, KEY_PING_GAP})
    keys.push_back({key, Kind::kNumber, false});
  return keys;
}

std::vector<KeyInfo> GlobalKeys()
{
  std::vector<KeyInfo> keys;
  for(const char *key : {KEY_NAS_RECORDING, KEY_TIMER_DELAY, KEY_MOUNT_DELAY, KEY_SILENT_MODE, KEY_LOGFILE})
    keys.push_back({key, Kind::kNumber, true});
  return keys;
}

std::vector<KeyInfo> AllKeys()
{
  std::vector<KeyInfo> keys = ServerKeys();
  for(const KeyInfo &k : GlobalKeys()) keys.push_back(k);
  return keys;
}

std::string Lower(std::string text)
{
  for(char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Text as it can be shown on a terminal, in quotes so blanks at either end
// show; quotes, backslashes and control bytes escaped as in C, letters as
// the receiver shows them (ISO 8859-1).
std::string Shown(const std::string &text)
{
  std::string out = "\"";
  for(unsigned char c : text)
  {
    if(c < 0x20 || (c >= 0x7f && c < 0xA0))
    {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02x", c);
      out += hex;
    }
    else if(c == '"' || c == '\\')
      out += std::string("\\") + static_cast<char>(c);
    else
      out += sim::Latin1ToUtf8(std::string(1, static_cast<char>(c)));
  }
  return out + "\"";
}

size_t EditDistance(const std::string &a, const std::string &b)
{
  std::vector<size_t> row(b.size() + 1);
  for(size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for(size_t i = 1; i <= a.size(); ++i)
  {
    size_t diagonal = row[0];
    row[0] = i;
    for(size_t j = 1; j <= b.size(); ++j)
    {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The known key an unknown one was probably meant to be, or "".
std::string Suggestion(const std::string &written)
{
  auto squeeze = [](const std::string &text) {
    std::string out;
    for(char c : Lower(text))
      if(c != ' ' && c != '-' && c != '_' && c != '\t') out += c;
    return out;
  };
  std::string best;
  size_t best_distance = 3;  // at most two slips
  for(const KeyInfo &k : AllKeys())
  {
    if(squeeze(written) == squeeze(k.key)) return k.key;
    size_t d = EditDistance(Lower(written), Lower(k.key));
    if(d < best_distance) best = k.key, best_distance = d;
  }
  return best;
}

// A host name the plug-in accepts that reads like a dotted quad with a
// letter typed for a digit: four parts of one to three digits or the
// letters taken for them (O o for 0, l I for 1), 192.168.1.1O.
bool LooksLikeMistypedAddress(const std::string &name)
{
  std::string text = name;
  if(!text.empty() && text.back() == '.') text.pop_back();
  int parts = 0;
  size_t at = 0;
  for(;;)
  {
    size_t dot = text.find('.', at);
    std::string part = text.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
    if(part.empty() || part.size() > 3 || part.find_first_not_of("0123456789OolI") != std::string::npos) return false;
    ++parts;
    if(dot == std::string::npos) break;
    at = dot + 1;
  }
  return parts == 4 && text.find_first_not_of("0123456789.") != std::string::npos;
}

using Problem = sim::CheckProblem;

class Report {
 public:
  void Add(const std::string &file, int line, int server, const std::string &key, const std::string &text)
  {
    for(const Problem &p : problems_)
      if(p.file == file && p.line == line && p.server == server && p.key == key && p.text == text) return;
    problems_.push_back({file, line, server, key, text});
  }
  const std::vector<Problem> &problems() const { return problems_; }
  // What the receiver copes with but the owner should know; not a problem.
  void Warn(const std::string &text) { warnings_.push_back(text); }
  const std::vector<std::string> &warnings() const { return warnings_; }

 private:
  std::vector<Problem> problems_;
  std::vector<std::string> warnings_;
};

const char kByteOrderMark[] = "\xEF\xBB\xBF";

// Where the plug-in's INI store finds a key in an open file.
struct Entry {
  bool found = false;
  int line = 0;           // 1-based
  bool own_line = false;  // the line starts with this key and "="
  std::string written;    // as written, blanks and all
  bool trimmed = false;   // the plug-in drops blanks or tabs around it
  std::string value;      // as the plug-in reads it (trimmed), not cut
  bool number = false;    // a plain decimal the store takes
  int unclamped = 0;
};

struct Line {
  size_t begin, end;  // offsets in the text; end is the line break
};

// One settings file as the store sees it: the text up to its first zero byte,
// with a line break added at the end when it lacked one.
class FileText {
 public:
  FileText(const std::string &name, int server) : name_(name), server_(server) {}

  // Opens the file in the store (the current folder must be the settings
  // folder) and finds every key. False when the store could not open it.
  bool Read(const std::vector<KeyInfo> &keys)
  {
    IniLocation location = INIOpenFile(name_.c_str(), APP_FOLDER_NAME);
    if(location == IniLoc_None || location == IniLoc_New || INIBuffer == nullptr)
    {
      INICloseFile();
      return false;
    }
    text_ = INIBuffer;
    SplitLines();
    // Where each key stands is found in the text as written; its value as
    // LoadINI reads it, after the plug-in's own trimming of every key.
    for(const KeyInfo &k : keys) entries_[k.key] = Find(k);
    for(const KeyInfo &k : keys) entries_[k.key].trimmed = TrimSettingValue(k.key.c_str()) == 1;
    for(const KeyInfo &k : keys) ReadValue(k, &entries_[k.key]);
    INICloseFile();
    return true;
  }

  const std::string &name() const { return name_; }
  int server() const { return server_; }
  const Entry &entry(const std::string &key) const { return entries_.at(key); }

  // The lines the store cannot use or would use in a way the owner did not
  // mean, and keys that do not belong in this file.
  void CheckLines(const std::vector<KeyInfo> &keys, bool main_file, Report *report) const
  {
    std::map<std::string, const KeyInfo *> known;
    for(const KeyInfo &k : keys) known[Lower(k.key)] = &k;
    for(size_t n = 0; n < lines_.size(); ++n)
    {
      int number = static_cast<int>(n) + 1;
      std::string line = LineText(n);
      // A Windows editor's byte-order mark: the store reads past it, and so
      // does the check (it is warned about once, below).
      if(n == 0 && line.compare(0, 3, kByteOrderMark) == 0) line.erase(0, 3);
      size_t first = line.find_first_not_of(" \t");
      if(first == std::string::npos) continue;
      if(line[first] == '#' || line[first] == ';') continue;  // matches inside are reported below
      size_t equals = line.find('=');
      if(equals == std::string::npos)
      {
        report->Add(name_, number, server_, "",
                    "not a key=value line, ignored: " + Shown(line) + " (start a comment with #)");
        continue;
      }
      std::string key = line.substr(0, equals);
      auto k = known.find(Lower(key));
      if(k == known.end())
      {
        std::string hint;
        std::string trimmed = key;
        trimmed.erase(0, trimmed.find_first_not_of(" \t"));
        trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
        auto t = known.find(Lower(trimmed));
        if(t != known.end())
          hint = ": blanks around the key are part of it; write \"" + t->second->key + "=\"";
        else if(std::string s = Suggestion(key); !s.empty())
          hint = ": did you mean \"" + s + "\"?";
        report->Add(name_, number, server_, key, "unknown key, ignored" + hint);
        continue;
      }
      const KeyInfo &info = *k->second;
      const Entry &e = entries_.at(info.key);
      if(e.found && e.line != number)
        report->Add(name_, number, server_, info.key,
                    "set again, ignored: the plug-in uses the first entry, line " + std::to_string(e.line));
      else if(info.global && !main_file)
        report->Add(name_, number, server_, info.key, "ignored: this setting is read from Brimvale.ini only");
      else if(e.trimmed)
        report->Add(name_, number, server_, info.key,
                    "blanks or tabs around the value " + Shown(e.written) + ": the plug-in drops them and reads " +
                        Shown(e.value));
    }
    // The store finds "key=" anywhere that no "#" or ";" stands right before it.
    for(const KeyInfo &k : keys)
    {
      const Entry &e = entries_.at(k.key);
      if(e.found && !e.own_line)
        report->Add(name_, e.line, server_, k.key,
                    "read from inside the line " + Shown(LineText(static_cast<size_t>(e.line) - 1)) +
                        " (the value " + Shown(e.value) + " is used; a comment needs # or ; directly before the key)");
    }
    if(text_.size() < file_size_)
      report->Add(name_, static_cast<int>(lines_.size()), server_, "",
                  "the file holds a zero byte: nothing after it is read");
    if(text_.compare(0, 3, kByteOrderMark) == 0)
      report->Warn(name_ + " begins with a UTF-8 byte-order mark, which the receiver does not expect (it is "
                           "skipped here): save the file without it (\"UTF-8 without BOM\" or \"ANSI\")");
  }

  void set_file_size(size_t size) { file_size_ = size; }

 private:
  void SplitLines()
  {
    size_t begin = 0;
    while(begin < text_.size())
    {
      size_t end = text_.find_first_of("\r\n", begin);
      if(end == std::string::npos)
      {
        lines_.push_back({begin, text_.size()});
        break;
      }
      lines_.push_back({begin, end});
      begin = end + (text_.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
  }

  std::string LineText(size_t n) const { return text_.substr(lines_[n].begin, lines_[n].end - lines_[n].begin); }

  size_t LineOf(size_t offset) const
  {
    size_t n = 0;
    while(n + 1 < lines_.size() && lines_[n + 1].begin <= offset) ++n;
    return n;
  }

  Entry Find(const KeyInfo &k) const
  {
    Entry e;
    std::string entry_key = k.key + "=";
    char *start = nullptr, *end = nullptr;
    INIFindStartEnd(entry_key.c_str(), &start, &end, BufferSize);
    if(start == nullptr) return e;
    e.found = true;
    size_t offset = static_cast<size_t>(start - INIBuffer);
    size_t line = LineOf(offset);
    e.line = static_cast<int>(line) + 1;
    // A byte-order mark before the first key does not hide it.
    size_t line_begin = lines_[line].begin;
    if(line == 0 && text_.compare(0, 3, "\xEF\xBB\xBF") == 0) line_begin = 3;
    e.own_line = offset == line_begin;
    const char *value = start + entry_key.size();
    if(end != nullptr && end >= value) e.written.assign(value, static_cast<size_t>(end - value) + 1);
    return e;
  }

  void ReadValue(const KeyInfo &k, Entry *entry) const
  {
    Entry &e = *entry;
    if(!e.found) return;
    std::string entry_key = k.key + "=";
    char *start = nullptr, *end = nullptr;
    INIFindStartEnd(entry_key.c_str(), &start, &end, BufferSize);
    const char *value = start != nullptr ? start + entry_key.size() : nullptr;
    if(value != nullptr && end != nullptr && end >= value) e.value.assign(value, static_cast<size_t>(end - value) + 1);
    if(k.kind == Kind::kNumber)
    {
      // Two different defaults tell "not a number" from a number.
      int a = INIGetInt(k.key.c_str(), 0, INT_MIN, INT_MAX);
      int b = INIGetInt(k.key.c_str(), 1, INT_MIN, INT_MAX);
      e.number = a == b;
      e.unclamped = a;
    }
  }

  std::string name_;
  int server_;
  std::string text_;
  size_t file_size_ = 0;
  std::vector<Line> lines_;
  std::map<std::string, Entry> entries_;
};

// "N.ini" with N written without leading zeros: N, else 0.
int ServerFileNumber(const std::string &name)
{
  if(name.size() < 5 || name.compare(name.size() - 4, 4, ".ini") != 0) return 0;
  std::string digits = name.substr(0, name.size() - 4);
  if(digits.empty() || digits.size() > 6 || digits[0] == '0') return 0;
  for(char c : digits)
    if(!std::isdigit(static_cast<unsigned char>(c))) return 0;
  return std::stoi(digits);
}

std::string FileOfServer(int n) { return n == 1 ? MAIN_INI_NAME : std::to_string(n) + ".ini"; }

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
  StrCopy(DFLocal, sizeof(DFLocal), kLocalRecordings);
  SetServerDefaults();
}

class Checker {
 public:
  Checker(const std::string &folder, std::ostream &out) : folder_(folder), out_(out) {}
  // Files already read (a scenario's settings): shown as `name`.
  Checker(const std::string &name, const sim::SettingsFolder &files, std::ostream &out)
      : folder_(name), out_(out), given_(&files)
  {
  }

  // Every rule first, into the findings; then the report.
  int Run()
  {
    found_.folder = folder_;
    if(ListFolder())
    {
      found_.listed = true;
      CheckOnReceiver();
    }
    sim::PrintCheckFindings(found_, out_);
    return sim::CheckStatus(found_);
  }

 private:
  int Unreadable(const std::string &why)
  {
    found_.unreadable = why;
    return kCheckUnreadable;
  }

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

 public:
  // The problems as the report lists them, in its order.
  std::vector<std::string> ProblemLines() const
  {
    std::vector<std::string> lines;
    for(const Problem &p : SortedProblems()) lines.push_back(sim::ProblemPlace(p) + ": " + p.text);
    return lines;
  }
  const std::vector<std::string> &Warnings() const { return report_.warnings(); }

 private:

  int CheckOnReceiver()
  {
    sim::CheckReceiver receiver;
    std::string error;
    if(!receiver.Start(texts_, &error)) return Unreadable(error);
    FreshState();
    HDD_ChangeDir(SETTINGS_FOLDER);
    int status = texts_.count(MAIN_INI_NAME) ? CheckSettings() : MissingMainFile(receiver);
    INICloseFile();
    return status;
  }

  // What start-up does without Brimvale.ini: write one from the defaults and end.
  int MissingMainFile(const sim::CheckReceiver &receiver)
  {
    report_.Add(MAIN_INI_NAME, 0, 1, "",
                "missing: the plug-in writes a new Brimvale.ini from its defaults, asks for it to be edited and "
                "ends without mounting anything");
    for(const std::string &name : names_)
      if(Lower(name) == Lower(MAIN_INI_NAME))
        report_.Add(name, 0, 0, "", "not read: file names are case-sensitive on the receiver; call it Brimvale.ini");
    for(const auto &entry : texts_)
      report_.Add(entry.first, 0, 0, "", "not read: without Brimvale.ini the plug-in reads no other settings file");
    if(LoadINI(MAIN_INI_NAME, 1) == 0)
    {
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
    return Finish();
  }

  int CheckSettings()
  {
    std::vector<FileText> &files = files_;
    // Server 1 and the global settings, then 2.ini ... up to the first gap,
    // as start-up reads them.
    if(!ReadFile(MAIN_INI_NAME, 1, &files)) return kCheckUnreadable;
    LoadINI(MAIN_INI_NAME, 1);
    TotalNAS = 1;
    while(TotalNAS < MAX_SERVERS)
    {
      int n = TotalNAS + 1;
      HDD_ChangeDir(SETTINGS_FOLDER);
      StrFormat(ininum, sizeof(ininum), SERVER_INI_FORMAT, n);
      if(!TAP_Hdd_Exist(ininum)) break;
      if(!ReadFile(ininum, n, &files)) return kCheckUnreadable;
      HDD_ChangeDir(SETTINGS_FOLDER);
      LoadINI(ininum, n);
      TotalNAS = n;
    }
    for(const FileText &f : files) f.CheckLines(AllKeys(), f.server() == 1, &report_);
    CheckFileNames();
    CheckStartUp();

    for(int n = 1; n <= TotalNAS; ++n)
      found_.files_read.push_back(FileOfServer(n) + (n == 1 ? " (server 1 and the global settings)" : ""));
    ShowGlobals(files[0]);
    for(int n = 1; n <= TotalNAS; ++n) ShowServer(n, files[static_cast<size_t>(n) - 1]);
    return Finish();
  }

  bool ReadFile(const std::string &name, int server, std::vector<FileText> *files)
  {
    HDD_ChangeDir(SETTINGS_FOLDER);
    FileText file(name, server);
    if(!file.Read(AllKeys()))
    {
      Unreadable("the plug-in's INI store cannot read " + name);
      return false;
    }
    file.set_file_size(texts_[name].size());
    files->push_back(file);
    return true;
  }

  // A problem with a setting of server n, at the line it was read from.
  void AddFor(int n, const std::string &key, const std::string &text)
  {
    const FileText &file = files_[static_cast<size_t>(n) - 1];
    report_.Add(file.name(), file.entry(key).line, n, key, text);
  }

  // Files in the folder that start-up never reads.
  void CheckFileNames()
  {
    for(const std::string &name : names_)
    {
      int n = ServerFileNumber(name);
      if(name == MAIN_INI_NAME || (n >= 2 && n <= TotalNAS)) continue;
      if(n >= 2 && n <= MAX_SERVERS)
        report_.Add(name, 0, n, "",
                    "not read: " + std::to_string(TotalNAS + 1) +
                        ".ini is missing, and the plug-in stops looking at the first missing number");
      else if(n > MAX_SERVERS)
        report_.Add(name, 0, 0, "", "not read: the plug-in reads at most 2.ini to 9.ini");
      else if(n == 1)
        report_.Add(name, 0, 0, "", "not read: server 1's settings belong in Brimvale.ini");
      else if(Lower(name) == Lower(MAIN_INI_NAME) || ServerFileNumber(Lower(name)) != 0)
        report_.Add(name, 0, 0, "", "not read: file names are case-sensitive on the receiver");
      else if(Lower(name).size() > 4 && Lower(name).compare(Lower(name).size() - 4, 4, ".ini") == 0)
        report_.Add(name, 0, 0, "", "not read: settings files are Brimvale.ini and 2.ini to 9.ini");
      else
        ignored_.push_back(name);
    }
  }

  // The checks start-up makes once every file is read.
  void CheckStartUp()
  {
    const ServerRecord &first = ServerTable[1];
    if(first.address[0] == '\0')
      AddFor(1, KEY_ADDRESS,
                  "missing: the plug-in stops at start-up (\"Server-IP and/or local folder name missing\")");
    if(first.localName[0] == '\0')
      AddFor(1, KEY_LOCAL_NAME,
                  "missing: the plug-in stops at start-up (\"Server-IP and/or local folder name missing\")");
    for(int n = 2; n <= TotalNAS; ++n)
    {
      if(ServerTable[n].address[0] == '\0')
        AddFor(n, KEY_ADDRESS, "missing: the server can never be reached");
      if(ServerTable[n].localName[0] == '\0')
        AddFor(n, KEY_LOCAL_NAME, "missing: none of the server's shares can be mounted");
      for(int k = 1; k < n; ++k)
        if(std::strcmp(ServerTable[n].localName, ServerTable[k].localName) == 0)
          AddFor(n, KEY_LOCAL_NAME,
                      (ServerTable[n].localName[0] ? Shown(ServerTable[n].localName) + " is" : "empty, as is") +
                          std::string(" server ") + std::to_string(k) +
                          "'s: the plug-in stops at start-up (\"Multiple use of local foldername\")");
    }
    if(NASRecord == 1 && first.remoteFolder[RF_DATA][0] == '\0')
      AddFor(1, KEY_NAS_RECORDING,
                  "is 1, but \"Remotefolder DataFiles\" is empty: the recording folder stays on the receiver");
  }

  // How a field was read, for the listing.
  static std::string Source(const Entry &e, bool number)
  {
    if(!e.found) return number ? "not set: default" : "not set";
    if(e.value.empty()) return "empty, line " + std::to_string(e.line) + (number ? ": default" : "");
    return "line " + std::to_string(e.line);
  }

  void ShowText(const FileText &file, int n, const std::string &key, const char *field, size_t capacity)
  {
    const Entry &e = file.entry(key);
    std::string used = field;
    std::string note = Source(e, false);
    std::string read = e.value;
    if(key == KEY_MAC && read.size() < MAC_SIZE)
    {
      char mac[MAC_SIZE];
      StrCopy(mac, sizeof(mac), read.c_str());
      if(NormaliseMac(mac))
      {
        read = mac;
        note += "; written with - between the groups, sent with :";
      }
    }
    if(e.found && !read.empty() && read != used)
      report_.Add(file.name(), e.line, n, key,
                  "longer than " + std::to_string(capacity - 1) + " characters: cut to " + Shown(used));
    ShowLine(key, Shown(used), note);
  }

  // `raised`: the value the boot-time rule of the recording server gives, or -1.
  void ShowNumber(const FileText &file, int n, const std::string &key, int used, int raised = -1)
  {
    const Entry &e = file.entry(key);
    std::string note = Source(e, true);
    bool written = e.found && !e.value.empty();
    if(used == raised && !(written && e.number && e.unclamped == used))
      note += "; raised above server 1's " + std::to_string(raised - 1) +
              " s so that the recording folder is mounted first";
    else if(written && !e.number)
      report_.Add(file.name(), e.line, n, key,
                  Shown(e.value) + " is not a plain decimal number: the default " + std::to_string(used) +
                      " is used");
    else if(written && e.unclamped != used)
      report_.Add(file.name(), e.line, n, key,
                  Shown(e.value) + " is out of range: the plug-in uses " + std::to_string(used));
    ShowLine(key, std::to_string(used), note);
  }

  // A setting as shown, into the section being filled.
  void ShowLine(const std::string &key, const std::string &value, const std::string &note)
  {
    shown_->push_back({key, value, note});
  }

  void ShowGlobals(const FileText &file)
  {
    shown_ = &found_.globals.settings;
    ShowNumber(file, 1, KEY_NAS_RECORDING, NASRecord);
    ShowNumber(file, 1, KEY_TIMER_DELAY, Timerdelay);
    ShowNumber(file, 1, KEY_MOUNT_DELAY, Initialdelay);
    ShowNumber(file, 1, KEY_SILENT_MODE, Silentmode);
    ShowNumber(file, 1, KEY_LOGFILE, logfile);
    if(Initialdelay == 0)
    {
      char command[PING_COMMAND_SIZE];
      const ServerRecord &probe = ServerTable[INTERNET_PROBE];
      if(FormatPing(probe.address, INTERNET_PROBE, command, sizeof(command)) == COMMAND_READY)
        found_.globals.network_check = sim::Latin1ToUtf8(command);
    }
    found_.globals.timer_delay_idle = Timerdelay == 1 && NASRecord != 1;
  }

  void ShowServer(int n, const FileText &file)
  {
    const ServerRecord &s = ServerTable[n];
    sim::CheckServer &server = found_.servers.emplace_back();
    server.n = n;
    server.file = file.name();
    server.boot_time = s.bootTime;
    server.ping_gap = s.pingGap;
    shown_ = &server.settings;
    ShowText(file, n, KEY_ADDRESS, s.address, sizeof(s.address));
    ShowText(file, n, KEY_MAC, s.mac, sizeof(s.mac));
    ShowText(file, n, KEY_LOCAL_NAME, s.localName, sizeof(s.localName));
    for(int f = 0; f < REMOTE_FOLDER_COUNT; ++f)
      ShowText(file, n, RemoteFolderKeys[f], s.remoteFolder[f], sizeof(s.remoteFolder[f]));
    ShowText(file, n, KEY_MOUNT_OPTIONS, s.mountOptions, sizeof(s.mountOptions));
    ShowNumber(file, n, KEY_BOOT_TIME, s.bootTime, n > 1 && NASRecord == 1 ? ServerTable[1].bootTime + 1 : -1);
    ShowNumber(file, n, KEY_AUTO_MOUNT, s.autoMount);
    ShowNumber(file, n, KEY_PING_WAIT, s.pingWait);
    ShowNumber(file, n, KEY_PING_GAP, s.pingGap);

    CheckValues(n);
    ShowPing(n);
    ShowWakeup(n);
    ShowShares(n);
  }

  void ShowPing(int n)
  {
    const ServerRecord &s = ServerTable[n];
    sim::CheckCommand &ping = found_.servers.back().ping;
    if(s.autoMount == 0) return;  // none: the server counts as answering
    ping.wanted = true;
    char command[PING_COMMAND_SIZE];
    CommandStatus status = FormatPing(s.address, n, command, sizeof(command));
    if(status == COMMAND_READY)
      ping.command = sim::Latin1ToUtf8(command);
    else if(status == COMMAND_TOO_LONG)
      TooLong(n, KEY_ADDRESS, command, PING_COMMAND_SIZE, -1);
  }

  void ShowWakeup(int n)
  {
    const ServerRecord &s = ServerTable[n];
    sim::CheckCommand &wakeup = found_.servers.back().wakeup;
    if(s.mac[0] == '\0') return;  // none without a MAC address
    wakeup.wanted = true;
    char command[WAKEUP_COMMAND_SIZE];
    CommandStatus status = FormatWakeup(s.mac, command, sizeof(command));
    if(status == COMMAND_READY)
      wakeup.command = sim::Latin1ToUtf8(command);
    else if(status == COMMAND_TOO_LONG)
      TooLong(n, KEY_MAC, command, WAKEUP_COMMAND_SIZE, -1);
  }

  void ShowShares(int n)
  {
    const ServerRecord &s = ServerTable[n];
    std::vector<sim::CheckShare> &shares = found_.servers.back().shares;
    for(int share = 0; share < REMOTE_FOLDER_COUNT; ++share)
    {
      char command[SYSDO_SIZE];
      CommandStatus status = FormatShareMount(n, share, command, sizeof(command), nullptr);
      if(status == COMMAND_NONE) continue;
      sim::CheckShare &shown = shares.emplace_back();
      shown.name = kShareNames[share];
      shown.root = std::string("/mnt/hd") + ShareRoot(share);
      if(status == COMMAND_TOO_LONG)
        TooLong(n, RemoteFolderKeys[share], command, SYSDO_SIZE, share);
      if(status != COMMAND_READY) continue;  // refused
      shown.recording = IsRecordingShare(n, share);
      shown.local_recordings = DFLocal;
      shown.local_name = sim::Latin1ToUtf8(s.localName);
      shown.command = sim::Latin1ToUtf8(command);
    }
  }

  // Every value the plug-in would refuse to put into a command line, each on
  // its own (the plug-in stops at the first one of a command).
  void CheckValues(int n)
  {
    const ServerRecord &s = ServerTable[n];
    const std::string unsafe = " holds characters a command cannot take safely";
    std::vector<int> shares;
    for(int share = 0; share < REMOTE_FOLDER_COUNT; ++share)
      if(s.remoteFolder[share][0] != '\0') shares.push_back(share);

    // The plug-in's own verdicts; an empty address is a problem of its own above.
    const std::string unreachable =
        ": the server is never pinged" + std::string(shares.empty() ? "" : " and none of its shares is mounted");
    CommandStatus address = s.address[0] != '\0' ? CheckAddress(s.address) : COMMAND_READY;
    if(address == COMMAND_UNSAFE)
      AddFor(n, KEY_ADDRESS,
                  Shown(s.address) + unsafe + " (one word: no blanks, none of ; & | < > ( ) ' \" ` $ \\ * ? [ ] { } ~ # !)" +
                  unreachable);
    else if(address != COMMAND_READY)
      AddFor(n, KEY_ADDRESS,
             Shown(s.address) + " is neither an IPv4 address (four numbers 0 to 255 without leading zeros, like "
                                "192.168.178.20) nor a host name (parts of letters, digits, - and _ between dots, "
                                "none empty or starting with -, not only digits)" + unreachable);
    else if(s.address[0] != '\0' && LooksLikeMistypedAddress(s.address))
    {
      const FileText &file = files_[static_cast<size_t>(n) - 1];
      report_.Warn(sim::ProblemPlace({file.name(), file.entry(KEY_ADDRESS).line, n, KEY_ADDRESS, ""}) + ": " +
                   Shown(s.address) + " is taken for a host name, but looks like a mistyped IPv4 address (a letter "
                                      "O or l for a digit?): the server is pinged and mounted by that name");
    }
    CommandStatus mac = s.mac[0] != '\0' ? CheckMac(s.mac) : COMMAND_READY;
    if(mac == COMMAND_UNSAFE)
      AddFor(n, KEY_MAC, Shown(s.mac) + unsafe + " (one word, like 00:11:32:aa:bb:cc): no wake-up "
                                                             "packet is sent");
    else if(mac != COMMAND_READY)
      AddFor(n, KEY_MAC, Shown(s.mac) + " is not a MAC address of six two-digit hex groups separated by : (like "
                                        "00:11:32:aa:bb:cc), the form ether-wake takes: no wake-up packet is sent");
    if(shares.empty()) return;
    if(s.localName[0] != '\0' && !IsSafeArgument(s.localName, ARG_QUOTED))
      AddFor(n, KEY_LOCAL_NAME,
                  Shown(s.localName) + unsafe + " (none of \" ` $ \\): none of the server's shares is mounted");
    else if(s.localName[0] != '\0' && !IsPlainFolderName(s.localName))
      AddFor(n, KEY_LOCAL_NAME,
                  Shown(s.localName) + " is not a plain folder name (no /, not . or ..): none of the server's "
                                       "shares is mounted");
    if(!IsSafeArgument(s.mountOptions, ARG_OPTIONS))
      AddFor(n, KEY_MOUNT_OPTIONS,
                  Shown(s.mountOptions) + unsafe + " (none of ; & | < > ( ) ' \" ` $ \\ * ? [ ] { } ~ # !): none of "
                                                   "the server's shares is mounted");
    for(int share : shares)
      if(!IsSafeArgument(s.remoteFolder[share], ARG_QUOTED))
        AddFor(n, RemoteFolderKeys[share],
                    Shown(s.remoteFolder[share]) + unsafe + " (none of \" ` $ \\): the " + kShareNames[share] +
                        " share is not mounted");
  }

  // A command that would not fit its buffer, as a problem.
  void TooLong(int n, const std::string &key, const char *command, size_t buffer, int share)
  {
    // The same command again in a buffer that holds it, to tell its length.
    std::vector<char> whole(kUnboundedCommand);
    size_t length = std::strlen(command);
    if(share >= 0 && FormatShareMount(n, share, whole.data(), whole.size(), nullptr) == COMMAND_READY)
      length = std::strlen(whole.data());
    std::string what = share >= 0 ? std::string("the ") + kShareNames[share] + " share is not mounted"
                                   : "the command is not run";
    std::string size = share >= 0 ? "would be " + std::to_string(length) + " characters long, "
                                  : "would be longer than ";
    AddFor(n, key,
                "the command " + size + std::to_string(buffer - 1) + " fit: " + what +
                    (share >= 0 ? " (shorten the remote folder, \"Mountoptions\" or \"Local Folder Name\")" : ""));
  }

  // Every rule has run: what is left to collect.
  int Finish()
  {
    found_.ignored = ignored_;
    found_.warnings = report_.warnings();
    found_.problems = SortedProblems();
    return found_.problems.empty() ? kCheckClean : kCheckProblems;
  }

  // Brimvale.ini first, then 2.ini ... 9.ini, then any other file; by line in each.
  std::vector<Problem> SortedProblems() const
  {
    auto rank = [](const Problem &p) {
      int n = p.file == MAIN_INI_NAME ? 1 : ServerFileNumber(p.file);
      return std::make_tuple(n == 0 ? INT_MAX : n, p.file, p.line);
    };
    std::vector<Problem> sorted = report_.problems();
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const Problem &a, const Problem &b) { return rank(a) < rank(b); });
    return sorted;
  }

  std::string folder_;
  std::ostream &out_;
  sim::CheckFindings found_;
  std::vector<sim::CheckSetting> *shown_ = nullptr;  // the section ShowLine fills
  std::set<std::string> names_;
  std::map<std::string, std::string> texts_;  // the files start-up may read
  std::vector<std::string> ignored_;
  Report report_;
  std::vector<FileText> files_;  // the files read, server 1 first
  const sim::SettingsFolder *given_ = nullptr;
};

}  // namespace

int CheckSettingsFolder(const std::string &folder, std::ostream &out) { return Checker(folder, out).Run(); }

SettingsCheck CheckSettingsFiles(const std::string &name, const sim::SettingsFolder &files)
{
  std::ostringstream report;
  Checker checker(name, files, report);
  SettingsCheck result;
  result.status = checker.Run();
  if(result.status == kCheckUnreadable) result.problems.push_back(report.str());
  for(const std::string &line : checker.ProblemLines()) result.problems.push_back(line);
  result.warnings = checker.Warnings();
  for(int n = 1; n <= TotalNAS; ++n) result.addresses.push_back(ServerTable[n].address);
  return result;
}
