// The output folder and the run's scratch folders: nothing the owner has is
// ever removed or replaced, whoever else runs beside it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "sim/cli/run.h"
#include "sim_fixture.h"

namespace {

namespace fs = std::filesystem;

const char kShortRun[] = "[run]\nduration = 5\n";
// Runs for hours of wall time, with its memory disk: ended by the test.
const char kLongRun[] =
    "[run]\nduration = \"30d\"\n[settings]\n\"Brimvale.ini\" = '''\nNAS IP-Address=192.168.178.20\n"
    "Local Folder Name=NAS\nRemotefolder MediaFiles=/video\nPing Gap=1\nLogfile=1\n'''\n"
    "[[server]]\naddress = \"192.168.178.20\"\nexports = { \"/video\" = [\"a.ts\"] }\n";
const char kScratchMark[] = ".brimvale-scratch";

std::string Read(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The exit status of a child, 128 + the signal that ended it.
int Status(pid_t child)
{
  int status = 0;
  if(waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A scratch mark as a run leaves it, its lock held while `held`.
class Mark {
 public:
  Mark(const fs::path &folder, bool held)
  {
    fs::create_directories(folder / "root");
    fd_ = open((folder / kScratchMark).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if(held) flock(fd_, LOCK_EX);
  }
  ~Mark() { close(fd_); }

 private:
  int fd_;
};

class OutputFolder : public ::testing::Test {
 protected:
  OutputFolder()
  {
    options.tap = BRIMVALE_TAP;
    options.firmware_dir = BRIMVALE_FIRMWARE_DIR;
    options.quiet = true;
    options.report = false;
    options.out = sandbox.path() + "/out/run";
    options.scenario = Scenario("home.toml", kShortRun);
  }

  std::string Scenario(const std::string &name, const std::string &text)
  {
    std::string path = sandbox.path() + "/" + name;
    std::ofstream(path) << text;
    return path;
  }

  int Run(const sim::RunOptions &run)
  {
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    int status = sim::RunScenarioFile(run, out, err);
    std::rewind(err);
    errors.clear();
    char buffer[4096];
    for(size_t n; (n = std::fread(buffer, 1, sizeof(buffer), err)) > 0;) errors.append(buffer, n);
    std::fclose(out);
    std::fclose(err);
    return status;
  }
  int Run() { return Run(options); }

  // The run in a process of its own; what it says on standard error goes to
  // `errors_file`.
  pid_t Start(const sim::RunOptions &run, const std::string &errors_file = "/dev/null")
  {
    std::fflush(nullptr);
    pid_t child = fork();
    if(child == 0)
    {
      std::FILE *out = std::fopen("/dev/null", "w");
      std::FILE *err = std::fopen(errors_file.c_str(), "w");
      int status = sim::RunScenarioFile(run, out, err);
      std::fclose(err);
      _exit(status);
    }
    return child;
  }

  // Names in `folder` starting with `prefix`.
  static std::vector<std::string> Names(const fs::path &folder, const std::string &prefix = "")
  {
    std::vector<std::string> names;
    std::error_code ec;
    for(fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
      if(it->path().filename().string().rfind(prefix, 0) == 0) names.push_back(it->path().filename().string());
    return names;
  }

  Sandbox sandbox;
  sim::RunOptions options;
  std::string errors;
};

bool MemoryDisks() { return fs::is_directory("/dev/shm") && access("/dev/shm", W_OK) == 0; }

TEST_F(OutputFolder, OnlyFoldersNoRunHoldsAreSwept)
{
  fs::path parent = fs::path(options.out).parent_path();
  // A finished output on the memory disk, named as the memory disks are,
  // whose run (a process now gone) wrote it.
  const std::string tag = "brimvale-sim-test-" + std::to_string(getpid());
  sim::RunOptions results = options;
  results.out = "/dev/shm/" + tag + "-results";
  if(MemoryDisks())
  {
    ASSERT_EQ(Status(Start(results)), 0);
  }

  const struct {
    fs::path folder;
    bool scratch, held, removed;
  } folders[] = {
    {parent / ".run.partial-AAAAAA", true, false, true},   // a killed run's partial output
    {parent / ".run.old-BBBBBB", true, false, true},       // an output a killed run moved aside
    {parent / ".run.partial-CCCCCC", true, true, false},   // a run still going
    {parent / ".run.partial-DDDDDD", false, false, false}, // not marked as scratch
    {"/dev/shm/" + tag + "-stale", true, false, true},     // a killed run's memory disk
    {"/dev/shm/" + tag + "-live", true, true, false},      // a memory disk in use
  };
  // The lock of a run that ended while it put its output in place.
  fs::create_directories(parent);
  std::ofstream(parent / ".gone.brimvale-lock") << "brimvale-sim: a run is putting its output in place\n";
  std::vector<std::unique_ptr<Mark>> marks;
  for(const auto &f : folders)
  {
    if(f.folder.string().rfind("/dev/shm/", 0) == 0 && !MemoryDisks()) continue;
    if(f.scratch)
      marks.push_back(std::make_unique<Mark>(f.folder, f.held));
    else
      fs::create_directories(f.folder / "root");
  }
  ASSERT_EQ(Run(), 0) << errors;
  for(const auto &f : folders)
  {
    if(f.folder.string().rfind("/dev/shm/", 0) == 0 && !MemoryDisks()) continue;
    EXPECT_EQ(fs::exists(f.folder), !f.removed) << f.folder;
  }
  EXPECT_FALSE(fs::exists(parent / ".gone.brimvale-lock"));
  if(MemoryDisks())
  {
    EXPECT_TRUE(fs::exists(results.out + "/summary.txt")) << "a finished output is never swept";
    ASSERT_EQ(Run(results), 0) << errors;
  }
  std::error_code ec;
  for(const std::string &name : Names("/dev/shm", tag)) fs::remove_all("/dev/shm/" + name, ec);
}

TEST_F(OutputFolder, ARunInAnotherPidNamespaceLeavesALiveRunsFoldersAlone)
{
  std::fflush(nullptr);
  pid_t probe = fork();
  if(probe == 0) _exit(unshare(CLONE_NEWPID) == 0 ? 0 : 1);
  if(Status(probe) != 0) GTEST_SKIP() << "no PID namespace for this test (needs root)";

  sim::RunOptions a = options;
  a.scenario = Scenario("long.toml", kLongRun);
  a.out = sandbox.path() + "/out/a";
  pid_t run_a = Start(a);
  // Under way: its partial folder and its memory disk are there.
  auto held_by_a = [&](const fs::path &folder) {
    std::string marks = Read((folder / kScratchMark).string()) + Read((folder / ".brimvale-output").string());
    return marks.find("pid " + std::to_string(run_a) + "\n") != std::string::npos;
  };
  std::vector<fs::path> folders_of_a;
  for(int k = 0; k < 3000 && folders_of_a.size() < (MemoryDisks() ? 2u : 1u); ++k)
  {
    folders_of_a.clear();
    for(const std::string &name : Names(sandbox.path() + "/out", ".a.partial-"))
      if(held_by_a(sandbox.path() + "/out/" + name)) folders_of_a.push_back(sandbox.path() + "/out/" + name);
    for(const std::string &name : Names("/dev/shm", "brimvale-sim-"))
      if(held_by_a("/dev/shm/" + name)) folders_of_a.push_back("/dev/shm/" + name);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_FALSE(folders_of_a.empty());

  // Run B beside it as PID 1 of a namespace of its own: A's process number
  // means nothing there.
  sim::RunOptions b = options;
  b.out = sandbox.path() + "/out/b";
  std::fflush(nullptr);
  pid_t run_b = fork();
  if(run_b == 0)
  {
    if(unshare(CLONE_NEWPID) != 0) _exit(99);
    _exit(Status(Start(b)));
  }
  EXPECT_EQ(Status(run_b), 0);
  for(const fs::path &folder : folders_of_a) EXPECT_TRUE(held_by_a(folder)) << folder;
  // A is still well, and cleans up after itself when asked to end.
  kill(run_a, SIGTERM);
  EXPECT_EQ(Status(run_a), 128 + SIGTERM);
  for(const fs::path &folder : folders_of_a) EXPECT_FALSE(fs::exists(folder)) << folder;
}

TEST_F(OutputFolder, WhatTheOwnerPutIntoAnOutputFolderIsKept)
{
  ASSERT_EQ(Run(), 0) << errors;
  const struct {
    const char *path;
    const char *named;  // in the refusal
  } added[] = {
    {"notes.txt", "notes.txt"},
    {"photos/holiday.jpg", "photos/"},
    {"home.toml", "home.toml"},
    {"screenshots/mine.png", "screenshots/mine.png"},
  };
  for(const auto &a : added)
  {
    fs::path file = options.out + "/" + a.path;
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "the owner's";
    EXPECT_EQ(Run(), 2) << a.path;
    EXPECT_NE(errors.find(std::string("(") + a.named + "): not replaced"), std::string::npos) << errors;
    EXPECT_EQ(Read(file.string()), "the owner's");
    EXPECT_TRUE(fs::exists(options.out + "/summary.txt"));
    fs::remove(file);
    if(file.parent_path() != options.out && fs::is_empty(file.parent_path())) fs::remove(file.parent_path());
  }
  // An earlier brimvale-sim's output, whose mark lists nothing: its own
  // files are replaced, nothing else.
  std::ofstream(options.out + "/.brimvale-output") << "brimvale-sim output folder; a later run replaces it\npid 1\n";
  std::ofstream(options.out + "/notes.txt") << "the owner's";
  EXPECT_EQ(Run(), 2);
  EXPECT_NE(errors.find("(notes.txt): not replaced"), std::string::npos) << errors;
  fs::remove(options.out + "/notes.txt");
  EXPECT_EQ(Run(), 0) << errors;
}

TEST_F(OutputFolder, RunsSharingAnOutputFolderTakeTurns)
{
  ASSERT_EQ(Run(), 0) << errors;
  fs::path parent = fs::path(options.out).parent_path();
  std::ofstream(options.out + "/summary.txt") << "the previous run's";
  // Another run is putting its output in place: this one waits for it.
  const std::string lock_file = (parent / ".run.brimvale-lock").string();
  int lock = open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  pid_t waiting = Start(options);
  auto ready = [&] {
    for(const std::string &name : Names(parent, ".run.partial-"))
      if(Read((parent / name / ".brimvale-output").string()).find("written by the run:\n") != std::string::npos)
        return true;
    return false;
  };
  int status = 0;
  bool ended = false;
  for(int k = 0; k < 6000 && !ended && !ready(); ++k)
  {
    ended = waitpid(waiting, &status, WNOHANG) == waiting;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ended = ended || waitpid(waiting, &status, WNOHANG) == waiting;
  EXPECT_FALSE(ended) << "it replaced the output while another run held it";
  EXPECT_EQ(Read(options.out + "/summary.txt"), "the previous run's");
  unlink(lock_file.c_str());
  close(lock);
  if(!ended)
  {
    EXPECT_EQ(Status(waiting), 0);
  }
  EXPECT_NE(Read(options.out + "/summary.txt"), "the previous run's");

  // Many at once: each puts its output in place in turn, and nothing is left
  // beside it.
  std::vector<pid_t> runs;
  for(int k = 0; k < 8; ++k) runs.push_back(Start(options));
  for(pid_t run : runs) EXPECT_EQ(Status(run), 0);
  EXPECT_EQ(Names(parent), std::vector<std::string>{"run"});
  EXPECT_TRUE(fs::exists(options.out + "/summary.txt"));
}

// The current folder for one test (default output folders are made there).
class InFolder {
 public:
  explicit InFolder(const std::string &folder) : before_(fs::current_path()) { fs::current_path(folder); }
  ~InFolder() { fs::current_path(before_); }

 private:
  fs::path before_;
};

TEST_F(OutputFolder, ScenariosWithDistinctNamesKeepDistinctFolders)
{
  InFolder in(sandbox.path());
  options.out.clear();
  const struct {
    const char *scenario;
    const char *folder;
    int status;
  } runs[] = {
    {"Küche.toml", "out/Küche", 0},
    {"Köche.toml", "out/Köche", 0},
    {"a b.toml", "out/a_b", 0},
    {"a_b.toml", "out/a_b", 2},  // the folder holds a b's output
    {"a b.toml", "out/a_b", 0},  // which its own scenario replaces
  };
  for(const auto &r : runs)
  {
    options.scenario = Scenario(r.scenario, kShortRun);
    EXPECT_EQ(Run(), r.status) << r.scenario << ": " << errors;
    EXPECT_TRUE(fs::exists(std::string(r.folder) + "/summary.txt")) << r.folder;
    if(r.status != 0)
    {
      EXPECT_NE(errors.find("holds the output of a b.toml, not of a_b.toml"), std::string::npos) << errors;
      EXPECT_NE(errors.find("--out"), std::string::npos) << errors;
    }
  }
  EXPECT_TRUE(fs::exists("out/Küche/summary.txt"));
}

TEST_F(OutputFolder, TheOutputFolderIsMadeAsTheOwnerAsks)
{
  // Any name the file system takes, with the owner's permissions.
  options.out = sandbox.path() + "/out/" + std::string(250, 'x');
  mode_t before = umask(027);
  int status = Run();
  umask(before);
  ASSERT_EQ(status, 0) << errors;
  struct stat st;
  ASSERT_EQ(stat(options.out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
  EXPECT_EQ(Names(sandbox.path() + "/out"), std::vector<std::string>{std::string(250, 'x')});

  // A folder it cannot write in: said so, before any work.
  const std::string locked = sandbox.path() + "/read-only";
  fs::create_directories(locked);
  options.out = locked + "/out";
  const std::string errors_file = sandbox.path() + "/errors.txt";
  std::fflush(nullptr);
  pid_t child = fork();
  if(child == 0)
  {
    // Root writes anywhere: a read-only mount of the test's own for it.
    if(geteuid() == 0 &&
       (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(locked.c_str(), locked.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        mount(nullptr, locked.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0))
      _exit(99);
    if(geteuid() != 0) chmod(locked.c_str(), 0555);
    _exit(Status(Start(options, errors_file)));
  }
  status = Status(child);
  if(status == 99) GTEST_SKIP() << "no mount namespace for a read-only folder";
  EXPECT_EQ(status, 2);
  std::string said = Read(errors_file);
  EXPECT_NE(said.find("cannot write in " + locked + ", where the output folder " + options.out + " is made: "),
            std::string::npos)
      << said;
  EXPECT_TRUE(fs::is_empty(locked));
}

}  // namespace
