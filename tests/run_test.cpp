// `brimvale-sim run` from scenario file to output folder: the folder appears
// whole or not at all, never in place of something the run did not write,
// and a mistake is named by file, line and key.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "sim/cli/run.h"
#include "sim/report/run_report.h"
#include "sim_fixture.h"

namespace {

namespace fs = std::filesystem;

class RunCommand : public ::testing::Test {
 protected:
  RunCommand()
  {
    options.tap = BRIMVALE_TAP;
    options.firmware_dir = BRIMVALE_FIRMWARE_DIR;
    options.out = sandbox.path() + "/out/run";
  }

  std::string Read(const std::string &path)
  {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Runs the command; what it printed ends up in `printed` and `errors`.
  int Run()
  {
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    int status = sim::RunScenarioFile(options, out, err);
    for(auto [file, text] : {std::pair{out, &printed}, std::pair{err, &errors}})
    {
      std::rewind(file);
      char buffer[4096];
      text->clear();
      for(size_t n; (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0;) text->append(buffer, n);
      std::fclose(file);
    }
    return status;
  }

  // Runs the command in a child process with a mount namespace of its own,
  // in which /dev/shm is a fresh memory disk mounted with `mount_options`;
  // `beside` runs in a thread of the child while the command runs. The
  // exit status, kNoNamespace when the machine gives the test none, or
  // kBesideFailed when `beside` answered false.
  static constexpr int kNoNamespace = 77, kBesideFailed = 78;
  int RunWithMemoryDisk(const char *mount_options, const std::function<bool()> &beside = {})
  {
    const std::string errors_file = sandbox.path() + "/errors.txt";
    std::fflush(nullptr);
    pid_t child = fork();
    if(child == 0)
    {
      if(unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
         mount("tmpfs", "/dev/shm", "tmpfs", 0, mount_options) != 0)
        _exit(kNoNamespace);
      bool beside_ok = true;
      std::thread thread;
      if(beside) thread = std::thread([&] { beside_ok = beside(); });
      std::FILE *out = std::fopen("/dev/null", "w");
      std::FILE *err = std::fopen(errors_file.c_str(), "w");
      int status = sim::RunScenarioFile(options, out, err);
      std::fclose(err);
      if(thread.joinable()) thread.join();
      _exit(beside_ok ? status : kBesideFailed);
    }
    int status = 0;
    if(child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    errors = Read(errors_file);
    return WEXITSTATUS(status);
  }

  // A previous run's output, to be kept or replaced as a whole.
  void PreviousOutput()
  {
    fs::create_directories(options.out);
    std::ofstream(options.out + "/.brimvale-output")
        << "brimvale-sim output folder; a later run replaces it\nwritten by the run:\nprevious.txt\n";
    std::ofstream(options.out + "/previous.txt") << "from the run before";
  }

  // Anything but the output folder left next to it.
  std::vector<std::string> Leftovers()
  {
    std::vector<std::string> names;
    if(!fs::exists(fs::path(options.out).parent_path())) return names;
    for(const auto &e : fs::directory_iterator(fs::path(options.out).parent_path()))
      if(e.path().filename() != "run") names.push_back(e.path().filename().string());
    return names;
  }

  std::string Scenario(const std::string &text)
  {
    std::string path = sandbox.path() + "/home.toml";
    std::ofstream(path) << text;
    return path;
  }

  Sandbox sandbox;
  sim::RunOptions options;
  std::string printed, errors;
};

TEST_F(RunCommand, AMistakeLeavesThePreviousOutputUntouched)
{
  const struct {
    const char *text;
    const char *message;
  } cases[] = {
    {"[receiver]\nlanguage = \"german\"\n\n[[timer]]\nstart = \"soon\"\n", ":5: timer[1].start: must be"},
    {"[settings]\nfrom = \"missing\"\n", ":2: settings.from: no folder"},
    {"[run]\nduration = [\n", ":"},
  };
  for(const auto &c : cases)
  {
    options.scenario = Scenario(c.text);
    PreviousOutput();
    EXPECT_EQ(Run(), 2) << c.text;
    EXPECT_NE(errors.find(options.scenario + c.message), std::string::npos) << errors;
    EXPECT_EQ(Read(options.out + "/previous.txt"), "from the run before");
    EXPECT_FALSE(fs::exists(options.out + "/summary.txt"));
    EXPECT_TRUE(Leftovers().empty());
    fs::remove_all(options.out);
    EXPECT_EQ(Run(), 2);
    EXPECT_FALSE(fs::exists(options.out)) << "no output folder at all";
    EXPECT_TRUE(Leftovers().empty());
  }
}

TEST_F(RunCommand, AReceiverThatCannotBeBuiltLeavesNoOutput)
{
  options.scenario = std::string(BRIMVALE_SOURCE_DIR) + "/examples/startup/clean.toml";
  options.tap = sandbox.path() + "/no-such.tap";
  PreviousOutput();
  EXPECT_EQ(Run(), 1);
  EXPECT_NE(errors.find("no-such.tap"), std::string::npos) << errors;
  EXPECT_EQ(Read(options.out + "/previous.txt"), "from the run before");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(RunCommand, ACompleteRunReplacesThePreviousOutputWhole)
{
  options.scenario = std::string(BRIMVALE_SOURCE_DIR) + "/examples/timers.toml";
  options.quiet = true;
  PreviousOutput();
  ASSERT_EQ(Run(), 0) << errors;
  EXPECT_FALSE(fs::exists(options.out + "/previous.txt"));
  EXPECT_TRUE(Leftovers().empty());
  EXPECT_EQ(errors, "") << "no progress line unless asked for";
  // Quiet: the summary only, no timeline.
  EXPECT_EQ(printed.find("command "), std::string::npos) << printed;
  EXPECT_NE(printed.find("diskstation   192.168.178.20"), std::string::npos) << printed;

  for(const char *file : {"Brimvale.log", "commands.txt", "tree.txt", "summary.txt", "timers.txt"})
    EXPECT_TRUE(fs::exists(options.out + "/" + file)) << file;
  EXPECT_FALSE(fs::is_empty(options.out + "/screenshots"));
  std::string summary = Read(options.out + "/summary.txt");
  // Woken at once, answers after its 30 s boot, mounted 20 s later in one
  // attempt, everything unmounted at the stop; times on the receiver's clock.
  EXPECT_NE(summary.find("diskstation   192.168.178.20    23:53:30  23:54:03    23:54:23         1       0       2 "
                         "        2 "),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("plug-in: TAP_Main returned 1, was stopped at the end of the run\n"), std::string::npos);
  EXPECT_NE(summary.find("#0 \"Late news\" record 1: 2026-12-08 23:59 for 30 min -> 2026-12-09 00:00 for 29 min\n"),
            std::string::npos)
      << summary;
  std::string timers = Read(options.out + "/timers.txt");
  EXPECT_EQ(timers.rfind("timer table: 5 timers in 200-byte ST_TMST200 slots, pre-recording padding 5 min\n", 0), 0u)
      << timers;
  std::string tree = Read(options.out + "/tree.txt");
  EXPECT_NE(tree.find("  DataFiles/Local recording.rec\n"), std::string::npos) << tree;
}

TEST_F(RunCommand, TheTimelineTellsTheStory)
{
  options.scenario = std::string(BRIMVALE_SOURCE_DIR) + "/examples/startup/no-busybox.toml";
  ASSERT_EQ(Run(), 0) << errors;
  const char *lines[] = {
    "2026-12-08 20:00:00.00  log      File busybox is missing - TAP will be terminated!\n",
    "2026-12-08 20:00:00.00  screen   screen-2026-12-08_20-00-00.00.png  \"File busybox is missing - TAP will be terminated!\"\n",
    "2026-12-08 20:00:03.00  screen   screen-2026-12-08_20-00-03.00.png\n",
    "2026-12-08 20:00:03.00  system   TAP_Exit\n",
  };
  size_t at = 0;
  for(const char *line : lines)
  {
    size_t found = printed.find(line, at);
    EXPECT_NE(found, std::string::npos) << line << "\nin\n" << printed;
    if(found != std::string::npos) at = found;
  }
  EXPECT_NE(printed.find("plug-in: TAP_Main returned 1, exited (TAP_Exit) at 20:00:03\n"), std::string::npos) << printed;
}

// The current folder for one test (the command's relative paths start there).
class InFolder {
 public:
  explicit InFolder(const std::string &folder) : before_(fs::current_path()) { fs::current_path(folder); }
  ~InFolder() { fs::current_path(before_); }

 private:
  fs::path before_;
};

const char kShortRun[] = "[run]\nduration = 5\n";

TEST_F(RunCommand, OnlyAnEarlierRunsOutputIsReplaced)
{
  options.scenario = std::string(BRIMVALE_SOURCE_DIR) + "/examples/startup/clean.toml";
  options.quiet = true;
  const std::string thesis = sandbox.path() + "/victim/thesis.txt";
  fs::create_directories(sandbox.path() + "/victim");
  std::ofstream(thesis) << "four years of work";
  std::ofstream(sandbox.path() + "/afile.txt") << "a file";
  fs::create_directory_symlink(sandbox.path() + "/victim", sandbox.path() + "/link");
  const struct {
    std::string out;
    const char *message;
  } refused[] = {
    {sandbox.path() + "/victim", "is a folder that brimvale-sim did not write: not replaced"},
    {sandbox.path() + "/victim/.", "is a folder that brimvale-sim did not write"},
    {sandbox.path() + "/afile.txt", "is a file: not replaced"},
    {sandbox.path() + "/link", "is a link: not replaced"},
  };
  for(const auto &c : refused)
  {
    options.out = c.out;
    EXPECT_EQ(Run(), 2) << c.out;
    EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
    EXPECT_EQ(Read(thesis), "four years of work");
    EXPECT_EQ(Read(sandbox.path() + "/afile.txt"), "a file");
    EXPECT_TRUE(fs::is_symlink(sandbox.path() + "/link"));
  }
  // A scenario named "...toml" has the stem "..": its default output folder
  // is out/scenario, never the current folder.
  fs::create_directories(sandbox.path() + "/work");
  InFolder in(sandbox.path() + "/work");
  std::ofstream("...toml") << kShortRun;
  std::ofstream("keep.txt") << "kept";
  options.out.clear();
  options.scenario = "...toml";
  ASSERT_EQ(Run(), 0) << errors;
  EXPECT_TRUE(fs::exists("out/scenario/summary.txt"));
  EXPECT_EQ(Read("keep.txt"), "kept");
  // The default folder is an earlier run's, and is replaced run after run.
  ASSERT_EQ(Run(), 0) << errors;
  ASSERT_EQ(Run(), 0) << errors;
  EXPECT_TRUE(fs::exists("out/scenario/summary.txt"));
}

TEST_F(RunCommand, AnInterruptedRunLeavesNoPartialFolder)
{
  // Long enough never to end by itself within the test.
  options.scenario = Scenario(
      "[run]\nduration = \"300d\"\n[settings]\n\"Brimvale.ini\" = '''\nNAS IP-Address=192.168.178.20\n"
      "Local Folder Name=NAS\nRemotefolder MediaFiles=/video\nPing Gap=1\nLogfile=1\n'''\n"
      "[[server]]\naddress = \"192.168.178.20\"\nexports = { \"/video\" = [\"a.ts\"] }\n");
  fs::path parent = fs::path(options.out).parent_path();
  auto partial_exists = [&] {
    if(!fs::exists(parent)) return false;
    for(const auto &e : fs::directory_iterator(parent))
      if(e.path().filename().string().rfind(".run.partial-", 0) == 0) return true;
    return false;
  };
  for(int signal : {SIGINT, SIGTERM, SIGPIPE})
  {
    int timeline[2];
    ASSERT_EQ(pipe(timeline), 0);
    std::fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if(child == 0)
    {
      close(timeline[0]);
      std::FILE *out = fdopen(timeline[1], "w");
      std::FILE *err = std::fopen("/dev/null", "w");
      _exit(sim::RunScenarioFile(options, out, err));
    }
    close(timeline[1]);
    // Under way: the timeline runs and the partial folder is there.
    char buffer[4096];
    ASSERT_GT(read(timeline[0], buffer, sizeof(buffer)), 0);
    for(int k = 0; k < 1000 && !partial_exists(); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(partial_exists());
    if(signal == SIGPIPE)
      close(timeline[0]);  // as `| head` does: the next line written meets a closed pipe
    else
    {
      kill(child, signal);
      while(read(timeline[0], buffer, sizeof(buffer)) > 0)
      {
      }
      close(timeline[0]);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "signal " << signal << ", status " << status;
    EXPECT_FALSE(partial_exists()) << "signal " << signal;
    EXPECT_FALSE(fs::exists(options.out));
  }
}

TEST_F(RunCommand, ThePluginArgumentIsAFileOfThisCpu)
{
  std::string tap_bytes = Read(BRIMVALE_TAP);
  std::string other_cpu = tap_bytes;
  // e_machine, little-endian: MIPS for a PC build, x86-64 for a MIPS one.
  other_cpu[18] = static_cast<char>(other_cpu[18] == 8 ? 62 : 8);
  other_cpu[19] = 0;
  const struct {
    const char *name;
    std::string bytes;
    int status;
    const char *message;
  } cases[] = {
    {"Brimvale.tap", "", 1, "cannot load Brimvale.tap: it is an empty file"},
    {"notes.tap", "NAS IP-Address=1.2.3.4\n", 1, "cannot load notes.tap: it is not a shared object (no ELF header)"},
    {"other.tap", other_cpu, 1, "another CPU than this program's"},
    // A bare name is a file in the current folder, not one the loader looks up.
    {"copy.tap", tap_bytes, 0, ""},
  };
  InFolder in(sandbox.path());
  options.scenario = Scenario(kShortRun);
  options.quiet = true;
  for(const auto &c : cases)
  {
    std::ofstream(c.name, std::ios::binary) << c.bytes;
    options.tap = c.name;
    EXPECT_EQ(Run(), c.status) << c.name << ": " << errors;
    EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
  }
}

TEST_F(RunCommand, WarningsAndToolErrorsAreShown)
{
  // Server 1 counts as answering (Automount 0) but its address is no server
  // of the scenario; server 2 is pinged at an address nobody has; a key is
  // misspelt; a key press is set after the end.
  options.scenario = Scenario(
      "[run]\nduration = \"2m\"\n[receiver]\nuptime = \"10m\"\n[settings]\n\"Brimvale.ini\" = '''\n"
      "NAS IP-Address=192.168.1.9\nLocal Folder Name=Pi\nRemotefolder MediaFiles=/video\nAutomount=0\n"
      "NAS Boottime=0\nMountDelay=0\nPing Wiat=3\n'''\n\"2.ini\" = '''\nNAS IP-Address=192.168.1.10\n"
      "Local Folder Name=Other\nRemotefolder MediaFiles=/video\n'''\n[[key]]\nat = \"3m\"\ncode = 1\n");
  ASSERT_EQ(Run(), 0) << errors;
  for(const std::string &warning : {
          "brimvale-sim: warning: " + options.scenario +
              ":21: key[1].at: 3m is after the end of the run (2m): the key is never pressed\n",
          std::string("brimvale-sim: warning: settings: Brimvale.ini line 7, server 1, \"Ping Wiat\": unknown key, "
                      "ignored: did you mean \"Ping Wait\"?\n"),
          std::string("brimvale-sim: warning: server 1's address 192.168.1.9 is no [[server]] of the scenario: "
                      "nothing answers there\n"),
          std::string("brimvale-sim: warning: server 2's address 192.168.1.10 is no [[server]]"),
      })
    EXPECT_NE(errors.find(warning), std::string::npos) << warning << "\nin\n" << errors;
  const std::string refused =
      "\"mount \"192.168.1.9:/video\" \"/mnt/hd/MediaFiles/Pi\" \" -> 255 (mount: RPC: Unable to receive; errno = No "
      "route to host)\n";
  EXPECT_NE(printed.find("  command  " + refused), std::string::npos) << printed;
  std::string commands = Read(options.out + "/commands.txt");
  EXPECT_NE(commands.find(refused), std::string::npos) << commands;
  EXPECT_EQ(commands.rfind("2026-12-08 12:00:00.00  ", 0), 0u) << "the receiver's time, not a tick count";
  // Nobody answers at an address the network does not know.
  EXPECT_NE(commands.find("ping -c1 -W3 192.168.1.10 > /mnt/hd/ProgramFiles/Settings/Brimvale/2.ping\" -> 1\n"),
            std::string::npos)
      << commands;
}

TEST_F(RunCommand, TheSummaryCountsFailedAttemptsAndTheTreeShowsWhatIsMounted)
{
  // Disk Station's music export is missing: every attempt mounts the video
  // and fails on the music, so it is never mounted as a whole. The cloud is
  // left mounted (stop = false): the tree shows its files at the mount point.
  options.scenario = Scenario(
      "[run]\nduration = \"3m\"\nstop = false\n[receiver]\nuptime = \"10m\"\ntime = 20:00:00\n"
      "[settings]\n\"Brimvale.ini\" = '''\nNAS IP-Address=192.168.178.20\nLocal Folder Name=DiskStation\n"
      "Remotefolder MediaFiles=/volume1/video\nRemotefolder MP3Files=/volume1/music\nNAS Boottime=0\n"
      "MountDelay=0\n'''\n\"2.ini\" = '''\nNAS IP-Address=192.168.178.21\nLocal Folder Name=MyCloud\n"
      "Remotefolder MediaFiles=/nfs/Filme\nNAS Boottime=0\n'''\n"
      "[[server]]\nname = \"diskstation\"\naddress = \"192.168.178.20\"\nexports = { \"/volume1/video\" = [\"a.ts\"] }\n"
      "[[server]]\nname = \"mycloud\"\naddress = \"192.168.178.21\"\nexports = { \"/nfs/Filme\" = [\"Nosferatu.ts\"] }\n");
  options.quiet = true;
  ASSERT_EQ(Run(), 0) << errors;
  std::string summary = Read(options.out + "/summary.txt");
  EXPECT_NE(summary.find("server        address          woken at  answered  mounted at  attempts  failed  mounts  "
                         "unmounts  pings  wake-ups\n"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("diskstation   192.168.178.20           -  20:00:00           -         3       3 "),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("mycloud       192.168.178.21           -  20:00:00    20:00:00         1       0       1 "),
            std::string::npos)
      << summary;
  std::string tree = Read(options.out + "/tree.txt");
  EXPECT_NE(tree.find("  MediaFiles/MyCloud/Nosferatu.ts\n"), std::string::npos) << tree;

  // The report's strip shows the part of the screen the plug-in drew on, the
  // same for every picture: the icons, not the black frame around them.
  const std::string shots = options.out + "/screenshots";
  std::vector<std::string> files;
  for(const auto &e : fs::directory_iterator(shots)) files.push_back(e.path().filename().string());
  sim::ReportCrop crop = sim::DrawnPart(shots, files);
  ASSERT_GT(crop.w, 0);
  EXPECT_LT(crop.w * crop.h, 720 * 576 / 20) << crop.x << "," << crop.y << " " << crop.w << "x" << crop.h;
  for(const std::string &file : files)
  {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&image, (shots + "/" + file).c_str()), 0) << file;
    image.format = PNG_FORMAT_GRAY;
    std::vector<uint8_t> gray(PNG_IMAGE_SIZE(image));
    ASSERT_NE(png_image_finish_read(&image, nullptr, gray.data(), 0, nullptr), 0) << file;
    size_t outside = 0;
    for(int y = 0; y < static_cast<int>(image.height); ++y)
      for(int x = 0; x < static_cast<int>(image.width); ++x)
        outside += gray[static_cast<size_t>(y) * image.width + x] != 0 &&
                   (x < crop.x || y < crop.y || x >= crop.x + crop.w || y >= crop.y + crop.h);
    EXPECT_EQ(outside, 0u) << file << " is drawn outside the part the report shows";
  }
  EXPECT_NE(Read(options.out + "/report.html").find(".strip .shot{"), std::string::npos);
}

// A long run's log passes 1 MiB and starts anew as Brimvale.log.1 is made,
// twice: the timeline follows into the new file and shows every line of it;
// the output folder holds both parts, and the report says which span it
// shows and that the lines before it are gone.
TEST_F(RunCommand, TheTimelineFollowsTheLogWhenItStartsAnew)
{
  std::string settings = "[settings]\n", servers;
  for(int n = 1; n <= 3; ++n)
  {
    std::string address = "192.168.178." + std::to_string(20 + n);
    settings += (n == 1 ? std::string("\"Brimvale.ini\"") : "\"" + std::to_string(n) + ".ini\"") +
                " = '''\nNAS IP-Address=" + address + "\nLocal Folder Name=NAS" + std::to_string(n) +
                "\nRemotefolder MediaFiles=/video\nPing Gap=10\n" + (n == 1 ? "Logfile=1\n" : "") + "'''\n";
    servers += "[[server]]\nname = \"nas" + std::to_string(n) + "\"\naddress = \"" + address +
               "\"\nexports = { \"/video\" = [\"a.ts\"] }\n";
  }
  options.scenario = Scenario("[run]\nduration = \"10h\"\n[receiver]\nuptime = \"10m\"\n" + settings + servers);
  ASSERT_EQ(Run(), 0) << errors;
  const std::string older = Read(options.out + "/root/mnt/hd/ProgramFiles/Settings/Brimvale/Logs/Brimvale.log.1");
  EXPECT_EQ(Read(options.out + "/Brimvale.log.1"), older);
  const std::string newer = Read(options.out + "/Brimvale.log");
  std::string report = Read(options.out + "/report.html");
  ASSERT_GT(newer.size(), 30u);
  EXPECT_NE(report.find("Shown here: Brimvale.log.1 and Brimvale.log, from " + older.substr(11, 8) + " to " +
                        newer.substr(newer.rfind("\r\n", newer.size() - 3) + 13, 8) +
                        "; older lines of this run were rotated away on the receiver"),
            std::string::npos)
      << report.substr(0, std::min<size_t>(report.size(), 400));

  EXPECT_TRUE(fs::exists(options.out + "/root/mnt/hd/ProgramFiles/Settings/Brimvale/Logs/Brimvale.log.1"));
  std::vector<std::string> logged, shown;
  std::istringstream log(Read(options.out + "/Brimvale.log"));
  for(std::string line; std::getline(log, line);)
  {
    if(!line.empty() && line.back() == '\r') line.pop_back();
    logged.push_back(line.substr(line.find(" -> ") + 4));
  }
  std::istringstream timeline(printed);
  for(std::string line; std::getline(timeline, line);)
    if(line.size() > 33 && line.compare(22, 11, "  log      ") == 0) shown.push_back(line.substr(33));
  ASSERT_FALSE(logged.empty());
  ASSERT_GT(shown.size(), logged.size()) << "the lines before the new log are shown too";
  EXPECT_TRUE(std::equal(logged.begin(), logged.end(), shown.end() - static_cast<long>(logged.size())))
      << "the timeline ends with the new log, line for line";
}

// Every time of a scenario is on the receiver's clock. With its server down
// the plug-in's pings wait 3 s every 10 s; the key at "1h" is pressed all
// the same at 22:30 and the run ends at 23:30 on the last day the receiver's
// dates hold, not past it (where the plug-in would log 17.11.1858).
TEST_F(RunCommand, KeysAndTheEndOfTheRunAreOnTheReceiversClock)
{
  options.scenario = Scenario(
      "[run]\nduration = \"2h\"\n[receiver]\ndate = 2038-04-22\ntime = 21:30:00\nuptime = \"10m\"\n"
      "[settings]\n\"Brimvale.ini\" = '''\nNAS IP-Address=192.168.178.20\nLocal Folder Name=NAS\n"
      "Remotefolder MediaFiles=/video\nPing Gap=10\nLogfile=1\n'''\n"
      "[[server]]\naddress = \"192.168.178.20\"\noutages = [[0, \"3h\"]]\n[[key]]\nat = \"1h\"\ncode = 1\n");
  ASSERT_EQ(Run(), 0) << errors;
  EXPECT_NE(printed.find("run from 21:30:00 (2038-04-22) to 23:30:0"), std::string::npos) << printed;
  size_t key = printed.find("  event    event ");
  ASSERT_NE(key, std::string::npos) << printed;
  EXPECT_EQ(printed.substr(key - 22, 19), "2038-04-22 22:30:00") << printed.substr(key - 22, 80);
  std::string log = Read(options.out + "/Brimvale.log");
  EXPECT_NE(log.find("22.04.2038 23:29:"), std::string::npos);
  EXPECT_EQ(log.find("1858"), std::string::npos);
}

// A memory disk with bytes to spare but hardly a name left cannot hold the
// receiver's disks: they go to the PC's disk and the run is whole.
TEST_F(RunCommand, AMemoryDiskWithoutNamesToSpareIsNotUsed)
{
  options.scenario = std::string(BRIMVALE_SOURCE_DIR) + "/examples/startup/clean.toml";
  options.quiet = true;
  int status = RunWithMemoryDisk("size=1g,nr_inodes=20");
  if(status == kNoNamespace) GTEST_SKIP() << "no mount namespace for the test";
  EXPECT_EQ(status, 0) << errors;
  EXPECT_TRUE(fs::exists(options.out + "/root/mnt/hd/ProgramFiles/Settings/Brimvale/Logs/Brimvale.log"));
}

// The memory disk fills up while the run goes on (something else on the PC
// takes it all): the run stops with exit 1 and names the PC's folder, rather
// than finishing with a log that lost its lines.
TEST_F(RunCommand, AMemoryDiskThatFillsUpDuringTheRunFailsIt)
{
  // Out for a minute every other minute: a few log lines each time, pages of
  // log in the six hours.
  std::string outages;
  for(int minute = 2; minute < 360; minute += 2)
    outages += (minute > 2 ? ", [" : "[") + std::to_string(minute * 60) + ", " + std::to_string(minute * 60 + 60) + "]";
  options.scenario = Scenario(
      "[run]\nduration = \"6h\"\n[settings]\n\"Brimvale.ini\" = '''\nNAS IP-Address=192.168.178.20\n"
      "Local Folder Name=NAS\nRemotefolder MediaFiles=/video\nPing Gap=10\nNAS Boottime=0\nLogfile=1\n'''\n"
      "[[server]]\naddress = \"192.168.178.20\"\nexports = { \"/video\" = [\"a.ts\"] }\noutages = [" + outages +
      "]\n");
  options.quiet = true;
  int status = RunWithMemoryDisk("size=400m", [] {
    // Once the plug-in has begun its log on the memory disk, the rest of the
    // disk goes to a file of somebody else's.
    bool filled = false;
    for(int k = 0; k < 6000 && !filled; ++k)
    {
      std::error_code ec;
      for(const auto &e : fs::directory_iterator("/dev/shm", ec))
        filled = filled || fs::exists(e.path() / "root/mnt/hd/ProgramFiles/Settings/Brimvale/Logs/Brimvale.log", ec);
      if(!filled) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    int fd = open("/dev/shm/somebody-else", O_WRONLY | O_CREAT, 0600);
    if(!filled || fd < 0) return false;
    struct statvfs room;
    if(statvfs("/dev/shm", &room) == 0) posix_fallocate(fd, 0, static_cast<off_t>(room.f_bavail * room.f_bsize));
    // To the last page, whatever the log took meanwhile.
    static const char page[4096] = {};
    off_t end = lseek(fd, 0, SEEK_END);
    for(ssize_t n; (n = pwrite(fd, page, sizeof(page), end)) > 0;) end += n;
    bool full = errno == ENOSPC;
    close(fd);
    return full;
  });
  if(status == kNoNamespace) GTEST_SKIP() << "no mount namespace for the test";
  ASSERT_NE(status, kBesideFailed) << "the memory disk could not be filled while the run went on";
  EXPECT_EQ(status, 1) << errors;
  EXPECT_NE(errors.find("brimvale-sim: the PC's folder /dev/shm/brimvale-sim-"), std::string::npos) << errors;
  EXPECT_NE(errors.find("No space left on device"), std::string::npos) << errors;
  EXPECT_FALSE(fs::exists(options.out));
  EXPECT_TRUE(Leftovers().empty());
}

}  // namespace
