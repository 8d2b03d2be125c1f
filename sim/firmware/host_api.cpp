// The plug-in interface of the stand-in receiver: the pointer variables that
// the plug-in imports by name, each bound to the receiver now running.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "../receiver/receiver.h"

namespace fs = std::filesystem;
using sim::Receiver;
using sim::TraceKind;

// An open TAP file: the descriptor and where the plug-in is in it (kept here,
// so a seek costs no call), or the held file it reads in memory.
struct TYPE_File {
  int fd;
  uint64_t position;
  sim::PathLook look;  // what the file was when opened: a kept descriptor must match it
  std::string name;    // TAP path, for the trace
  std::string host;    // PC path
  std::shared_ptr<sim::HeldFile> held;
  int64_t size = -1;       // the file's size while changes == the disk's; -1: ask
  uint64_t changes = 0;

  // The descriptor to use, or -1 while the file is only in memory.
  int Fd() const { return held != nullptr ? held->fd : fd; }
};

namespace {

Receiver &R() { return *Receiver::Current(); }

std::string Quote(const char *text) { return text == nullptr ? "(null)" : "\"" + std::string(text) + "\""; }

// ---- time ----
dword GetTick() { return R().clock().tick(); }

int GetTime(word *mjd, byte *hour, byte *min, byte *sec)
{
  sim::Clock &c = R().clock();
  if(mjd) *mjd = static_cast<word>(c.mjd());
  if(hour) *hour = static_cast<byte>(c.hour());
  if(min) *min = static_cast<byte>(c.minute());
  if(sec) *sec = static_cast<byte>(c.second());
  return 0;
}

int ExtractMjd(dword mjd, word *year, byte *month, byte *day, byte *weekDay)
{
  sim::Date d = sim::DateFromMjd(mjd);
  if(year) *year = static_cast<word>(d.year);
  if(month) *month = static_cast<byte>(d.month);
  if(day) *day = static_cast<byte>(d.day);
  if(weekDay) *weekDay = static_cast<byte>(d.weekday);
  return 0;
}

int MakeMjd(word year, byte month, byte day)
{
  return static_cast<int>(sim::MjdFromDate(year, month, day));
}

// ---- system ----
int GetSystemVar(int id) { return R().GetSystemVar(id); }
int SetSystemVar(int id, int value) { return R().SetSystemVar(id, value); }
int WriteSystemVar() { return R().WriteSystemVar(); }

int GetState(dword *state, dword *subState)
{
  if(state) *state = R().config().state;
  if(subState) *subState = R().config().sub_state;
  return 1;
}

int GetSystemId() { return R().config().system_id; }
void Exit() { R().Exit(); }
void Sleep(dword ticks) { R().Sleep(ticks); }
word TimerGetTotalNum() { return static_cast<word>(R().config().timer_count); }

// ---- text ----
// Like the firmware's: no bound. The plug-in formats fixed buffers itself.
void SPrint(char *s, const char *fmt, ...)
{
  va_list args;
  va_start(args, fmt);
  std::vsprintf(s, fmt, args);
  va_end(args);
}

void Print(const char *fmt, ...)
{
  char text[4096];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof(text), fmt, args);
  va_end(args);
  R().Record(TraceKind::kPrint, text);
}

// ---- memory ----
void *MemAlloc(dword size) { return R().Alloc(size); }
int MemFree(const void *addr) { return R().Free(addr); }
void MemSet(void *dest, byte c, dword count) { std::memset(dest, c, count); }
void MemCpy(void *dest, const void *src, dword count) { std::memmove(dest, src, count); }
int MemCmp(const void *a, const void *b, dword count) { return std::memcmp(a, b, count); }

// ---- disk ----
int HddChangeDir(const char *dir)
{
  const sim::ReceiverConfig &cfg = R().config();
  bool ok = dir != nullptr && R().hdd().ChangeDir(dir);
  if(ok) R().UpdateFolderObject();
  if(R().Tracing(TraceKind::kDisk))
    R().Record(TraceKind::kDisk,
               "TAP_Hdd_ChangeDir(" + Quote(dir) + ") -> " + (ok ? "ok " + R().hdd().current() : "failed"));
  return ok ? cfg.chdir_success : (cfg.chdir_success == 1 ? 0 : 1);
}

