#include "disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace sim {

namespace fs = std::filesystem;

namespace {

bool IsWithin(const std::string &path, const std::string &point)
{
  if(point == "/") return true;
  // The name boundary first: it turns most mount points away without
  // comparing their text.
  return path.size() >= point.size() && (path.size() == point.size() || path[point.size()] == '/') &&
         path.compare(0, point.size(), point) == 0;
}

}  // namespace

bool NamesToSpare(uint64_t total, uint64_t free)
{
  // A run makes a few hundred names; a ping report comes and goes each
  // probe. Ten thousand leave room for large exports and for others.
  constexpr uint64_t kRunNames = 10000;
  return total == 0 || free >= kRunNames;
}

HeldFile::~HeldFile()
{
  if(fd >= 0) ::close(fd);
}

namespace {

mode_t NewFileMode()
{
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

Disk::Disk(std::string host_root) : host_root_(std::move(host_root)), file_mode_(NewFileMode())
{
  fs::create_directories(host_root_ + kHddMount);
  // The folders every receiver's disk has from the factory.
  for(const char *folder : {"DataFiles", "MediaFiles", "MP3Files", "PhotoFiles", "ProgramFiles"})
    fs::create_directories(host_root_ + kHddMount + "/" + folder);
  fs::create_directories(host_root_ + "/dev/pts");
  fs::create_directories(host_root_ + "/proc");
  mounts_.push_back(MountEntry{"/", host_root_, "rootfs", "rootfs", "rw"});
}

bool Disk::Normalize(const std::string &path, std::string *out)
{
  if(path.size() > kMaxPathLength) return false;
  std::string result;
  result.reserve(path.size());
  size_t i = 0;
  while(i < path.size())
  {
    size_t j = path.find('/', i);
    if(j == std::string::npos) j = path.size();
    size_t n = j - i;
    if(n > kMaxNameLength) return false;
    if(n == 2 && path[i] == '.' && path[i + 1] == '.')
      result.resize(result.empty() ? 0 : result.rfind('/'));
    else if(n > 0 && !(n == 1 && path[i] == '.'))
    {
      result += '/';
      result.append(path, i, n);
    }
    i = j + 1;
  }
  *out = result.empty() ? "/" : std::move(result);
  return true;
}

bool Disk::Absolute(const std::string &path, const std::string &cwd, std::string *out)
{
  if(!path.empty() && path[0] == '/') return Normalize(path, out);
  return Normalize(cwd + "/" + path, out);
}

PathLook Disk::Look(const std::string &host, bool follow, bool live) const
{
  auto known = known_.find(host);
  if(known != known_.end() && !(live && !known->second.current)) return known->second.look;
  // A status seen anew may differ from what an earlier walk gave.
  if(known != known_.end()) ++tree_;
  Known seen;
  seen.look.error = ::fstatat64(AT_FDCWD, host.c_str(), &seen.look.st, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
  // A file's size and times change with every write, so they are never
  // current; a folder's only when a name in it comes or goes (Changed).
  seen.current = !seen.look.file();
  // A link is refused anew each time; other errors (no rights) may pass.
  if(seen.look.exists() ? !S_ISLNK(seen.look.st.st_mode) : seen.look.error == ENOENT) known_[host] = seen;
  return seen.look;
}

std::shared_ptr<HeldFile> Disk::Hold(const std::string &host)
{
  size_t slash = host.rfind('/');
  if(slash == std::string::npos || slash == 0) return nullptr;
  // The folder must be there: the walk that found no name may have stopped
  // above it.
  std::string parent = host.substr(0, slash);
  auto folder = known_.find(parent);
  if(folder == known_.end() || !folder->second.look.folder()) return nullptr;
  // The shell could not make a file in a folder it may not write to: that
  // is for the disk to say, asked again only after a change to the tree.
  if(writable_.tree != tree_ || writable_.folder != parent)
  {
    writable_.folder = parent;
    writable_.tree = tree_;
    writable_.ok = ::access(parent.c_str(), W_OK | X_OK) == 0;
  }
  if(!writable_.ok) return nullptr;
  for(const auto &h : held_)
    if(h->host == host) return nullptr;
  auto file = std::make_shared<HeldFile>();
  file->host = host;
  held_.push_back(file);
  return file;
}

bool Disk::WriteHeld(HeldFile *file, const std::string &text)
{
  if(file->fd < 0)
  {
    file->content.replace(0, std::min(text.size(), file->content.size()), text);
    return true;
  }
  size_t done = 0;
  while(done < text.size())
  {
    ssize_t n = ::pwrite(file->fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if(n < 0 && errno == EINTR) continue;
    if(n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void Disk::Unhold(const HeldFile *file)
{
  for(size_t k = 0; k < held_.size(); ++k)
    if(held_[k].get() == file)
    {
      held_.erase(held_.begin() + static_cast<long>(k));
      return;
    }
}

PathLook Disk::HeldLook(const HeldFile &file) const
{
  PathLook look;
  look.error = 0;
  look.st.st_mode = S_IFREG | file_mode_;
  look.st.st_nlink = 1;
  look.st.st_size = static_cast<off64_t>(file.content.size());
  return look;
}

void Disk::FlushOne(size_t k) const
{
  std::shared_ptr<HeldFile> file = held_[k];
  held_.erase(held_.begin() + static_cast<long>(k));
  // As the shell's redirection would have made it; a TAP file still open on
  // it goes on with this descriptor.
  file->fd = ::open(file->host.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
  if(file->fd < 0 || !WriteHeld(file.get(), file->content))
  {
    // As with gathered log lines: the plug-in was told the file was made.
    PcFailed(file->host, errno, true);
    if(file->fd >= 0) ::close(file->fd);
    file->fd = -1;
  }
  file->content.clear();
  Changed(file->host);
}

void Disk::FlushHeld() const
{
  while(!held_.empty()) FlushOne(0);
}

void Disk::Append(int fd, const std::string &host, int64_t at, const char *bytes, size_t n) const
{
  if(pending_.fd != fd || pending_.host != host ||
     pending_.at + static_cast<int64_t>(pending_.bytes.size()) != at || pending_.bytes.size() + n > kAppendLimit)
  {
    WritePending();
    pending_.fd = fd;
    pending_.host = host;
    pending_.at = at;
  }
  pending_.bytes.append(bytes, n);
}

void Disk::WritePending() const
{
  if(pending_.bytes.empty()) return;
  size_t done = 0;
  while(done < pending_.bytes.size())
  {
    ssize_t n = ::pwrite(pending_.fd, pending_.bytes.data() + done, pending_.bytes.size() - done,
                         static_cast<off_t>(pending_.at + static_cast<int64_t>(done)));
    if(n < 0 && errno == EINTR) continue;
    if(n <= 0)
    {
      // The PC's disk failed the emulator, after the plug-in was told its
      // lines were written: the run's files are not to be trusted.
      PcFailed(pending_.host, n < 0 ? errno : ENOSPC, true);
      break;
    }
    done += static_cast<size_t>(n);
  }
  pending_.bytes.clear();
}

void Disk::PcFailed(const std::string &host, int error, bool always) const
{
  if(!failure_.empty() || !(always || error == ENOSPC || error == EDQUOT)) return;
  failure_ = host + ": " + std::strerror(error);
}

void Disk::CloseFile(int fd) const
{
  if(fd == pending_.fd) WritePending();
  ::close(fd);
}

void Disk::FlushSeenBy(const std::string &host, const HeldFile **kept, bool contents) const
{
  for(size_t k = 0; k < held_.size();)
  {
    const std::string &h = held_[k]->host;
    if(kept != nullptr && h == host)
    {
      *kept = held_[k].get();
      ++k;
    }
    else if(h == host || IsWithin(host, h) || (contents && IsWithin(h, host)))
      FlushOne(k);
    else
      ++k;
  }
}

void Disk::Removed(const std::string &host) const
{
  Changed(host);
  Known gone;  // what lstat says of a name that is not there
  known_[host] = gone;
}

void Disk::Changed(const std::string &host) const
{
  ++changes_;
  ++tree_;
  known_.erase(host);
  // The folder is still what it was; only its times and size moved on.
  size_t slash = host.rfind('/');
  if(slash == std::string::npos) return;
  auto folder = known_.find(host.substr(0, slash));
  if(folder != known_.end()) folder->second.current = false;
}

namespace {

bool SameFile(const PathLook &a, const PathLook &b)
{
  return a.file() && b.file() && a.st.st_dev == b.st.st_dev && a.st.st_ino == b.st.st_ino &&
         a.st.st_mode == b.st.st_mode;
}

constexpr size_t kKeptFiles = 4;

}  // namespace

int Disk::TakeOpen(const PathLook &look, int64_t *size)
{
  if(size != nullptr) *size = -1;
  for(size_t k = 0; k < kept_.size(); ++k)
    if(SameFile(kept_[k].look, look))
    {
      int fd = kept_[k].fd;
      if(size != nullptr && kept_[k].changes == changes_) *size = kept_[k].size;
      kept_.erase(kept_.begin() + static_cast<long>(k));
      return fd;
    }
  return -1;
}

void Disk::KeepOpen(int fd, const PathLook &look, int64_t size)
{
  if(kept_.size() == kKeptFiles)
  {
    CloseFile(kept_.front().fd);
    kept_.erase(kept_.begin());
  }
  kept_.push_back(KeptFile{fd, look, size, changes_});
}

Disk::~Disk()
{
  Flush();
  for(const KeptFile &k : kept_) ::close(k.fd);
}

bool Disk::HostPath(const std::string &path, const std::string &cwd, std::string *host, PathLook *look,
                    bool live) const
{
  std::string abs;
  return Absolute(path, cwd, &abs) && NormalHostPath(abs, host, look, live);
}

std::string Disk::MountedPath(const std::string &abs, size_t *host_dir_size) const
{
  // The deepest mount point that contains the path; of mounts stacked on the
  // same point the last one is on top.
  const MountEntry *best = &mounts_.front();
  for(const MountEntry &m : mounts_)
    if(IsWithin(abs, m.point) && m.point.size() >= best->point.size()) best = &m;
  std::string result = best->host_dir;
  if(best->point == "/")
    result += abs;
  else
    result.append(abs, best->point.size(), std::string::npos);
  if(host_dir_size != nullptr) *host_dir_size = best->host_dir.size();
  return result;
}

bool Disk::Resolve(const std::string &abs, std::string *host, PathLook *look, bool live, std::shared_ptr<HeldFile> *held,
                   bool contents) const
{
  if(held != nullptr) held->reset();
  const Walked *memo = nullptr;
  for(const Walked &w : walked_)
    if(w.tree == tree_ && w.abs == abs)
    {
      memo = &w;
      break;
    }
  std::string full = memo != nullptr ? memo->host : MountedPath(abs, nullptr);
  if(held == nullptr && !pending_.bytes.empty() && pending_.host == full) WritePending();
  if(!held_.empty())
  {
    const HeldFile *found = nullptr;
    FlushSeenBy(full, held != nullptr ? &found : nullptr, contents);
    if(found != nullptr)
    {
      for(const auto &h : held_)
        if(h.get() == found) *held = h;
      if(look != nullptr) *look = HeldLook(*found);
      *host = std::move(full);
      return true;
    }
  }
  // The same walk as last time, while nothing in the tree changed, sees
  // the same; only a file's status as it is now needs a new look.
  if(memo != nullptr && memo->tree == tree_ && !(live && memo->look.file()))
  {
    if(look != nullptr) *look = memo->look;
    *host = std::move(full);
    return true;
  }
  PathLook seen;
  if(!Walk(abs, live, host, &seen)) return false;
  Walked &w = walked_[walked_next_++ % kWalked];
  w.abs = abs;
  w.host = *host;
  w.look = seen;
  w.tree = tree_;
  if(look != nullptr) *look = seen;
  return true;
}

bool Disk::Walk(const std::string &abs, bool live, std::string *host, PathLook *look, int links) const
{
  size_t host_dir_size = 0;
  std::string result = MountedPath(abs, &host_dir_size);
  // What lies below the mount's folder, "" or "/a/b".
  std::string rest = result.substr(host_dir_size);
  result.resize(host_dir_size);
  PathLook seen;
  if(rest.empty()) seen = Look(result, /*follow=*/true, live);
  // A folder the disk knows was reached by a walk like this one, and what
  // is above it cannot change without the disk hearing of it: only the last
  // name needs a look.
  size_t i = 0;
  size_t last = rest.rfind('/');
  if(last != std::string::npos && last > 0)
  {
    result.append(rest, 0, last);
    auto folder = known_.find(result);
    if(folder != known_.end() && folder->second.look.folder())
      i = last;
    else
      result.resize(host_dir_size);
  }
  // Walk down from there. Below a name that is not there nothing can be a
  // link, so the walk stops looking.
  bool looking = true;
  while(i < rest.size())
  {
    size_t j = rest.find('/', i + 1);
    if(j == std::string::npos) j = rest.size();
    result.append(rest, i, j - i);
    i = j;
    if(!looking) continue;
    seen = Look(result, /*follow=*/false, live && i == rest.size());
    if(seen.exists() && S_ISLNK(seen.st.st_mode))
    {
      // The link's target is a receiver path, relative to the link's folder
      // unless it starts with "/"; the walk starts again from there. Read
      // as a PC path it could lead anywhere.
      size_t at = abs.size() - rest.size() + i;  // the link's end in `abs`
      char target[kMaxPathLength + 1];
      ssize_t n = ::readlink(result.c_str(), target, sizeof(target) - 1);
      if(n <= 0 || links >= kMaxLinks) return false;
      std::string followed(target, static_cast<size_t>(n));
      if(followed[0] != '/') followed = abs.substr(0, abs.rfind('/', at - 1) + 1) + followed;
      std::string next;
      if(!Normalize(followed + abs.substr(at), &next)) return false;
      return Walk(next, live, host, look, links + 1);
    }
    looking = seen.exists();
  }
  *look = seen;
  *host = std::move(result);
  return true;
}

bool Disk::Mount(const std::string &point, const std::string &host_dir, const std::string &source,
                 const std::string &type, const std::string &options, std::string *error)
{
  std::string abs, host;
  if(!Normalize(point, &abs) || !HostPath(abs, "/", &host))
  {
    *error = "invalid mount point";
    return false;
  }
  std::error_code ec;
  if(!fs::is_directory(host, ec))
  {
    *error = "mount point does not exist";
    return false;
  }
  if(!fs::is_directory(host_dir, ec))
  {
    *error = "source is not a folder";
    return false;
  }
  mounts_.push_back(MountEntry{abs, host_dir, source, type, options});
  Forget();
  return true;
}

bool Disk::Unmount(const std::string &point, std::string *error, bool detach)
{
  std::string abs;
  if(!Normalize(point, &abs) || abs == "/")
  {
    *error = "not mounted";
    return false;
  }
  for(size_t k = mounts_.size(); k-- > 1;)
  {
    if(mounts_[k].point != abs) continue;
    // A mount laid over a folder inside this one keeps it busy, unless the
    // whole tree is detached at once (umount -l).
    for(size_t l = mounts_.size(); l-- > k + 1;)
      if(mounts_[l].point != abs && IsWithin(mounts_[l].point, abs))
      {
        if(!detach)
        {
          *error = "target is busy";
          return false;
        }
        mounts_.erase(mounts_.begin() + static_cast<long>(l));
      }
    mounts_.erase(mounts_.begin() + static_cast<long>(k));
    Forget();
    return true;
  }
  *error = "not mounted";
  return false;
}

bool Disk::IsMountPoint(const std::string &point) const
{
  std::string abs;
  if(!Normalize(point, &abs)) return false;
  for(size_t k = 1; k < mounts_.size(); ++k)
    if(mounts_[k].point == abs) return true;
  return false;
}

std::string HddView::CurrentLinuxPath() const
{
  return current_ == "/" ? std::string(kHddMount) + "/" : kHddMount + current_;
}

bool HddView::TapPath(const std::string &name, std::string *tap) const
{
  return Disk::Absolute(name, current_, tap);
}

bool HddView::ReceiverPath(const std::string &name, std::string *receiver) const
{
  std::string tap;
  if(!TapPath(name, &tap)) return false;
  *receiver = tap == "/" ? std::string(kHddMount) : kHddMount + tap;
  return receiver->size() <= kMaxPathLength;
}

bool HddView::HostPath(const std::string &name, std::string *host, PathLook *look,
                       std::shared_ptr<HeldFile> *held) const
{
  std::string receiver;
  return ReceiverPath(name, &receiver) && disk_->NormalHostPath(receiver, host, look, false, held);
}

bool HddView::ChangeDir(const std::string &name)
{
  std::string tap, host;
  PathLook look;
  std::string receiver;
  if(name.empty() || !TapPath(name, &tap) || !ReceiverPath(tap, &receiver) ||
     !disk_->FolderHostPath(receiver, &host, &look) || !look.folder())
    return false;
  current_ = tap;
  return true;
}

}  // namespace sim
