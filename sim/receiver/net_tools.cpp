// Stand-ins for the receiver's network and process tools, run by the
// stand-in shell with the receiver's exit-status convention: ping, busybox
// ether-wake, mount (NFS and bind), umount, portmap, ps and kill.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "receiver.h"

namespace sim {

namespace fs = std::filesystem;

namespace {

// "-W3" or "-W 3": the value of a one-letter option, or false.
bool OptionValue(const std::vector<std::string> &args, size_t *k, char letter, std::string *value)
{
  const std::string &arg = args[*k];
  if(arg.size() < 2 || arg[0] != '-' || arg[1] != letter) return false;
  if(arg.size() > 2)
    *value = arg.substr(2);
  else if(*k + 1 < args.size())
    *value = args[++*k];
  else
    *value = "";
  return true;
}

int Fail(ToolCall &call, const std::string &message, int code)
{
  call.err = message;
  return code;
}

bool ParseInt(const std::string &text, long *value)
{
  if(text.empty()) return false;
  char *end = nullptr;
  *value = std::strtol(text.c_str(), &end, 10);
  return *end == '\0';
}

int PingTool(ToolCall &call)
{
  std::string address, value;
  long wait = 10, count = 1;
  for(size_t k = 1; k < call.args.size(); ++k)
  {
    if(OptionValue(call.args, &k, 'c', &value))
    {
      if(!ParseInt(value, &count) || count < 1) return Fail(call, "ping: invalid count", 1);
    }
    else if(OptionValue(call.args, &k, 'W', &value))
    {
      if(!ParseInt(value, &wait) || wait < 0) return Fail(call, "ping: invalid wait", 1);
    }
    else if(call.args[k][0] == '-')
      return Fail(call, "ping: unrecognized option '" + call.args[k] + "'", 1);
    else
      address = call.args[k];
  }
  if(address.empty()) return Fail(call, "ping: usage: ping [-c N] [-W SEC] HOST", 1);

  Receiver &r = *call.receiver;
  const NasConfig *server = r.network().Find(address);
  bool answers = r.network().Answers(address, r.clock().uptime());
  if(server != nullptr)
  {
    NasState *state = r.network().State(server->name);
    ++state->pings;
    if(answers && state->first_answer < 0) state->first_answer = r.network().Seconds(r.clock().uptime());
  }
  // The report of the receiver's ping: with a reply it runs to well over 200
  // bytes, without one it stays well under.
  call.out = "PING " + address + " (" + address + "): 56 data bytes\n";
  if(answers)
  {
    call.out += "64 bytes from " + address + ": seq=0 ttl=64 time=0.421 ms\n";
    call.out += "\n--- " + address + " ping statistics ---\n";
    call.out += "1 packets transmitted, 1 packets received, 0% packet loss\n";
    call.out += "round-trip min/avg/max = 0.421/0.421/0.421 ms\n";
    r.clock().Advance(1);  // a reply comes back within milliseconds
    return 0;
  }
  call.out += "\n--- " + address + " ping statistics ---\n";
  call.out += "1 packets transmitted, 0 packets received, 100% packet loss\n";
  r.clock().Advance(static_cast<uint64_t>(wait) * 100);  // waited the whole time-out
  return 1;
}

int BusyboxTool(ToolCall &call)
{
  if(call.args.size() < 2 || call.args[1] != "ether-wake")
  {
    call.err = (call.args.size() < 2 ? std::string("busybox") : call.args[1]) + ": applet not found";
    return 127;
  }
  std::string mac;
  for(size_t k = 2; k < call.args.size(); ++k)
    if(call.args[k][0] != '-') mac = call.args[k];
  if(NormalizeMac(mac).empty())
  {
    call.err = "ether-wake: can't parse MAC '" + mac + "'";
    return 1;
  }
  Receiver &r = *call.receiver;
  std::vector<std::string> reached = r.network().Wake(mac, r.clock().uptime());
  r.trace().Add(WakeUpEvent(r.clock().tick(), NormalizeMac(mac), reached));
  return 0;
}

int MountTool(ToolCall &call)
{
  std::vector<std::string> positional;
  std::string options, type, value;
  for(size_t k = 1; k < call.args.size(); ++k)
  {
    if(OptionValue(call.args, &k, 'o', &value))
      options += (options.empty() ? "" : ",") + value;
    else if(OptionValue(call.args, &k, 't', &value))
      type = value;
    else if(call.args[k][0] == '-')
      return Fail(call, "mount: invalid option '" + call.args[k] + "'", 1);
    else
      positional.push_back(call.args[k]);
  }
  Receiver &r = *call.receiver;
  if(positional.empty())
  {
    for(const MountEntry &m : r.disk().mounts())
      call.out += m.source + " " + m.point + " " + m.type + " " + (m.options.empty() ? "rw" : m.options) + " 0 0\n";
    return 0;
  }
  if(positional.size() != 2) return Fail(call, "mount: usage: mount [-o OPTS] SOURCE TARGET", 1);

  std::string target, target_host;
  if(!call.Path(positional[1], &target) || !call.HostPath(target, &target_host) || !fs::is_directory(target_host))
    return Fail(call, "mount: mounting " + positional[0] + " on " + positional[1] + " failed: No such file or directory", 255);

  std::string error;
  bool bind = (',' + options + ',').find(",bind,") != std::string::npos;
  if(bind)
  {
    std::string source, source_host;
    if(!call.Path(positional[0], &source) || !call.HostPath(source, &source_host) || !fs::is_directory(source_host))
      return Fail(call, "mount: mounting " + positional[0] + " on " + positional[1] + " failed: No such file or directory", 255);
    // A bind mount shows what lies at the source now, mounts included.
    if(!r.disk().Mount(target, source_host, source, "bind", options, &error)) return Fail(call, "mount: " + error, 255);
  }
  else
  {
    size_t colon = positional[0].find(':');
    if(colon == std::string::npos || (!type.empty() && type != "nfs"))
      return Fail(call, "mount: mounting " + positional[0] + " on " + positional[1] + " failed: Invalid argument", 255);
    std::string host_dir;
    if(!r.network().MountRequest(positional[0].substr(0, colon), positional[0].substr(colon + 1), r.clock().uptime(),
                                 &host_dir, &error))
      return Fail(call, error, 255);
    if(!r.disk().Mount(target, host_dir, positional[0], "nfs", options, &error)) return Fail(call, "mount: " + error, 255);
  }
  r.trace().Add(MountedEvent(r.clock().tick(), positional[0], target));
  return 0;
}

int UmountTool(ToolCall &call)
{
  // -f (force) only matters for a server that no longer answers, which the
  // emulated NFS never leaves hanging; -l (lazy) detaches the whole tree.
  size_t at = 1;
  bool lazy = false;
  for(; at < call.args.size() && call.args[at].size() > 1 && call.args[at][0] == '-'; ++at)
  {
    if(call.args[at].find_first_not_of("fl", 1) != std::string::npos)
      return Fail(call, "umount: usage: umount [-f] [-l] TARGET", 1);
    lazy = lazy || call.args[at].find('l') != std::string::npos;
  }
  if(call.args.size() != at + 1) return Fail(call, "umount: usage: umount [-f] [-l] TARGET", 1);
  const std::string &given = call.args[at];
  std::string target, error;
  Receiver &r = *call.receiver;
  if(!call.Path(given, &target) || !r.disk().Unmount(target, &error, lazy))
    return Fail(call, "umount: can't unmount " + given + ": " + (error == "target is busy" ? "Device or resource busy" : "Invalid argument"), 1);
  r.trace().Add(UnmountedEvent(r.clock().tick(), target));
  return 0;
}

int PortmapTool(ToolCall &call)
{
  Processes &processes = call.receiver->processes();
  if(processes.Find("portmap") != nullptr)
  {
    call.err = "portmap: cannot bind tcp: Address already in use";
    return 1;
  }
  processes.Start("portmap", 1196);
  return 0;
}

int PsTool(ToolCall &call)
{
  call.out = call.receiver->processes().PsOutput(call.receiver->config().ps_layout);
  return 0;
}

int KillTool(ToolCall &call)
{
  int code = 0;
  bool any = false;
  for(size_t k = 1; k < call.args.size(); ++k)
  {
    const std::string &arg = call.args[k];
    long value;
    if(arg[0] == '-' && k == 1 && ParseInt(arg.substr(1), &value)) continue;  // the signal
    any = true;
    if(!ParseInt(arg, &value))
    {
      call.err += "kill: bad pid '" + arg + "'\n";
      code = 1;
    }
    else if(value <= 0)
    {
      // 0 and negative numbers signal whole process groups: on the receiver
      // that would hit the firmware itself.
      call.receiver->Record(TraceKind::kNetwork, "kill " + arg + ": signal to a whole process group");
      code = 1;
    }
    else if(!call.receiver->processes().Kill(static_cast<int>(value)))
    {
      call.err += "kill: can't kill pid " + arg + ": No such process\n";
      code = 1;
    }
  }
  if(!any) return Fail(call, "kill: usage: kill [-SIGNAL] PID", 1);
  return code;
}

}  // namespace

void AddNetworkTools(Shell *shell)
{
  shell->AddTool("ping", PingTool);
  shell->AddTool("busybox", BusyboxTool);
  shell->AddTool("mount", MountTool);
  shell->AddTool("umount", UmountTool);
  shell->AddTool("portmap", PortmapTool);
  shell->AddTool("ps", PsTool);
  shell->AddTool("kill", KillTool);
}

}  // namespace sim
