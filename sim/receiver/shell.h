// A stand-in for the receiver's shell behind system(): the command forms the
// plug-in uses (words, double quotes, ";", "cd", "> file" and "2>&1") with
// built-in stand-ins for the tools. Nothing runs on the PC: an unknown
// command exits 127, and anything the stand-in does not understand (pipes,
// "&", "$", back quotes, other redirections) is a syntax error with status 2,
// so a command line that tries more than it should fails loudly.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "disk.h"

namespace sim {

class Receiver;

// One tool invocation.
struct ToolCall {
  Receiver *receiver;
  std::vector<std::string> args;  // args[0] is the tool's name as written
  std::string cwd;                // the shell's folder, a receiver path
  std::string out;                // standard output (goes to a "> file" if any)
  std::string err;                // standard error (kept in the trace)

  // Receiver path of an argument, relative to cwd; false when invalid.
  bool Path(const std::string &arg, std::string *receiver_path) const;
  // PC path of an argument through the mount table; false when invalid.
  // A tool that makes or removes folders calls receiver->disk().Forget().
  bool HostPath(const std::string &arg, std::string *host, PathLook *look = nullptr) const;
};

using Tool = std::function<int(ToolCall &)>;

struct ParsedCommand {
  std::vector<std::string> words;
  std::string redirect;      // "> file" target, empty when none
  bool stderr_to_out = false;  // "2>&1"
  bool stderr_null = false;    // "2>/dev/null"
};

// Splits a command line into commands separated by ";". False with a message
// for anything outside the supported forms.
bool ParseCommandLine(const std::string &line, std::vector<ParsedCommand> *out, std::string *error);

class Shell {
 public:
  explicit Shell(Receiver *receiver);
  // Adds or replaces a tool, found by its name or the last part of its path.
  void AddTool(const std::string &name, Tool tool);
  // Runs a command line; returns the status as system() does (exit code << 8).
  int Run(const std::string &line);
  // Exit code of the last command line (without the << 8).
  int last_exit() const { return last_exit_; }
  // A file whose rights cannot change (one on a file system without Unix
  // rights): chmod refuses it, by its absolute receiver path.
  void LockRights(const std::string &receiver_path) { locked_rights_.insert(receiver_path); }
  bool RightsLocked(const std::string &receiver_path) const { return locked_rights_.count(receiver_path) != 0; }

 private:
  int RunOne(const ParsedCommand &cmd, std::string *cwd);
  // Runs the tool call.args[0] names, by its name or the last part of its
  // path; 127 when there is none.
  int RunTool(ToolCall &call) const;
  // Records one tool's run; a failure it gave a reason for joins `errors_`.
  void RecordTool(std::vector<std::string> args, int status, std::string error);

  std::string errors_;  // of the failed tools in the command line being run

  Receiver *receiver_;
  std::map<std::string, Tool> tools_;
  int last_exit_ = 0;
  std::set<std::string> locked_rights_;
};

// The file-system tools every receiver has: mkdir, rmdir, chmod.
void AddFileTools(Shell *shell);
// The network and process tools: ping, busybox ether-wake, mount, umount,
// portmap, ps, kill.
void AddNetworkTools(Shell *shell);

}  // namespace sim
