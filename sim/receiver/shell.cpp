#include "shell.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>

#include "receiver.h"

namespace sim {

namespace fs = std::filesystem;

bool ToolCall::Path(const std::string &arg, std::string *receiver_path) const
{
  return Disk::Absolute(arg, cwd, receiver_path);
}

bool ToolCall::HostPath(const std::string &arg, std::string *host, PathLook *look) const
{
  return receiver->disk().HostPath(arg, cwd, host, look);
}

namespace {

// Outside quotes: what a shell would take for more than a word.
constexpr std::string_view kUnsupported = "|&<()`$\\'*?[]{}~#!\n\r";
// Inside double quotes, what a backslash escapes.
constexpr std::string_view kEscapable = "\"\\$`";

// Reads a command line a character at a time: words, double quotes, ";"
// between commands and the redirections.
class LineParser {
 public:
  LineParser(const std::string &line, std::vector<ParsedCommand> *out, std::string *error)
      : line_(line), out_(out), error_(error)
  {
  }

  bool Parse()
  {
    out_->clear();
    for(i_ = 0; i_ < line_.size(); ++i_)
      if(!Step()) return false;
    return EndCommand();
  }

 private:
  // The character at i_, moving i_ to the last one it takes.
  bool Step()
  {
    char c = line_[i_];
    if(c == '"') return QuotedText();
    if(c == ' ' || c == '\t')
    {
      EndWord();
      return true;
    }
    if(c == ';') return EndCommand();
    if(c == '>') return Redirection();
    if(kUnsupported.find(c) != std::string_view::npos)
      return Fail(std::string("syntax error: unsupported '") + (c == '\n' ? std::string("\\n") : std::string(1, c)) +
                  "'");
    word_ += c;
    in_word_ = true;
    return true;
  }

  bool Fail(const std::string &why)
  {
    *error_ = why;
    return false;
  }

  // From the opening quote at i_ to the closing one, into the word.
  bool QuotedText()
  {
    in_word_ = true;
    for(++i_; i_ < line_.size() && line_[i_] != '"'; ++i_)
    {
      char q = line_[i_];
      if(q == '$' || q == '`') return Fail(std::string("syntax error: unsupported '") + q + "' in quotes");
      if(q == '\\' && i_ + 1 < line_.size() && kEscapable.find(line_[i_ + 1]) != std::string_view::npos)
        q = line_[++i_];
      word_ += q;
    }
    if(i_ >= line_.size()) return Fail("syntax error: unterminated quoted string");
    return true;
  }

  // A ">" at i_: standard error's after a "2", else standard output's,
  // whose file is the next word.
  bool Redirection()
  {
    if(in_word_ && word_ == "2") return StandardErrorRedirection();
    EndWord();
    if(i_ + 1 < line_.size() && line_[i_ + 1] == '>') return Fail("syntax error: unsupported redirection '>>'");
    want_redirect_ = true;
    return true;
  }

  // "2>&1" and "2>/dev/null" are the only forms for standard error.
  bool StandardErrorRedirection()
  {
    if(line_.compare(i_ + 1, 2, "&1") == 0)
    {
      cmd_.stderr_to_out = true;
      i_ += 2;
    }
    else if(line_.compare(i_ + 1, 9, "/dev/null") == 0)
    {
      cmd_.stderr_null = true;
      i_ += 9;
    }
    else
      return Fail("syntax error: unsupported redirection");
    word_.clear();
    in_word_ = false;
    return true;
  }

  void EndWord()
  {
    if(!in_word_) return;
    if(want_redirect_)
    {
      cmd_.redirect = word_;
      want_redirect_ = false;
    }
    else if(word_ == "2>&1")
      cmd_.stderr_to_out = true;
    else
      cmd_.words.push_back(word_);
    word_.clear();
    in_word_ = false;
  }

  bool EndCommand()
  {
    EndWord();
    if(want_redirect_) return Fail("syntax error: redirection without a file");
    if(!cmd_.words.empty())
      out_->push_back(cmd_);
    else if(!cmd_.redirect.empty())
      return Fail("syntax error: redirection without a command");
    cmd_ = ParsedCommand();
    return true;
  }

