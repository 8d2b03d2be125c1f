// The receiver's file system: a folder on the PC plays its root, the hard
// disk lies at /mnt/hd, and a mount table lays other folders (server exports,
// bind mounts) over mount points exactly as the receiver's kernel would.
//
// Every receiver path is normalised lexically before use; ".." stops at the
// root, and a symbolic link is followed to the receiver path it names, so
// nothing the plug-in can name reaches outside the sandbox folder.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "../../host/folders.h"

namespace sim {

constexpr const char *kHddMount = HDD_MOUNT;
constexpr size_t kMaxPathLength = 4095;  // PATH_MAX less the terminator
constexpr size_t kMaxNameLength = 255;   // NAME_MAX

// Whether a PC file system with `free` of its `total` inodes left has names
// enough for a run's disks: settings, logs, mount points, the servers'
// files. A total of 0 is a file system without a limit (tmpfs with
// nr_inodes=0).
bool NamesToSpare(uint64_t total, uint64_t free);

// What lstat saw at a name: `error` 0 and its status, or the errno of a name
// that is not there (or cannot be looked at).
struct PathLook {
  int error = ENOENT;
  struct stat64 st {};
  bool exists() const { return error == 0; }
  bool folder() const { return error == 0 && S_ISDIR(st.st_mode); }
  bool file() const { return error == 0 && S_ISREG(st.st_mode); }
};

// A file that a shell redirection made while the plug-in runs, kept in
// memory: the plug-in writes a ping report or a process list this way,
// reads it back and deletes it, some 26,000 times a virtual day, and the
// disk need never see it. It is written out (Flush) the moment anything
// else could see it: any path resolved at, below or above it by other than
// the plug-in's own exist, open and delete, and the end of every plug-in
// call. A TAP file open on it keeps it alive, as an open file keeps a
// removed one, and `fd` is the file on the disk once it was written out.
struct HeldFile {
  std::string host;
  std::string content;
  int fd = -1;
  HeldFile() = default;
  HeldFile(const HeldFile &) = delete;
  HeldFile &operator=(const HeldFile &) = delete;
  ~HeldFile();
};

struct MountEntry {
  std::string point;     // normalised receiver path
  std::string host_dir;  // what is seen there, on the PC
  std::string source;    // "server:/export" or the bound receiver folder
  std::string type;      // "nfs", "bind", "rootfs"
  std::string options;
};

class Disk {
 public:
  // Creates the sandbox root with /mnt/hd and /dev/pts in it.
  explicit Disk(std::string host_root);

  const std::string &host_root() const { return host_root_; }

  // Absolute receiver path with "." and ".." resolved; false when a name is
  // longer than 255 bytes or the whole path longer than 4095.
  static bool Normalize(const std::string &path, std::string *out);
  // `path` (absolute, or relative to the receiver folder `cwd`) made absolute
  // and normalised.
  static bool Absolute(const std::string &path, const std::string &cwd, std::string *out);

  // Where a receiver path lies on the PC, through the mount table and any
  // symbolic links; false for a path that cannot be normalised. With
  // `look`, also what lstat saw at the path's last name; `live` asks for its
  // status as it is now (a file's size, a changed folder's times), not only
  // what it is.
  bool HostPath(const std::string &path, const std::string &cwd, std::string *host, PathLook *look = nullptr,
                bool live = false) const;
  // The same for a path that is already absolute and normalised.
  // A held file at the path is written out first, unless `held` is given:
  // then *held is the held file there, if any, and `look` shows it.
  bool NormalHostPath(const std::string &abs, std::string *host, PathLook *look = nullptr,
                      bool live = false, std::shared_ptr<HeldFile> *held = nullptr) const
  {
    return Resolve(abs, host, look, live, held, /*contents=*/true);
  }
  // The same for a path whose folder is only named or looked at, not looked
  // into (the plug-in's current folder, an lstat): held files in it stay
  // held. A folder's own times and size do not show them.
  bool FolderHostPath(const std::string &abs, std::string *host, PathLook *look, bool live = false) const
  {
    return Resolve(abs, host, look, live, nullptr, /*contents=*/false);
  }

