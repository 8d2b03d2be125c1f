#include "fuzz_receiver.h"

#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/Brimvale.h"
#include "lib/ini/ini_internal.h"
#include "lib/paths/paths.h"
#include "lib/paths/paths_internal.h"
#include "lib/str/str.h"

namespace fs = std::filesystem;

namespace fuzz {

const char kAppFolder[] = "/mnt/hd/ProgramFiles/Settings/Brimvale";

namespace {

// The sandbox folder that plays the receiver's root; removed at exit.
class Sandbox {
 public:
  Sandbox()
  {
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/brimvale-fuzz-XXXXXX";
    if(mkdtemp(pattern.data()) == nullptr)
    {
      perror("mkdtemp");
      abort();
    }
    path_ = pattern;
  }
  ~Sandbox()
  {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

struct World {
  Sandbox sandbox;
  std::unique_ptr<sim::Receiver> receiver;
};

World *g_world = nullptr;

void TearDown()
{
  // The receiver goes before its sandbox; both before the C library exits.
  delete g_world;
  g_world = nullptr;
}

}  // namespace

sim::Receiver &TheReceiver()
{
  if(g_world != nullptr) return *g_world->receiver;
  g_world = new World;
  atexit(TearDown);
  sim::ReceiverConfig config;
  config.root = g_world->sandbox.path() + "/root";
  config.firmware_dir = BRIMVALE_FIRMWARE_DIR;
  g_world->receiver = std::make_unique<sim::Receiver>(config);
  std::string error;
  if(!g_world->receiver->Boot(&error))
  {
    fprintf(stderr, "fuzz: the receiver does not boot: %s\n", error.c_str());
    abort();
  }
  sim::RegisterPluginCode(reinterpret_cast<const void *>(&StrCopy));
  fs::create_directories(HostPath(std::string(kAppFolder) + "/Logs"));
  return *g_world->receiver;
}

void NextInput()
{
  sim::Receiver &r = TheReceiver();
  r.trace().Clear();
  FUZZ_CHECK(HDD_ChangeDir(SETTINGS_FOLDER) == 1);
}

std::string HostPath(const std::string &receiver_path)
{
  std::string host;
  if(!TheReceiver().disk().HostPath(receiver_path, "/", &host))
  {
    fprintf(stderr, "fuzz: bad receiver path %s\n", receiver_path.c_str());
    abort();
  }
  // The caller may change what is there behind the receiver's back.
  TheReceiver().disk().Forget();
  return host;
}

void WriteFile(const std::string &receiver_path, const std::string &content)
{
  std::ofstream(HostPath(receiver_path), std::ios::binary | std::ios::trunc) << content;
}

bool ReadFile(const std::string &receiver_path, std::string *content)
{
  std::ifstream in(HostPath(receiver_path), std::ios::binary);
  if(!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  *content = text.str();
  return true;
}

bool Exists(const std::string &receiver_path)
{
  std::error_code ec;
  return fs::exists(fs::symlink_status(HostPath(receiver_path), ec));
}

void Remove(const std::string &receiver_path)
{
  std::error_code ec;
  fs::remove(HostPath(receiver_path), ec);
}

std::vector<std::string> List(const std::string &receiver_path)
{
  std::vector<std::string> names;
  std::error_code ec;
  for(const fs::directory_entry &e : fs::directory_iterator(HostPath(receiver_path), ec))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void CheckNothingLeft()
{
  FUZZ_CHECK(TheReceiver().live_allocations() == 0);
  FUZZ_CHECK(INIBuffer == NULL && BufferSize == 0);
  FUZZ_CHECK(TAPDirStackDepth == -1);
  FUZZ_CHECK(strnlen(LogBuffer, sizeof(LogBuffer)) < sizeof(LogBuffer));
}

std::string TakeText(const uint8_t **data, size_t *size, size_t max)
{
  std::string text;
  while(*size > 0)
  {
    uint8_t c = **data;
    ++*data;
    --*size;
    if(c == 0) break;
    if(text.size() < max) text += static_cast<char>(c);
  }
  return text;
}

}  // namespace fuzz
