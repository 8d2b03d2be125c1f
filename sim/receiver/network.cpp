#include "network.h"

#include <cctype>
#include <filesystem>

namespace sim {

namespace fs = std::filesystem;

std::string NormalizeMac(const std::string &text)
{
  // Six pairs of hex digits separated by ':' or '-'.
  std::string mac;
  size_t i = 0;
  for(int pair = 0; pair < 6; ++pair)
  {
    if(pair > 0)
    {
      if(i >= text.size() || (text[i] != ':' && text[i] != '-')) return "";
      ++i;
    }
    for(int digit = 0; digit < 2; ++digit, ++i)
    {
      if(i >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i]))) return "";
      mac += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    }
    if(pair < 5) mac += ':';
  }
  return i == text.size() ? mac : "";
}

void Network::AddServer(const NasConfig &server)
{
  servers_.push_back(server);
  states_[server.name];
}

double Network::Seconds(uint64_t uptime_ticks) const
{
  return uptime_ticks >= start_uptime_ ? static_cast<double>(uptime_ticks - start_uptime_) / 100.0 : 0.0;
}

const NasConfig *Network::Find(const std::string &address) const
{
  for(const NasConfig &s : servers_)
    if(s.address == address) return &s;
  return nullptr;
}

NasState *Network::State(const std::string &name)
{
  auto it = states_.find(name);
  return it == states_.end() ? nullptr : &it->second;
}

Power PowerAt(const NasConfig &server, double t, double woken_at)
{
  // When the sleep that lasts at `t` began; a server asleep from the start
  // sleeps since 0.
  double since = server.asleep ? 0.0 : -1.0;
  for(double s : server.sleeps)
    if(s <= t && s > since) since = s;
  if(since < 0) return Power::kAwake;
  // Woken during this sleep?
  if(woken_at < since || woken_at > t) return Power::kAsleep;
  return t < woken_at + server.boot_seconds ? Power::kBooting : Power::kAwake;
}

bool Network::Sleeping(const NasConfig &server, uint64_t uptime_ticks) const
{
  const NasState &state = states_.at(server.name);
  return PowerAt(server, Seconds(uptime_ticks), state.woken ? state.woken_at : -1) != Power::kAwake;
}

bool Network::Up(const NasConfig &server, uint64_t uptime_ticks) const
{
  double t = Seconds(uptime_ticks);
  for(const auto &outage : server.outages)
    if(t >= outage.first && t < outage.second) return false;
  return !Sleeping(server, uptime_ticks);
}

bool Network::Answers(const std::string &address, uint64_t uptime_ticks) const
{
  const NasConfig *server = Find(address);
  if(server == nullptr) return internet_ && address == kInternetProbe;
  return Up(*server, uptime_ticks);
}

std::vector<std::string> Network::Wake(const std::string &mac, uint64_t uptime_ticks)
{
  std::vector<std::string> reached;
  std::string wanted = NormalizeMac(mac);
  for(const NasConfig &s : servers_)
  {
    if(wanted.empty() || NormalizeMac(s.mac) != wanted) continue;
    NasState &state = states_[s.name];
    ++state.wake_packets;
    reached.push_back(s.name);
    // A server that is already on, or booting, ignores the packet.
    double t = Seconds(uptime_ticks);
    if(PowerAt(s, t, state.woken ? state.woken_at : -1) == Power::kAsleep)
    {
      state.woken = true;
      state.woken_at = t;
    }
  }
  return reached;
}

bool Network::MountRequest(const std::string &address, const std::string &path, uint64_t uptime_ticks,
                           std::string *host_dir, std::string *error)
{
  const NasConfig *server = Find(address);
  if(server == nullptr || !Up(*server, uptime_ticks))
  {
    *error = "mount: RPC: Unable to receive; errno = No route to host";
    return false;
  }
  NasState &state = states_[server->name];
  double t = Seconds(uptime_ticks);
  bool refusing = false;
  for(const auto &refusal : server->refusals) refusing = refusing || (t >= refusal.first && t < refusal.second);
  if(++state.mount_requests <= server->refuse_mounts || refusing)
  {
    *error = "mount: RPC: Program not registered";
    return false;
  }
  // The export itself or a folder below it.
  for(const auto &[export_path, folder] : server->exports)
  {
    if(path != export_path && path.compare(0, export_path.size() + 1, export_path + "/") != 0) continue;
    std::string dir = folder + path.substr(export_path.size());
    std::error_code ec;
    if(path.find("/..") != std::string::npos || !fs::is_directory(fs::symlink_status(dir, ec))) break;
    *host_dir = dir;
    return true;
  }
  *error = "mount: " + address + ":" + path + " failed, reason given by server: No such file or directory";
  return false;
}

}  // namespace sim
