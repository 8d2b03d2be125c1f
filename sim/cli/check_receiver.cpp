#include "check_receiver.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "../../app/Brimvale.h"
#include "../../lib/str/str.h"
#include "../receiver/pc_file.h"
#include "../receiver/receiver.h"

#ifndef BRIMVALE_FIRMWARE_DIR
#define BRIMVALE_FIRMWARE_DIR "firmware"
#endif

namespace sim {

namespace {

namespace fs = std::filesystem;

const char kAppFolder[] = HDD_MOUNT SETTINGS_FOLDER;

// A temporary folder that plays the receiver's root, removed afterwards.
class TempRoot {
 public:
  TempRoot()
  {
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/brimvale-check-XXXXXX";
    if(mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempRoot()
  {
    std::error_code ec;
    if(!path_.empty()) fs::remove_all(path_, ec);
  }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

struct CheckReceiver::Impl {
  TempRoot root;  // outlives the receiver in it
  std::optional<Receiver> receiver;
  fs::path settings;
};

CheckReceiver::CheckReceiver() : impl_(new Impl) {}
CheckReceiver::~CheckReceiver() = default;

bool CheckReceiver::Start(const std::map<std::string, std::string> &files, std::string *error)
{
  if(impl_->root.path().empty())
  {
    *error = "cannot make a temporary folder for the stand-in receiver";
    return false;
  }
  if(Receiver::Current() != nullptr)
  {
    *error = "another stand-in receiver is running in this process";
    return false;
  }
  ReceiverConfig config;
  config.root = impl_->root.path() + "/root";
  config.firmware_dir = BRIMVALE_FIRMWARE_DIR;
  Receiver &receiver = impl_->receiver.emplace(config);
  std::string why;
  if(!receiver.Boot(&why))
  {
    *error = "cannot start the stand-in receiver: " + why;
    return false;
  }
  // The plug-in's code in this program reads its files from the receiver.
  RegisterPluginCode(reinterpret_cast<const void *>(&StrCopy));
  impl_->settings = config.root + kAppFolder;
  std::error_code ec;
  fs::create_directories(impl_->settings / "Logs", ec);
  for(const auto &[name, text] : files) std::ofstream(impl_->settings / name, std::ios::binary) << text;
  return true;
}

bool CheckReceiver::ReadSettingsFile(const std::string &name, std::string *text) const
{
  return ReadPcFile((impl_->settings / name).string(), text);
}

}  // namespace sim
