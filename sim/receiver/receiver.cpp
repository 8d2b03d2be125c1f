#include "receiver.h"

#include <dlfcn.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unordered_map>

namespace sim {

namespace {

Receiver *g_current = nullptr;
// Modules whose calls count as the plug-in's (see RegisterPluginCode).
std::vector<const void *> g_plugin_modules;
// Code pages already asked about (dladdr is slow, and asked at every C
// library call the emulator answers): true for plug-in code. Forgotten
// whenever the plug-in modules change.
std::unordered_map<uintptr_t, bool> g_plugin_pages;
// Firmware object files loaded in this process, by file name.
std::map<std::string, void *> g_firmware_objects;

constexpr size_t kEepromSize = 1024;
constexpr size_t kFolderPathSize = 4096;
// The largest timer slot of any firmware: the table holds config.timer_count
// of them and one spare, whichever layout the plug-in reads it by.
constexpr size_t kTimerSlotMax = 208;

const void *ModuleBase(const void *address)
{
  Dl_info info;
  if(address == nullptr || dladdr(address, &info) == 0) return nullptr;
  return info.dli_fbase;
}

std::string Hex(uint64_t value)
{
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

void RegisterPluginCode(const void *address)
{
  const void *base = ModuleBase(address);
  if(base != nullptr && std::find(g_plugin_modules.begin(), g_plugin_modules.end(), base) == g_plugin_modules.end())
    g_plugin_modules.push_back(base);
  g_plugin_pages.clear();
}

Receiver *Receiver::Current() { return g_current; }

int RunRealShell(Receiver *receiver, const char *command)
{
  std::string line = command;
  // The real command sees the sandbox as the plug-in left it: with the log
  // lines and files the emulator still holds back.
  receiver->disk().Flush();
  char *argv[] = {const_cast<char *>("sh"), const_cast<char *>("-c"), line.data(), nullptr};
  pid_t child;
  if(posix_spawn(&child, "/bin/sh", nullptr, nullptr, argv, environ) != 0)
  {
    receiver->Record(TraceKind::kShell, "\"" + line + "\" -> 127 (sh: cannot start /bin/sh)");
    return 127 << 8;
  }
  int status = 0;
  while(waitpid(child, &status, 0) < 0)
    if(errno != EINTR)
    {
      receiver->Record(TraceKind::kShell, "\"" + line + "\" -> lost");
      return -1;
    }
  receiver->disk().Forget();  // a real command may have changed anything
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  receiver->Record(TraceKind::kShell, "\"" + line + "\" -> " + std::to_string(code));
  return status;
}

Receiver::Receiver(ReceiverConfig config)
    : config_(std::move(config)), disk_(config_.root), hdd_(&disk_), shell_(this),
      eeprom_(kEepromSize, 0), folder_path_(kFolderPathSize, '\0')
{
  if(g_current != nullptr) std::abort();  // one receiver per process at a time
  g_current = this;

  int64_t mjd = MjdFromDate(config_.year, config_.month, config_.day);
  clock_.Set(config_.start_tick, config_.uptime_ticks, mjd,
             static_cast<uint32_t>(config_.hour * 3600 + config_.minute * 60 + config_.second));
  sysvars_[SYSVAR_LANGUAGE] = config_.language;
  written_sysvars_ = sysvars_;
  AddFileTools(&shell_);
  AddNetworkTools(&shell_);
  network_.SetStart(clock_.uptime());
  network_.SetInternet(config_.internet);
  for(const NasConfig &server : config_.servers) network_.AddServer(server);

  // The terminals somebody is logged in on exist as files that capture what
  // is written to them.
  for(int n : config_.terminals)
  {
    std::string host;
    if(disk_.HostPath("/dev/pts/" + std::to_string(n), "/", &host)) std::ofstream(host, std::ios::app);
  }
}

Receiver::~Receiver()
{
  if(tap_ != nullptr)
  {
    const void *base = tap_base_;
    g_plugin_modules.erase(std::remove(g_plugin_modules.begin(), g_plugin_modules.end(), base),
                           g_plugin_modules.end());
    g_plugin_pages.clear();
    dlclose(tap_);
  }
  UnloadFirmware();
  for(auto &block : allocations_) std::free(const_cast<void *>(block.first));
  g_current = nullptr;
}

bool Receiver::Boot(std::string *error)
{
  if(booted_) return true;
  const FirmwareObjects &fw = config_.firmware;
  std::vector<std::string> files;
  if(fw.eeprom) files.push_back("fw_eeprom.so");
  if(fw.timer_table) files.push_back("fw_timer.so");
  if(fw.timer_edit && fw.timer_temp)
  {
    if(fw.timer_slot_size != 200 && fw.timer_slot_size != 208)
    {
      *error = "timer slot size must be 200 or 208";
      return false;
    }
    files.push_back("fw_timerwork" + std::to_string(fw.timer_slot_size) + ".so");
  }
  else if(fw.timer_edit)
    files.push_back("fw_timeredit.so");
  else if(fw.timer_temp)
    files.push_back("fw_timertemp.so");
  if(fw.utf8) files.push_back("fw_utf8.so");
  if(fw.tap_table) files.push_back("fw_taptable.so");
  if(fw.cur_tap_task) files.push_back("fw_curtaptask.so");

  // The firmware objects stay loaded for the rest of the process, at the same
  // addresses: code that cached one (the test build of the plug-in's code keeps
  // its caches for the whole process) never sees it move. A later receiver in
  // the same process can therefore not take back an object an earlier one had.
  for(const auto &[file, handle] : g_firmware_objects)
    if(std::find(files.begin(), files.end(), file) == files.end())
    {
      *error = "firmware object " + file + " was loaded by an earlier receiver in this process and cannot be "
               "taken away again: run this receiver in a process of its own";
      return false;
    }
  for(const std::string &file : files)
  {
    auto loaded = g_firmware_objects.find(file);
    if(loaded != g_firmware_objects.end())
    {
      firmware_handles_.push_back(loaded->second);
      continue;
    }
    std::string path = config_.firmware_dir + "/" + file;
    if(access(path.c_str(), F_OK) != 0)
    {
      *error = "firmware object " + path + " is missing: it is built with the emulator (ninja brimvale-sim), "
               "or --firmware-dir names the folder that holds it";
      return false;
    }
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if(handle == nullptr)
    {
      const char *why = dlerror();
      *error = "cannot load firmware object " + path + ": " + (why ? why : "?");
      return false;
    }
    g_firmware_objects[file] = handle;
    firmware_handles_.push_back(handle);
  }

  // Fill the objects as the running firmware would have them.
  if(void **eeprom_var = static_cast<void **>(symbol(FW_SYM_EEPROM))) *eeprom_var = eeprom_.data();
  timer_table_.assign(static_cast<size_t>(std::max(config_.timer_count, 0) + 1) * kTimerSlotMax, 0);
  if(void **timer_var = static_cast<void **>(symbol(FW_SYM_TIMER))) *timer_var = timer_table_.data();
  if(uint32_t *cur = static_cast<uint32_t *>(symbol(FW_SYM_CUR_TAP_TASK))) *cur = config_.plugin_row;
  if(FirmwareWord *row = task_row())
  {
    std::memset(row, 0, TAP_TASK_ROW_WORDS * sizeof(FirmwareWord));
    folder_object_[TAP_FOLDER_PATH_WORD] = reinterpret_cast<FirmwareWord>(folder_path_.data());
    row[TAP_TASK_FOLDER_WORD] = reinterpret_cast<FirmwareWord>(folder_object_);
  }
  UpdateFolderObject();
  booted_ = true;
  return true;
}

void Receiver::UnloadFirmware()
{
  // The objects stay loaded (see Boot); only what points into this receiver goes.
  if(void **eeprom_var = static_cast<void **>(symbol(FW_SYM_EEPROM))) *eeprom_var = nullptr;
  if(void **timer_var = static_cast<void **>(symbol(FW_SYM_TIMER))) *timer_var = nullptr;
  if(FirmwareWord *row = task_row()) std::memset(row, 0, TAP_TASK_ROW_WORDS * sizeof(FirmwareWord));
  firmware_handles_.clear();
  symbol_cache_.clear();
  task_table_ = nullptr;
}

void *Receiver::symbol(std::string_view name) const
{
  auto cached = symbol_cache_.find(name);
  if(cached != symbol_cache_.end()) return cached->second;
  void *found = nullptr;
  std::string text(name);
  for(void *handle : firmware_handles_)
  {
    dlerror();
    void *address = dlsym(handle, text.c_str());
    if(address != nullptr && dlerror() == nullptr)
    {
      found = address;
      break;
    }
  }
  // Only hits are kept: a firmware object may still be loaded during Boot.
  if(found != nullptr) symbol_cache_.emplace(std::move(text), found);
  return found;
}

FirmwareWord *Receiver::task_row() const
{
  if(task_table_ == nullptr) task_table_ = static_cast<FirmwareWord *>(symbol(FW_SYM_TAP_TABLE));
  if(task_table_ == nullptr) return nullptr;
  return task_table_ + static_cast<size_t>(config_.plugin_row) * TAP_TASK_ROW_WORDS;
}

void Receiver::UpdateFolderObject()
{
  std::string path = hdd_.CurrentLinuxPath();
  size_t n = std::min(path.size(), folder_path_.size() - 1);
  std::memcpy(folder_path_.data(), path.data(), n);
  folder_path_[n] = '\0';
}

bool Receiver::Load(const std::string &tap_path, std::string *error)
{
  if(tap_ != nullptr)
  {
    *error = "a plug-in is already loaded";
    return false;
  }
  if(!Boot(error)) return false;

  dlerror();
  tap_ = dlopen(tap_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if(tap_ == nullptr)
  {
    const char *why = dlerror();
    *error = "cannot load " + tap_path + ": " + (why ? why : "?");
    return false;
  }
  void *init = dlsym(tap_, "__TAP_Init_");
  if(init == nullptr)
  {
    *error = tap_path + " has no __TAP_Init_";
    return false;
  }
  tap_base_ = ModuleBase(init);
  g_plugin_modules.push_back(tap_base_);
  g_plugin_pages.clear();
  Record(TraceKind::kLoader, "loaded " + tap_path);
  return true;
}

int Receiver::Start()
{
  disk_.Forget();  // the sandbox was laid out behind the disk's back
  auto init = reinterpret_cast<int (*)(TAP_EntryRecord *)>(dlsym(tap_, "__TAP_Init_"));
  init(&entries_);
  if(entries_.main == nullptr || entries_.eventHandler == nullptr)
  {
    Record(TraceKind::kEvent, "__TAP_Init_ gave no entry points");
    ended_ = true;
    return 0;
  }
  // A plug-in that binds its own exported names through the global scope
  // would hand over another module's copies (one the host program links).
  if(ModuleBase(reinterpret_cast<void *>(entries_.main)) != tap_base_ ||
     ModuleBase(reinterpret_cast<void *>(entries_.eventHandler)) != tap_base_)
  {
    Record(TraceKind::kEvent, "__TAP_Init_ gave entry points outside the plug-in");
    ended_ = true;
    return 0;
  }
  if(FirmwareWord *row = task_row())
    row[TAP_TASK_HANDLER_WORD] = reinterpret_cast<FirmwareWord>(entries_.eventHandler);

  Record(TraceKind::kEvent, "TAP_Main");
  int result = InPlugin([this] { return entries_.main(); });
  Record(TraceKind::kEvent, "TAP_Main -> " + std::to_string(result));
  if(exit_called_) ended_ = true;
  return result;
}

dword Receiver::Event(dword event, dword param1, dword param2)
{
  if(ended_ || tap_ == nullptr) return param1;
  // The firmware calls whatever its task row holds; without the table it
  // calls the handler it was given.
  TAP_EventHandlerFn handler = entries_.eventHandler;
  if(FirmwareWord *row = task_row())
    handler = reinterpret_cast<TAP_EventHandlerFn>(row[TAP_TASK_HANDLER_WORD]);
  if(handler == nullptr) return param1;
  if(event != EVT_IDLE) Record(TraceKind::kEvent, "event " + Hex(event) + " " + Hex(param1));
  dword result = InPlugin([&] { return handler(event, param1, param2); });
  if(event != EVT_IDLE) Record(TraceKind::kEvent, "event " + Hex(event) + " -> " + Hex(result));
  if(exit_called_) ended_ = true;
  return result;
}

void Receiver::Stop()
{
  Event(EVT_STOP, 0, 0);
  ended_ = true;
}

void Receiver::RunIdle(uint64_t ticks, uint64_t step)
{
  if(step == 0) step = 1;
  // Time on the clock: the waits of the plug-in's pings pass as well.
  const uint64_t end = clock_.uptime() + ticks;
  while(clock_.uptime() < end && !ended_)
  {
    clock_.Advance(std::min(step, end - clock_.uptime()));
    Idle();
  }
}

bool Receiver::IsPluginAddress(const void *address) const
{
  uintptr_t page = reinterpret_cast<uintptr_t>(address) >> 12;
  auto known = g_plugin_pages.find(page);
  if(known != g_plugin_pages.end()) return known->second;
  const void *base = ModuleBase(address);
  bool plugin = base != nullptr && std::find(g_plugin_modules.begin(), g_plugin_modules.end(), base) != g_plugin_modules.end();
  g_plugin_pages.emplace(page, plugin);
  return plugin;
}

bool Receiver::PluginDlopen()
{
  ++dlopen_calls_;
  Record(TraceKind::kLoader, config_.fail_dlopen ? "dlopen(NULL) -> failed" : "dlopen(NULL)");
  return !config_.fail_dlopen;
}

void *Receiver::Alloc(dword size)
{
  ++allocation_count_;
  if(config_.fail_all_allocations || allocation_count_ == config_.fail_allocation)
  {
    if(allocation_count_ == config_.fail_allocation) injected_failure_ = "TAP_MemAlloc(" + std::to_string(size) + ")";
    Record(TraceKind::kMemory, "TAP_MemAlloc(" + std::to_string(size) + ") -> NULL");
    return nullptr;
  }
  void *block = std::malloc(size == 0 ? 1 : size);
  if(block == nullptr) return nullptr;
  allocations_[block] = size;
  Record(TraceKind::kMemory, "TAP_MemAlloc(" + std::to_string(size) + ")");
  return block;
}

int Receiver::Free(const void *block)
{
  if(block == nullptr) return 0;
  auto it = allocations_.find(block);
  if(it == allocations_.end())
  {
    Record(TraceKind::kMemory, "TAP_MemFree of a block not allocated");
    return 0;
  }
  Record(TraceKind::kMemory, "TAP_MemFree(" + std::to_string(it->second) + ")");
  allocations_.erase(it);
  std::free(const_cast<void *>(block));
  return 1;
}

bool Receiver::FileOpenFails(const std::string &what)
{
  if(++file_open_count_ != config_.fail_file_open) return false;
  injected_failure_ = what;
  Record(TraceKind::kDisk, what + " -> injected failure");
  return true;
}

bool Receiver::CommandFails(const std::string &line)
{
  if(++command_count_ != config_.fail_command) return false;
  injected_failure_ = line;
  Record(TraceKind::kShell, "\"" + line + "\" -> -1 (injected failure: no shell)");
  return true;
}

int Receiver::GetSystemVar(int id)
{
  auto it = sysvars_.find(id);
  return it == sysvars_.end() ? 0 : it->second;
}

int Receiver::SetSystemVar(int id, int value)
{
  sysvars_[id] = value;
  Record(TraceKind::kSystem, "TAP_SetSystemVar(" + std::to_string(id) + ", " + std::to_string(value) + ")");
  return 1;
}

int Receiver::WriteSystemVar()
{
  written_sysvars_ = sysvars_;
  Record(TraceKind::kSystem, "TAP_WriteSystemVar");
  return 1;
}

int Receiver::system_var(int id) const
{
  auto it = sysvars_.find(id);
  return it == sysvars_.end() ? 0 : it->second;
}

int Receiver::written_system_var(int id) const
{
  auto it = written_sysvars_.find(id);
  return it == written_sysvars_.end() ? 0 : it->second;
}

void Receiver::Exit()
{
  exit_called_ = true;
  Record(TraceKind::kSystem, "TAP_Exit");
}

void Receiver::Sleep(dword ticks)
{
  clock_.Advance(ticks);
  Record(TraceKind::kSystem, "TAP_Sleep(" + std::to_string(ticks) + ")");
}

}  // namespace sim
