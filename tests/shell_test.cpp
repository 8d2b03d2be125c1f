// The stand-in receiver shell behind system(): the command forms the plug-in
// uses work; everything else fails loudly and nothing reaches the PC.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "sim/report/report_html.h"
#include "sim/report/timeline.h"
#include "sim_fixture.h"

namespace {

namespace fs = std::filesystem;

TEST(ShellParse, SplitsWordsQuotesSequencesAndRedirections)
{
  std::vector<sim::ParsedCommand> cmds;
  std::string error;
  ASSERT_TRUE(sim::ParseCommandLine("cd /mnt/hd/ProgramFiles; chmod 555 busybox", &cmds, &error)) << error;
  ASSERT_EQ(cmds.size(), 2u);
  EXPECT_EQ(cmds[0].words, (std::vector<std::string>{"cd", "/mnt/hd/ProgramFiles"}));
  EXPECT_EQ(cmds[1].words, (std::vector<std::string>{"chmod", "555", "busybox"}));

  ASSERT_TRUE(sim::ParseCommandLine("mount \"192.168.1.5:/volume 1/Filme\" \"/mnt/hd/MediaFiles/NAS Ä\" -osoft,intr", &cmds, &error));
  EXPECT_EQ(cmds[0].words, (std::vector<std::string>{"mount", "192.168.1.5:/volume 1/Filme", "/mnt/hd/MediaFiles/NAS Ä", "-osoft,intr"}));

  ASSERT_TRUE(sim::ParseCommandLine("ping -c1 -W3 nas > /mnt/hd/x/1.ping 2>&1", &cmds, &error));
  EXPECT_EQ(cmds[0].words, (std::vector<std::string>{"ping", "-c1", "-W3", "nas"}));
  EXPECT_EQ(cmds[0].redirect, "/mnt/hd/x/1.ping");
  EXPECT_TRUE(cmds[0].stderr_to_out);

  ASSERT_TRUE(sim::ParseCommandLine("ps >/mnt/hd/ps.txt", &cmds, &error));
  EXPECT_EQ(cmds[0].redirect, "/mnt/hd/ps.txt");
  ASSERT_TRUE(sim::ParseCommandLine("mkdir \"a \\\"quoted\\\" name\"", &cmds, &error));
  EXPECT_EQ(cmds[0].words[1], "a \"quoted\" name");
}

TEST(ShellParse, RefusesWhatTheStandInDoesNotUnderstand)
{
  const char *lines[] = {
    "mkdir a | tee b", "mkdir a && reboot", "mkdir a & reboot", "mkdir $(reboot)", "mkdir `reboot`",
    "mkdir \"$(reboot)\"", "mkdir \"`reboot`\"", "mkdir a\nreboot", "mkdir 'quoted'", "mkdir a >> log",
    "mkdir \"unterminated", "mkdir a < b", "mkdir a >", "ls *", "mkdir ~", "mkdir a # comment",
  };
  for(const char *line : lines)
  {
    std::vector<sim::ParsedCommand> cmds;
    std::string error;
    EXPECT_FALSE(sim::ParseCommandLine(line, &cmds, &error)) << line;
    EXPECT_NE(error.find("syntax error"), std::string::npos) << line;
  }
}

class ShellTest : public SimTest {};

TEST_F(ShellTest, RunsTheChmodOfBusyboxAndReportsStatus)
{
  sim::Receiver &r = Boot();
  WriteFile("/mnt/hd/ProgramFiles/busybox", "#!");
  fs::permissions(HostPath("/mnt/hd/ProgramFiles/busybox"), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(system("cd /mnt/hd/ProgramFiles; chmod 555 busybox"), 0);
  struct stat st;
  ASSERT_EQ(::stat(HostPath("/mnt/hd/ProgramFiles/busybox").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0555u);
  EXPECT_NE(system("cd /mnt/hd/Nowhere; chmod 555 busybox"), 0) << "the last command's status counts";
  const auto shell = r.trace().Texts(sim::TraceKind::kShell);
  ASSERT_EQ(shell.size(), 2u);
  EXPECT_EQ(shell[0], "\"cd /mnt/hd/ProgramFiles; chmod 555 busybox\" -> 0");
}

TEST_F(ShellTest, StatusIsTheExitCodeShiftedAsSystemReturnsIt)
{
  sim::Receiver &r = Boot();
  const struct {
    const char *line;
    int exit_code;
  } cases[] = {
    {"mkdir /mnt/hd/A", 0},
    {"mkdir /mnt/hd/A", 1},          // exists
    {"mkdir -p /mnt/hd/A/B/C", 0},
    {"rmdir /mnt/hd/A", 1},          // not empty
    {"rmdir /mnt/hd/A/B/C", 0},
    {"rmdir /mnt/hd/Nothing", 1},
    {"reboot", 127},                 // no such tool: nothing runs on the PC
    {"rm -rf /", 127},
    {"/bin/sh -c true", 127},
    {"mkdir a | b", 2},
    {"chmod 99x /mnt/hd/A", 1},
  };
  for(const auto &c : cases)
  {
    EXPECT_EQ(system(c.line), c.exit_code << 8) << c.line;
    EXPECT_EQ(r.shell().last_exit(), c.exit_code) << c.line;
  }
  EXPECT_TRUE(fs::is_directory(HostPath("/mnt/hd/A/B")));
}

TEST_F(ShellTest, ToolsNamedByPathMustBeThereAndExecutable)
{
  sim::Receiver &r = Boot();
  r.shell().AddTool("busybox", [](sim::ToolCall &call) {
    call.out = "applet " + (call.args.size() > 1 ? call.args[1] : std::string()) + "\n";
    return 0;
  });
  EXPECT_EQ(system("/mnt/hd/ProgramFiles/busybox ether-wake 00:11:22:33:44:55"), 127 << 8);
  WriteFile("/mnt/hd/ProgramFiles/busybox", "#!");
  fs::permissions(HostPath("/mnt/hd/ProgramFiles/busybox"), fs::perms::owner_read);
  EXPECT_EQ(system("/mnt/hd/ProgramFiles/busybox ether-wake 00:11:22:33:44:55"), 126 << 8);
  fs::permissions(HostPath("/mnt/hd/ProgramFiles/busybox"), fs::perms::owner_all);
  EXPECT_EQ(system("/mnt/hd/ProgramFiles/busybox ether-wake 00:11 > /mnt/hd/out.txt"), 0);
  EXPECT_EQ(ReadFile("/mnt/hd/out.txt"), "applet ether-wake\n");
}

TEST_F(ShellTest, RedirectionWritesIntoTheSandboxOnly)
{
  Boot();
  EXPECT_EQ(system("mkdir /mnt/hd/A > /mnt/hd/out.txt"), 0);
  EXPECT_EQ(ReadFile("/mnt/hd/out.txt"), "");
  EXPECT_EQ(system("mkdir /mnt/hd/A > /mnt/hd/out.txt 2>&1"), 1 << 8);
  EXPECT_NE(ReadFile("/mnt/hd/out.txt").find("can't create directory"), std::string::npos);
  EXPECT_EQ(system("mkdir /mnt/hd/B > /mnt/hd/Missing/out.txt"), 2 << 8) << "no folder for the output";
  EXPECT_FALSE(Exists("/mnt/hd/B")) << "a failed redirection runs nothing";
  MakeDir("/tmp");
  EXPECT_EQ(system("mkdir /mnt/hd/C > ../../../../tmp/escape.txt"), 0);
  EXPECT_TRUE(Exists("/tmp/escape.txt")) << "relative to the shell's folder, clamped at the sandbox root";
}

TEST_F(ShellTest, RmdirOfAMountPointIsBusy)
{
  sim::Receiver &r = Boot();
  Sandbox nas;
  MakeDir("/mnt/hd/MediaFiles/NAS");
  std::string error;
  ASSERT_TRUE(r.disk().Mount("/mnt/hd/MediaFiles/NAS", nas.path(), "n:/", "nfs", "", &error));
  EXPECT_EQ(system("rmdir \"/mnt/hd/MediaFiles/NAS\""), 1 << 8);
  EXPECT_TRUE(fs::exists(nas.path()));
}

// The shell records each tool with its words as it split them: a mount
// point whose folder name holds a blank is one word, so a failed unmount of
// it is marked on its server in the report, as commands.txt tells it.
TEST_F(ShellTest, AFailedUnmountOfAFolderNamedWithABlankIsMarkedOnItsServer)
{
  config.servers = {NasWithExports("nas", "192.168.178.20", {"/video"})};
  sim::Receiver &r = Boot();
  MakeDir("/mnt/hd/MediaFiles/My NAS");
  EXPECT_EQ(system("mount \"192.168.178.20:/video\" \"/mnt/hd/MediaFiles/My NAS\" -onolock"), 0);
  // Something mounted inside keeps it busy.
  EXPECT_EQ(system("mkdir \"/mnt/hd/MediaFiles/My NAS/in\""), 0);
  EXPECT_EQ(system("mount -o bind /mnt/hd/DataFiles \"/mnt/hd/MediaFiles/My NAS/in\""), 0);
  EXPECT_EQ(system("umount \"/mnt/hd/MediaFiles/My NAS\""), 1 << 8);

  sim::TimelineInput in;
  in.start_tick = r.clock().tick();
  in.duration = 60;
  in.servers = r.network().servers();
  sim::RunTimeline tl = sim::BuildTimeline(in, r.trace().entries());
  ASSERT_EQ(tl.servers.size(), 1u);
  std::string failed;
  for(const sim::Mark &m : tl.servers[0].marks)
    if(m.kind == sim::MarkKind::kUnmountFailed) failed = m.text;
  EXPECT_EQ(failed, "unmount failed: umount: can't unmount /mnt/hd/MediaFiles/My NAS: Device or resource busy");
  EXPECT_NE(sim::ReportHtml(tl, sim::ReportInfo()).find("class=\"k-ufail\""), std::string::npos);
}

TEST_F(ShellTest, WithoutAReceiverNothingRuns)
{
  EXPECT_EQ(system("mkdir /tmp/should-not-exist"), -1);
  EXPECT_EQ(system(nullptr), 0);
}

}  // namespace
