#include "output_folder.h"

#include <linux/magic.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

std::string ReadText(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

// A name that is safe as one folder name: letters, digits, "-", "_" and
// inner dots, so that a scenario called "..toml" cannot name the folder above.
std::string SafeName(const std::string &name)
{
  std::string safe;
  for(char c : name)
  {
    bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || (c == '.' && !safe.empty());
    safe += plain ? c : '_';
  }
  while(!safe.empty() && safe.back() == '.') safe.pop_back();
  return safe.find_first_not_of('_') == std::string::npos ? "scenario" : safe;
}

bool HasMark(const fs::path &folder)
{
  struct stat st;
  if(lstat((folder / kOutputMark).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return ReadText((folder / kOutputMark).string()).rfind("brimvale-sim output folder", 0) == 0;
}

bool WriteMark(const fs::path &folder, const std::string &text)
{
  std::ofstream mark(folder / kOutputMark, std::ios::binary | std::ios::trunc);
  mark << text;
  return static_cast<bool>(mark);
}

// Why `out` may not become the output folder, or "" when it may: nothing is
// there, or a folder an earlier run wrote.
std::string TargetProblem(const fs::path &out, const std::string &shown)
{
  struct stat st;
  if(lstat(out.c_str(), &st) != 0) return errno == ENOENT ? "" : shown + ": " + std::strerror(errno);
  if(S_ISDIR(st.st_mode) && HasMark(out)) return "";
  std::string what = S_ISDIR(st.st_mode) ? "a folder that brimvale-sim did not write"
                     : S_ISLNK(st.st_mode) ? "a link"
                     : S_ISREG(st.st_mode) ? "a file"
                                           : "something other than a folder";
  return "the output folder " + shown + " is " + what +
         ": not replaced (only a folder holding an earlier run's output, with its " + kOutputMark +
         " file, is); give another --out";
}

bool ProcessGone(pid_t pid) { return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH; }

// Removes the half-written folders of runs that were killed before they
// could clean up: marked by a run whose process is gone.
void RemoveStalePartials(const fs::path &parent, const std::string &prefix, const std::string &part)
{
  std::error_code ec;
  for(fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec))
  {
    std::string name = it->path().filename().string();
    if(name.rfind(prefix, 0) != 0 || name.find(part) == std::string::npos) continue;
    struct stat st;
    if(lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !HasMark(it->path())) continue;
    std::string mark = ReadText((it->path() / kOutputMark).string());
    size_t pid_at = mark.find("\npid ");
    if(pid_at == std::string::npos || !ProcessGone(static_cast<pid_t>(std::atol(mark.c_str() + pid_at + 5)))) continue;
    std::error_code remove_ec;
    fs::remove_all(it->path(), remove_ec);
  }
}

// Puts `ready` where `out` is, moving a previous output aside only for the
// moment of the swap.
bool PutInPlace(const fs::path &ready, const fs::path &out, const std::string &shown, std::string *error)
{
  std::error_code ec;
  fs::path old;
  struct stat st;
  if(lstat(out.c_str(), &st) == 0)
  {
    // Looked at again: something may have been put there during the run.
    std::string problem = TargetProblem(out, shown);
    if(!problem.empty())
    {
      *error = problem;
      return false;
    }
    std::string pattern = (out.parent_path() / ("." + out.filename().string() + ".old-XXXXXX")).string();
    if(mkdtemp(pattern.data()) == nullptr || !fs::remove(pattern, ec))
    {
      *error = "cannot make room next to " + out.string();
      return false;
    }
    old = pattern;
    fs::rename(out, old, ec);
    if(ec)
    {
      *error = "cannot move the previous " + out.string() + " aside: " + ec.message();
      return false;
    }
  }
  fs::rename(ready, out, ec);
  if(ec)
  {
    *error = "cannot put the output in place at " + out.string() + ": " + ec.message();
    if(!old.empty()) fs::rename(old, out, ec);
    return false;
  }
  if(!old.empty()) fs::remove_all(old, ec);
  return true;
}

// The receiver's and the servers' disks of a run: a ping report is made and
// deleted every few seconds of virtual time, and an ordinary disk's inode
// allocator turns that into most of the run's wall time. A memory file system
// holds them while the run lasts, when there is one with room to spare; they
// are copied into the output folder at the end. "" when there is none.
std::string MemoryScratch(double duration_seconds)
{
  const char *const base = "/dev/shm";
  struct statfs fs_info {};
  if(statfs(base, &fs_info) != 0 || fs_info.f_type != TMPFS_MAGIC || access(base, W_OK | X_OK) != 0) return "";
  // A day of nine servers logging every ping leaves about 7 MB; ten times
  // that per day, so that a full memory disk never fails a write the real
  // disk would have taken.
  constexpr double kBytesPerDay = 64.0 * 1024 * 1024;
  constexpr double kLeastFree = 256.0 * 1024 * 1024;
  double free_bytes = static_cast<double>(fs_info.f_bavail) * static_cast<double>(fs_info.f_bsize);
  if(free_bytes < kLeastFree + kBytesPerDay * (duration_seconds / 86400.0 + 1)) return "";
  // Memory disks of runs that were killed outright would hold memory until
  // the PC restarts: they carry the same mark as a partial output folder.
  RemoveStalePartials(base, "brimvale-sim-", "brimvale-sim-");
  std::string pattern = std::string(base) + "/brimvale-sim-XXXXXX";
  if(mkdtemp(pattern.data()) == nullptr) return "";
  if(!WriteMark(pattern, std::string(kOutputMarkText) + "pid " + std::to_string(getpid()) + "\n"))
  {
    std::error_code remove_ec;
    fs::remove_all(pattern, remove_ec);
    return "";
  }
  return pattern;
}

}  // namespace sim