int HddExist(const char *name)
{
  std::string host;
  sim::PathLook look;
  std::shared_ptr<sim::HeldFile> held;
  bool exists = name != nullptr && name[0] != '\0' && R().hdd().HostPath(name, &host, &look, &held) && look.exists();
  if(R().Tracing(TraceKind::kDisk))
    R().Record(TraceKind::kDisk, "TAP_Hdd_Exist(" + Quote(name) + ") -> " + (exists ? "1" : "0"));
  return exists ? 1 : 0;
}

int HddCreate(const char *name, byte attr)
{
  std::string host;
  sim::PathLook look;
  std::error_code ec;
  int result = 0;
  if(name != nullptr && name[0] != '\0' && R().hdd().HostPath(name, &host, &look) && look.error == ENOENT &&
     fs::is_directory(fs::path(host).parent_path(), ec))
  {
    if(attr == ATTR_FOLDER)
      result = fs::create_directory(host, ec) ? 1 : 0;
    else if(std::FILE *f = std::fopen(host.c_str(), "wb"))
    {
      std::fclose(f);
      result = 1;
    }
    else
      ec.assign(errno, std::generic_category());
    if(result == 1) R().disk().Changed(host);
    if(result == 0) R().disk().PcFailed(host, ec.value());
  }
  // An existing name is left as it is: nothing on the disk is ever replaced by a create.
  if(R().Tracing(TraceKind::kDisk))
    R().Record(TraceKind::kDisk,
               "TAP_Hdd_Create(" + Quote(name) + ", " + std::to_string(attr) + ") -> " + std::to_string(result));
  return result;
}

int HddDelete(const char *name)
{
  std::string host, receiver;
  sim::PathLook look;
  std::shared_ptr<sim::HeldFile> held;
  std::error_code ec;
  int result = 0;
  bool found = name != nullptr && name[0] != '\0' && R().hdd().HostPath(name, &host, &look, &held);
  if(found && held != nullptr)
  {
    R().disk().Unhold(held.get());
    result = 1;
  }
  else if(found && R().hdd().ReceiverPath(name, &receiver) && !R().disk().IsMountPoint(receiver) &&
          receiver != sim::kHddMount)
  {
    if(look.file())
    {
      int kept = R().disk().TakeOpen(look);
      if(kept >= 0) R().disk().CloseFile(kept);
    }
    if(look.file() || (look.folder() && fs::is_empty(host, ec)))
      result = fs::remove(host, ec) ? 1 : 0;
    if(result == 1) R().disk().Removed(host);
  }
  if(R().Tracing(TraceKind::kDisk))
    R().Record(TraceKind::kDisk, "TAP_Hdd_Delete(" + Quote(name) + ") -> " + std::to_string(result));
  return result;
}

int HddRename(const char *oldName, const char *newName)
{
  std::string from, to, from_receiver, to_receiver;
  sim::PathLook look, target;
  std::error_code ec;
  int result = 0;
  if(oldName != nullptr && newName != nullptr && oldName[0] != '\0' && newName[0] != '\0' &&
     R().hdd().HostPath(oldName, &from, &look) && R().hdd().HostPath(newName, &to, &target) &&
     R().hdd().ReceiverPath(oldName, &from_receiver) && R().hdd().ReceiverPath(newName, &to_receiver) &&
     look.exists() && target.error == ENOENT && fs::path(from).parent_path() == fs::path(to).parent_path() &&
     !R().disk().IsMountPoint(from_receiver) && from_receiver != sim::kHddMount)
  {
    if(look.file())
    {
      int kept = R().disk().TakeOpen(look);
      if(kept >= 0) R().disk().CloseFile(kept);
    }
    fs::rename(from, to, ec);
    if(!ec)
    {
      result = 1;
      R().disk().Removed(from);
      R().disk().Changed(to);
    }
  }
  if(R().Tracing(TraceKind::kDisk))
    R().Record(TraceKind::kDisk,
               "TAP_Hdd_Rename(" + Quote(oldName) + ", " + Quote(newName) + ") -> " + std::to_string(result));
  return result;
}

