// The receiver's home network, simulated: NAS servers with their addresses,
// MACs, exports and power behaviour, and the internet beyond the router.
// Nothing here sends a packet anywhere; whether a server answers is decided
// by the virtual clock.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// The address the plug-in pings to tell whether the network is up at all:
// the internet, reachable or not as the scenario says.
constexpr const char *kInternetProbe = "8.8.8.8";

struct NasConfig {
  std::string name;     // how the emulator's output calls it
  std::string address;  // IP address or host name the plug-in uses
  std::string mac;      // "00:11:32:aa:bb:cc"; empty = no wake-on-LAN
  // Export path on the server ("/volume1/video") -> its files on the PC.
  std::map<std::string, std::string> exports;
  // Power: asleep servers answer only after a wake-up packet and their boot time.
  bool asleep = false;
  double boot_seconds = 30;
  // Periods (seconds since the run began, [from, to)) in which the server does
  // not answer at all: unplugged, rebooting, out of reach.
  std::vector<std::pair<double, double>> outages;
  // The first N mount requests fail (the server is still starting its NFS service).
  int refuse_mounts = 0;
  // Moments (seconds since the run began) at which the server goes to sleep:
  // from then on it answers only after a wake-up packet and its boot time.
  std::vector<double> sleeps;
  // Periods ([from, to), seconds) in which it answers pings but refuses every
  // mount request, as while its NFS service restarts.
  std::vector<std::pair<double, double>> refusals;
};

// A server's power by its schedule and the wake-up packets it got: asleep
// from each of its sleeps (from the start, when it starts asleep) until the
// first wake-up packet after it, then booting for its boot time, then up.
enum class Power { kAwake, kAsleep, kBooting };
// At `t` (seconds since the run began), when the packet that last woke it
// came at `woken_at` (< 0: none did).
Power PowerAt(const NasConfig &server, double t, double woken_at);

struct NasState {
  bool woken = false;
  double woken_at = 0;
  int mount_requests = 0;
  int wake_packets = 0;
  int pings = 0;
  double first_answer = -1;  // seconds since the run began; -1 = never answered
};

class Network {
 public:
  void AddServer(const NasConfig &server);
  void SetInternet(bool reachable) { internet_ = reachable; }
  // Time base: seconds since the run began, from the receiver's uptime.
  void SetStart(uint64_t uptime_ticks) { start_uptime_ = uptime_ticks; }
  double Seconds(uint64_t uptime_ticks) const;
  uint64_t start_uptime() const { return start_uptime_; }

  // The server at an address or host name, or null.
  const NasConfig *Find(const std::string &address) const;
  NasState *State(const std::string &name);
  const std::vector<NasConfig> &servers() const { return servers_; }

  // Whether `address` answers a ping at this moment. The internet probe
  // answers while the internet is reachable; an address that is neither it
  // nor a server is unknown to the network and never answers.
  bool Answers(const std::string &address, uint64_t uptime_ticks) const;
  bool Up(const NasConfig &server, uint64_t uptime_ticks) const;
  // Whether the server is asleep or still booting at this moment.
  bool Sleeping(const NasConfig &server, uint64_t uptime_ticks) const;
  // A wake-on-LAN packet to `mac`: wakes every sleeping server with it.
  // Returns the names of the servers it reached.
  std::vector<std::string> Wake(const std::string &mac, uint64_t uptime_ticks);
  // An NFS mount request: the PC folder to show, or false with a reason.
  bool MountRequest(const std::string &address, const std::string &path, uint64_t uptime_ticks,
                    std::string *host_dir, std::string *error);

 private:
  std::vector<NasConfig> servers_;
  std::map<std::string, NasState> states_;
  bool internet_ = true;
  uint64_t start_uptime_ = 0;
};

// Normalised MAC text ("00:11:32:AA:BB:CC") or empty when `text` is none.
std::string NormalizeMac(const std::string &text);

}  // namespace sim
