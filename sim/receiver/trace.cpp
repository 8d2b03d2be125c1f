#include "trace.h"

namespace sim {

const char *TraceKindName(TraceKind kind)
{
  switch(kind)
  {
    case TraceKind::kDisk: return "disk";
    case TraceKind::kShell: return "shell";
    case TraceKind::kTool: return "tool";
    case TraceKind::kOsd: return "osd";
    case TraceKind::kSystem: return "system";
    case TraceKind::kMemory: return "memory";
    case TraceKind::kPrint: return "print";
    case TraceKind::kTerminal: return "terminal";
    case TraceKind::kLoader: return "loader";
    case TraceKind::kEvent: return "event";
    case TraceKind::kFile: return "file";
    case TraceKind::kNetwork: return "network";
  }
  return "?";
}

TraceEntry MountedEvent(uint32_t tick, const std::string &source, const std::string &point)
{
  return {tick, TraceKind::kNetwork, "mounted " + source + " on " + point, {kMountedEvent, source, point}};
}

TraceEntry UnmountedEvent(uint32_t tick, const std::string &point)
{
  return {tick, TraceKind::kNetwork, "unmounted " + point, {kUnmountedEvent, point}};
}

TraceEntry WakeUpEvent(uint32_t tick, const std::string &mac, const std::vector<std::string> &reached)
{
  TraceEntry e{tick, TraceKind::kNetwork, "wake-up packet to " + mac, {kWakeUpEvent, mac}};
  for(size_t k = 0; k < reached.size(); ++k)
  {
    e.text += (k == 0 ? " reached " : ", ") + reached[k];
    e.args.push_back(reached[k]);
  }
  return e;
}

void Trace::Add(uint32_t tick, TraceKind kind, std::string text)
{
  Add(TraceEntry{tick, kind, std::move(text)});
}

void Trace::Add(TraceEntry entry)
{
  if(listener_ && (listen_ & Bit(entry.kind))) listener_(entry);
  if(added_mask_ & Bit(entry.kind))
    for(const auto &[kinds, listener] : added_)
      if(kinds & Bit(entry.kind)) listener(entry);
  if(keep_ & Bit(entry.kind)) entries_.push_back(std::move(entry));
}

void Trace::ListenOnly(std::initializer_list<TraceKind> kinds)
{
  listen_ = 0;
  for(TraceKind kind : kinds) listen_ |= Bit(kind);
}

void Trace::AddListener(std::initializer_list<TraceKind> kinds, std::function<void(const TraceEntry &)> listener)
{
  uint32_t mask = 0;
  for(TraceKind kind : kinds) mask |= Bit(kind);
  added_.emplace_back(mask, std::move(listener));
  added_mask_ |= mask;
}

void Trace::KeepOnly(std::initializer_list<TraceKind> kinds)
{
  keep_ = 0;
  for(TraceKind kind : kinds) keep_ |= Bit(kind);
}

std::vector<std::string> Trace::Texts(TraceKind kind) const
{
  std::vector<std::string> texts;
  for(const TraceEntry &e : entries_)
    if(e.kind == kind) texts.push_back(e.text);
  return texts;
}

size_t Trace::Count(TraceKind kind) const
{
  size_t n = 0;
  for(const TraceEntry &e : entries_) n += e.kind == kind;
  return n;
}

}  // namespace sim
