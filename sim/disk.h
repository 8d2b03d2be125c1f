// The receiver's file system: a folder on the PC plays its root, the hard
// disk lies at /mnt/hd, and a mount table lays other folders (server exports,
// bind mounts) over mount points exactly as the receiver's kernel would.
//
// Every receiver path is normalised lexically before use; ".." stops at the
// root, and a path through a symbolic link is refused, so nothing the plug-in
// can name reaches outside the sandbox folder.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <unordered_map>
#include <vector>

namespace sim {

constexpr const char *kHddMount = "/mnt/hd";
constexpr size_t kMaxPathLength = 4095;  // PATH_MAX less the terminator
constexpr size_t kMaxNameLength = 255;   // NAME_MAX

// What lstat saw at a name: `error` 0 and its status, or the errno of a name
// that is not there (or cannot be looked at).
struct PathLook {
  int error = ENOENT;
  struct stat64 st {};
  bool exists() const { return error == 0; }
  bool folder() const { return error == 0 && S_ISDIR(st.st_mode); }
  bool file() const { return error == 0 && S_ISREG(st.st_mode); }
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

  // Where a receiver path lies on the PC, through the mount table; false for
  // a path that cannot be normalised or runs through a symbolic link. With
  // `look`, also what lstat saw at the path's last name; `live` asks for its
  // status as it is now (a file's size, a changed folder's times), not only
  // what it is.
  bool HostPath(const std::string &path, const std::string &cwd, std::string *host, PathLook *look = nullptr,
                bool live = false) const;
  // The same for a path that is already absolute and normalised.
  bool NormalHostPath(const std::string &abs, std::string *host, PathLook *look = nullptr,
                      bool live = false) const;

  // HostPath remembers what it saw at each name (folder, file or nothing),
  // so that a log line does not cost a dozen lstat calls. What it remembers
  // holds while the tree stays as it is: the receiver reports each name it
  // makes, removes or changes the rights of (Changed: the name is looked at
  // again, and its folder when its times are asked for; Removed: the name
  // is known to be gone), mounts, unmounts and the start of the plug-in
  // forget everything, and code that changes the sandbox behind the
  // receiver's back calls Forget() (the test fixture's helpers do).
  void Forget() const { known_.clear(); }
  void Changed(const std::string &host) const;
  void Removed(const std::string &host) const;

  // Files the plug-in closed stay open a while: it opens and closes its log
  // for every line, and an open is the dearest call the emulator makes.
  // TakeOpen hands a kept descriptor back (or -1) only for the very file a
  // look found: the kept descriptor holds its inode, so no other file can
  // have the same device and inode meanwhile; its type and rights must be
  // the same too.
  int TakeOpen(const PathLook &look);
  void KeepOpen(int fd, const PathLook &look);
  ~Disk();
  Disk(const Disk &) = delete;
  Disk &operator=(const Disk &) = delete;

  // Lays `host_dir` over the existing receiver folder `point`.
  bool Mount(const std::string &point, const std::string &host_dir, const std::string &source,
             const std::string &type, const std::string &options, std::string *error);
  // Removes the topmost mount at `point`; false when none is there or another
  // mount lies inside it (busy).
  bool Unmount(const std::string &point, std::string *error);
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
  };
  std::vector<KeptFile> kept_;  // oldest first
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
  // TAP name → PC path (and, with `look`, what is there).
  bool HostPath(const std::string &name, std::string *host, PathLook *look = nullptr) const;

  bool ChangeDir(const std::string &name);

 private:
  Disk *disk_;
  std::string current_ = "/";
};

}  // namespace sim
