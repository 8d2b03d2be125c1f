// Finding portmap's process number in the lists real ps tools print, and
// signalling it once only.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/Brimvale.h"
#include "app/display.h"
#include "app/process.h"
#include "sim_fixture.h"

namespace {

std::string g_list;

class ProcessTest : public SimTest {
 protected:
  void SetUp() override
  {
    sim::Receiver &r = Boot();
    MakeDir("/mnt/hd/ProgramFiles/Settings/Brimvale/Logs");
    r.shell().AddTool("ps", [](sim::ToolCall &call) {
      call.out = g_list;
      return 0;
    });
  }

  size_t Kills() const
  {
    std::vector<std::string> c = Commands();
    return static_cast<size_t>(std::count_if(c.begin(), c.end(), [](const std::string &l) { return l.rfind("kill", 0) == 0; }));
  }
};

// Excerpts of lists printed on a Debian 12 PC with a process named portmap
// running (busybox 1.35 `busybox ps`, procps `ps -e`), and the receiver's own
// layout. The line before portmap's is the one a column-33 rule would pick
// for the busybox and procps layouts.
const char kBusybox[] =
    "PID   USER     COMMAND\n"
    "    1 root     /process_api --firecracker-init --addr 0.0.0.0:2024\n"
    "    2 root     [kthreadd]\n"
    "29472 root     bash /dev/fd/3\n"
    "29474 root     ./portmap 60\n"
    "29475 root     /usr/bin/mipsel-linux-gnu-gcc -march=mips32 -v\n";
const char kProcps[] =
    "  PID TTY          TIME CMD\n"
    "    1 ?        00:00:09 process_api\n"
    "29472 ?        00:00:00 bash\n"
    "29474 ?        00:00:00 portmap\n"
    "29479 ?        00:00:00 mipsel-linux-gn\n";
const char kReceiver[] =
    "  PID USER             VSZ STAT COMMAND\n"
    "    1 root            1560 S    init\n"
    "  122 root            1604 S    /usr/sbin/telnetd\n"
    "  300 root            1196 S    portmap\n";

TEST_F(ProcessTest, TheNumberIsTakenFromTheLineThatNamesTheProcess)
{
  const struct {
    const char *what;
    std::string list;
    int expected;  // process number found; 0: none, so nothing may be signalled
  } cases[] = {
      {"busybox, command at column 15", kBusybox, 29474},
      {"procps, command at column 24", kProcps, 29474},
      {"the receiver's ps, command at column 33", kReceiver, 300},
      {"a wrapped command line",
       "  PID USER             VSZ STAT COMMAND\n"
       "    1 root            1560 S    init\n"
       "  301 root            1200 S    /bin/sh -c sleep 5;\n"
       "        portmap\n",
       0},
      {"a number wider than five columns", "PID   USER     COMMAND\n4194301 root     portmap\n", 4194301},
      // A wrapped line that begins with digits is no process line: 12 is
      // not portmap's number.
      {"digits glued to text", "  PID USER COMMAND\n  301 root /bin/sh -c x\n12portmap\n", 0},
  };
  for(const auto &c : cases)
  {
    SCOPED_TRACE(c.what);
    g_list = c.list;
    int number = -1, count = -1;
    ASSERT_EQ(getprocess("portmap", &number, &count, PROCESS_FIRST), 1);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(number, c.expected);
  }
}

// After a failed start-up the bar's expiry ends portmap; a stop request that
// follows must not signal the same number again: by then it may belong to
// another process.
TEST_F(ProcessTest, PortmapIsSignalledOnceOnly)
{
  g_list = kReceiver;
  receiver->processes().Start("portmap", 1196);
  ASSERT_EQ(getprocess("portmap", &pid, &pnum, PROCESS_FIRST), 1);
  ASSERT_EQ(pid, 300);
  tapexit = 1;
  debugtick = 1;
  HideLog();
  EXPECT_EQ(Kills(), 1u);
  EXPECT_EQ(pid, 0);
  TAP_EventHandler(EVT_STOP, 0, 0);
  EXPECT_EQ(Kills(), 1u);
}

}  // namespace