TYPE_File *HddFopen(const char *name)
{
  if(R().FileOpenFails("TAP_Hdd_Fopen(" + Quote(name) + ")")) return nullptr;
  std::string host, tap;
  sim::PathLook look;
  std::shared_ptr<sim::HeldFile> held;
  TYPE_File *file = nullptr;
  if(name != nullptr && name[0] != '\0' && R().hdd().HostPath(name, &host, &look, &held) &&
     R().hdd().TapPath(name, &tap) && look.file())
  {
    if(held != nullptr)
      file = new TYPE_File{-1, 0, look, tap, host, held};
    else
    {
      int64_t size = -1;
      int fd = R().disk().TakeOpen(look, &size);
      if(fd < 0) fd = ::open(host.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
      if(fd >= 0) file = new TYPE_File{fd, 0, look, tap, host, nullptr, size, R().disk().changes()};
    }
  }
  if(R().Tracing(TraceKind::kDisk))
    R().Record(TraceKind::kDisk, "TAP_Hdd_Fopen(" + Quote(name) + ") -> " + (file ? "ok" : "NULL"));
  return file;
}

// The file's size, or -1 when it cannot be told. Remembered while nothing
// but this TAP file's own writes could change it.
int64_t Size(TYPE_File *file)
{
  int fd = file->Fd();
  if(fd < 0) return static_cast<int64_t>(file->held->content.size());
  if(file->held == nullptr && file->size >= 0 && file->changes == R().disk().changes()) return file->size;
  R().disk().WritePendingTo(file->host, fd);
  struct stat st;
  if(::fstat(fd, &st) != 0) return -1;
  file->size = st.st_size;
  file->changes = R().disk().changes();
  return file->size;
}

dword HddFlen(TYPE_File *file)
{
  if(file == nullptr) return 0;
  int64_t size = Size(file);
  return size < 0 ? 0 : static_cast<dword>(size);
}

dword HddFseek(TYPE_File *file, long pos, long origin)
{
  if(file == nullptr) return 0;
  int64_t base = 0;
  if(origin == SEEK_ORIGIN_CURRENT) base = static_cast<int64_t>(file->position);
  if(origin == SEEK_ORIGIN_END)
  {
    base = Size(file);
    if(base < 0) return static_cast<dword>(file->position);
  }
  // A place before the start is refused and the position stays, as fseek does.
  if(base + pos >= 0) file->position = static_cast<uint64_t>(base + pos);
  return static_cast<dword>(file->position);
}

// Transfers whole blocks from the file's position on; the position moves by
// what was transferred.
template <typename Transfer>
dword Blocks(TYPE_File *file, dword blockSize, dword blocks, Transfer transfer)
{
  uint64_t total = static_cast<uint64_t>(blockSize) * blocks, done = 0;
  while(done < total)
  {
    ssize_t n = transfer(done, static_cast<size_t>(total - done), static_cast<off_t>(file->position + done));
    if(n < 0 && errno == EINTR) continue;
    if(n <= 0) break;
    done += static_cast<uint64_t>(n);
  }
  file->position += done;
  return blockSize == 0 ? 0 : static_cast<dword>(done / blockSize);
}

dword HddFread(void *buf, dword blockSize, dword blocks, TYPE_File *file)
{
  if(file == nullptr || buf == nullptr) return 0;
  R().disk().WritePendingTo(file->host, file->Fd());
  dword n = Blocks(file, blockSize, blocks, [&](uint64_t done, size_t size, off_t at) -> ssize_t {
    int fd = file->Fd();
    if(fd >= 0) return ::pread(fd, static_cast<char *>(buf) + done, size, at);
    const std::string &content = file->held->content;
    if(static_cast<uint64_t>(at) >= content.size()) return 0;
    size_t n = std::min(size, content.size() - static_cast<size_t>(at));
    std::memcpy(static_cast<char *>(buf) + done, content.data() + at, n);
    return static_cast<ssize_t>(n);
  });
  if(R().Tracing(TraceKind::kDisk))
    R().Record(TraceKind::kDisk, "TAP_Hdd_Fread(" + file->name + ", " + std::to_string(blockSize) + " x " +
                                     std::to_string(blocks) + ") -> " + std::to_string(n));
  return n;
}

dword HddFwrite(const void *buf, dword blockSize, dword blocks, TYPE_File *file)
{
  if(file == nullptr || buf == nullptr) return 0;
  // What another TAP file on the same file knew of its size no longer holds;
  // this one's stays right.
  bool sized = file->held == nullptr && file->size >= 0 && file->changes == R().disk().changes();
  int64_t known = file->size;
  R().disk().CountChange();
  uint64_t total = static_cast<uint64_t>(blockSize) * blocks;
  dword n;
  if(sized && total > 0 && total <= sim::Disk::kAppendLimit && file->position == static_cast<uint64_t>(known) &&
     R().in_plugin())
  {
    // A line added to the end of a log: gathered with the next ones until
    // the call ends or something looks.
    R().disk().Append(file->fd, file->host, known, static_cast<const char *>(buf), static_cast<size_t>(total));
    file->position += total;
    n = blocks;
  }
  else
  {
    R().disk().WritePendingTo(file->host, file->Fd());
    n = Blocks(file, blockSize, blocks, [&](uint64_t done, size_t size, off_t at) -> ssize_t {
      int fd = file->Fd();
      if(fd >= 0)
      {
        ssize_t written = ::pwrite(fd, static_cast<const char *>(buf) + done, size, at);
        if(written < 0) R().disk().PcFailed(file->host, errno);
        return written;
      }
      std::string &content = file->held->content;
      if(static_cast<uint64_t>(at) > content.size()) content.resize(static_cast<size_t>(at), '\0');
      content.replace(static_cast<size_t>(at), std::min(size, content.size() - static_cast<size_t>(at)),
                      static_cast<const char *>(buf) + done, size);
      return static_cast<ssize_t>(size);
    });
  }
  if(sized)
  {
    file->size = std::max<int64_t>(known, static_cast<int64_t>(file->position));
    file->changes = R().disk().changes();
  }
  R().disk().Written(file->host, static_cast<const char *>(buf), static_cast<size_t>(n) * blockSize);
  if(R().Tracing(TraceKind::kDisk))
    R().Record(TraceKind::kDisk, "TAP_Hdd_Fwrite(" + file->name + ", " + std::to_string(blockSize) + " x " +
                                     std::to_string(blocks) + ") -> " + std::to_string(n));
  return n;
}

void HddFclose(TYPE_File *file)
{
  if(file == nullptr) return;
  if(file->held == nullptr)
    R().disk().KeepOpen(file->fd, file->look, file->changes == R().disk().changes() ? file->size : -1);
  if(R().Tracing(TraceKind::kDisk))
    R().Record(TraceKind::kDisk, "TAP_Hdd_Fclose(" + file->name + ")");
  delete file;
}

// ---- screen: drawn into the emulated display, and every call recorded ----
// A call that cannot draw records why after its arguments.
std::string Refusal(bool ok, const std::string &error) { return ok ? "" : " -> " + error; }

word OsdCreate(dword x, dword y, dword w, dword h, byte lutIdx, int flag)
{
  (void)lutIdx;
  word rgn = R().screen().Create(sim::OsdRegion{x, y, w, h, flag});
  R().Record(TraceKind::kOsd, "TAP_Osd_Create(" + std::to_string(x) + ", " + std::to_string(y) + ", " + std::to_string(w) +
                                  ", " + std::to_string(h) + ", " + std::to_string(flag) + ") -> " + std::to_string(rgn));
  return rgn;
}

int OsdDelete(word rgn)
{
  bool ok = R().screen().Delete(rgn);
  R().Record(TraceKind::kOsd, "TAP_Osd_Delete(" + std::to_string(rgn) + ")" + (ok ? "" : " -> no such region"));
  return ok ? 0 : -1;
}

int OsdDraw3dBoxFill(word rgn, dword x, dword y, dword w, dword h, dword c1, dword c2, dword fc)
{
  std::string error;
  bool ok = R().screen().Draw3dBoxFill(rgn, x, y, w, h, c1, c2, fc, &error);
  char text[160];
  std::snprintf(text, sizeof(text), "TAP_Osd_Draw3dBoxFill(%u, %u, %u, %u, %u, 0x%08x, 0x%08x, 0x%08x)", rgn, x, y, w,
                h, c1, c2, fc);
  R().Record(TraceKind::kOsd, text + Refusal(ok, error));
  return ok ? 0 : -1;
}

int OsdPutS(word rgn, dword x, dword y, dword maxX, const char *str, dword fcolor, dword bcolor, byte fntType,
            byte fntSize, byte bDot, byte align)
{
  std::string error;
  bool ok = R().screen().PutS(rgn, x, y, maxX, str, fcolor, bcolor, fntSize, align, &error);
  char text[160];
  std::snprintf(text, sizeof(text), "TAP_Osd_PutS(%u, %u, %u, %u, 0x%08x, 0x%08x, %u, %u, %u, %u) ", rgn, x, y, maxX,
                fcolor, bcolor, fntType, fntSize, bDot, align);
  R().Record(TraceKind::kOsd, text + Quote(str) + Refusal(ok, error));
  return ok ? 0 : -1;
}

int OsdPutGd(word rgn, int x, int y, const TYPE_GrData *gd, int sprite)
{
  std::string error;
  bool ok = R().screen().PutGd(rgn, x, y, gd, sprite != 0, &error);
  R().Record(TraceKind::kOsd, "TAP_Osd_PutGd(" + std::to_string(rgn) + ", " + std::to_string(x) + ", " +
                                  std::to_string(y) + ", " + (gd ? "image" : "NULL") + ", " + std::to_string(sprite) + ")" +
                                  Refusal(ok, error));
  return ok ? 0 : -1;
}

int OsdGetW(const char *str, byte fntType, byte fntSize)
{
  (void)fntType;
  return R().screen().TextWidth(str, fntSize);
}

// Snapshots are named by the virtual time: screen-2026-12-08_12-00-05.23.png.
void OsdSync()
{
  std::string entry = "TAP_Osd_Sync";
  const std::string &dir = R().config().screenshot_dir;
  if(!dir.empty())
  {
    std::string stamp = R().clock().LocalText(), written, error;
    std::replace(stamp.begin(), stamp.end(), ' ', '_');
    std::replace(stamp.begin(), stamp.end(), ':', '-');
    if(!R().screen().Snapshot(dir, stamp, &written, &error))
      entry += " -> snapshot failed: " + error;
    else if(!written.empty())
      entry += " -> " + written;
  }
  R().Record(TraceKind::kOsd, entry);
}

void SysOsdControl(int osdId, int ctrl)
{
  R().screen().SetSystemOsd(osdId, ctrl != 0);
  R().Record(TraceKind::kOsd, "TAP_SysOsdControl(" + std::to_string(osdId) + ", " + std::to_string(ctrl) + ")");
}

}  // namespace

