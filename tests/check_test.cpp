// brimvale-sim check: the report on a folder of settings files, its problems
// and exit statuses, and that its commands are the ones the plug-in runs.
#include "sim/cli/check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "sim/firmware/firmware_dat.h"
#include "sim/scenario/scenario.h"
#include "sim_fixture.h"

namespace {

namespace fs = std::filesystem;

const std::string kExamples = std::string(BRIMVALE_SOURCE_DIR) + "/examples/";
const std::string kSettings = "/mnt/hd/ProgramFiles/Settings/Brimvale/";

struct Result {
  int status;
  std::string text;
};

class CheckTest : public SimTest {
 protected:
  // Checks `folder`; BRIMVALE_SHOW_CHECK=1 prints the report.
  Result Check(const std::string &folder)
  {
    std::ostringstream out;
    int status = CheckSettingsFolder(folder, out);
    if(getenv("BRIMVALE_SHOW_CHECK") != nullptr) std::cout << out.str();
    return {status, out.str()};
  }

  // Checks a folder holding just these files (name -> text).
  Result CheckFiles(const std::map<std::string, std::string> &files)
  {
    std::string folder = sandbox.path() + "/user" + std::to_string(++folders_);
    fs::create_directories(folder);
    for(const auto &[name, text] : files) std::ofstream(folder + "/" + name, std::ios::binary) << text;
    return Check(folder);
  }

  // The commands of the report: lines that begin with one of `tools` after
  // the indentation and a label.
  static std::set<std::string> ReportedCommands(const std::string &report)
  {
    std::set<std::string> commands;
    std::istringstream lines(report);
    for(std::string line; std::getline(lines, line);)
      for(const char *start : {"mount \"", "ping -c1", "/mnt/hd/ProgramFiles/busybox ether-wake"})
      {
        size_t at = line.find(start);
        if(at != std::string::npos) commands.insert(line.substr(at));
      }
    return commands;
  }

