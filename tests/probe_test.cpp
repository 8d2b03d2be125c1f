// The reachability probe judged by ping's report: a reply line makes a
// server online, the report's length alone does not.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/Brimvale.h"
#include "app/probe.h"
#include "sim_fixture.h"

namespace {

std::string g_report;

class ProbeTest : public SimTest {
 protected:
  // isOnline for record 1 with `address`, ping writing `report`.
  int Verdict(const std::string &address, const std::string &report)
  {
    g_report = report;
    ServerRecord &s = ServerTable[1];
    std::memset(&s, 0, sizeof(s));
    std::strncpy(s.address, address.c_str(), sizeof(s.address) - 1);
    s.autoMount = 1;
    s.pingWait = 1;
    return isOnline(s.address, 1);
  }

  void SetUp() override
  {
    sim::Receiver &r = Boot();
    MakeDir("/mnt/hd/ProgramFiles/Settings/Brimvale");
    r.shell().AddTool("ping", [](sim::ToolCall &call) {
      call.out = g_report;
      return 0;
    });
  }
};

TEST_F(ProbeTest, AReplyLineMakesTheServerOnline)
{
  EXPECT_EQ(Verdict("192.168.178.20",
                    "PING 192.168.178.20 (192.168.178.20): 56 data bytes\n"
                    "64 bytes from 192.168.178.20: seq=0 ttl=64 time=0.421 ms\n\n"
                    "--- 192.168.178.20 ping statistics ---\n"
                    "1 packets transmitted, 1 packets received, 0% packet loss\n"
                    "round-trip min/avg/max = 0.421/0.421/0.421 ms\n"),
            1);
  EXPECT_FALSE(Exists("/mnt/hd/ProgramFiles/Settings/Brimvale/1.ping")) << "the report is removed";
}

TEST_F(ProbeTest, ALongReportWithoutAReplyIsOffline)
{
  // A long host name that did not answer: over 200 bytes, no reply.
  const std::string host = "recordings-diskstation.living-room.home.example.lan";
  std::string silent = "PING " + host + " (192.168.178.20): 56 data bytes\n\n--- " + host +
                       " ping statistics ---\n1 packets transmitted, 0 packets received, 100% packet loss\n";
  ASSERT_GT(silent.size(), 200u);
  EXPECT_EQ(Verdict(host, silent), 0);
  // iputils: an unreachable host reported by the router.
  std::string unreachable =
      "PING 10.77.0.9 (10.77.0.9) 56(84) bytes of data.\n"
      "From 10.77.0.1 icmp_seq=1 Destination Host Unreachable\n\n"
      "--- 10.77.0.9 ping statistics ---\n"
      "1 packets transmitted, 0 received, +1 errors, 100% packet loss, time 0ms\n\n";
  ASSERT_GT(unreachable.size(), 200u);
  EXPECT_EQ(Verdict("10.77.0.9", unreachable), 0);
}

TEST_F(ProbeTest, AShortReportIsOfflineEvenWithAReplyWord)
{
  EXPECT_EQ(Verdict("10.0.0.1", "64 bytes from 10.0.0.1\n"), 0);
}

}  // namespace
