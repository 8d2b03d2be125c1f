#include "output_folder.h"

#include "../../host/folders.h"
#include "../receiver/disk.h"
#include "../receiver/pc_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <thread>
#include <unordered_set>
#include <vector>

namespace sim {

namespace {

const char kOutputMarkText[] = "brimvale-sim output folder; a later run replaces it\n";
const char kScratchMarkText[] = "brimvale-sim scratch folder: removed once no run holds its lock\n";
const char kScenarioLine[] = "scenario ";
const char kWrittenLine[] = "written by the run:";
const char kLockSuffix[] = ".brimvale-lock";
const char kLockText[] = "brimvale-sim: a run is putting its output in place\n";
// The longest name of one folder entry on the PC's file systems.
constexpr size_t kNameMax = 255;
// Another run puts its output in place in a moment; one that holds the lock
// longer is stuck.
constexpr auto kReplaceWait = std::chrono::seconds(60);
constexpr auto kReplaceRetry = std::chrono::milliseconds(10);
// Files an owner put into an output folder, named when it is refused.
constexpr size_t kForeignShown = 3;
// What an output folder of an earlier brimvale-sim holds; its mark lists
// nothing, so only these are taken as its own (and nothing is looked at
// inside them).
const char *const kUnlistedOutput[] = {LOG_FILE_NAME, LIB_LOG_FILE_NAME, "commands.txt", "tree.txt",  "timers.txt",
                                       "summary.txt",  "report.html",    "screenshots/", "root/",     "nas/"};

// A name as one line of the mark, whatever it holds.
std::string Escaped(const std::string &text)
{
  std::string line;
  for(char c : text)
  {
    if(c == '\\')
      line += "\\\\";
    else if(c == '\n')
      line += "\\n";
    else
      line += c;
  }
  return line;
}

std::string Unescaped(const std::string &line)
{
  std::string text;
  for(size_t k = 0; k < line.size(); ++k)
  {
    if(line[k] == '\\' && k + 1 < line.size()) text += line[++k] == 'n' ? '\n' : line[k];
    else text += line[k];
  }
  return text;
}

// The length of the UTF-8 sequence at `at` when it is a character beyond
// ASCII that reads as part of a word, else 0: spaces, punctuation, format
// characters (which would hide in a folder name) and malformed bytes are not.
size_t WordCharacter(const std::string &text, size_t at)
{
  unsigned char lead = static_cast<unsigned char>(text[at]);
  size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if(length == 0 || at + length > text.size()) return 0;
  uint32_t code = lead & (0x7F >> length);
  for(size_t k = 1; k < length; ++k)
  {
    unsigned char c = static_cast<unsigned char>(text[at + k]);
    if((c & 0xC0) != 0x80) return 0;
    code = code << 6 | (c & 0x3F);
  }
  const uint32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
  if(code < shortest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  auto in = [code](uint32_t first, uint32_t last) { return code >= first && code <= last; };
  bool word = code >= 0xC0 && code != 0xD7 && code != 0xF7 && !in(0x2000, 0x206F) && !in(0x2E00, 0x2E7F) &&
              !in(0x3000, 0x303F) && !in(0xE000, 0xF8FF) && !in(0xFE00, 0xFE0F) && code != 0xFEFF &&
              !in(0xFFF0, 0xFFFF) && code < 0xF0000;
  return word ? length : 0;
}

// At most `room` bytes of `name`, never cutting a UTF-8 character.
std::string Fit(const std::string &name, size_t room)
{
  if(name.size() <= room) return name;
  size_t end = room;
  while(end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

// A hidden name beside `out` ending in `suffix`, short enough for any name
// the file system takes as `out`'s.
std::string Beside(const fs::path &out, const std::string &suffix)
{
  return (out.parent_path() / ("." + Fit(out.filename().string(), kNameMax - 1 - suffix.size()) + suffix)).string();
}

// Folder permissions as the owner's umask asks for them.
mode_t OwnersFolderMode()
{
  std::ifstream status("/proc/self/status");
  for(std::string line; std::getline(status, line);)
    if(line.rfind("Umask:", 0) == 0) return 0777 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  mode_t mask = umask(0);
  umask(mask);
  return 0777 & ~mask;
}

// What an output folder's mark says.
struct OutputMark {
  bool present = false;
  bool listed = false;                      // an earlier brimvale-sim's mark lists nothing
  std::string scenario;                     // "" when it does not say
  std::unordered_set<std::string> written;  // "commands.txt", "root/", "root/ProgramFiles/" ...
};

OutputMark ReadOutputMark(const fs::path &folder)
{
  OutputMark mark;
  struct stat st;
  if(lstat((folder / kOutputMark).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return mark;
  // A mark that cannot be read is no mark: the folder is not taken as ours.
  std::string mark_text;
  ReadPcFile((folder / kOutputMark).string(), &mark_text);
  std::istringstream text(mark_text);
  std::string line;
  if(!std::getline(text, line) || line.rfind("brimvale-sim output folder", 0) != 0) return mark;
  mark.present = true;
  while(std::getline(text, line))
  {
    if(mark.listed)
      mark.written.insert(Unescaped(line));
    else if(line.rfind(kScenarioLine, 0) == 0)
      mark.scenario = Unescaped(line.substr(std::strlen(kScenarioLine)));
    else if(line == kWrittenLine)
      mark.listed = true;
  }
  if(!mark.listed)
    for(const char *name : kUnlistedOutput) mark.written.insert(name);
  return mark;
}

// Every entry below `folder` (only the first level unless `deep`) as the
// mark names it: a path relative to it, folders ending in "/", links not
// followed. The marks themselves are left out.
bool Entries(const fs::path &folder, bool deep, std::vector<std::string> *names, std::error_code *ec)
{
  const size_t skip = folder.string().size() + 1;
  fs::recursive_directory_iterator it(folder, *ec), end;
  for(; !*ec && it != end; it.increment(*ec))
  {
    std::string name = it->path().string().substr(skip);
    if(it.depth() == 0 && (name == kOutputMark || name == kScratchMark)) continue;
    std::error_code type_ec;
    if(it->symlink_status(type_ec).type() == fs::file_type::directory) name += '/';
    names->push_back(name);
    if(!deep) it.disable_recursion_pending();
  }
  // A folder's entries follow it, in the same order on every file system.
  std::sort(names->begin(), names->end());
  return !*ec;
}

// Removes the scratch folders in `parent` (names starting with `prefix` and
// holding one of `parts`) whose run is gone: no run holds their mark's lock.
void RemoveStaleScratch(const fs::path &parent, const std::string &prefix, std::initializer_list<const char *> parts)
{
  std::error_code ec;
  for(fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec))
  {
    std::string name = it->path().filename().string();
    bool named = false;
    for(const char *part : parts) named = named || (name.rfind(prefix, 0) == 0 && name.find(part) != std::string::npos);
    struct stat st;
    if(!named || lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    std::string mark = (it->path() / kScratchMark).string();
    int fd = open(mark.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if(fd < 0) fd = open(mark.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if(fd < 0) continue;
    // A mark gone from its folder once locked: another sweep has removed it.
    if(flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink > 0)
    {
      std::error_code remove_ec;
      fs::remove_all(it->path(), remove_ec);
    }
    close(fd);
  }
}

// Removes the locks beside output folders that runs ended outright left
// while putting their output in place: a lock file of ours no run holds.
void RemoveStaleLocks(const fs::path &parent)
{
  const std::string suffix = kLockSuffix;
  std::error_code ec;
  for(fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec))
  {
    std::string name = it->path().filename().string();
    if(name.size() <= suffix.size() || name[0] != '.' || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    struct stat held, named;
    if(lstat(it->path().c_str(), &named) != 0 || !S_ISREG(named.st_mode)) continue;
    int fd = open(it->path().c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if(fd < 0) continue;
    char start[sizeof(kLockText) - 1] = {};
    if(flock(fd, LOCK_EX | LOCK_NB) == 0 && pread(fd, start, sizeof(start), 0) == static_cast<ssize_t>(sizeof(start)) &&
       std::memcmp(start, kLockText, sizeof(start)) == 0 && fstat(fd, &held) == 0 &&
       lstat(it->path().c_str(), &named) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino)
      unlink(it->path().c_str());
    close(fd);
  }
}

// The lock beside an output folder, held while a run puts its output in
// place: one run at a time moves the previous output aside. Its file goes
// when it is released, so that nothing stays beside the output.
class ReplaceLock {
 public:
  ~ReplaceLock() { Release(); }
  bool Take(const std::string &path, const std::string &shown, std::string *error)
  {
    auto give_up = std::chrono::steady_clock::now() + kReplaceWait;
    for(;;)
    {
      int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
      if(fd < 0)
      {
        *error = "cannot make the lock " + path + " for the output folder " + shown + ": " + std::strerror(errno);
        return false;
      }
      struct stat held, named;
      // The run that held it may have removed the file and another run made
      // a new one: only the lock on the file under the name counts.
      if(flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
         lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino)
      {
        // Never someone else's file of that name.
        char start[sizeof(kLockText) - 1] = {};
        ssize_t n = pread(fd, start, sizeof(start), 0);
        if(n != 0 && (n != static_cast<ssize_t>(sizeof(start)) || std::memcmp(start, kLockText, sizeof(start)) != 0))
        {
          close(fd);
          *error = path + " is in the way of the output folder " + shown + "'s lock: not replaced";
          return false;
        }
        if(n == 0) n = write(fd, kLockText, sizeof(start));  // names it for whoever finds it
        path_ = path;
        fd_ = fd;
        return true;
      }
      close(fd);
      if(std::chrono::steady_clock::now() > give_up)
      {
        *error = "another run has held the output folder " + shown + " for a minute (" + path + "): not replaced";
        return false;
      }
      std::this_thread::sleep_for(kReplaceRetry);
    }
  }
  void Release()
  {
    if(fd_ < 0) return;
    unlink(path_.c_str());
    close(fd_);
    fd_ = -1;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

bool WriteMark(const fs::path &folder, const std::string &text)
{
  std::ofstream mark(folder / kOutputMark, std::ios::binary | std::ios::trunc);
  mark << text;
  return static_cast<bool>(mark);
}

}  // namespace

std::string SafeName(const std::string &name)
{
  std::string safe;
  for(size_t k = 0; k < name.size();)
  {
    // Küche and Köche keep their letters, and so their folders apart.
    if(size_t length = WordCharacter(name, k); length > 0)
    {
      safe.append(name, k, length);
      k += length;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(name[k++]);
    bool plain = (c < 0x80 && std::isalnum(c)) || c == '-' || c == '_' || (c == '.' && !safe.empty());
    safe += plain ? static_cast<char>(c) : '_';
  }
  while(!safe.empty() && safe.back() == '.') safe.pop_back();
  return safe.find_first_not_of('_') == std::string::npos ? "scenario" : safe;
}

std::string TargetProblem(const OutputFolder &out)
{
  struct stat st;
  if(lstat(out.path.c_str(), &st) != 0) return errno == ENOENT ? "" : out.shown + ": " + std::strerror(errno);
  OutputMark mark = S_ISDIR(st.st_mode) ? ReadOutputMark(out.path) : OutputMark();
  if(!mark.present)
  {
    std::string what = S_ISDIR(st.st_mode) ? "a folder that brimvale-sim did not write"
                       : S_ISLNK(st.st_mode) ? "a link"
                       : S_ISREG(st.st_mode) ? "a file"
                                             : "something other than a folder";
    return "the output folder " + out.shown + " is " + what +
           ": not replaced (only a folder holding an earlier run's output, with its " + kOutputMark +
           " file, is); give another --out";
  }
  // Two scenarios whose names differ only in what a folder name cannot hold.
  if(out.by_scenario_name && !mark.scenario.empty() && mark.scenario != out.scenario)
    return "the output folder " + out.shown + " holds the output of " + mark.scenario + ", not of " + out.scenario +
           ": not replaced; give this scenario a folder of its own with --out";
  std::vector<std::string> names;
  std::error_code ec;
  if(!Entries(out.path, mark.listed, &names, &ec))
    return "cannot look through the output folder " + out.shown + ": " + ec.message() + ": not replaced";
  std::vector<std::string> foreign;
  size_t count = 0;
  std::string inside;  // a foreign folder: what it holds is not counted again
  for(const std::string &name : names)
  {
    if(mark.written.count(name) != 0 || (!inside.empty() && name.rfind(inside, 0) == 0)) continue;
    ++count;
    if(foreign.size() < kForeignShown) foreign.push_back(name);
    if(name.back() == '/') inside = name;
  }
  if(count == 0) return "";
  std::string listed;
  for(const std::string &name : foreign) listed += (listed.empty() ? "" : ", ") + name;
  if(count > foreign.size()) listed += " and " + std::to_string(count - foreign.size()) + " more";
  return "the output folder " + out.shown + " holds what no run wrote there (" + listed +
         "): not replaced; move that elsewhere, or give another --out";
}

bool ScratchFolder::Make(const std::string &pattern, mode_t mode)
{
  Remove();
  for(int attempt = 0; attempt < 3; ++attempt)
  {
    std::string path = pattern;
    if(mkdtemp(path.data()) == nullptr) return false;
    if(chmod(path.c_str(), mode) == 0 && Claim(path)) return true;
    int error = errno;
    // A sweep that found it before it was locked removes it.
    if(error == EWOULDBLOCK) continue;
    std::error_code ec;
    fs::remove_all(path, ec);
    errno = error;
    return false;
  }
  return false;
}

bool ScratchFolder::Claim(const fs::path &folder)
{
  int fd = open((folder / kScratchMark).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if(fd < 0) return false;
  std::string text = std::string(kScratchMarkText) + "pid " + std::to_string(getpid()) + "\n";
  if(flock(fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(fd, 0) != 0 ||
     write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
  {
    int error = errno == 0 ? ENOSPC : errno;
    close(fd);
    errno = error;
    return false;
  }
  Remove();
  path_ = folder.string();
  lock_ = fd;
  return true;
}

void ScratchFolder::Keep()
{
  if(lock_ >= 0)
  {
    unlink((path_ + "/" + kScratchMark).c_str());
    close(lock_);
    lock_ = -1;
  }
  path_.clear();
}

void ScratchFolder::Remove()
{
  std::error_code ec;
  // Locked until it is gone, so that no sweep meets it half-removed.
  if(!path_.empty()) fs::remove_all(path_, ec);
  path_.clear();
  if(lock_ >= 0) close(lock_);
  lock_ = -1;
}

std::string MakeWorkFolder(const OutputFolder &out, ScratchFolder *work)
{
  fs::path parent = out.path.parent_path();
  std::error_code ec;
  fs::create_directories(parent, ec);
  if(ec) return "cannot make the folder " + parent.string() + " for the output folder " + out.shown + ": " + ec.message();
  RemoveStaleScratch(parent, ".", {".partial-", ".old-"});
  RemoveStaleLocks(parent);
  if(!work->Make(Beside(out.path, ".partial-XXXXXX"), OwnersFolderMode()))
    return "cannot write in " + parent.string() + ", where the output folder " + out.shown +
           " is made: " + std::strerror(errno);
  return "";
}

int PutInPlace(ScratchFolder *work, const OutputFolder &out, std::string *error)
{
  const fs::path ready = work->path();
  // What the run wrote, so that a later run replaces this and nothing else.
  std::vector<std::string> names;
  std::error_code ec;
  if(!Entries(ready, true, &names, &ec))
  {
    *error = "cannot look through " + ready.string() + ": " + ec.message();
    return 1;
  }
  std::string mark = std::string(kOutputMarkText) + kScenarioLine + Escaped(out.scenario) + "\n" + kWrittenLine + "\n";
  for(const std::string &name : names) mark += Escaped(name) + "\n";
  if(!WriteMark(ready, mark))
  {
    *error = "cannot write in " + ready.string();
    return 1;
  }

  ReplaceLock lock;
  if(!lock.Take(Beside(out.path, kLockSuffix), out.shown, error)) return 1;
  ScratchFolder old;
  struct stat st;
  if(lstat(out.path.c_str(), &st) == 0 || errno != ENOENT)
  {
    // Looked at again: something may have been put there during the run.
    if(std::string problem = TargetProblem(out); !problem.empty())
    {
      *error = problem;
      return 2;
    }
    // Moved aside for the moment of the swap, as a scratch folder: should
    // this run end here, the next one removes it.
    std::string aside = Beside(out.path, ".old-XXXXXX");
    if(mkdtemp(aside.data()) == nullptr || rmdir(aside.c_str()) != 0)
    {
      *error = "cannot make room next to " + out.shown + ": " + std::strerror(errno);
      return 1;
    }
    if(!old.Claim(out.path))
    {
      *error = "cannot write in " + out.shown + ": " + std::strerror(errno);
      return 1;
    }
    if(rename(out.path.c_str(), aside.c_str()) != 0)
    {
      *error = "cannot move the previous " + out.shown + " aside: " + std::strerror(errno);
      old.Keep();
      return 1;
    }
    old.MovedTo(aside);
  }
  if(rename(ready.c_str(), out.path.c_str()) != 0)
  {
    *error = "cannot put the output in place at " + out.shown + ": " + std::strerror(errno);
    if(!old.path().empty() && rename(old.path().c_str(), out.path.c_str()) == 0)
    {
      old.MovedTo(out.path);
      old.Keep();
    }
    return 1;
  }
  work->MovedTo(out.path);
  work->Keep();
  lock.Release();
  old.Remove();
  return 0;
}

void MemoryScratch(double duration_seconds, ScratchFolder *scratch)
{
  const char *const base = "/dev/shm";
  struct statfs fs_info {};
  if(statfs(base, &fs_info) != 0 || fs_info.f_type != TMPFS_MAGIC || access(base, W_OK | X_OK) != 0) return;
  // Memory disks of runs that were killed outright would hold memory until
  // the PC restarts.
  RemoveStaleScratch(base, "brimvale-sim-", {""});
  if(statfs(base, &fs_info) != 0) return;
  // A day of nine servers logging every ping leaves about 7 MB; ten times
  // that per day, so that a full memory disk never fails a write the real
  // disk would have taken.
  constexpr double kBytesPerDay = 64.0 * 1024 * 1024;
  constexpr double kLeastFree = 256.0 * 1024 * 1024;
  double free_bytes = static_cast<double>(fs_info.f_bavail) * static_cast<double>(fs_info.f_bsize);
  if(free_bytes < kLeastFree + kBytesPerDay * (duration_seconds / 86400.0 + 1)) return;
  if(!NamesToSpare(fs_info.f_files, fs_info.f_ffree)) return;
  // Private: /dev/shm is every user's.
  scratch->Make(std::string(base) + "/brimvale-sim-XXXXXX", 0700);
}

}  // namespace sim
