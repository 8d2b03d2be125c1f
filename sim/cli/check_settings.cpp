// The rules on each setting, for `check`: the plug-in's LoadINI has filled
// the server table; each value is shown as the plug-in uses it, beside what
// the owner wrote (check_files.cpp), and every difference the owner would
// not expect is a problem: a value cut to its field, a number not read or
// forced into range, a value start-up stops at or a command refuses.
#include "check_settings.h"

#include <cstring>

#include "../../app/Brimvale.h"
#include "../../app/command.h"
#include "../../app/mount.h"
#include "../../app/settings.h"
#include "../../lib/str/str.h"
#include "check_commands.h"

namespace sim::check {

namespace {

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

// How a field was read, for the listing.
std::string Source(const Entry &e, bool number)
{
  if(!e.found) return number ? "not set: default" : "not set";
  if(e.value.empty()) return "empty, line " + std::to_string(e.line) + (number ? ": default" : "");
  return "line " + std::to_string(e.line);
}

// A text setting: `field` is what the plug-in keeps of it, `capacity` its size.
void ListText(const FileText &file, const std::string &key, const char *field, size_t capacity, Report *report,
              std::vector<CheckSetting> *settings)
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
    report->Add(file.name(), e.line, file.server(), key,
                "longer than " + std::to_string(capacity - 1) + " characters: cut to " + Shown(used));
  settings->push_back({key, Shown(used), note});
}

// A number setting: `used` is the plug-in's value; `raised` the value the
// boot-time rule of the recording server gives, or -1.
void ListNumber(const FileText &file, const std::string &key, int used, Report *report,
                std::vector<CheckSetting> *settings, int raised = -1)
{
  const Entry &e = file.entry(key);
  std::string note = Source(e, true);
  bool written = e.found && !e.value.empty();
  if(used == raised && !(written && e.number && e.unclamped == used))
    note += "; raised above server 1's " + std::to_string(raised - 1) +
            " s so that the recording folder is mounted first";
  else if(written && !e.number)
    report->Add(file.name(), e.line, file.server(), key,
                Shown(e.value) + " is not a plain decimal number: the default " + std::to_string(used) + " is used");
  else if(written && e.unclamped != used)
    report->Add(file.name(), e.line, file.server(), key,
                Shown(e.value) + " is out of range: the plug-in uses " + std::to_string(used));
  settings->push_back({key, std::to_string(used), note});
}

// The address and the MAC address, as the ping and the wake-up would take them.
void CheckAddresses(const FileText &file, bool has_shares, Report *report)
{
  const ServerRecord &s = ServerTable[file.server()];
  const std::string unsafe = " holds characters a command cannot take safely";
  // The plug-in's own verdicts; an empty address is a problem of its own (CheckStartUp).
  const std::string unreachable =
      ": the server is never pinged" + std::string(has_shares ? " and none of its shares is mounted" : "");
  CommandStatus address = s.address[0] != '\0' ? CheckAddress(s.address) : COMMAND_READY;
  if(address == COMMAND_UNSAFE)
    report->AddFor(file, KEY_ADDRESS,
                   Shown(s.address) + unsafe + " (one word: no blanks, none of ; & | < > ( ) ' \" ` $ \\ * ? [ ] { } ~ # !)" +
                       unreachable);
  else if(address != COMMAND_READY)
    report->AddFor(file, KEY_ADDRESS,
                   Shown(s.address) + " is neither an IPv4 address (four numbers 0 to 255 without leading zeros, like "
                                      "192.168.178.20) nor a host name (parts of letters, digits, - and _ between dots, "
                                      "none empty or starting with -, not only digits)" + unreachable);
  else if(s.address[0] != '\0' && LooksLikeMistypedAddress(s.address))
    report->Warn(ProblemPlace({file.name(), file.entry(KEY_ADDRESS).line, file.server(), KEY_ADDRESS, ""}) + ": " +
                 Shown(s.address) + " is taken for a host name, but looks like a mistyped IPv4 address (a letter "
                                    "O or l for a digit?): the server is pinged and mounted by that name");
  CommandStatus mac = s.mac[0] != '\0' ? CheckMac(s.mac) : COMMAND_READY;
  if(mac == COMMAND_UNSAFE)
    report->AddFor(file, KEY_MAC, Shown(s.mac) + unsafe + " (one word, like 00:11:32:aa:bb:cc): no wake-up "
                                                          "packet is sent");
  else if(mac != COMMAND_READY)
    report->AddFor(file, KEY_MAC, Shown(s.mac) + " is not a MAC address of six two-digit hex groups separated by : (like "
                                                 "00:11:32:aa:bb:cc), the form ether-wake takes: no wake-up packet is sent");
}

// The local folder name, the mount options and the remote folders `shares`,
// as the mount commands would take them.
void CheckMountValues(const FileText &file, const std::vector<int> &shares, Report *report)
{
  const ServerRecord &s = ServerTable[file.server()];
  const std::string unsafe = " holds characters a command cannot take safely";
  if(s.localName[0] != '\0' && !IsSafeArgument(s.localName, ARG_QUOTED))
    report->AddFor(file, KEY_LOCAL_NAME,
                   Shown(s.localName) + unsafe + " (none of \" ` $ \\): none of the server's shares is mounted");
  else if(s.localName[0] != '\0' && !IsPlainFolderName(s.localName))
    report->AddFor(file, KEY_LOCAL_NAME,
                   Shown(s.localName) + " is not a plain folder name (no /, not . or ..): none of the server's "
                                        "shares is mounted");
  if(!IsSafeArgument(s.mountOptions, ARG_OPTIONS))
    report->AddFor(file, KEY_MOUNT_OPTIONS,
                   Shown(s.mountOptions) + unsafe + " (none of ; & | < > ( ) ' \" ` $ \\ * ? [ ] { } ~ # !): none of "
                                                    "the server's shares is mounted");
  for(int share : shares)
    if(!IsSafeArgument(s.remoteFolder[share], ARG_QUOTED))
      report->AddFor(file, RemoteFolderKeys[share],
                     Shown(s.remoteFolder[share]) + unsafe + " (none of \" ` $ \\): the " + ShareName(share) +
                         " share is not mounted");
}

}  // namespace

