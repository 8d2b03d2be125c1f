#include "settings_folder.h"

#include "../../host/folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace sim {

namespace {

std::string WhatItIs(mode_t mode)
{
  if(S_ISDIR(mode)) return "a folder";
  if(S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if(S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if(S_ISSOCK(mode)) return "a socket";
  if(S_ISLNK(mode)) return "a link";
  return "not a regular file";
}

std::string RealPath(const std::string &path)
{
  std::unique_ptr<char, decltype(&free)> real(realpath(path.c_str(), nullptr), &free);
  return real ? std::string(real.get()) : std::string();
}

// Reads a regular file of at most kMaxSettingsFileBytes. 1 read, 0 a problem
// (in `why`), -1 an error reading it (in `why`).
int ReadSmallFile(const std::string &path, std::string *text, std::string *why)
{
  // O_NONBLOCK: should the name be swapped for a FIFO meanwhile, the open
  // does not wait for a writer; fstat then tells what was opened.
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if(fd < 0)
  {
    *why = std::strerror(errno);
    return -1;
  }
  struct stat st;
  int result = 1;
  if(fstat(fd, &st) != 0)
  {
    *why = std::strerror(errno);
    result = -1;
  }
  else if(!S_ISREG(st.st_mode))
  {
    *why = "is " + WhatItIs(st.st_mode) + ", not a settings file: not read";
    result = 0;
  }
  else
  {
    text->clear();
    char buffer[8192];
    for(;;)
    {
      ssize_t n = read(fd, buffer, sizeof(buffer));
      if(n < 0 && errno == EINTR) continue;
      if(n < 0)
      {
        *why = std::strerror(errno);
        result = -1;
        break;
      }
      if(n == 0) break;
      text->append(buffer, static_cast<size_t>(n));
      if(text->size() > kMaxSettingsFileBytes)
      {
        *why = "is larger than 64 KiB, more than any settings file holds: not read";
        result = 0;
        break;
      }
    }
  }
  close(fd);
  return result;
}

}  // namespace

bool IsSettingsFileName(const std::string &name)
{
  return name == MAIN_INI_NAME || (name.size() == 5 && name[0] >= '2' && name[0] <= '9' && name.compare(1, 4, ".ini") == 0);
}

bool ReadSettingsFolder(const std::string &folder, SettingsFolder *out, std::string *error)
{
  *out = SettingsFolder();
  std::string real_folder = RealPath(folder);
  struct stat folder_st;
  if(real_folder.empty() || stat(real_folder.c_str(), &folder_st) != 0 || !S_ISDIR(folder_st.st_mode))
  {
    *error = "no folder " + folder;
    return false;
  }
  struct CloseDir {
    void operator()(DIR *d) const { closedir(d); }
  };
  std::unique_ptr<DIR, CloseDir> dir(opendir(real_folder.c_str()));
  if(!dir)
  {
    *error = "cannot read folder " + folder + ": " + std::strerror(errno);
    return false;
  }
  for(errno = 0; dirent *e = readdir(dir.get()); errno = 0)
  {
    std::string name = e->d_name;
    if(name == "." || name == "..") continue;
    std::string path = real_folder + "/" + name;
    bool wanted = IsSettingsFileName(name);
    struct stat st;
    if(lstat(path.c_str(), &st) != 0) continue;  // gone meanwhile
    std::string target = path;
    if(S_ISLNK(st.st_mode))
    {
      // Followed only to a regular file beside it: the receiver's disk has
      // nothing else to link to.
      std::string real = RealPath(path);
      struct stat target_st;
      std::string problem;
      if(real.empty() || lstat(real.c_str(), &target_st) != 0)
        problem = "is a link to nothing that exists: not read";
      else if(real.compare(0, real_folder.size() + 1, real_folder + "/") != 0 ||
              real.find('/', real_folder.size() + 1) != std::string::npos)
        problem = "is a link to " + real + ", outside the settings folder: not read (put the file itself there)";
      else if(!S_ISREG(target_st.st_mode))
        problem = "is a link to " + WhatItIs(target_st.st_mode) + ", not a settings file: not read";
      if(!problem.empty())
      {
        if(wanted) out->problems[name] = problem;
        continue;
      }
      target = real;
      st = target_st;
    }
    if(!S_ISREG(st.st_mode))
    {
      if(wanted) out->problems[name] = "is " + WhatItIs(st.st_mode) + ", not a settings file: not read";
      continue;
    }
    out->names.insert(name);
    if(!wanted) continue;
    std::string text, why;
    int read = ReadSmallFile(target, &text, &why);
    if(read < 0)
    {
      *error = "cannot read " + folder + "/" + name + ": " + why;
      return false;
    }
    if(read == 0)
    {
      out->problems[name] = why;
      out->names.erase(name);
      continue;
    }
    out->files[name] = text;
  }
  if(errno != 0)
  {
    *error = "cannot read folder " + folder + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace sim
