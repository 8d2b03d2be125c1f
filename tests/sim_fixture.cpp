#include "sim_fixture.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "lib/str/str.h"

namespace fs = std::filesystem;

Sandbox::Sandbox()
{
  const char *tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/brimvale-XXXXXX";
  if(mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

Sandbox::~Sandbox()
{
  std::error_code ec;
  fs::remove_all(path_, ec);
}

SimTest::SimTest()
{
  config.root = sandbox.path() + "/root";
  config.firmware_dir = BRIMVALE_FIRMWARE_DIR;
}

SimTest::~SimTest() { receiver.reset(); }

sim::Receiver &SimTest::Boot()
{
  if(!receiver) receiver = std::make_unique<sim::Receiver>(config);
  std::string error;
  if(!receiver->Boot(&error)) ADD_FAILURE() << error;
  // Any function of the test build of the code marks its module.
  sim::RegisterPluginCode(reinterpret_cast<const void *>(&StrCopy));
  return *receiver;
}

sim::Receiver &SimTest::LoadTap(const std::string &tap)
{
  if(!receiver) receiver = std::make_unique<sim::Receiver>(config);
  std::string error;
  if(!receiver->Load(tap, &error)) ADD_FAILURE() << error;
  return *receiver;
}

std::string SimTest::HostPath(const std::string &receiver_path) const
{
  std::string host;
  if(receiver)
  {
    if(!receiver->disk().HostPath(receiver_path, "/", &host)) ADD_FAILURE() << "bad path " << receiver_path;
    // Whoever asks may change what is there behind the receiver's back.
    receiver->disk().Forget();
    return host;
  }
  return config.root + receiver_path;
}

void SimTest::WriteFile(const std::string &receiver_path, const std::string &content) const
{
  std::string host = HostPath(receiver_path);
  fs::create_directories(fs::path(host).parent_path());
  std::ofstream(host, std::ios::binary | std::ios::trunc) << content;
}

std::string SimTest::ReadFile(const std::string &receiver_path) const
{
  std::ifstream in(HostPath(receiver_path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool SimTest::Exists(const std::string &receiver_path) const
{
  std::error_code ec;
  return fs::exists(fs::symlink_status(HostPath(receiver_path), ec));
}

void SimTest::MakeDir(const std::string &receiver_path) const { fs::create_directories(HostPath(receiver_path)); }

std::string HostTree(const std::string &host_dir)
{
  namespace fs = std::filesystem;
  std::error_code ec;
  if(!fs::is_directory(host_dir, ec)) return "(missing)";
  std::vector<std::string> lines;
  for(const auto &e : fs::recursive_directory_iterator(host_dir, ec))
  {
    std::string rel = fs::relative(e.path(), host_dir).string();
    if(e.is_directory())
    {
      lines.push_back(rel + "/");
      continue;
    }
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    lines.push_back(rel + " = " + text.str());
  }
  std::sort(lines.begin(), lines.end());
  std::string out;
  for(const std::string &l : lines) out += l + "\n";
  return out;
}

std::string SimTest::Tree(const std::string &receiver_path) const { return HostTree(HostPath(receiver_path)); }

std::vector<std::string> SimTest::Commands() const
{
  std::vector<std::string> commands;
  for(const std::string &t : receiver->trace().Texts(sim::TraceKind::kShell))
    commands.push_back(t.substr(1, t.rfind("\" -> ") - 1));
  return commands;
}

sim::NasConfig SimTest::NasWithExports(const std::string &name, const std::string &address,
                                       std::initializer_list<std::string> exports) const
{
  namespace fs = std::filesystem;
  sim::NasConfig nas;
  nas.name = name;
  nas.address = address;
  for(const std::string &e : exports)
  {
    std::string dir = sandbox.path() + "/nas/" + name + e;
    fs::create_directories(dir);
    std::ofstream(dir + "/" + fs::path(e).filename().string() + ".txt") << name << e;
    nas.exports[e] = dir;
  }
  return nas;
}
