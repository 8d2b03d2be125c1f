#include "run_record.h"

#include "../receiver/clock.h"
#include "../receiver/receiver.h"

namespace sim {

void KeepRunTrace(Receiver *receiver)
{
  // A RunRecord takes what the outputs need as it comes.
  receiver->trace().KeepOnly({});
}

std::string VirtualTime(const ReceiverConfig &config, uint32_t tick)
{
  uint64_t ticks = static_cast<uint32_t>(tick - config.start_tick) +
                   (static_cast<uint64_t>(config.hour) * 3600 + config.minute * 60 + config.second) * 100;
  return LocalTimeText(MjdFromDate(config.year, config.month, config.day) + static_cast<int64_t>(ticks / 8640000),
                       ticks % 8640000);
}

RunRecord::RunRecord(Receiver &receiver, const std::string &folder, const TimelineInput &timeline)
    : receiver_(receiver),
      commands_(folder + "/commands.txt", std::ios::binary | std::ios::trunc),
      servers_(receiver.network().servers()),
      figures_(servers_.size()),
      mounts_(servers_),
      attempt_(servers_.size()),
      timeline_(timeline)
{
  receiver.trace().AddListener(
      {TraceKind::kShell, TraceKind::kTool, TraceKind::kNetwork, TraceKind::kSystem, TraceKind::kOsd},
      [this](const TraceEntry &e) { Take(e); });
  std::string log_host;
  if(receiver.disk().HostPath(kRunLogPath, "/", &log_host))
    receiver.disk().WatchWrites(log_host, [this](const char *, size_t n) { log_bytes_ += n; });
  listening_ = true;
}

RunRecord::~RunRecord() { End(); }

bool RunRecord::End()
{
  if(listening_)
  {
    receiver_.trace().RemoveAddedListeners();
    receiver_.disk().WatchWrites("", nullptr);
    listening_ = false;
    for(size_t k = 0; k < attempt_.size(); ++k) CloseAttempt(k);
  }
  if(commands_.is_open())
  {
    commands_.close();
    return !commands_.fail();
  }
  return !commands_.fail();
}

void RunRecord::CloseAttempt(size_t k)
{
  Open &a = attempt_[k];
  if(!a.open) return;
  ServerFigures &f = figures_[k];
  ++f.attempts;
  if(a.failed)
    ++f.failed;
  else if(!f.mounted)
  {
    f.mounted = true;
    f.mounted_tick = a.tick;
  }
  a.open = false;
}

void RunRecord::Take(const TraceEntry &e)
{
  timeline_.Add(e);
  switch(e.kind)
  {
    case TraceKind::kShell:
      // Each command at the receiver's time, with its status and, when a
      // tool failed, what the tool said.
      commands_ << VirtualTime(receiver_.config(), e.tick) << "  " << e.text
                << (e.error.empty() ? "" : " (" + e.error + ")") << "\n";
      break;
    case TraceKind::kTool:
    {
      if(e.args.size() < 2 || e.args[0] != "mount") break;
      // The server whose export it names, found as the mount count finds it.
      long server = mounts_.ServerOf(e.args[1]);
      if(server < 0) break;
      size_t k = static_cast<size_t>(server);
      Open &a = attempt_[k];
      // A mount at a later moment begins the next attempt.
      if(a.open && a.tick != e.tick) CloseAttempt(k);
      if(!a.open) a = {true, false, e.tick};
      a.failed = a.failed || e.status != 0;
      break;
    }
    case TraceKind::kNetwork:
    {
      MountCount::Change change = mounts_.Take(e);
      if(change.server < 0) break;
      ServerFigures &f = figures_[static_cast<size_t>(change.server)];
      ++(change.kind == MountCount::Change::kMounted ? f.mounts : f.unmounts);
      break;
    }
    case TraceKind::kSystem:
      if(e.text == "TAP_Exit")
      {
        exited_ = true;
        exit_tick_ = e.tick;
      }
      break;
    default: break;
  }
}

}  // namespace sim