  int folders_ = 0;
};

const char *kServer1 =
    "NAS IP-Address=192.168.178.20\r\n"
    "NAS MAC-Address=00:11:32:aa:bb:cc\r\n"
    "Local Folder Name=DiskStation\r\n"
    "Remotefolder MediaFiles=/volume1/video\r\n"
    "Mountoptions=-onolock\r\n";

std::string Server(const std::string &address, const std::string &name, const std::string &media = "/share/video")
{
  return "NAS IP-Address=" + address + "\r\nLocal Folder Name=" + name + "\r\nRemotefolder MediaFiles=" + media +
         "\r\n";
}

// ---- the example folders ----

TEST_F(CheckTest, TheCleanExampleHasNoProblemsAndShowsItsCommands)
{
  Result r = Check(kExamples + "settings");
  EXPECT_EQ(r.status, kCheckClean) << r.text;
  EXPECT_NE(r.text.find("No problems found."), std::string::npos);
  for(const char *expected : {
          "    mount \"nas.fritz.box.:/volume1/video\" \"/mnt/hd/MediaFiles/DiskStation\" "
          "-osoft,intr,tcp,rsize=65535,nolock\n",
          "    mount \"nas.fritz.box.:/volume1/recordings\" \"/mnt/hd/DataFiles/DiskStation\" "
          "-osoft,intr,tcp,rsize=65535,nolock\n",
          "    mount \"4bay:/nfs/Public/Pictures\" \"/mnt/hd/PhotoFiles/MyCloud\" -osoft,intr,tcp,nolock\n",
          "Ping every 30 s: ping -c1 -W3 nas.fritz.box. > /mnt/hd/ProgramFiles/Settings/Brimvale/1.ping\n",
          "Ping every 60 s: ping -c1 -W2 4bay > /mnt/hd/ProgramFiles/Settings/Brimvale/2.ping\n",
          "Wake-up: /mnt/hd/ProgramFiles/busybox ether-wake 00:11:32:aa:bb:cc\n",
          "Files read: Brimvale.ini (server 1 and the global settings), 2.ini\n",
      })
    EXPECT_NE(r.text.find(expected), std::string::npos) << expected << "\n" << r.text;
  // Switched off with "#" directly before the key.
  EXPECT_EQ(r.text.find("/volume1/photo"), std::string::npos) << r.text;
}

TEST_F(CheckTest, TheBrokenExampleNamesEveryProblem)
{
  Result r = Check(kExamples + "settings-broken");
  EXPECT_EQ(r.status, kCheckProblems);
  for(const char *expected : {
          "Brimvale.ini line 2, server 1: not a key=value line",
          "Brimvale.ini line 6, server 1, \"Remotefolder MediaFiles\": \"/volume1/video\\\"; reboot; \\\"\" holds",
          "Brimvale.ini line 7, server 1, \"Remotefolder MP3Files\": \"/volume1/$(reboot)\" holds",
          "Brimvale.ini line 8, server 1, \"Remotefolder PhotoFiles\": the command would be",
          "Brimvale.ini line 11, server 1, \"NAS Boottime\": \"900\" is out of range: the plug-in uses 600",
          "Brimvale.ini line 12, server 1, \"Automount\": \"yes\" is not a plain decimal number",
          "Brimvale.ini line 13, server 1, \"Ping Wiat\": unknown key, ignored: did you mean \"Ping Wait\"?",
          "Brimvale.ini line 14, server 1, \"Ping Gap \": unknown key, ignored: blanks around the key",
          "Brimvale.ini line 15, server 1, \"Logfile\": read from inside the line \"# Logfile=1\" (the value \"1\" is used",
          "2.ini line 1, server 2, \"NAS IP-Address\": \"192.168.1.5;reboot\" holds",
          "2.ini line 2, server 2, \"Local Folder Name\": \"Films\" is server 1's",
          "2.ini line 4, server 2, \"Logfile\": ignored: this setting is read from Brimvale.ini only",
          "3.ini line 2, server 3, \"Local Folder Name\": \"../..\" is not a plain folder name",
          "3.ini line 3, server 3, \"Remotefolder MediaFiles\": \"/share/$(reboot)\" holds",
          "5.ini, server 5: not read: 4.ini is missing",
          "10.ini: not read: the plug-in reads at most 2.ini to 9.ini",
      })
    EXPECT_NE(r.text.find(expected), std::string::npos) << expected << "\n" << r.text;
  // What can be mounted still shows; nothing hostile reaches a command line.
  EXPECT_NE(r.text.find("    mount \"192.168.178.20:/volume1/data\" \"/mnt/hd/DataFiles/Films\" "), std::string::npos);
  for(const std::string &command : ReportedCommands(r.text))
  {
    EXPECT_EQ(command.find("reboot"), std::string::npos) << command;
    EXPECT_EQ(command.find(".."), std::string::npos) << command;
  }
}

// ---- one problem at a time: the report names file, line, server and key ----

TEST_F(CheckTest, EachProblemIsNamedWithItsFileServerAndKey)
{
  const std::string k1 = kServer1;
  const std::string long_folder = "/" + std::string(250, 'v');
  const std::string long_options = "-o" + std::string(250, 'o');
  const struct {
    const char *what;
    std::map<std::string, std::string> files;
    const char *expected;
  } cases[] = {
      {"unsafe address", {{"Brimvale.ini", k1}, {"2.ini", Server("10.0.0.2 -c 9", "Two")}},
       "2.ini line 1, server 2, \"NAS IP-Address\": \"10.0.0.2 -c 9\" holds characters"},
      {"quote in a remote folder", {{"Brimvale.ini", k1}, {"2.ini", Server("10.0.0.2", "Two", "/a\"b")}},
       "2.ini line 3, server 2, \"Remotefolder MediaFiles\": \"/a\\\"b\" holds characters"},
      {"backquote in the local name", {{"Brimvale.ini", k1}, {"2.ini", Server("10.0.0.2", "T`id`")}},
       "2.ini line 2, server 2, \"Local Folder Name\": \"T`id`\" holds characters"},
      {"local name with a slash", {{"Brimvale.ini", k1}, {"2.ini", Server("10.0.0.2", "a/b")}},
       "2.ini line 2, server 2, \"Local Folder Name\": \"a/b\" is not a plain folder name"},
      {"semicolon in the options",
       {{"Brimvale.ini", k1}, {"2.ini", Server("10.0.0.2", "Two") + "Mountoptions=-onolock;reboot\r\n"}},
       "2.ini line 4, server 2, \"Mountoptions\": \"-onolock;reboot\" holds characters"},
      {"unsafe MAC", {{"Brimvale.ini", "NAS MAC-Address=aa:bb|reboot\r\n" + k1}},
       "Brimvale.ini line 1, server 1, \"NAS MAC-Address\": \"aa:bb|reboot\" holds characters"},
      {"command too long",
       {{"Brimvale.ini", k1}, {"2.ini", Server("10.0.0.2", "Two", long_folder) + "Mountoptions=" + long_options}},
       "2.ini line 3, server 2, \"Remotefolder MediaFiles\": the command would be 546 characters long, 511 fit"},
      {"duplicate local names", {{"Brimvale.ini", k1}, {"2.ini", Server("10.0.0.2", "DiskStation")}},
       "2.ini line 2, server 2, \"Local Folder Name\": \"DiskStation\" is server 1's: the plug-in stops at start-up"},
      {"two missing local names",
       {{"Brimvale.ini", k1}, {"2.ini", "NAS IP-Address=10.0.0.2\r\n"}, {"3.ini", "NAS IP-Address=10.0.0.3\r\n"}},
       "3.ini, server 3, \"Local Folder Name\": empty, as is server 2's: the plug-in stops at start-up"},
      {"missing local name", {{"Brimvale.ini", k1}, {"2.ini", "NAS IP-Address=10.0.0.2\r\n"}},
       "2.ini, server 2, \"Local Folder Name\": missing"},
      {"server 1 without address", {{"Brimvale.ini", "Local Folder Name=A\r\n"}},
       "Brimvale.ini, server 1, \"NAS IP-Address\": missing: the plug-in stops at start-up"},
      {"server 1 with an empty local name", {{"Brimvale.ini", "NAS IP-Address=10.0.0.1\r\nLocal Folder Name=\r\n"}},
       "Brimvale.ini line 2, server 1, \"Local Folder Name\": missing: the plug-in stops at start-up"},
      {"file after a gap", {{"Brimvale.ini", k1}, {"2.ini", Server("10.0.0.2", "Two")}, {"4.ini", Server("a", "F")}},
       "4.ini, server 4: not read: 3.ini is missing"},
      {"tenth file", {{"Brimvale.ini", k1}, {"10.ini", Server("10.0.0.10", "Ten")}},
       "10.ini: not read: the plug-in reads at most 2.ini to 9.ini"},
      {"1.ini", {{"Brimvale.ini", k1}, {"1.ini", Server("10.0.0.1", "One")}},
       "1.ini: not read: server 1's settings belong in Brimvale.ini"},
      {"wrong letter case", {{"Brimvale.ini", k1}, {"2.INI", Server("10.0.0.2", "Two")}},
       "2.INI: not read: file names are case-sensitive"},
      {"number out of range", {{"Brimvale.ini", k1 + "Ping Wait=0\r\n"}},
       "Brimvale.ini line 6, server 1, \"Ping Wait\": \"0\" is out of range: the plug-in uses 1"},
      {"number with a blank inside", {{"Brimvale.ini", k1 + "Ping Gap=4 5\r\n"}},
       "Brimvale.ini line 6, server 1, \"Ping Gap\": \"4 5\" is not a plain decimal number: the default 30 is used"},
      {"blank before a number", {{"Brimvale.ini", k1 + "Ping Gap= 45\r\n"}},
       "Brimvale.ini line 6, server 1, \"Ping Gap\": blanks or tabs around the value \" 45\": the plug-in drops them "
       "and reads \"45\""},
      {"blank after a folder name", {{"Brimvale.ini", k1}, {"2.ini", Server("10.0.0.2", "Pi ")}},
       "2.ini line 2, server 2, \"Local Folder Name\": blanks or tabs around the value \"Pi \": the plug-in drops them "
       "and reads \"Pi\""},
      {"address that is an option", {{"Brimvale.ini", k1}, {"2.ini", Server("-oremount,ro", "Two")}},
       "2.ini line 1, server 2, \"NAS IP-Address\": \"-oremount,ro\" is neither an IPv4 address"},
      {"dotted quad out of range", {{"Brimvale.ini", k1}, {"2.ini", Server("192.168.1.300", "Two")}},
       "2.ini line 1, server 2, \"NAS IP-Address\": \"192.168.1.300\" is neither an IPv4 address"},
      {"MAC that is an option", {{"Brimvale.ini", "NAS MAC-Address=-b\r\n" + k1}},
       "Brimvale.ini line 1, server 1, \"NAS MAC-Address\": \"-b\" is not a MAC address"},
      {"MAC of five groups", {{"Brimvale.ini", "NAS MAC-Address=00:11:22:33:44\r\n" + k1}},
       "Brimvale.ini line 1, server 1, \"NAS MAC-Address\": \"00:11:22:33:44\" is not a MAC address"},
      {"MAC without separators", {{"Brimvale.ini", "NAS MAC-Address=b827eb123456\r\n" + k1}},
       "Brimvale.ini line 1, server 1, \"NAS MAC-Address\": \"b827eb123456\" is not a MAC address"},
      {"misspelt key", {{"Brimvale.ini", k1 + "Mount Delay=10\r\n"}},
       "Brimvale.ini line 6, server 1, \"Mount Delay\": unknown key, ignored: did you mean \"MountDelay\"?"},
      {"line without =", {{"Brimvale.ini", k1 + "Logfile 1\r\n"}},
       "Brimvale.ini line 6, server 1: not a key=value line, ignored: \"Logfile 1\""},
      {"key set twice", {{"Brimvale.ini", k1 + "NAS IP-Address=10.9.9.9\r\n"}},
       "Brimvale.ini line 6, server 1, \"NAS IP-Address\": set again, ignored: the plug-in uses the first entry, line 1"},
      {"comment read as a key", {{"Brimvale.ini", "; Automount=0 is off\r\n" + k1}},
       "Brimvale.ini line 1, server 1, \"Automount\": read from inside the line \"; Automount=0 is off\""},
      {"key inside a longer key", {{"Brimvale.ini", "Old Ping Gap=5\r\n" + k1}},
       "Brimvale.ini line 1, server 1, \"Ping Gap\": read from inside the line \"Old Ping Gap=5\""},
      {"global key in a server file",
       {{"Brimvale.ini", k1}, {"2.ini", Server("10.0.0.2", "Two") + "NAS Recording=1\r\n"}},
       "2.ini line 4, server 2, \"NAS Recording\": ignored: this setting is read from Brimvale.ini only"},
      {"address cut to its field", {{"Brimvale.ini", "NAS IP-Address=fritz-nas.home.example.org\r\nLocal Folder Name=A\r\n"}},
       "Brimvale.ini line 1, server 1, \"NAS IP-Address\": longer than 19 characters: cut to \"fritz-nas.home.exam\""},
      {"recording without a DataFiles export", {{"Brimvale.ini", k1 + "NAS Recording=1\r\n"}},
       "Brimvale.ini line 6, server 1, \"NAS Recording\": is 1, but \"Remotefolder DataFiles\" is empty"},
      {"zero byte", {{"Brimvale.ini", k1 + std::string("Ping Gap=60\0\r\nPing Wait=5\r\n", 27)}},
       "the file holds a zero byte: nothing after it is read"},
  };
  for(const auto &c : cases)
  {
    Result r = CheckFiles(c.files);
    EXPECT_EQ(r.status, kCheckProblems) << c.what << "\n" << r.text;
    EXPECT_NE(r.text.find(c.expected), std::string::npos) << c.what << ": " << c.expected << "\n" << r.text;
  }
}

TEST_F(CheckTest, AMissingMainFileShowsTheFileThePluginWouldWrite)
{
  Result r = CheckFiles({{"2.ini", Server("10.0.0.2", "Two")}, {"brimvale.ini", kServer1}});
  EXPECT_EQ(r.status, kCheckProblems);
  for(const char *expected : {"Brimvale.ini, server 1: missing: the plug-in writes a new Brimvale.ini",
                              "2.ini: not read: without Brimvale.ini", "brimvale.ini: not read: file names are "
                              "case-sensitive on the receiver; call it Brimvale.ini",
                              "  NAS IP-Address=192.168.0.10\n", "  Local Folder Name=NAS-Share\n",
                              "  MountDelay=30\n"})
    EXPECT_NE(r.text.find(expected), std::string::npos) << expected << "\n" << r.text;
  // Nothing was read, so nothing is mounted.
  EXPECT_EQ(r.text.find("mount \""), std::string::npos) << r.text;
}

// A letter O for a zero makes a host name the plug-in pings and mounts by
// that name: not a problem, but the owner hears of it.
TEST_F(CheckTest, AMistypedAddressIsAWarningNotAProblem)
{
  Result r = CheckFiles({{"Brimvale.ini", kServer1}, {"2.ini", Server("192.168.1.1O", "Two")},
                         {"3.ini", Server("4bay.", "Three")}});
  EXPECT_EQ(r.status, kCheckClean) << r.text;
  EXPECT_NE(r.text.find("Warnings:\n  2.ini line 1, server 2, \"NAS IP-Address\": \"192.168.1.1O\" is taken for a "
                        "host name, but looks like a mistyped IPv4 address"),
            std::string::npos)
      << r.text;
  EXPECT_NE(r.text.find("    mount \"192.168.1.1O:/share/video\" \"/mnt/hd/MediaFiles/Two\""), std::string::npos) << r.text;
  EXPECT_EQ(r.text.find("\"4bay.\" is taken"), std::string::npos) << r.text;
}

// ---- what is shown: the values the plug-in's code produced ----

TEST_F(CheckTest, ValuesAreThoseThePluginUses)
{
  Result r = CheckFiles({{"Brimvale.ini", std::string(kServer1) + "NAS Boottime=45\r\nNAS Recording=1\r\n"
                                                                  "Remotefolder DataFiles=/volume1/rec\r\nPing Gap=\r\n"},
                         {"2.ini", Server("10.0.0.2", "Two") + "NAS Boottime=20\r\nNAS MAC-Address=00-11-32-aa-bb-02\r\n"},
                         {"3.ini", Server("10.0.0.3", "Three") + "NAS Boottime=50\r\nAutomount=0\r\n"}});
  EXPECT_EQ(r.status, kCheckClean) << r.text;
  for(const char *expected : {
          // Missing and empty keys give the defaults, and say so.
          "  Ping Wait                3   (not set: default)\n",
          "  Ping Gap                 30   (empty, line 9: default)\n",
          "  Remotefolder MP3Files    \"\"   (not set)\n",
          // Server 2 is mounted after the server that holds the recording folder.
          "  NAS Boottime             46   (line 4; raised above server 1's 45 s",
          "  NAS Boottime             50   (line 4)\n",
          // The recording folder itself, not a subfolder.
          "    mount \"192.168.178.20:/volume1/rec\" \"/mnt/hd/DataFiles\" -onolock\n",
          "DataFiles on /mnt/hd/DataFiles (the recording folder",
          "Ping: none (Automount 0",
          // A MAC written with "-" is sent in the form ether-wake takes.
          "  NAS MAC-Address          \"00:11:32:aa:bb:02\"   (line 5; written with - between the groups, sent with :)\n",
          "Wake-up: /mnt/hd/ProgramFiles/busybox ether-wake 00:11:32:aa:bb:02\n",
          "Wake-up: none (no MAC address)",
      })
    EXPECT_NE(r.text.find(expected), std::string::npos) << expected << "\n" << r.text;
}

// ---- what a settings folder may hold: check and run read it alike ----

TEST_F(CheckTest, OnlyRegularFilesOfASensibleSizeAreRead)
{
  std::string outside = sandbox.path() + "/outside.ini";
  std::ofstream(outside) << Server("10.0.0.2", "Elsewhere");
  const struct {
    const char *what;
    std::function<void(const std::string &)> make;  // makes 2.ini in the folder
    std::string problem;
  } cases[] = {
    {"a link to /dev/zero", [](const std::string &f) { fs::create_symlink("/dev/zero", f + "/2.ini"); },
     "2.ini, server 2: is a link to /dev/zero, outside the settings folder: not read"},
    {"a FIFO", [](const std::string &f) { ASSERT_EQ(mkfifo((f + "/2.ini").c_str(), 0600), 0); },
     "2.ini, server 2: is a FIFO (named pipe), not a settings file: not read"},
    {"a link out of the folder", [&](const std::string &f) { fs::create_symlink(outside, f + "/2.ini"); },
     "2.ini, server 2: is a link to " + outside + ", outside the settings folder: not read"},
    {"a folder", [](const std::string &f) { fs::create_directory(f + "/2.ini"); },
     "2.ini, server 2: is a folder, not a settings file: not read"},
    {"a huge file", [](const std::string &f) { std::ofstream(f + "/2.ini") << std::string(64 * 1024 + 1, '#'); },
     "2.ini, server 2: is larger than 64 KiB, more than any settings file holds: not read"},
  };
  for(const auto &c : cases)
  {
    std::string folder = sandbox.path() + "/user" + std::to_string(++folders_);
    fs::create_directories(folder);
    std::ofstream(folder + "/Brimvale.ini") << kServer1;
    c.make(folder);
    Result r = Check(folder);
    EXPECT_EQ(r.status, kCheckProblems) << c.what << "\n" << r.text;
    EXPECT_NE(r.text.find(c.problem), std::string::npos) << c.what << "\n" << r.text;
    // A scenario that reads the folder refuses it with the same words.
    std::string scenario = folder + ".toml";
    std::ofstream(scenario) << "[settings]\nfrom = \"" << folder << "\"\n";
    sim::Scenario s;
    std::string error;
    EXPECT_FALSE(sim::LoadScenario(scenario, &s, &error)) << c.what;
    EXPECT_NE(error.find(":2: settings.from: " + folder + "/2.ini " + c.problem.substr(c.problem.find(": ") + 2)),
              std::string::npos)
        << error;
  }
  // A link to a file beside it is read as that file.
  std::string folder = sandbox.path() + "/linked";
  fs::create_directories(folder);
  std::ofstream(folder + "/Brimvale.ini") << kServer1;
  std::ofstream(folder + "/second.txt") << Server("192.168.178.21", "MyCloud");
  fs::create_symlink("second.txt", folder + "/2.ini");
  Result r = Check(folder);
  EXPECT_EQ(r.status, kCheckClean) << r.text;
  EXPECT_NE(r.text.find("mount \"192.168.178.21:/share/video\" \"/mnt/hd/MediaFiles/MyCloud\""), std::string::npos)
      << r.text;
}

TEST_F(CheckTest, AByteOrderMarkIsSkippedAndNamesShowAsOnTheReceiver)
{
  // A Windows editor's UTF-8 mark before the first key, and a folder name
  // in the receiver's ISO 8859-1.
  Result r = CheckFiles({{"Brimvale.ini", "\xEF\xBB\xBF" + Server("192.168.178.20", "M\xE4use")}});
  EXPECT_EQ(r.status, kCheckClean) << r.text;
  EXPECT_EQ(r.text.find("unknown key"), std::string::npos) << r.text;
  EXPECT_NE(r.text.find("Warnings:\n  Brimvale.ini begins with a UTF-8 byte-order mark, which the receiver does not "
                        "expect"),
            std::string::npos)
      << r.text;
  EXPECT_NE(r.text.find("Local Folder Name        \"M\xC3\xA4use\""), std::string::npos) << r.text;
  EXPECT_NE(r.text.find("\"/mnt/hd/MediaFiles/M\xC3\xA4use\""), std::string::npos) << r.text;
  EXPECT_EQ(r.text.find("\xE4"), std::string::npos) << "no ISO 8859-1 byte on a UTF-8 terminal";
}

// ---- exit statuses ----

TEST_F(CheckTest, AFolderThatCannotBeReadGivesTwo)
{
  Result missing = Check(sandbox.path() + "/no-such-folder");
  EXPECT_EQ(missing.status, kCheckUnreadable);
  EXPECT_NE(missing.text.find("no folder"), std::string::npos) << missing.text;

  std::string file = sandbox.path() + "/a-file";
  std::ofstream(file) << "NAS IP-Address=10.0.0.1\r\n";
  EXPECT_EQ(Check(file).status, kCheckUnreadable);
}

TEST_F(CheckTest, ASettingsFileThatCannotBeReadGivesTwo)
{
  if(geteuid() == 0) GTEST_SKIP() << "root reads any file";
  std::string folder = sandbox.path() + "/locked";
  fs::create_directories(folder);
  std::ofstream(folder + "/Brimvale.ini") << kServer1;
  fs::permissions(folder + "/Brimvale.ini", fs::perms::none);
  EXPECT_EQ(Check(folder).status, kCheckUnreadable);
}

TEST_F(CheckTest, TheTemporaryReceiverIsRemovedAndTheUserFolderUntouched)
{
  std::string tmp = sandbox.path() + "/tmp";
  fs::create_directories(tmp);
  setenv("TMPDIR", tmp.c_str(), 1);
  // Logfile 1 makes the plug-in write its run log while it reads.
  Result r = CheckFiles({{"Brimvale.ini", std::string(kServer1) + "Logfile=1\r\n"}});
  EXPECT_EQ(r.status, kCheckClean) << r.text;
  EXPECT_TRUE(fs::is_empty(tmp));
  std::vector<std::string> names;
  for(const auto &e : fs::directory_iterator(sandbox.path() + "/user1")) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"Brimvale.ini"});
  // Nor is a missing main file written into the user's folder.
  Result missing = CheckFiles({});
  EXPECT_EQ(missing.status, kCheckProblems);
  EXPECT_TRUE(fs::is_empty(sandbox.path() + "/user2"));
  EXPECT_TRUE(fs::is_empty(tmp));
}

