// The stand-in receiver: firmware, clock, disk, shell, screen and the plug-in
// interface, with one plug-in loaded from its .tap file exactly as the
// firmware would load it.
//
// The plug-in interface is a set of global pointer variables, so only one
// receiver can be alive in a process at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "../../host/firmware.h"
#include "../../host/tap.h"
#include "clock.h"
#include "disk.h"
#include "network.h"
#include "processes.h"
#include "screen.h"
#include "shell.h"
#include "trace.h"

namespace sim {

// Which firmware objects the emulated firmware exports.
struct FirmwareObjects {
  bool eeprom = true;         // _applEepromAddr
  bool timer_table = true;    // _timer
  bool timer_edit = true;     // _timerEditInfo
  bool timer_temp = true;     // _timerTempInfo
  int timer_slot_size = 200;  // distance of the two work areas: 200 or 208
  bool utf8 = false;          // the UTF-8 text routine: a UTF-8 firmware
  bool tap_table = true;      // _tapTask
  bool cur_tap_task = true;   // _curTapTask
};

enum class CLibrary { kNew, kOld, kNone };

struct ReceiverConfig {
  std::string root;           // sandbox folder that plays the root file system
  std::string firmware_dir;   // where the firmware object files are (build dir)

  // Clock: ticks of 10 ms.
  uint32_t start_tick = 100000;
  uint64_t uptime_ticks = 60000;  // up for 10 minutes
  int year = 2026, month = 12, day = 8;
  int hour = 12, minute = 0, second = 0;

  // System.
  int language = 1;           // system variable 1; 2 = German
  int system_id = 22010;      // TAP_GetSystemId
  dword state = STATE_NORMAL, sub_state = 0;
  int timer_count = 0;        // TAP_Timer_GetTotalNum
  FirmwareObjects firmware;
  uint32_t plugin_row = 3;    // our row in the plug-in task table
  // TAP_Hdd_ChangeDir: receivers of one generation answer 1 for success and 0
  // for failure, the other generation 0 for success and 1 for failure.
  int chdir_success = 1;
  // The process's own working folder (relative Linux paths start here).
  std::string process_cwd = "/";
  // The home network: NAS servers, and whether the internet answers.
  std::vector<NasConfig> servers;
  bool internet = true;
  // How ps lays out the process list.
  PsLayout ps_layout = PsLayout::kReceiver;

  // Pseudo-terminals that somebody has open (/dev/pts/N can be opened).
  std::set<int> terminals;
  // PC folder for PNG snapshots of the screen, written at each TAP_Osd_Sync
  // that changed it; empty = none.
  std::string screenshot_dir;

  // Memory: fail the Nth allocation (1-based; 0 = none), or every one.
  uint64_t fail_allocation = 0;
  bool fail_all_allocations = false;
  // Make the plug-in's dlopen fail.
  bool fail_dlopen = false;
  // Files: fail the Nth open (1-based; 0 = none). TAP_Hdd_Fopen and the
  // plug-in's own fopen, open and open64 are counted together.
  uint64_t fail_file_open = 0;
  // Shell: fail the Nth command line handed to system() (1-based; 0 = none).
  // It does not run at all and system() returns -1, as when no shell could
  // be started.
  uint64_t fail_command = 0;

  // The C library the firmware links: kNew exports lstat64 and stat64
  // (glibc 2.33 and later, and the embedded C libraries), kOld only the
  // calls behind them, __lxstat64 and __xstat64 (glibc before 2.33), kNone
  // neither. The plug-in's dlsym sees accordingly.
  CLibrary c_library = CLibrary::kNew;
  // Whether the host's plug-in interface has TAP_Hdd_Rename, which only
  // newer firmwares offer (the plug-in looks it up by name).
  bool hdd_rename = true;
  // /proc/uptime as the plug-in reads it; empty: made from the clock.
  std::string uptime_text;

  // Run the plug-in's command lines through the PC's real /bin/sh instead of
  // the stand-in shell. Only for tests that give the process namespaces of
  // its own, where the real tools reach nothing but what the test set up.
  bool real_shell = false;
};

class Receiver {
 public:
  explicit Receiver(ReceiverConfig config);
  ~Receiver();
  Receiver(const Receiver &) = delete;
  Receiver &operator=(const Receiver &) = delete;

  // The receiver now serving the plug-in interface, or null.
  static Receiver *Current();

  // Powers the firmware up: loads the firmware objects the configuration
  // names into the global symbol scope and fills them. False with a message.
  bool Boot(std::string *error);
  // Loads the plug-in (booting first if needed); false with a message when it
  // cannot be loaded or lacks its entry points.
  bool Load(const std::string &tap_path, std::string *error);
  // __TAP_Init_, then TAP_Main; returns TAP_Main's result.
  int Start();
  // Delivers one event through the plug-in's row in the task table, as the
  // firmware does (so a hook placed there takes effect). Nothing is delivered
  // once the plug-in has ended.
  dword Event(dword event, dword param1, dword param2);
  dword Idle() { return Event(EVT_IDLE, 0, 0); }
  dword Key(dword key) { return Event(EVT_KEY, key, 0); }
  // The firmware's stop request; the plug-in ends after it.
  void Stop();
  // Lets `ticks` of virtual time pass on the clock, with an idle event every
  // `step` ticks after the last one returned (a ping that waits for its
  // answer moves the clock on, and takes its part of `ticks`).
  void RunIdle(uint64_t ticks, uint64_t step);