  // A new, empty held file at `host` (a name that is not there, in a folder
  // that is), or null when it cannot be held and must go to the disk.
  std::shared_ptr<HeldFile> Hold(const std::string &host);
  // Writes `text` to a held file from its start, in memory or on the disk.
  static bool WriteHeld(HeldFile *file, const std::string &text);
  // The held file is gone, as a removed name is; open TAP files keep it.
  void Unhold(const HeldFile *file);
  // Writes every held file and the pending append out to the disk.
  void Flush() const
  {
    // Inline: it runs after every event, and almost always finds nothing.
    if(!pending_.bytes.empty()) WritePending();
    if(!held_.empty()) FlushHeld();
  }
  // What a lookup shows of a held file.
  PathLook HeldLook(const HeldFile &file) const;
  // lstat of a host path as the disk remembers it; a link is looked at anew.
  PathLook LinkLook(const std::string &host) const { return Look(host, /*follow=*/false, /*live=*/false); }

  // HostPath remembers what it saw at each name (folder, file or nothing),
  // so that a log line does not cost a dozen lstat calls. What it remembers
  // holds while the tree stays as it is: the receiver reports each name it
  // makes, removes or changes the rights of (Changed: the name is looked at
  // again, and its folder when its times are asked for; Removed: the name
  // is known to be gone), mounts, unmounts and the start of the plug-in
  // forget everything, and code that changes the sandbox behind the
  // receiver's back calls Forget() (the test fixture's helpers do).
  void Forget() const
  {
    known_.clear();
    ++changes_;
    ++tree_;
  }
  void Changed(const std::string &host) const;
  void Removed(const std::string &host) const;

  // Files the plug-in closed stay open a while: it opens and closes its log
  // for every line, and an open is the dearest call the emulator makes.
  // TakeOpen hands a kept descriptor back (or -1) only for the very file a
  // look found: the kept descriptor holds its inode, so no other file can
  // have the same device and inode meanwhile; its type and rights must be
  // the same too.
  // A kept descriptor carries the file's size when nothing could have
  // changed it since (no write through another TAP file, no change by
  // name), so that the log's length costs no call.
  int TakeOpen(const PathLook &look, int64_t *size = nullptr);
  void KeepOpen(int fd, const PathLook &look, int64_t size = -1);
  // Counts every change that could alter a file's size behind a TAP file.
  uint64_t changes() const { return changes_; }
  void CountChange() const { ++changes_; }
  // Closes a descriptor TakeOpen handed back, after what is pending on it.
  void CloseFile(int fd) const;

  // The plug-in writes its log a line at a time, each line appended through
  // a kept descriptor: some 80,000 writes a virtual day. Bytes appended at
  // a file's end are gathered and written together (WritePending) before
  // anything else could see the file: a read, a look at its length on the
  // disk, another write, a path resolved at it by other than the plug-in's
  // exist and open, its descriptor closed, and the end of the plug-in call.
  // `at` is where they go (the file's length); `host` is the file's PC path.
  // Called with the bytes of every TAP_Hdd_Fwrite to the file at `host`,
  // as they are written: the timeline shows the run log's lines this way,
  // without reading the log back. Each call adds a watch; an empty `watch`
  // ends them all.
  using WriteWatch = std::function<void(const char *bytes, size_t n)>;
  void WatchWrites(std::string host, WriteWatch watch)
  {
    if(!watch)
      watches_.clear();
    else
      watches_.emplace_back(std::move(host), std::move(watch));
  }
  void Written(const std::string &host, const char *bytes, size_t n) const
  {
    for(const auto &[watched, watch] : watches_)
      if(host == watched) watch(bytes, n);
  }

  static constexpr size_t kAppendLimit = 64 * 1024;  // bytes gathered at most
  void Append(int fd, const std::string &host, int64_t at, const char *bytes, size_t n) const;
  void WritePending() const;
  // The same when they belong to this file (its PC path or descriptor).
  void WritePendingTo(const std::string &host, int fd) const
  {
    if(!pending_.bytes.empty() && (fd == pending_.fd || host == pending_.host)) WritePending();
  }

  // The first time the PC's file system failed the receiver's disk, as
  // "<PC path>: <reason>": a write lost after the plug-in was told it was
  // done, or a name or a write refused for want of room (bytes or inodes),
  // which the receiver's own disk would have taken. Empty while there was
  // none; once there is one, the run's files are not to be trusted.
  const std::string &failure() const { return failure_; }
  // Records `error` (an errno value) at `host` when it is the PC's file
  // system running out of room; `always` records any error (a write the
  // plug-in was already told of).
  void PcFailed(const std::string &host, int error, bool always = false) const;

  ~Disk();
  Disk(const Disk &) = delete;
  Disk &operator=(const Disk &) = delete;

