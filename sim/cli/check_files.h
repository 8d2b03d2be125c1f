// The settings files as the plug-in's INI store reads them, for `check`: the
// keys there are, where each one stands in a file and what the store makes
// of its value, which files of the folder start-up reads, and the problems of
// the text itself (its lines, its file name, its encoding) before any
// setting's value is judged (check_settings.cpp).
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "check_findings.h"

namespace sim::check {

enum class Kind { kText, kNumber };

struct KeyInfo {
  std::string key;
  Kind kind;
  bool global;  // read from Brimvale.ini only
};

// Every key the plug-in reads: a server's, then the global ones.
std::vector<KeyInfo> AllKeys();

std::string Lower(std::string text);
// Text as it can be shown on a terminal, in quotes so blanks at either end
// show; quotes, backslashes and control bytes escaped as in C, letters as
// the receiver shows them (ISO 8859-1).
std::string Shown(const std::string &text);

// "N.ini" with N written without leading zeros: N, else 0.
int ServerFileNumber(const std::string &name);
// Brimvale.ini for server 1, N.ini for the others.
std::string FileOfServer(int n);

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

class FileText;

// The problems and warnings every rule adds to, in the order they were found;
// the same problem twice is kept once.
class Report {
 public:
  void Add(const std::string &file, int line, int server, const std::string &key, const std::string &text);
  // A problem with a setting of `file`'s server, at the line it was read from.
  void AddFor(const FileText &file, const std::string &key, const std::string &text);
  const std::vector<CheckProblem> &problems() const { return problems_; }
  // What the receiver copes with but the owner should know; not a problem.
  void Warn(const std::string &text) { warnings_.push_back(text); }
  const std::vector<std::string> &warnings() const { return warnings_; }

 private:
  std::vector<CheckProblem> problems_;
  std::vector<std::string> warnings_;
};

// One settings file as the store sees it: the text up to its first zero byte,
// with a line break added at the end when it lacked one.
class FileText {
 public:
  FileText(const std::string &name, int server) : name_(name), server_(server) {}

  // Opens the file in the store (the current folder must be the settings
  // folder) and finds every key. False when the store could not open it.
  // `file_size`: the file's size on disk, to tell a zero byte in it.
  bool Read(const std::vector<KeyInfo> &keys, size_t file_size);

  const std::string &name() const { return name_; }
  int server() const { return server_; }
  const Entry &entry(const std::string &key) const { return entries_.at(key); }

  // The lines the store cannot use or would use in a way the owner did not
  // mean, and keys that do not belong in this file.
  void CheckLines(const std::vector<KeyInfo> &keys, bool main_file, Report *report) const;

 private:
  struct Line {
    size_t begin, end;  // offsets in the text; end is the line break
  };

  void SplitLines();
  std::string LineText(size_t n) const { return text_.substr(lines_[n].begin, lines_[n].end - lines_[n].begin); }
  size_t LineOf(size_t offset) const;
  Entry Find(const KeyInfo &k) const;
  void ReadValue(const KeyInfo &k, Entry *entry) const;
  void CheckLine(size_t n, const std::map<std::string, const KeyInfo *> &known, bool main_file,
                 Report *report) const;

  std::string name_;
  int server_;
  std::string text_;
  size_t file_size_ = 0;
  std::vector<Line> lines_;
  std::map<std::string, Entry> entries_;
};

// Files in the folder that start-up never reads (it read Brimvale.ini to
// `servers_read`.ini): a problem when they look meant as settings, else
// listed in `ignored`.
void CheckFileNames(const std::set<std::string> &names, int servers_read, Report *report,
                    std::vector<std::string> *ignored);

}  // namespace sim::check