void CheckStartUp(const std::vector<FileText> &files, Report *report)
{
  const char stops[] = "missing: the plug-in stops at start-up (\"Server-IP and/or local folder name missing\")";
  const ServerRecord &first = ServerTable[1];
  if(first.address[0] == '\0') report->AddFor(files[0], KEY_ADDRESS, stops);
  if(first.localName[0] == '\0') report->AddFor(files[0], KEY_LOCAL_NAME, stops);
  for(int n = 2; n <= TotalNAS; ++n)
  {
    const FileText &file = files[static_cast<size_t>(n) - 1];
    if(ServerTable[n].address[0] == '\0') report->AddFor(file, KEY_ADDRESS, "missing: the server can never be reached");
    if(ServerTable[n].localName[0] == '\0')
      report->AddFor(file, KEY_LOCAL_NAME, "missing: none of the server's shares can be mounted");
    for(int k = 1; k < n; ++k)
      if(std::strcmp(ServerTable[n].localName, ServerTable[k].localName) == 0)
        report->AddFor(file, KEY_LOCAL_NAME,
                       (ServerTable[n].localName[0] ? Shown(ServerTable[n].localName) + " is" : "empty, as is") +
                           std::string(" server ") + std::to_string(k) +
                           "'s: the plug-in stops at start-up (\"Multiple use of local foldername\")");
  }
  if(NASRecord == 1 && first.remoteFolder[RF_DATA][0] == '\0')
    report->AddFor(files[0], KEY_NAS_RECORDING,
                   "is 1, but \"Remotefolder DataFiles\" is empty: the recording folder stays on the receiver");
}

void ListGlobals(const FileText &main_file, Report *report, CheckGlobals *globals)
{
  std::vector<CheckSetting> *settings = &globals->settings;
  ListNumber(main_file, KEY_NAS_RECORDING, NASRecord, report, settings);
  ListNumber(main_file, KEY_TIMER_DELAY, Timerdelay, report, settings);
  ListNumber(main_file, KEY_MOUNT_DELAY, Initialdelay, report, settings);
  ListNumber(main_file, KEY_SILENT_MODE, Silentmode, report, settings);
  ListNumber(main_file, KEY_LOGFILE, logfile, report, settings);
  globals->timer_delay_idle = Timerdelay == 1 && NASRecord != 1;
}

void ListServerSettings(const FileText &file, Report *report, std::vector<CheckSetting> *settings)
{
  int n = file.server();
  const ServerRecord &s = ServerTable[n];
  ListText(file, KEY_ADDRESS, s.address, sizeof(s.address), report, settings);
  ListText(file, KEY_MAC, s.mac, sizeof(s.mac), report, settings);
  ListText(file, KEY_LOCAL_NAME, s.localName, sizeof(s.localName), report, settings);
  for(int f = 0; f < REMOTE_FOLDER_COUNT; ++f)
    ListText(file, RemoteFolderKeys[f], s.remoteFolder[f], sizeof(s.remoteFolder[f]), report, settings);
  ListText(file, KEY_MOUNT_OPTIONS, s.mountOptions, sizeof(s.mountOptions), report, settings);
  int raised = n > 1 && NASRecord == 1 ? ServerTable[1].bootTime + 1 : -1;
  ListNumber(file, KEY_BOOT_TIME, s.bootTime, report, settings, raised);
  ListNumber(file, KEY_AUTO_MOUNT, s.autoMount, report, settings);
  ListNumber(file, KEY_PING_WAIT, s.pingWait, report, settings);
  ListNumber(file, KEY_PING_GAP, s.pingGap, report, settings);
}

void CheckCommandValues(const FileText &file, Report *report)
{
  const ServerRecord &s = ServerTable[file.server()];
  std::vector<int> shares;
  for(int share = 0; share < REMOTE_FOLDER_COUNT; ++share)
    if(s.remoteFolder[share][0] != '\0') shares.push_back(share);
  CheckAddresses(file, !shares.empty(), report);
  if(!shares.empty()) CheckMountValues(file, shares, report);
}

}  // namespace sim::check
