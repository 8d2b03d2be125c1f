// The receiver the web page's check reads settings on: the host interface
// the plug-in's code calls, over a disk in the browser's memory (Emscripten's
// file system). Only what reading the settings files and writing a new
// Brimvale.ini needs does anything: the disk, memory and the language. The
// screen, the clock and the firmware are quiet stand-ins; the check never
// runs the plug-in's scheduler, so nothing it shows depends on them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../app/Brimvale.h"
#include "../host/tap.h"
#include "../sim/cli/check_receiver.h"

struct TYPE_File {
  int fd;
  uint64_t position;
};

namespace {

// The receiver's root in the browser's memory; its hard disk lies at /mnt/hd.
const char kRoot[] = "/receiver";
const std::string kHdd = std::string(kRoot) + "/mnt/hd";

std::string g_current = "/";  // the plug-in's current folder, in TAP notation

// A TAP name (absolute, or relative to the current folder) as an absolute
// TAP path; ".." stops at the disk's root.
std::string TapPath(const char *name)
{
  std::string path = name[0] == '/' ? std::string(name) : g_current + "/" + name;
  std::vector<std::string> parts;
  std::istringstream in(path);
  for(std::string part; std::getline(in, part, '/');)
  {
    if(part.empty() || part == ".") continue;
    if(part == "..")
    {
      if(!parts.empty()) parts.pop_back();
    }
    else
      parts.push_back(part);
  }
  std::string tap;
  for(const std::string &part : parts) tap += "/" + part;
  return tap.empty() ? "/" : tap;
}

std::string DiskPath(const char *name)
{
  std::string tap = TapPath(name);
  return tap == "/" ? kHdd : kHdd + tap;
}

bool Usable(const char *name) { return name != nullptr && name[0] != '\0'; }

bool Look(const std::string &path, struct stat *st) { return lstat(path.c_str(), st) == 0; }

void RemoveTree(const std::string &path)
{
  struct stat st;
  if(!Look(path, &st)) return;
  if(S_ISDIR(st.st_mode))
  {
    if(DIR *dir = opendir(path.c_str()))
    {
      std::vector<std::string> names;
      while(dirent *e = readdir(dir))
        if(std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
      closedir(dir);
      for(const std::string &name : names) RemoveTree(path + "/" + name);
    }
    rmdir(path.c_str());
  }
  else
    unlink(path.c_str());
}

bool MakeFolders(const std::string &path)
{
  std::string made;
  std::istringstream in(path);
  for(std::string part; std::getline(in, part, '/');)
  {
    if(part.empty()) continue;
    made += "/" + part;
    if(mkdir(made.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// ---- time and system: a receiver switched on at noon on 8 December 2026 ----
dword GetTick() { return 100000; }
int ExtractMjd(dword mjd, word *year, byte *month, byte *day, byte *weekDay)
{
  // The civil date of a Modified Julian Day (Richards' algorithm).
  long j = static_cast<long>(mjd) + 2400001 + 68569;
  long c = 4 * j / 146097;
  j -= (146097 * c + 3) / 4;
  long y = 4000 * (j + 1) / 1461001;
  j = j - 1461 * y / 4 + 31;
  long m = 80 * j / 2447;
  long d = j - 2447 * m / 80;
  j = m / 11;
  m = m + 2 - 12 * j;
  y = 100 * (c - 49) + y + j;
  if(year) *year = static_cast<word>(y);
  if(month) *month = static_cast<byte>(m);
  if(day) *day = static_cast<byte>(d);
  if(weekDay) *weekDay = static_cast<byte>((mjd + 2) % 7);
  return 0;
}
int MakeMjd(word year, byte month, byte day)
{
  long a = (14 - month) / 12, y = year + 4800 - a, m = month + 12 * a - 3;
  long jdn = day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
  return static_cast<int>(jdn - 2400001);
}
int GetTime(word *mjd, byte *hour, byte *min, byte *sec)
{
  if(mjd) *mjd = static_cast<word>(MakeMjd(2026, 12, 8));
  if(hour) *hour = 12;
  if(min) *min = 0;
  if(sec) *sec = 0;
  return 0;
}
int GetSystemVar(int varId) { return varId == SYSVAR_LANGUAGE ? 1 : 0; }  // English
int SetSystemVar(int, int) { return 0; }
int WriteSystemVar() { return 0; }
int GetState(dword *state, dword *subState)
{
  if(state) *state = STATE_NORMAL;
  if(subState) *subState = 0;
  return 0;
}
int GetSystemId() { return 22010; }
void Exit() {}
void Sleep(dword) {}
word TimerGetTotalNum() { return 0; }

void SPrint(char *s, const char *fmt, ...)
{
  va_list args;
  va_start(args, fmt);
  std::vsprintf(s, fmt, args);
  va_end(args);
}
void Print(const char *, ...) {}

// ---- memory ----
void *MemAlloc(dword size) { return std::malloc(size == 0 ? 1 : size); }
int MemFree(const void *addr)
{
  std::free(const_cast<void *>(addr));
  return 0;
}
void MemSet(void *dest, byte c, dword count) { std::memset(dest, c, count); }
void MemCpy(void *dest, const void *src, dword count) { std::memmove(dest, src, count); }
int MemCmp(const void *a, const void *b, dword count) { return std::memcmp(a, b, count); }

// ---- disk ----
int HddChangeDir(const char *dir)
{
  if(!Usable(dir)) return 0;
  struct stat st;
  if(!Look(DiskPath(dir), &st) || !S_ISDIR(st.st_mode)) return 0;
  g_current = TapPath(dir);
  return 1;
}

int HddExist(const char *name)
{
  struct stat st;
  return Usable(name) && Look(DiskPath(name), &st) ? 1 : 0;
}

int HddCreate(const char *name, byte attr)
{
  if(!Usable(name)) return 0;
  std::string path = DiskPath(name);
  struct stat st;
  if(Look(path, &st)) return 0;  // an existing name is left as it is
  if(attr == ATTR_FOLDER) return mkdir(path.c_str(), 0755) == 0 ? 1 : 0;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if(fd < 0) return 0;
  close(fd);
  return 1;
}

int HddDelete(const char *name)
{
  if(!Usable(name)) return 0;
  std::string path = DiskPath(name);
  struct stat st;
  if(!Look(path, &st) || TapPath(name) == "/") return 0;
  return (S_ISDIR(st.st_mode) ? rmdir(path.c_str()) : unlink(path.c_str())) == 0 ? 1 : 0;
}

int HddRename(const char *oldName, const char *newName)
{
  if(!Usable(oldName) || !Usable(newName)) return 0;
  std::string from = DiskPath(oldName), to = DiskPath(newName);
  struct stat st;
  if(!Look(from, &st) || Look(to, &st)) return 0;
  return rename(from.c_str(), to.c_str()) == 0 ? 1 : 0;
}

TYPE_File *HddFopen(const char *name)
{
  if(!Usable(name)) return nullptr;
  std::string path = DiskPath(name);
  struct stat st;
  if(!Look(path, &st) || !S_ISREG(st.st_mode)) return nullptr;
  int fd = open(path.c_str(), O_RDWR);
  return fd < 0 ? nullptr : new TYPE_File{fd, 0};
}

int64_t Size(TYPE_File *file)
{
  struct stat st;
  return fstat(file->fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

dword HddFlen(TYPE_File *file)
{
  int64_t size = file != nullptr ? Size(file) : -1;
  return size < 0 ? 0 : static_cast<dword>(size);
}

dword HddFseek(TYPE_File *file, long pos, long origin)
{
  if(file == nullptr) return 0;
  int64_t base = origin == SEEK_ORIGIN_CURRENT ? static_cast<int64_t>(file->position)
                 : origin == SEEK_ORIGIN_END   ? Size(file)
                                               : 0;
  if(base >= 0 && base + pos >= 0) file->position = static_cast<uint64_t>(base + pos);
  return static_cast<dword>(file->position);
}

dword HddFread(void *buf, dword blockSize, dword blocks, TYPE_File *file)
{
  if(file == nullptr || buf == nullptr || blockSize == 0) return 0;
  uint64_t total = static_cast<uint64_t>(blockSize) * blocks, done = 0;
  while(done < total)
  {
    ssize_t n = pread(file->fd, static_cast<char *>(buf) + done, static_cast<size_t>(total - done),
                      static_cast<off_t>(file->position + done));
    if(n <= 0) break;
    done += static_cast<uint64_t>(n);
  }
  file->position += done;
  return static_cast<dword>(done / blockSize);
}

dword HddFwrite(const void *buf, dword blockSize, dword blocks, TYPE_File *file)
{
  if(file == nullptr || buf == nullptr || blockSize == 0) return 0;
  uint64_t total = static_cast<uint64_t>(blockSize) * blocks, done = 0;
  while(done < total)
  {
    ssize_t n = pwrite(file->fd, static_cast<const char *>(buf) + done, static_cast<size_t>(total - done),
                       static_cast<off_t>(file->position + done));
    if(n <= 0) break;
    done += static_cast<uint64_t>(n);
  }
  file->position += done;
  return static_cast<dword>(done / blockSize);
}

void HddFclose(TYPE_File *file)
{
  if(file == nullptr) return;
  close(file->fd);
  delete file;
}

// ---- screen: nothing is shown ----
word OsdCreate(dword, dword, dword, dword, byte, int) { return 1; }
int OsdDelete(word) { return 0; }
int OsdDraw3dBoxFill(word, dword, dword, dword, dword, dword, dword, dword) { return 0; }
int OsdPutS(word, dword, dword, dword, const char *, dword, dword, byte, byte, byte, byte) { return 0; }
int OsdPutGd(word, int, int, const TYPE_GrData *, int) { return 0; }
int OsdGetW(const char *str, byte, byte) { return str != nullptr ? static_cast<int>(std::strlen(str)) * 10 : 0; }
void OsdSync() {}
void SysOsdControl(int, int) {}

}  // namespace

// The firmware: the page has none, so every firmware object the plug-in's
// library looks up is missing, as on a receiver that lacks it (the check
// reads no firmware object). Emscripten's own dlopen would stop the program;
// its dlerror is left as it is (never asked: nothing is ever opened).
extern "C" {
void *dlopen(const char *, int) { return nullptr; }
void *dlsym(void *, const char *) { return nullptr; }
int dlclose(void *) { return 0; }
}

extern "C" {
dword (*TAP_GetTick)(void) = GetTick;
int (*TAP_GetTime)(word *, byte *, byte *, byte *) = GetTime;
int (*TAP_ExtractMjd)(dword, word *, byte *, byte *, byte *) = ExtractMjd;
int (*TAP_MakeMjd)(word, byte, byte) = MakeMjd;
int (*TAP_GetSystemVar)(int) = GetSystemVar;
int (*TAP_SetSystemVar)(int, int) = SetSystemVar;
int (*TAP_WriteSystemVar)(void) = WriteSystemVar;
int (*TAP_GetState)(dword *, dword *) = GetState;
int (*TAP_GetSystemId)(void) = GetSystemId;
void (*TAP_Exit)(void) = Exit;
void (*TAP_Sleep)(dword) = Sleep;
word (*TAP_Timer_GetTotalNum)(void) = TimerGetTotalNum;
void (*TAP_SPrint)(char *, const char *, ...) = SPrint;
void (*TAP_Print)(const char *, ...) = Print;
void *(*TAP_MemAlloc)(dword) = MemAlloc;
int (*TAP_MemFree)(const void *) = MemFree;
void (*TAP_MemSet)(void *, byte, dword) = MemSet;
void (*TAP_MemCpy)(void *, const void *, dword) = MemCpy;
int (*TAP_MemCmp)(const void *, const void *, dword) = MemCmp;
int (*TAP_Hdd_ChangeDir)(const char *) = HddChangeDir;
int (*TAP_Hdd_Exist)(const char *) = HddExist;
int (*TAP_Hdd_Create)(const char *, byte) = HddCreate;
int (*TAP_Hdd_Delete)(const char *) = HddDelete;
int (*TAP_Hdd_Rename)(const char *, const char *) = HddRename;
TYPE_File *(*TAP_Hdd_Fopen)(const char *) = HddFopen;
dword (*TAP_Hdd_Flen)(TYPE_File *) = HddFlen;
dword (*TAP_Hdd_Fseek)(TYPE_File *, long, long) = HddFseek;
dword (*TAP_Hdd_Fread)(void *, dword, dword, TYPE_File *) = HddFread;
dword (*TAP_Hdd_Fwrite)(const void *, dword, dword, TYPE_File *) = HddFwrite;
void (*TAP_Hdd_Fclose)(TYPE_File *) = HddFclose;
word (*TAP_Osd_Create)(dword, dword, dword, dword, byte, int) = OsdCreate;
int (*TAP_Osd_Delete)(word) = OsdDelete;
int (*TAP_Osd_Draw3dBoxFill)(word, dword, dword, dword, dword, dword, dword, dword) = OsdDraw3dBoxFill;
int (*TAP_Osd_PutS)(word, dword, dword, dword, const char *, dword, dword, byte, byte, byte, byte) = OsdPutS;
int (*TAP_Osd_PutGd)(word, int, int, const TYPE_GrData *, int) = OsdPutGd;
int (*TAP_Osd_GetW)(const char *, byte, byte) = OsdGetW;
void (*TAP_Osd_Sync)(void) = OsdSync;
void (*TAP_SysOsdControl)(int, int) = SysOsdControl;
}

namespace sim {

struct CheckReceiver::Impl {};

CheckReceiver::CheckReceiver() : impl_(new Impl) {}
CheckReceiver::~CheckReceiver() { RemoveTree(kRoot); }

bool CheckReceiver::Start(const std::map<std::string, std::string> &files, std::string *error)
{
  RemoveTree(kRoot);
  g_current = "/";
  std::string settings = kHdd + SETTINGS_FOLDER;
  if(!MakeFolders(settings + "/Logs"))
  {
    *error = "cannot make the receiver's settings folder in memory";
    return false;
  }
  for(const auto &[name, text] : files)
    if(!(std::ofstream(settings + "/" + name, std::ios::binary) << text))
    {
      *error = "cannot write " + name + " to the receiver's settings folder in memory";
      return false;
    }
  return true;
}

bool CheckReceiver::ReadSettingsFile(const std::string &name, std::string *text) const
{
  std::ifstream in(kHdd + SETTINGS_FOLDER + "/" + name, std::ios::binary);
  if(!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *text = all.str();
  return true;
}

}  // namespace sim