// ---- one source: the checker shows what the plug-in runs ----

TEST_F(CheckTest, TheCommandsShownAreTheOnesThePluginRuns)
{
  const std::string main_ini =
      "NAS IP-Address=192.168.178.20\r\nNAS MAC-Address=00:11:32:aa:bb:cc\r\nLocal Folder Name=Disk Station\r\n"
      "Remotefolder MediaFiles=/volume1/my video\r\nRemotefolder MP3Files=/volume1/music\r\n"
      "Remotefolder DataFiles=/volume1/rec\r\nMountoptions=-osoft,intr,tcp,rsize=65535,nolock\r\n"
      "NAS Boottime=5\r\nPing Wait=2\r\nNAS Recording=1\r\nMountDelay=5\r\n";
  const std::string second =
      "NAS IP-Address=192.168.178.21\r\nLocal Folder Name=Second\r\nRemotefolder PhotoFiles=/share/pics\r\n"
      "Remotefolder DataFiles=/share/data\r\nMountoptions=-onolock\r\nPing Wait=1\r\n";
  Result r = CheckFiles({{"Brimvale.ini", main_ini}, {"2.ini", second}});
  ASSERT_EQ(r.status, kCheckClean) << r.text;
  std::set<std::string> shown = ReportedCommands(r.text);
  EXPECT_EQ(shown.size(), 8u) << r.text;  // 3 + 2 mounts, 2 pings, 1 wake-up

  // The same settings on a receiver with the shipped plug-in and both servers at home.
  sim::NasConfig rec, two;
  rec.name = "rec", rec.address = "192.168.178.20", rec.mac = "00:11:32:aa:bb:cc";
  two.name = "two", two.address = "192.168.178.21";
  for(const char *e : {"/volume1/my video", "/volume1/music", "/volume1/rec"})
    fs::create_directories(rec.exports[e] = sandbox.path() + "/nas/rec" + e);
  for(const char *e : {"/share/pics", "/share/data"})
    fs::create_directories(two.exports[e] = sandbox.path() + "/nas/two" + e);
  config.servers = {rec, two};
  config.uptime_ticks = 60000;
  Boot();
  WriteFile("/mnt/hd/ProgramFiles/FirmwareTMS.dat", sim::FirmwareDat{{2012, 5, 1}, {{22010, 6, 1}}}.Bytes());
  WriteFile("/mnt/hd/ProgramFiles/busybox", "busybox stand-in\n");
  WriteFile(kSettings + "Brimvale.ini", main_ini);
  WriteFile(kSettings + "2.ini", second);
  LoadTap();
  ASSERT_EQ(receiver->Start(), 1);
  receiver->RunIdle(6000, 10);

  std::set<std::string> ran;
  for(const std::string &t : receiver->trace().Texts(sim::TraceKind::kShell))
  {
    std::string command = t.substr(1, t.rfind("\" -> ") - 1);
    for(const std::string &s : shown)
      if(command == s) ran.insert(command);
  }
  EXPECT_EQ(ran, shown);
  // And they did what the report says: the recording folder is the export.
  EXPECT_EQ(receiver->disk().mounts().size(), 8u);  // root, 5 exports, 2 bind mounts
}

