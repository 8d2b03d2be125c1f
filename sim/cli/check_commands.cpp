// The commands `check` shows: the plug-in's own FormatPing, FormatWakeup and
// FormatShareMount compose them from the server table, so what is shown is
// what the receiver's shell would get. A command too long for the plug-in's
// buffer is refused there, and named here as a problem with its length.
#include "check_commands.h"

#include <cstring>
#include <vector>

#include "../../app/Brimvale.h"
#include "../../app/command.h"
#include "../../app/mount.h"
#include "../../app/probe.h"
#include "../../app/settings.h"
#include "../receiver/latin1.h"

namespace sim::check {

namespace {

// Large enough for any command the settings can make, to tell its length.
constexpr size_t kUnboundedCommand = 8192;

// A command that would not fit its buffer of `buffer` bytes, as a problem of
// `key`; `share` is the share it would mount, or -1.
void TooLong(const FileText &file, const std::string &key, const char *command, size_t buffer, int share,
             Report *report)
{
  // The same command again in a buffer that holds it, to tell its length.
  std::vector<char> whole(kUnboundedCommand);
  size_t length = std::strlen(command);
  if(share >= 0 && FormatShareMount(file.server(), share, whole.data(), whole.size(), nullptr) == COMMAND_READY)
    length = std::strlen(whole.data());
  std::string what = share >= 0 ? "the " + ShareName(share) + " share is not mounted" : "the command is not run";
  std::string size = share >= 0 ? "would be " + std::to_string(length) + " characters long, " : "would be longer than ";
  report->AddFor(file, key,
                 "the command " + size + std::to_string(buffer - 1) + " fit: " + what +
                     (share >= 0 ? " (shorten the remote folder, \"Mountoptions\" or \"Local Folder Name\")" : ""));
}

void ComposePing(const FileText &file, Report *report, CheckCommand *ping)
{
  const ServerRecord &s = ServerTable[file.server()];
  if(s.autoMount == 0) return;  // none: the server counts as answering
  ping->wanted = true;
  char command[PING_COMMAND_SIZE];
  CommandStatus status = FormatPing(s.address, file.server(), command, sizeof(command));
  if(status == COMMAND_READY)
    ping->command = Latin1ToUtf8(command);
  else if(status == COMMAND_TOO_LONG)
    TooLong(file, KEY_ADDRESS, command, PING_COMMAND_SIZE, -1, report);
}

void ComposeWakeup(const FileText &file, Report *report, CheckCommand *wakeup)
{
  const ServerRecord &s = ServerTable[file.server()];
  if(s.mac[0] == '\0') return;  // none without a MAC address
  wakeup->wanted = true;
  char command[WAKEUP_COMMAND_SIZE];
  CommandStatus status = FormatWakeup(s.mac, command, sizeof(command));
  if(status == COMMAND_READY)
    wakeup->command = Latin1ToUtf8(command);
  else if(status == COMMAND_TOO_LONG)
    TooLong(file, KEY_MAC, command, WAKEUP_COMMAND_SIZE, -1, report);
}

void ComposeShares(const FileText &file, Report *report, std::vector<CheckShare> *shares)
{
  int n = file.server();
  const ServerRecord &s = ServerTable[n];
  for(int share = 0; share < REMOTE_FOLDER_COUNT; ++share)
  {
    char command[SYSDO_SIZE];
    CommandStatus status = FormatShareMount(n, share, command, sizeof(command), nullptr);
    if(status == COMMAND_NONE) continue;
    CheckShare &shown = shares->emplace_back();
    shown.name = ShareName(share);
    shown.root = std::string("/mnt/hd") + ShareRoot(share);
    if(status == COMMAND_TOO_LONG) TooLong(file, RemoteFolderKeys[share], command, SYSDO_SIZE, share, report);
    if(status != COMMAND_READY) continue;  // refused
    shown.recording = IsRecordingShare(n, share);
    shown.local_recordings = DFLocal;
    shown.local_name = Latin1ToUtf8(s.localName);
    shown.command = Latin1ToUtf8(command);
  }
}

}  // namespace

// The receiver's media folder without its leading "/".
std::string ShareName(int share) { return ShareRoot(share) + 1; }

std::string NetworkCheckCommand()
{
  if(Initialdelay != 0) return "";
  char command[PING_COMMAND_SIZE];
  const ServerRecord &probe = ServerTable[INTERNET_PROBE];
  if(FormatPing(probe.address, INTERNET_PROBE, command, sizeof(command)) != COMMAND_READY) return "";
  return Latin1ToUtf8(command);
}

void ComposeCommands(const FileText &file, Report *report, CheckServer *server)
{
  ComposePing(file, report, &server->ping);
  ComposeWakeup(file, report, &server->wakeup);
  ComposeShares(file, report, &server->shares);
}

}  // namespace sim::check