  bool loaded() const { return tap_ != nullptr; }
  // True while a call into the plug-in (TAP_Main, an event) is under way.
  bool in_plugin() const { return in_plugin_; }
  // Makes a call into the plug-in: what it leaves held in memory (see
  // HeldFile) is on the disk when the call returns.
  template <typename Call>
  auto InPlugin(Call call)
  {
    in_plugin_ = true;
    auto result = call();
    in_plugin_ = false;
    disk_.Flush();
    return result;
  }
  bool ended() const { return ended_; }
  bool exit_called() const { return exit_called_; }

  const ReceiverConfig &config() const { return config_; }
  Clock &clock() { return clock_; }
  Disk &disk() { return disk_; }
  HddView &hdd() { return hdd_; }
  Shell &shell() { return shell_; }
  Network &network() { return network_; }
  Processes &processes() { return processes_; }
  Screen &screen() { return screen_; }
  Trace &trace() { return trace_; }
  void Record(TraceKind kind, std::string text) { trace_.Add(clock_.tick(), kind, std::move(text)); }
  // Whether a Record of this kind is kept or shown (else its text need not be built).
  bool Tracing(TraceKind kind) const { return trace_.Wants(kind); }

  // Firmware memory, for tests and scenarios.
  FirmwareWord *task_row() const;         // our row in _tapTask, or null
  uint8_t *eeprom() { return eeprom_.data(); }
  std::vector<uint8_t> &timer_table() { return timer_table_; }
  void *symbol(std::string_view name) const;  // address in the firmware objects
  // Number of dlopen calls the plug-in made.
  uint64_t plugin_dlopen_calls() const { return dlopen_calls_; }

  // System variables as the plug-in last set them, and as written (in effect).
  int system_var(int id) const;
  int written_system_var(int id) const;

  // Plug-in memory still allocated.
  size_t live_allocations() const { return allocations_.size(); }

  // Fault injection: calls counted so far, and what the injected failure hit
  // ("TAP_MemAlloc(512)", "TAP_Hdd_Fopen(\"Brimvale.log\")", the command
  // line); empty while none has been injected.
  uint64_t allocation_calls() const { return allocation_count_; }
  uint64_t file_open_calls() const { return file_open_count_; }
  uint64_t command_calls() const { return command_count_; }
  const std::string &injected_failure() const { return injected_failure_; }
  // Count one file open or command line; true when it is the one to fail.
  bool FileOpenFails(const std::string &what);
  bool CommandFails(const std::string &line);

  // ---- the plug-in interface, called from host_api.cpp and libc.cpp ----
  void UpdateFolderObject();
  void *Alloc(dword size);
  int Free(const void *block);
  int GetSystemVar(int id);
  int SetSystemVar(int id, int value);
  int WriteSystemVar();
  void Exit();
  void Sleep(dword ticks);
  bool IsPluginAddress(const void *address) const;
  bool PluginDlopen();
  std::string &terminal(int n) { return terminals_[n]; }

 private:
  void UnloadFirmware();

  ReceiverConfig config_;
  Clock clock_;
  Disk disk_;
  HddView hdd_;
  Shell shell_;
  Network network_;
  Processes processes_;
  Screen screen_;
  Trace trace_;

  void *tap_ = nullptr;
  const void *tap_base_ = nullptr;
  std::vector<void *> firmware_handles_;
  mutable std::map<std::string, void *, std::less<>> symbol_cache_;  // dlsym is slow
  mutable FirmwareWord *task_table_ = nullptr;  // _tapTask once found: read at every event
  std::vector<const void *> plugin_bases_;
  TAP_EntryRecord entries_{};
  bool booted_ = false;
  bool ended_ = false;
  bool exit_called_ = false;
  bool in_plugin_ = false;

  std::vector<uint8_t> eeprom_;
  std::vector<uint8_t> timer_table_;
  FirmwareWord folder_object_[TAP_FOLDER_WORDS] = {};
  std::vector<char> folder_path_;

  std::map<int, int> sysvars_;
  std::map<int, int> written_sysvars_;
  std::map<const void *, dword> allocations_;
  uint64_t allocation_count_ = 0;
  uint64_t file_open_count_ = 0;
  uint64_t command_count_ = 0;
  std::string injected_failure_;
  uint64_t dlopen_calls_ = 0;
  std::map<int, std::string> terminals_;

  friend void RegisterPluginCode(const void *address);
};

// Marks the module that holds `address` as plug-in code: its calls of the C
// library's machine-touching functions are answered by the receiver. Tests
// use this for the test build of the plug-in's code.
void RegisterPluginCode(const void *address);

// system() for a receiver with `real_shell` set: runs `command` with
// /bin/sh -c, waits for it and returns its status as system() does; the
// command line and its exit code go into the trace like the stand-in
// shell's.
int RunRealShell(Receiver *receiver, const char *command);

}  // namespace sim
