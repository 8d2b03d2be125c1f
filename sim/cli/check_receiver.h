// The receiver `check` reads a settings folder on: the plug-in's code in this
// program finds the files in its settings folder there, exactly as at
// start-up. brimvale-sim uses the emulator's stand-in receiver in a
// temporary sandbox (check_receiver.cpp); the web page gives the same code a
// disk in the browser's memory (web/check_host.cpp).
#pragma once

#include <map>
#include <memory>
#include <string>

namespace sim {

class CheckReceiver {
 public:
  CheckReceiver();
  ~CheckReceiver();
  CheckReceiver(const CheckReceiver &) = delete;
  CheckReceiver &operator=(const CheckReceiver &) = delete;

  // Starts it with `files` (name -> text) in the plug-in's settings folder
  // and its Logs folder beside them. False with why it could not.
  bool Start(const std::map<std::string, std::string> &files, std::string *error);
  // A file of the settings folder as it is now (what the plug-in wrote).
  bool ReadSettingsFile(const std::string &name, std::string *text) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sim
