// The emulator's record of everything the plug-in made the receiver do, in
// order, so tests can assert on what happened and what did not.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace sim {

enum class TraceKind {
  kDisk,     // TAP_Hdd_* calls that touch the disk, lstat64
  kShell,    // system(): the command line and its status
  kTool,     // what a stand-in tool did (mkdir, chmod, ...)
  kOsd,      // on-screen display calls
  kSystem,   // system variables, exit, sleep
  kMemory,   // allocation and release
  kPrint,    // TAP_Print output
  kTerminal, // writes to /dev/pts/N
  kLoader,   // the plug-in's calls of the dynamic loader
  kEvent,    // events delivered by the emulator
  kFile,     // C library file access (/proc/uptime)
  kNetwork,  // packets, mounts and signals on the simulated network
};

const char *TraceKindName(TraceKind kind);

// An entry's `text` is what it shows a reader. A tool the shell ran
// (kTool) also carries its words as the shell split them (`args`, the tool's
// name first), its exit status and what it said on standard error when that
// was not redirected; a command line (kShell) carries its status and the
// error texts of the tools in it that failed, joined with "; ". A mount,
// an unmount or a wake-up packet on the network (kNetwork) carries its
// fields in `args`, the event first (see the events below). Whoever needs
// these reads the fields, never the text.
struct TraceEntry {
  uint32_t tick;
  TraceKind kind;
  std::string text;
  std::vector<std::string> args{};
  int status = 0;
  std::string error{};
};

// The network's events, and their fields after the event's name:
// source ("192.168.178.20:/volume1/video", or the folder of a bind mount)
// and mount point, both as the receiver's paths; the mount point;
// the MAC (normalised) and the names of the servers the packet reached.
constexpr const char *kMountedEvent = "mounted";
constexpr const char *kUnmountedEvent = "unmounted";
constexpr const char *kWakeUpEvent = "wake-up";
TraceEntry MountedEvent(uint32_t tick, const std::string &source, const std::string &point);
TraceEntry UnmountedEvent(uint32_t tick, const std::string &point);
TraceEntry WakeUpEvent(uint32_t tick, const std::string &mac, const std::vector<std::string> &reached);

class Trace {
 public:
  void Add(uint32_t tick, TraceKind kind, std::string text);
  void Add(TraceEntry entry);
  // Keeps entries of the given kinds only (all by default); a listener still
  // sees every entry. A day of a busy plug-in is half a million entries.
  void KeepOnly(std::initializer_list<TraceKind> kinds);
  // Whether an entry of this kind goes anywhere: when not, the caller need
  // not build its text.
  bool Wants(TraceKind kind) const { return ((listener_ ? listen_ : 0u) | added_mask_ | keep_) & Bit(kind); }
  const std::vector<TraceEntry> &entries() const { return entries_; }
  // Texts of one kind, in order.
  std::vector<std::string> Texts(TraceKind kind) const;
  size_t Count(TraceKind kind) const;
  void Clear() { entries_.clear(); }
  // Called for every new entry (the emulator program prints a timeline),
  // or only for entries of the given kinds.
  void SetListener(std::function<void(const TraceEntry &)> listener) { listener_ = std::move(listener); }
  void ListenOnly(std::initializer_list<TraceKind> kinds);
  // Another listener beside that one, for entries of the given kinds (the
  // run's output files take the trace as it comes); RemoveAddedListeners
  // ends every such listener.
  void AddListener(std::initializer_list<TraceKind> kinds, std::function<void(const TraceEntry &)> listener);
  void RemoveAddedListeners()
  {
    added_.clear();
    added_mask_ = 0;
  }

 private:
  static uint32_t Bit(TraceKind kind) { return 1u << static_cast<unsigned>(kind); }

  std::vector<TraceEntry> entries_;
  std::function<void(const TraceEntry &)> listener_;
  uint32_t keep_ = ~0u;
  uint32_t listen_ = ~0u;
  std::vector<std::pair<uint32_t, std::function<void(const TraceEntry &)>>> added_;
  uint32_t added_mask_ = 0;
};

}  // namespace sim
