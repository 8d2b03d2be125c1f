#include "shell.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
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

}  // namespace

bool ParseCommandLine(const std::string &line, std::vector<ParsedCommand> *out, std::string *error)
{
  out->clear();
  ParsedCommand cmd;
  std::string word;
  bool in_word = false;
  bool want_redirect = false;

  auto end_word = [&]() {
    if(!in_word) return;
    if(want_redirect)
    {
      cmd.redirect = word;
      want_redirect = false;
    }
    else if(word == "2>&1" )
      cmd.stderr_to_out = true;
    else
      cmd.words.push_back(word);
    word.clear();
    in_word = false;
  };
  auto end_command = [&]() -> bool {
    end_word();
    if(want_redirect)
    {
      *error = "syntax error: redirection without a file";
      return false;
    }
    if(!cmd.words.empty()) out->push_back(cmd);
    else if(!cmd.redirect.empty())
    {
      *error = "syntax error: redirection without a command";
      return false;
    }
    cmd = ParsedCommand();
    return true;
  };

  for(size_t i = 0; i < line.size(); ++i)
  {
    char c = line[i];
    if(c == '"')
    {
      in_word = true;
      for(++i; i < line.size() && line[i] != '"'; ++i)
      {
        char q = line[i];
        if(q == '$' || q == '`')
        {
          *error = std::string("syntax error: unsupported '") + q + "' in quotes";
          return false;
        }
        if(q == '\\' && i + 1 < line.size() && kEscapable.find(line[i + 1]) != std::string_view::npos)
          q = line[++i];
        word += q;
      }
      if(i >= line.size())
      {
        *error = "syntax error: unterminated quoted string";
        return false;
      }
    }
    else if(c == ' ' || c == '\t')
      end_word();
    else if(c == ';')
    {
      if(!end_command()) return false;
    }
    else if(c == '>')
    {
      // "2>&1" and "2>/dev/null" are the only forms for standard error.
      if(in_word && word == "2")
      {
        if(line.compare(i + 1, 2, "&1") == 0)
        {
          cmd.stderr_to_out = true;
          i += 2;
          word.clear();
          in_word = false;
          continue;
        }
        if(line.compare(i + 1, 9, "/dev/null") == 0)
        {
          cmd.stderr_null = true;
          i += 9;
          word.clear();
          in_word = false;
          continue;
        }
        *error = "syntax error: unsupported redirection";
        return false;
      }
      end_word();
      if(i + 1 < line.size() && line[i + 1] == '>')
      {
        *error = "syntax error: unsupported redirection '>>'";
        return false;
      }
      want_redirect = true;
    }
    else if(kUnsupported.find(c) != std::string_view::npos)
    {
      *error = std::string("syntax error: unsupported '") + (c == '\n' ? std::string("\\n") : std::string(1, c)) + "'";
      return false;
    }
    else
    {
      word += c;
      in_word = true;
    }
  }
  return end_command();
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

int Shell::RunOne(const ParsedCommand &cmd, std::string *cwd)
{
  const std::string &name = cmd.words[0];
  ToolCall call{receiver_, cmd.words, *cwd, "", ""};

  // The output file is created before the command runs, as a shell does. A
  // new one made while the plug-in runs is held in memory (see HeldFile).
  std::ofstream out_file;
  std::shared_ptr<HeldFile> held;
  std::string out_host;
  if(!cmd.redirect.empty())
  {
    PathLook look;
    if(call.HostPath(cmd.redirect, &out_host, &look) && !look.folder())
    {
      if(look.error == ENOENT && receiver_->in_plugin()) held = receiver_->disk().Hold(out_host);
      if(held == nullptr)
      {
        errno = 0;
        out_file.open(out_host, std::ios::binary | std::ios::trunc);
        if(!out_file.is_open()) receiver_->disk().PcFailed(out_host, errno);
      }
    }
    if(held == nullptr && !out_file.is_open())
    {
      RecordTool(cmd.words, 2, "sh: can't create " + cmd.redirect);
      return 2;
    }
    if(held == nullptr) receiver_->disk().Changed(out_host);
  }

  int code;
  if(name == "cd")
  {
    std::string target, host;
    if(cmd.words.size() != 2 || !call.Path(cmd.words[1], &target) || !call.HostPath(target, &host) ||
       !fs::is_directory(host))
    {
      call.err = "sh: cd: can't cd to " + (cmd.words.size() > 1 ? cmd.words[1] : std::string());
      code = 2;
    }
    else
    {
      *cwd = target;
      code = 0;
    }
  }
  else
  {
    std::string tool_name = name;
    code = -1;
    if(name.find('/') != std::string::npos)
    {
      // A tool named by its path must be there and executable.
      std::string host;
      PathLook look;
      if(!call.HostPath(name, &host, &look) || !look.exists())
      {
        call.err = "sh: " + name + ": not found";
        code = 127;
      }
      else if(!look.file() || (look.st.st_mode & 0111) == 0)
      {
        call.err = "sh: " + name + ": Permission denied";
        code = 126;
      }
      tool_name = fs::path(name).filename().string();
    }
    if(code < 0)
    {
      auto it = tools_.find(tool_name);
      if(it == tools_.end())
      {
        call.err = "sh: " + name + ": not found";
        code = 127;
      }
      else
        code = it->second(call);
    }
  }

  if(cmd.stderr_to_out) call.out += call.err;
  if(out_file.is_open() && !(out_file << call.out).flush()) receiver_->disk().PcFailed(out_host, errno, true);
  if(held != nullptr && !Disk::WriteHeld(held.get(), call.out)) receiver_->disk().PcFailed(held->host, errno, true);
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