  const std::string &line_;
  std::vector<ParsedCommand> *out_;
  std::string *error_;
  size_t i_ = 0;
  ParsedCommand cmd_;
  std::string word_;
  bool in_word_ = false;
  bool want_redirect_ = false;  // the next word is the "> file"
};

}  // namespace

bool ParseCommandLine(const std::string &line, std::vector<ParsedCommand> *out, std::string *error)
{
  return LineParser(line, out, error).Parse();
}

Shell::Shell(Receiver *receiver) : receiver_(receiver) {}

void Shell::AddTool(const std::string &name, Tool tool) { tools_[name] = std::move(tool); }

int Shell::Run(const std::string &line)
{
  std::vector<ParsedCommand> commands;
  std::string error;
  if(!ParseCommandLine(line, &commands, &error))
  {
    last_exit_ = 2;
    receiver_->trace().Add(TraceEntry{receiver_->clock().tick(), TraceKind::kShell,
                                      "\"" + line + "\" -> 2 (sh: " + error + ")", {line}, 2, ""});
    return 2 << 8;
  }
  std::string cwd = receiver_->config().process_cwd;
  int status = 0;
  errors_.clear();
  for(const ParsedCommand &cmd : commands) status = RunOne(cmd, &cwd);
  last_exit_ = status;
  receiver_->trace().Add(TraceEntry{receiver_->clock().tick(), TraceKind::kShell,
                                    "\"" + line + "\" -> " + std::to_string(status), {line}, status,
                                    std::move(errors_)});
  errors_.clear();
  return status << 8;
}

namespace {

// Where a command's standard output goes: a "> file" on the PC, or one held
// in memory (see HeldFile).
struct Redirection {
  std::ofstream file;
  std::shared_ptr<HeldFile> held;
  std::string host;
};

// The output file is created before the command runs, as a shell does. A
// new one made while the plug-in runs is held in memory. False when it
// cannot be created.
bool OpenRedirection(Receiver *receiver, const ToolCall &call, const std::string &target, Redirection *r)
{
  PathLook look;
  if(call.HostPath(target, &r->host, &look) && !look.folder())
  {
    if(look.error == ENOENT && receiver->in_plugin()) r->held = receiver->disk().Hold(r->host);
    if(r->held == nullptr)
    {
      errno = 0;
      r->file.open(r->host, std::ios::binary | std::ios::trunc);
      if(!r->file.is_open()) receiver->disk().PcFailed(r->host, errno);
    }
  }
  if(r->held == nullptr && !r->file.is_open()) return false;
  if(r->held == nullptr) receiver->disk().Changed(r->host);
  return true;
}

void WriteRedirection(Receiver *receiver, const std::string &out, Redirection *r)
{
  if(r->file.is_open() && !(r->file << out).flush()) receiver->disk().PcFailed(r->host, errno, true);
  if(r->held != nullptr && !Disk::WriteHeld(r->held.get(), out)) receiver->disk().PcFailed(r->held->host, errno, true);
}

// The shell's own cd: moves `cwd` for the commands after it on the line.
int ChangeFolder(ToolCall &call, std::string *cwd)
{
  std::string target, host;
  if(call.args.size() != 2 || !call.Path(call.args[1], &target) || !call.HostPath(target, &host) ||
     !fs::is_directory(host))
  {
    call.err = "sh: cd: can't cd to " + (call.args.size() > 1 ? call.args[1] : std::string());
    return 2;
  }
  *cwd = target;
  return 0;
}

// A tool named by its path must be there and executable: 127 or 126 with
// the shell's message when it is not, else -1.
int CheckToolPath(ToolCall &call, const std::string &name)
{
  std::string host;
  PathLook look;
  if(!call.HostPath(name, &host, &look) || !look.exists())
  {
    call.err = "sh: " + name + ": not found";
    return 127;
  }
  if(!look.file() || (look.st.st_mode & 0111) == 0)
  {
    call.err = "sh: " + name + ": Permission denied";
    return 126;
  }
  return -1;
}

}  // namespace

int Shell::RunTool(ToolCall &call) const
{
  const std::string &name = call.args[0];
  std::string tool_name = name;
  if(name.find('/') != std::string::npos)
  {
    if(int code = CheckToolPath(call, name); code >= 0) return code;
    tool_name = fs::path(name).filename().string();
  }
  auto it = tools_.find(tool_name);
  if(it == tools_.end())
  {
    call.err = "sh: " + name + ": not found";
    return 127;
  }
  return it->second(call);
}

int Shell::RunOne(const ParsedCommand &cmd, std::string *cwd)
{
  ToolCall call{receiver_, cmd.words, *cwd, "", ""};
  Redirection output;
  if(!cmd.redirect.empty() && !OpenRedirection(receiver_, call, cmd.redirect, &output))
  {
    RecordTool(cmd.words, 2, "sh: can't create " + cmd.redirect);
    return 2;
  }
  int code = cmd.words[0] == "cd" ? ChangeFolder(call, cwd) : RunTool(call);
  if(cmd.stderr_to_out) call.out += call.err;
  WriteRedirection(receiver_, call.out, &output);
  RecordTool(cmd.words, code, cmd.stderr_to_out || cmd.stderr_null ? std::string() : std::move(call.err));
  return code;
}

void Shell::RecordTool(std::vector<std::string> args, int status, std::string error)
{
  if(status != 0 && !error.empty())
  {
    // One line in the command's record: "a\nb\n" becomes "a;b".
    std::string why = error;
    while(!why.empty() && why.back() == '\n') why.pop_back();
    for(char &c : why)
      if(c == '\n') c = ';';
    if(!why.empty()) errors_ += (errors_.empty() ? "" : "; ") + why;
  }
  if(!receiver_->Tracing(TraceKind::kTool)) return;
  std::string text;
  for(const std::string &word : args) text += (text.empty() ? "" : " ") + word;
  text += " -> " + std::to_string(status);
  if(!error.empty()) text += " (" + error + ")";
  receiver_->trace().Add(TraceEntry{receiver_->clock().tick(), TraceKind::kTool, std::move(text), std::move(args),
                                    status, std::move(error)});
}

namespace {

int MkdirTool(ToolCall &call)
{
  bool parents = false;
  int code = 0;
  for(size_t k = 1; k < call.args.size(); ++k)
  {
    const std::string &arg = call.args[k];
    if(arg == "-p")
    {
      parents = true;
      continue;
    }
    std::string host;
    std::error_code ec;
    if(!call.HostPath(arg, &host))
    {
      call.err += "mkdir: can't create directory '" + arg + "': Invalid argument\n";
      code = 1;
    }
    else if(parents ? (fs::create_directories(host, ec), !!ec) : !fs::create_directory(host, ec) || ec)
    {
      call.err += "mkdir: can't create directory '" + arg + "': " +
                  (ec ? ec.message() : std::string("File exists")) + "\n";
      call.receiver->disk().PcFailed(host, ec.value());
      code = 1;
    }
    if(parents)
      call.receiver->disk().Forget();
    else
      call.receiver->disk().Changed(host);
  }
  return code;
}

int RmdirTool(ToolCall &call)
{
  int code = 0;
  for(size_t k = 1; k < call.args.size(); ++k)
  {
    const std::string &arg = call.args[k];
    std::string receiver_path, host;
    std::error_code ec;
    if(!call.Path(arg, &receiver_path) || !call.HostPath(arg, &host) || !fs::is_directory(fs::symlink_status(host, ec)))
    {
      call.err += "rmdir: '" + arg + "': No such file or directory\n";
      code = 1;
    }
    else if(call.receiver->disk().IsMountPoint(receiver_path))
    {
      call.err += "rmdir: '" + arg + "': Device or resource busy\n";
      code = 1;
    }
    else if(!fs::is_empty(host, ec))
    {
      call.err += "rmdir: '" + arg + "': Directory not empty\n";
      code = 1;
    }
    else if(!fs::remove(host, ec))
    {
      call.err += "rmdir: '" + arg + "': " + ec.message() + "\n";
      code = 1;
    }
    else
      call.receiver->disk().Removed(host);
  }
  return code;
}

int ChmodTool(ToolCall &call)
{
  if(call.args.size() < 3)
  {
    call.err = "chmod: missing operand";
    return 1;
  }
  const std::string &mode_text = call.args[1];
  if(mode_text.empty() || mode_text.size() > 4 || mode_text.find_first_not_of("01234567") != std::string::npos)
  {
    call.err = "chmod: invalid mode '" + mode_text + "'";
    return 1;
  }
  mode_t mode = static_cast<mode_t>(std::stoul(mode_text, nullptr, 8));
  int code = 0;
  for(size_t k = 2; k < call.args.size(); ++k)
  {
    std::string path, host;
    if(call.Path(call.args[k], &path) && call.receiver->shell().RightsLocked(path))
    {
      call.err += "chmod: " + call.args[k] + ": Operation not permitted\n";
      code = 1;
    }
    else if(!call.HostPath(call.args[k], &host) || ::chmod(host.c_str(), mode) != 0)
    {
      call.err += "chmod: " + call.args[k] + ": No such file or directory\n";
      code = 1;
    }
    else
      call.receiver->disk().Changed(host);
  }
  return code;
}

}  // namespace

void AddFileTools(Shell *shell)
{
  shell->AddTool("mkdir", MkdirTool);
  shell->AddTool("rmdir", RmdirTool);
  shell->AddTool("chmod", ChmodTool);
}

}  // namespace sim