// The variables the plug-in imports, exported from the emulator.
extern "C" {
__attribute__((visibility("default"))) dword (*TAP_GetTick)(void) = GetTick;
__attribute__((visibility("default"))) int (*TAP_GetTime)(word *, byte *, byte *, byte *) = GetTime;
__attribute__((visibility("default"))) int (*TAP_ExtractMjd)(dword, word *, byte *, byte *, byte *) = ExtractMjd;
__attribute__((visibility("default"))) int (*TAP_MakeMjd)(word, byte, byte) = MakeMjd;
__attribute__((visibility("default"))) int (*TAP_GetSystemVar)(int) = GetSystemVar;
__attribute__((visibility("default"))) int (*TAP_SetSystemVar)(int, int) = SetSystemVar;
__attribute__((visibility("default"))) int (*TAP_WriteSystemVar)(void) = WriteSystemVar;
__attribute__((visibility("default"))) int (*TAP_GetState)(dword *, dword *) = GetState;
__attribute__((visibility("default"))) int (*TAP_GetSystemId)(void) = GetSystemId;
__attribute__((visibility("default"))) void (*TAP_Exit)(void) = Exit;
__attribute__((visibility("default"))) void (*TAP_Sleep)(dword) = Sleep;
__attribute__((visibility("default"))) word (*TAP_Timer_GetTotalNum)(void) = TimerGetTotalNum;
__attribute__((visibility("default"))) void (*TAP_SPrint)(char *, const char *, ...) = SPrint;
__attribute__((visibility("default"))) void (*TAP_Print)(const char *, ...) = Print;
__attribute__((visibility("default"))) void *(*TAP_MemAlloc)(dword) = MemAlloc;
__attribute__((visibility("default"))) int (*TAP_MemFree)(const void *) = MemFree;
__attribute__((visibility("default"))) void (*TAP_MemSet)(void *, byte, dword) = MemSet;
__attribute__((visibility("default"))) void (*TAP_MemCpy)(void *, const void *, dword) = MemCpy;
__attribute__((visibility("default"))) int (*TAP_MemCmp)(const void *, const void *, dword) = MemCmp;
__attribute__((visibility("default"))) int (*TAP_Hdd_ChangeDir)(const char *) = HddChangeDir;
__attribute__((visibility("default"))) int (*TAP_Hdd_Exist)(const char *) = HddExist;
__attribute__((visibility("default"))) int (*TAP_Hdd_Create)(const char *, byte) = HddCreate;
__attribute__((visibility("default"))) int (*TAP_Hdd_Delete)(const char *) = HddDelete;
__attribute__((visibility("default"))) int (*TAP_Hdd_Rename)(const char *, const char *) = HddRename;
__attribute__((visibility("default"))) TYPE_File *(*TAP_Hdd_Fopen)(const char *) = HddFopen;
__attribute__((visibility("default"))) dword (*TAP_Hdd_Flen)(TYPE_File *) = HddFlen;
__attribute__((visibility("default"))) dword (*TAP_Hdd_Fseek)(TYPE_File *, long, long) = HddFseek;
__attribute__((visibility("default"))) dword (*TAP_Hdd_Fread)(void *, dword, dword, TYPE_File *) = HddFread;
__attribute__((visibility("default"))) dword (*TAP_Hdd_Fwrite)(const void *, dword, dword, TYPE_File *) = HddFwrite;
__attribute__((visibility("default"))) void (*TAP_Hdd_Fclose)(TYPE_File *) = HddFclose;
__attribute__((visibility("default"))) word (*TAP_Osd_Create)(dword, dword, dword, dword, byte, int) = OsdCreate;
__attribute__((visibility("default"))) int (*TAP_Osd_Delete)(word) = OsdDelete;
__attribute__((visibility("default"))) int (*TAP_Osd_Draw3dBoxFill)(word, dword, dword, dword, dword, dword, dword, dword) = OsdDraw3dBoxFill;
__attribute__((visibility("default"))) int (*TAP_Osd_PutS)(word, dword, dword, dword, const char *, dword, dword, byte, byte, byte, byte) = OsdPutS;
__attribute__((visibility("default"))) int (*TAP_Osd_PutGd)(word, int, int, const TYPE_GrData *, int) = OsdPutGd;
__attribute__((visibility("default"))) int (*TAP_Osd_GetW)(const char *, byte, byte) = OsdGetW;
__attribute__((visibility("default"))) void (*TAP_Osd_Sync)(void) = OsdSync;
__attribute__((visibility("default"))) void (*TAP_SysOsdControl)(int, int) = SysOsdControl;
}
