// The C library calls through which the plug-in touches the machine, answered
// by the receiver instead of the PC.
//
// The emulator defines these functions itself, so they come before the C
// library's in the global symbol scope. A call from plug-in code (the loaded
// .tap, or a module registered with RegisterPluginCode) is answered by the
// stand-in receiver; every other call, from the emulator or the C++ runtime,
// goes on to the C library unchanged.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "../../host/clib.h"
#include "../receiver/receiver.h"

using sim::Receiver;
using sim::TraceKind;

namespace {

template <typename Fn>
Fn Next(const char *name)
{
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// The receiver, when the call at `caller` comes from plug-in code.
Receiver *ForPlugin(const void *caller)
{
  Receiver *r = Receiver::Current();
  return r != nullptr && r->IsPluginAddress(caller) ? r : nullptr;
}

// A plug-in's Linux path on the PC, through the sandbox and its mount table.
bool PluginHostPath(Receiver *r, const char *path, std::string *host)
{
  if(path == nullptr || path[0] == '\0') return false;
  return r->disk().HostPath(path, r->config().process_cwd, host, nullptr, /*live=*/true);
}

// An open the receiver was told to let fail: the file is left alone.
bool InjectedOpenFailure(Receiver *r, const char *call, const char *path)
{
  if(!r->FileOpenFails(std::string(call) + "(\"" + (path ? path : "") + "\")")) return false;
  errno = EIO;
  return true;
}

int OpenFor(Receiver *r, const char *path, int flags, mode_t mode, int (*real)(const char *, int, ...))
{
  if(InjectedOpenFailure(r, "open", path)) return -1;
  std::string host;
  if(!PluginHostPath(r, path, &host))
  {
    r->Record(TraceKind::kTerminal, std::string("open(\"") + (path ? path : "") + "\") -> refused");
    errno = ENOENT;
    return -1;
  }
  // A terminal is a stream: what is written to it follows what came before.
  if(std::string(path).rfind("/dev/pts/", 0) == 0) flags |= O_APPEND;
  int fd = real(host.c_str(), flags, mode);
  if(fd >= 0 && (flags & O_CREAT) != 0) r->disk().Changed(host);
  r->Record(TraceKind::kTerminal, std::string("open(\"") + path + "\") -> " + (fd >= 0 ? "ok" : "failed"));
  return fd;
}

// A symbolic link at the last name of `abs`: its own status, as lstat sees
// it (the disk's walk follows every link).
bool LinkAt(Receiver *r, const std::string &abs, struct stat64 *st)
{
  size_t slash = abs.rfind('/');
  if(slash == std::string::npos || slash + 1 >= abs.size()) return false;
  std::string folder_host;
  sim::PathLook folder;
  std::string parent = slash == 0 ? "/" : abs.substr(0, slash);
  if(!r->disk().FolderHostPath(parent, &folder_host, &folder) || !folder.folder()) return false;
  std::string host = folder_host + (folder_host.back() == '/' ? "" : "/") + abs.substr(slash + 1);
  // Through the disk's memory of what it saw: the plug-in asks about its
  // log's folder for every line it writes.
  sim::PathLook last = r->disk().LinkLook(host);
  if(!last.exists() || !S_ISLNK(last.st.st_mode)) return false;
  *st = last.st;
  return true;
}

// lstat64 (or with `follow` stat64) for the plug-in: the way to the path was
// looked at name by name, and the last look is the answer. `call` opens the
// trace line.
int LstatFor(Receiver *r, const char *call, const char *path, struct stat64 *st, bool follow = false)
{
  std::string host, abs;
  sim::PathLook look;
  int result = -1;
  if(path == nullptr || path[0] == '\0' || !sim::Disk::Absolute(path, r->config().process_cwd, &abs))
    errno = ENOENT;
  else if(!follow && LinkAt(r, abs, st))
    result = 0;
  else if(!r->disk().FolderHostPath(abs, &host, &look, /*live=*/true))
    errno = ELOOP;
  else if(!look.exists())
    errno = look.error;
  else
  {
    *st = look.st;
    result = 0;
  }
  if(r->Tracing(TraceKind::kDisk)) r->Record(TraceKind::kDisk, call + std::string(path) + "\") -> " + std::to_string(result));
  return result;
}

using DlsymFn = void *(*)(void *, const char *);

// The C library's own dlsym, past the definition below.
DlsymFn RealDlsym()
{
  for(const char *version : {"GLIBC_2.34", "GLIBC_2.2.5", "GLIBC_2.0"})
    if(void *real = dlvsym(RTLD_NEXT, "dlsym", version)) return reinterpret_cast<DlsymFn>(real);
  std::fprintf(stderr, "brimvale-sim: the C library's dlsym cannot be found\n");
  std::abort();
}

}  // namespace

extern "C" {

int system(const char *command)
{
  // Nothing reaches the PC's shell, whoever asks, unless the receiver was
  // set up for the real one (tests in namespaces of their own).
  Receiver *r = Receiver::Current();
  if(command == nullptr) return r != nullptr;
  if(r == nullptr) return -1;
  if(r->CommandFails(command)) return -1;
  if(r->config().real_shell) return sim::RunRealShell(r, command);
  return r->shell().Run(command);
}

FILE *fopen(const char *path, const char *mode)
{
  using Fopen = FILE *(*)(const char *, const char *);
  static Fopen real = Next<Fopen>("fopen");
  Receiver *r = ForPlugin(__builtin_return_address(0));
  if(r == nullptr) return real(path, mode);
  if(InjectedOpenFailure(r, "fopen", path)) return nullptr;

  std::string host;
  if(!PluginHostPath(r, path, &host))
  {
    errno = ENOENT;
    return nullptr;
  }
  if(std::string(path) == "/proc/uptime")
  {
    // The kernel makes this file up when it is read: so does the emulator.
    const std::string &given = r->config().uptime_text;
    std::ofstream(host, std::ios::binary | std::ios::trunc) << (given.empty() ? r->clock().UptimeFileText() : given);
  }
  FILE *file = real(host.c_str(), mode);
  // "w" and "a" make the file when it is not there.
  if(file != nullptr && mode != nullptr && mode[0] != 'r') r->disk().Changed(host);
  r->Record(TraceKind::kFile, std::string("fopen(\"") + path + "\") -> " + (file ? "ok" : "NULL"));
  return file;
}

int lstat64(const char *path, struct stat64 *st) noexcept
{
  using Lstat = int (*)(const char *, struct stat64 *);
  static Lstat real = Next<Lstat>("lstat64");
  Receiver *r = ForPlugin(__builtin_return_address(0));
  if(r == nullptr) return real(path, st);
  return LstatFor(r, "lstat64(\"", path, st);
}

// What lstat64 wraps in C libraries before glibc 2.33: the plug-in finds it
// by dlsym when the firmware's C library has no lstat64 of its own.
int __lxstat64(int version, const char *path, struct stat64 *st) noexcept
{
  Receiver *r = ForPlugin(__builtin_return_address(0));
  if(version != CLIB_LXSTAT64_VERSION)
  {
    if(r != nullptr && r->Tracing(TraceKind::kDisk))
      r->Record(TraceKind::kDisk, "__lxstat64(" + std::to_string(version) + ") -> EINVAL");
    errno = EINVAL;
    return -1;
  }
  if(r == nullptr) return lstat64(path, st);
  return LstatFor(r, "__lxstat64(\"", path, st);
}

// Whether the firmware's global symbol scope lacks `name`: the C library
// exports lstat64 and stat64 or the calls behind them, __lxstat64 and
// __xstat64, never both kinds, and maybe neither (see CLibrary); an older
// host's plug-in interface has no TAP_Hdd_Rename.
static bool NotInScope(const sim::ReceiverConfig &config, const char *name, const char **where)
{
  *where = "this C library";
  bool direct = std::strcmp(name, CLIB_SYM_LSTAT64) == 0 || std::strcmp(name, CLIB_SYM_STAT64) == 0;
  bool versioned = std::strcmp(name, CLIB_SYM_LXSTAT64) == 0 || std::strcmp(name, CLIB_SYM_XSTAT64) == 0;
  switch(config.c_library)
  {
  case sim::CLibrary::kNew: if(versioned) return true; break;
  case sim::CLibrary::kOld: if(direct) return true; break;
  case sim::CLibrary::kNone: if(direct || versioned) return true; break;
  }
  *where = "this host";
  return !config.hdd_rename && std::strcmp(name, TAP_SYM_HDD_RENAME) == 0;
}

int stat64(const char *path, struct stat64 *st) noexcept
{
  using Stat = int (*)(const char *, struct stat64 *);
  static Stat real = Next<Stat>("stat64");
  Receiver *r = ForPlugin(__builtin_return_address(0));
  if(r == nullptr) return real(path, st);
  return LstatFor(r, "stat64(\"", path, st, /*follow=*/true);
}

// What stat64 wraps in C libraries before glibc 2.33.
int __xstat64(int version, const char *path, struct stat64 *st) noexcept
{
  Receiver *r = ForPlugin(__builtin_return_address(0));
  if(version != CLIB_LXSTAT64_VERSION)
  {
    if(r != nullptr && r->Tracing(TraceKind::kDisk))
      r->Record(TraceKind::kDisk, "__xstat64(" + std::to_string(version) + ") -> EINVAL");
    errno = EINVAL;
    return -1;
  }
  if(r == nullptr) return stat64(path, st);
  return LstatFor(r, "__xstat64(\"", path, st, /*follow=*/true);
}

// The plug-in's view of the firmware's global symbol scope (NotInScope). Every other
// caller gets the C library's dlsym unchanged; this definition carries a
// version of its own (dlsym.map), so callers that ask for the C library's
// versioned dlsym, the sanitizer runtimes among them, never come here and
// their RTLD_NEXT stays relative to themselves.
#ifndef BRIMVALE_NO_DLSYM
void *dlsym(void *handle, const char *name) noexcept
{
  static DlsymFn real = RealDlsym();
  Receiver *r = ForPlugin(__builtin_return_address(0));
  if(r == nullptr) return real(handle, name);
  const char *where = nullptr;
  if(name == nullptr || !NotInScope(r->config(), name, &where)) return real(handle, name);
  r->Record(TraceKind::kLoader, std::string("dlsym(\"") + name + "\") -> not in " + where);
  // Asked for a name the scope lacks, dlsym also leaves its report for dlerror.
  return real(handle, (std::string(name) + "@not-in-this-c-library").c_str());
}
#endif

namespace {

using OpenFn = int (*)(const char *, int, ...);

// open and open64 alike: the plug-in's calls go to the sandbox, all others on.
int OpenFrom(OpenFn real, const void *caller, const char *path, int flags, va_list args)
{
  mode_t mode = (flags & O_CREAT) ? static_cast<mode_t>(va_arg(args, int)) : 0;
  Receiver *r = ForPlugin(caller);
  if(r == nullptr) return real(path, flags, mode);
  return OpenFor(r, path, flags, mode, real);
}

}  // namespace

int open(const char *path, int flags, ...)
{
  static OpenFn real = Next<OpenFn>("open");
  va_list args;
  va_start(args, flags);
  int result = OpenFrom(real, __builtin_return_address(0), path, flags, args);
  va_end(args);
  return result;
}

int open64(const char *path, int flags, ...)
{
  static OpenFn real = Next<OpenFn>("open64");
  va_list args;
  va_start(args, flags);
  int result = OpenFrom(real, __builtin_return_address(0), path, flags, args);
  va_end(args);
  return result;
}

void *dlopen(const char *file, int mode) noexcept
{
  using Dlopen = void *(*)(const char *, int);
  static Dlopen real = Next<Dlopen>("dlopen");
  Receiver *r = ForPlugin(__builtin_return_address(0));
  if(r != nullptr && file == nullptr && !r->PluginDlopen()) return nullptr;
  return real(file, mode);
}

}  // extern "C"