TEST_F(CheckTest, ACommandTooLongIsRefusedBeforeAnythingIsMadeOrSwitched)
{
  // The report calls both commands too long; the plug-in must then neither
  // make a mount point nor start the recording redirection for them.
  const std::string options = "-o" + std::string(240, 'o');
  const std::string long_folder = "/" + std::string(250, 'v');
  const std::string main_ini = "NAS IP-Address=192.168.178.20\r\nLocal Folder Name=Disk\r\nRemotefolder MediaFiles=" +
                               long_folder + "\r\nRemotefolder DataFiles=" + long_folder + "x\r\nMountoptions=" +
                               options + "\r\nNAS Recording=1\r\nNAS Boottime=5\r\nLogfile=1\r\n";
  Result r = CheckFiles({{"Brimvale.ini", main_ini}});
  EXPECT_NE(r.text.find("\"Remotefolder MediaFiles\": the command would be 543 characters long"), std::string::npos)
      << r.text;
  EXPECT_NE(r.text.find("\"Remotefolder DataFiles\": the command would be 538 characters long"), std::string::npos)
      << r.text;

  sim::NasConfig nas;
  nas.name = "nas", nas.address = "192.168.178.20";
  config.servers = {nas};
  Boot();
  WriteFile("/mnt/hd/ProgramFiles/FirmwareTMS.dat", sim::FirmwareDat{{2012, 5, 1}, {{22010, 6, 1}}}.Bytes());
  WriteFile("/mnt/hd/ProgramFiles/busybox", "busybox stand-in\n");
  WriteFile(kSettings + "Brimvale.ini", main_ini);
  LoadTap();
  ASSERT_EQ(receiver->Start(), 1);
  receiver->RunIdle(4000, 10);
  std::string log = ReadFile(kSettings + "Logs/Brimvale.log");
  EXPECT_NE(log.find("Command too long - not run: mount \"192.168.178.20:/vvvv"), std::string::npos) << log;
  EXPECT_NE(log.find("Start mounting of 1. NAS: 192.168.178.20 (2 try)"), std::string::npos) << log;
  for(const std::string &t : receiver->trace().Texts(sim::TraceKind::kShell))
  {
    EXPECT_EQ(t.find("mkdir"), std::string::npos) << t;
    EXPECT_EQ(t.find("mount -o bind"), std::string::npos) << t;
  }
  EXPECT_FALSE(Exists("/mnt/hd/MediaFiles/Disk"));
  EXPECT_FALSE(Exists("/mnt/hd/DF_local"));
  EXPECT_EQ(receiver->disk().mounts().size(), 1u);
  EXPECT_EQ(receiver->written_system_var(SYSVAR_TIMESHIFT_STORAGE), 0) << "never switched";
}

}  // namespace
