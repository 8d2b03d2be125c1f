// Whose mount each mount point is: see mount_count.h.
#include "mount_count.h"

namespace sim {

MountCount::MountCount(const std::vector<NasConfig> &servers) : mounted_(servers.size())
{
  for(const NasConfig &s : servers) addresses_.push_back(s.address);
}

long MountCount::ServerOf(const std::string &source) const
{
  size_t colon = source.find(':');
  if(colon == std::string::npos) return -1;
  for(size_t k = 0; k < addresses_.size(); ++k)
    if(source.compare(0, colon, addresses_[k]) == 0) return static_cast<long>(k);
  return -1;
}

MountCount::Change MountCount::Take(const TraceEntry &e)
{
  Change change;
  if(e.kind != TraceKind::kNetwork || e.args.empty()) return change;
  if(e.args[0] == kMountedEvent && e.args.size() == 3)
  {
    change = {Change::kMounted, ServerOf(e.args[1]), e.args[2]};
    points_[change.point].push_back(change.server);
  }
  else if(e.args[0] == kUnmountedEvent && e.args.size() == 2)
  {
    auto it = points_.find(e.args[1]);
    if(it == points_.end()) return change;
    change = {Change::kUnmounted, it->second.back(), e.args[1]};
    it->second.pop_back();
    if(it->second.empty()) points_.erase(it);
  }
  else
    return change;
  if(change.server >= 0)
  {
    size_t &n = mounted_[static_cast<size_t>(change.server)];
    n = change.kind == Change::kMounted ? n + 1 : n - 1;
  }
  return change;
}

long MountCount::Owner(const std::string &point) const
{
  auto it = points_.find(point);
  return it == points_.end() ? -1 : it->second.back();
}

}  // namespace sim
