// libFuzzer driver for the reachability probe: isOnline with any address
// text a settings file could carry, and any report the receiver's ping could
// write into the result file.
//
// Input: byte 0 the record (n = this % 10) and switches, byte 1 the reply
// time-out, then the address up to a zero byte (cut to the field), then
// ping's report.
// Checked: a record with Automount 0 runs nothing and counts as online; an
// address runs ping only when a POSIX shell would pass it on as one plain
// word, and ping then gets exactly its three arguments; the verdict is
// "more than 200 bytes of report with a reply line in its first 2048 bytes";
// the result file is gone after a verdict;
// nothing is left on the heap or the folder stack.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/Brimvale.h"
#include "app/command.h"
#include "app/probe.h"
#include "fuzz_receiver.h"

namespace {

constexpr uint8_t kAutoMountOff = 0x80;
constexpr uint8_t kLogfile = 0x40;  // the run log is written too
const std::string kLog = std::string(fuzz::kAppFolder) + "/Logs/Brimvale.log";

std::string g_report;
std::vector<std::vector<std::string>> g_calls;

int FakePing(sim::ToolCall &call)
{
  g_calls.push_back(call.args);
  call.out = g_report;
  return g_report.size() > 200 ? 0 : 1;
}

// At most one word that a POSIX shell passes on unchanged, whatever stands
// next to it: no field separator, quote, expansion, glob, redirection,
// command separator or comment. (Empty: ping then simply has no host.)
bool PlainWord(const std::string &text)
{
  for(char c : text)
    if(strchr(" \t\r\n\"'`$\\;&|<>()*?[]{}~#!", c) != nullptr) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if(size < 2 || size > 65536) return 0;
  sim::Receiver &r = fuzz::TheReceiver();
  static bool installed = false;
  if(!installed)
  {
    r.shell().AddTool("ping", FakePing);
    installed = true;
  }
  fuzz::NextInput();
  g_calls.clear();

  int n = data[0] % SERVER_TABLE_SIZE;
  ServerRecord &server = ServerTable[n];
  memset(&server, 0, sizeof(server));
  server.autoMount = data[0] & kAutoMountOff ? 0 : 1;
  server.pingWait = 1 + data[1] % 10;
  logfile = data[0] & kLogfile ? 1 : 0;
  data += 2;
  size -= 2;
  std::string address = fuzz::TakeText(&data, &size, sizeof(server.address) - 1);
  memcpy(server.address, address.c_str(), address.size() + 1);
  g_report.assign(reinterpret_cast<const char *>(data), size);
  char pingFile[64];
  snprintf(pingFile, sizeof(pingFile), "%s/%d.ping", fuzz::kAppFolder, n);
  std::string resultFile = pingFile;

  size_t commands = r.trace().Count(sim::TraceKind::kShell);
  int online = isOnline(server.address, n);
  size_t ran = r.trace().Count(sim::TraceKind::kShell) - commands;
  fuzz::CheckNothingLeft();
  fuzz::Remove(kLog);

  if(server.autoMount == 0)
  {
    FUZZ_CHECK(online == 1 && ran == 0 && g_calls.empty());
    return 0;
  }
  // Whatever the shell would read as more than one word, a redirection or a
  // second command never reaches it.
  if(ran > 0) FUZZ_CHECK(PlainWord(address));
  // Only an address the plug-in's own rule accepts is pinged, and such an
  // address always is.
  if(ran > 0) FUZZ_CHECK(CheckAddress(address.c_str()) == COMMAND_READY);
  if(CheckAddress(address.c_str()) == COMMAND_READY) FUZZ_CHECK(g_calls.size() == 1);
  if(g_calls.empty())
  {
    FUZZ_CHECK(online == 0);
    fuzz::Remove(resultFile);
    return 0;
  }
  FUZZ_CHECK(g_calls.size() == 1);
  std::vector<std::string> expected = {"ping", "-c1", "-W" + std::to_string(server.pingWait)};
  if(!address.empty()) expected.push_back(address);
  FUZZ_CHECK(g_calls[0] == expected);
  // The model of the verdict: long enough, and a reply line near the start
  // (a zero byte ends the text the plug-in searches).
  std::string head = g_report.substr(0, 2048);
  head = head.substr(0, head.find('\0'));
  bool reply = g_report.size() > 200 && head.find(" bytes from ") != std::string::npos;
  FUZZ_CHECK(online == (reply ? 1 : 0));
  FUZZ_CHECK(!fuzz::Exists(resultFile));
  return 0;
}
