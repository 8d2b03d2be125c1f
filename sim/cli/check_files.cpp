// Reading the settings files as the plug-in's INI store does, for `check`:
// where each key stands and what the store makes of it, and the problems of
// the text itself. The store's own functions find every key, so a line the
// store reads differently from the owner's intention shows here as it does
// on the receiver.
#include "check_files.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>

#include "../../app/Brimvale.h"
#include "../../app/settings.h"
#include "../../lib/ini/ini.h"
// INIBuffer: the text the store reads, to say on which line an entry was found.
#include "../../lib/ini/ini_internal.h"
#include "../receiver/latin1.h"

namespace sim::check {

namespace {

const char kByteOrderMark[] = "\xEF\xBB\xBF";

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

// Why an unknown key was probably written: blanks around a known one, or a
// slip of the keyboard; "" when it looks like neither.
std::string UnknownKeyHint(const std::string &key, const std::map<std::string, const KeyInfo *> &known)
{
  std::string trimmed = key;
  trimmed.erase(0, trimmed.find_first_not_of(" \t"));
  trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
  auto t = known.find(Lower(trimmed));
  if(t != known.end()) return ": blanks around the key are part of it; write \"" + t->second->key + "=\"";
  if(std::string s = Suggestion(key); !s.empty()) return ": did you mean \"" + s + "\"?";
  return "";
}

}  // namespace

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
      out += Latin1ToUtf8(std::string(1, static_cast<char>(c)));
  }
  return out + "\"";
}

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

void Report::Add(const std::string &file, int line, int server, const std::string &key, const std::string &text)
{
  for(const CheckProblem &p : problems_)
    if(p.file == file && p.line == line && p.server == server && p.key == key && p.text == text) return;
  problems_.push_back({file, line, server, key, text});
}

void Report::AddFor(const FileText &file, const std::string &key, const std::string &text)
{
  Add(file.name(), file.entry(key).line, file.server(), key, text);
}

bool FileText::Read(const std::vector<KeyInfo> &keys, size_t file_size)
{
  IniLocation location = INIOpenFile(name_.c_str(), APP_FOLDER_NAME);
  if(location == IniLoc_None || location == IniLoc_New || INIBuffer == nullptr)
  {
    INICloseFile();
    return false;
  }
  text_ = INIBuffer;
  file_size_ = file_size;
  SplitLines();
  // Where each key stands is found in the text as written; its value as
  // LoadINI reads it, after the plug-in's own trimming of every key.
  for(const KeyInfo &k : keys) entries_[k.key] = Find(k);
  for(const KeyInfo &k : keys) entries_[k.key].trimmed = TrimSettingValue(k.key.c_str()) == 1;
  for(const KeyInfo &k : keys) ReadValue(k, &entries_[k.key]);
  INICloseFile();
  return true;
}

void FileText::CheckLines(const std::vector<KeyInfo> &keys, bool main_file, Report *report) const
{
  std::map<std::string, const KeyInfo *> known;
  for(const KeyInfo &k : keys) known[Lower(k.key)] = &k;
  for(size_t n = 0; n < lines_.size(); ++n) CheckLine(n, known, main_file, report);
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

// Line n (0-based) as the owner wrote it: a comment, a key=value line the
// store uses, or one it ignores or reads otherwise than meant.
void FileText::CheckLine(size_t n, const std::map<std::string, const KeyInfo *> &known, bool main_file,
                         Report *report) const
{
  int number = static_cast<int>(n) + 1;
  std::string line = LineText(n);
  // A Windows editor's byte-order mark: the store reads past it, and so
  // does the check (it is warned about once, in CheckLines).
  if(n == 0 && line.compare(0, 3, kByteOrderMark) == 0) line.erase(0, 3);
  size_t first = line.find_first_not_of(" \t");
  if(first == std::string::npos) return;
  if(line[first] == '#' || line[first] == ';') return;  // matches inside are reported by CheckLines
  size_t equals = line.find('=');
  if(equals == std::string::npos)
  {
    report->Add(name_, number, server_, "", "not a key=value line, ignored: " + Shown(line) + " (start a comment with #)");
    return;
  }
  std::string key = line.substr(0, equals);
  auto k = known.find(Lower(key));
  if(k == known.end())
  {
    report->Add(name_, number, server_, key, "unknown key, ignored" + UnknownKeyHint(key, known));
    return;
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

void FileText::SplitLines()
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

size_t FileText::LineOf(size_t offset) const
{
  size_t n = 0;
  while(n + 1 < lines_.size() && lines_[n + 1].begin <= offset) ++n;
  return n;
}

Entry FileText::Find(const KeyInfo &k) const
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
  if(line == 0 && text_.compare(0, 3, kByteOrderMark) == 0) line_begin = 3;
  e.own_line = offset == line_begin;
  const char *value = start + entry_key.size();
  if(end != nullptr && end >= value) e.written.assign(value, static_cast<size_t>(end - value) + 1);
  return e;
}

void FileText::ReadValue(const KeyInfo &k, Entry *entry) const
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

void CheckFileNames(const std::set<std::string> &names, int servers_read, Report *report,
                    std::vector<std::string> *ignored)
{
  for(const std::string &name : names)
  {
    int n = ServerFileNumber(name);
    if(name == MAIN_INI_NAME || (n >= 2 && n <= servers_read)) continue;
    if(n >= 2 && n <= MAX_SERVERS)
      report->Add(name, 0, n, "",
                  "not read: " + std::to_string(servers_read + 1) +
                      ".ini is missing, and the plug-in stops looking at the first missing number");
    else if(n > MAX_SERVERS)
      report->Add(name, 0, 0, "", "not read: the plug-in reads at most 2.ini to 9.ini");
    else if(n == 1)
      report->Add(name, 0, 0, "", "not read: server 1's settings belong in Brimvale.ini");
    else if(Lower(name) == Lower(MAIN_INI_NAME) || ServerFileNumber(Lower(name)) != 0)
      report->Add(name, 0, 0, "", "not read: file names are case-sensitive on the receiver");
    else if(Lower(name).size() > 4 && Lower(name).compare(Lower(name).size() - 4, 4, ".ini") == 0)
      report->Add(name, 0, 0, "", "not read: settings files are Brimvale.ini and 2.ini to 9.ini");
    else
      ignored->push_back(name);
  }
}

}  // namespace sim::check
