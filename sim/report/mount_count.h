// Whose mount each mount point is, followed through the network's mounted
// and unmounted events: the summary counts a server's mounts and unmounts
// with it and the timeline draws its mounted spans and the recording folder
// with it, so the two cannot tell a run differently. A mount laid over a
// point that is mounted already hides the one below; unmounting the point
// uncovers it, as on the receiver.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "../receiver/network.h"
#include "../receiver/trace.h"

namespace sim {

class MountCount {
 public:
  // `servers` in the network's order; a mount is a server's when its source
  // is "<address>:<path>" with the first server of that address.
  explicit MountCount(const std::vector<NasConfig> &servers);

  struct Change {
    enum Kind { kNone, kMounted, kUnmounted } kind = kNone;
    long server = -1;  // whose export it was; -1: no server's (a bound folder)
    std::string point;
  };
  // What a trace entry changed: kNone for anything but a mount or unmount
  // the network recorded.
  Change Take(const TraceEntry &e);

  // The server whose export is on `point` now, or -1.
  long Owner(const std::string &point) const;
  // How many of the server's mounts are in place now.
  size_t Mounted(size_t server) const { return mounted_[server]; }
  // The server a mount source ("<address>:<path>") is an export of, or -1.
  long ServerOf(const std::string &source) const;

 private:

  std::vector<std::string> addresses_;
  std::map<std::string, std::vector<long>> points_;  // owners, the visible one last
  std::vector<size_t> mounted_;
};

}  // namespace sim
