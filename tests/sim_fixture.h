// A stand-in receiver for one test: a fresh sandbox folder, the firmware
// objects loaded, and either the shipped .tap or the test build of the
// plug-in's code answering to it.
//
// The test build of the code keeps its statics (caches, directory stack) for
// the whole process, so ctest runs every test in a process of its own.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/receiver/receiver.h"

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

// The same for a folder on the PC (an export, or the sandbox behind a mount).
std::string HostTree(const std::string &host_dir);

class SimTest : public ::testing::Test {
 protected:
  SimTest();
  ~SimTest() override;

  // The firmware powered up; calls from the test build of the plug-in's code
  // are answered by this receiver. Adjust `config` before calling.
  sim::Receiver &Boot();
  // The shipped Brimvale.tap loaded (not yet started).
  sim::Receiver &LoadTap(const std::string &tap = BRIMVALE_TAP);

  // Files in the receiver's file system, by receiver path ("/mnt/hd/...").
  std::string HostPath(const std::string &receiver_path) const;
  void WriteFile(const std::string &receiver_path, const std::string &content) const;
  std::string ReadFile(const std::string &receiver_path) const;
  bool Exists(const std::string &receiver_path) const;
  void MakeDir(const std::string &receiver_path) const;
  // A folder tree with file contents, one sorted line per entry, for
  // byte-for-byte comparison; "(missing)" when the folder is not there.
  std::string Tree(const std::string &receiver_path) const;
  // Every command line the plug-in ran, in order.
  std::vector<std::string> Commands() const;
  // A NAS whose exports (folders below the sandbox) each hold one file named
  // after the export.
  sim::NasConfig NasWithExports(const std::string &name, const std::string &address,
                                std::initializer_list<std::string> exports) const;

  Sandbox sandbox;
  sim::ReceiverConfig config;
  std::unique_ptr<sim::Receiver> receiver;
};