  // Lays `host_dir` over the existing receiver folder `point`.
  bool Mount(const std::string &point, const std::string &host_dir, const std::string &source,
             const std::string &type, const std::string &options, std::string *error);
  // Removes the topmost mount at `point`; false when none is there or another
  // mount lies inside it (busy). `detach` (umount -l) takes the mounts inside
  // it away with it, as the kernel detaches a whole tree.
  bool Unmount(const std::string &point, std::string *error, bool detach = false);
  bool IsMountPoint(const std::string &point) const;
  // The mount table, root first, in mount order.
  const std::vector<MountEntry> &mounts() const { return mounts_; }

 private:
  std::string host_root_;
  std::vector<MountEntry> mounts_;
  // lstat (or, for a mount's own folder, stat) of a host path, as
  // remembered unless `live` wants a file's status as it is now.
  PathLook Look(const std::string &host, bool follow, bool live) const;

  struct Known {
    PathLook look;
    bool current = true;  // size and times as they are now
  };
  mutable std::unordered_map<std::string, Known> known_;
  struct KeptFile {
    int fd;
    PathLook look;
    int64_t size;      // -1: not known
    uint64_t changes;  // changes_ when the size was right
  };
  std::vector<KeptFile> kept_;  // oldest first
  mutable uint64_t changes_ = 0;
  mutable std::string failure_;
  struct PendingAppend {
    int fd = -1;
    int64_t at = 0;
    std::string host;
    std::string bytes;
  };
  mutable PendingAppend pending_;
  std::vector<std::pair<std::string, WriteWatch>> watches_;
  // Usually none, at most a few: a list is quickest.
  mutable std::vector<std::shared_ptr<HeldFile>> held_;
  struct {
    std::string folder;
    uint64_t tree = UINT64_MAX;
    bool ok = false;
  } writable_;  // the last folder a file was held in, and whether the shell may write there
  mode_t file_mode_;  // what a new file gets: 0666 less the umask
  bool Resolve(const std::string &abs, std::string *host, PathLook *look, bool live, std::shared_ptr<HeldFile> *held,
               bool contents) const;
  // The PC path under the topmost mount that holds `abs`, and the length of
  // that mount's own folder in it.
  std::string MountedPath(const std::string &abs, size_t *host_dir_size) const;
  // The walk name by name from the mount's folder. A symbolic link on the
  // way is followed as the receiver's kernel would, its target read as a
  // receiver path (so it never leads out of the sandbox); false when that
  // takes more than kMaxLinks links.
  bool Walk(const std::string &abs, bool live, std::string *host, PathLook *look, int links = 0) const;
  static constexpr int kMaxLinks = 40;  // the kernel's limit (ELOOP)
  // The last walks, good while `tree` is the count of changes to the tree
  // (Changed, Removed, Forget, a status seen anew): a log line resolves the
  // same few paths a dozen times.
  struct Walked {
    std::string abs;
    std::string host;
    PathLook look;
    uint64_t tree = UINT64_MAX;
  };
  static constexpr size_t kWalked = 8;
  mutable Walked walked_[kWalked];
  mutable size_t walked_next_ = 0;
  mutable uint64_t tree_ = 0;
  void FlushOne(size_t k) const;
  void FlushHeld() const;
  // Writes out the held files that a look at `host` could see: one there
  // (unless *kept is to have it), one that the path runs through, and, with
  // `contents`, those below it.
  void FlushSeenBy(const std::string &host, const HeldFile **kept, bool contents) const;
};

// The host's view of the disk: names in TAP notation, relative to the
// plug-in's current folder, with the hard disk as the root.
class HddView {
 public:
  explicit HddView(Disk *disk) : disk_(disk) {}

  // The current folder in TAP notation: "/" or "/ProgramFiles/Settings".
  const std::string &current() const { return current_; }
  // "/mnt/hd" + current folder ("/mnt/hd/" at the root), as the firmware
  // keeps it in the plug-in's folder object.
  std::string CurrentLinuxPath() const;

  // TAP name → absolute TAP path; ".." stops at the disk's root.
  bool TapPath(const std::string &name, std::string *tap) const;
  // TAP name → receiver path below /mnt/hd.
  bool ReceiverPath(const std::string &name, std::string *receiver) const;
  // TAP name → PC path (and, with `look`, what is there; with `held`, see
  // Disk::NormalHostPath).
  bool HostPath(const std::string &name, std::string *host, PathLook *look = nullptr,
                std::shared_ptr<HeldFile> *held = nullptr) const;

  bool ChangeDir(const std::string &name);

 private:
  Disk *disk_;
  std::string current_ = "/";
};

}  // namespace sim
