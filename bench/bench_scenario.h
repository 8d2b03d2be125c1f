// A scenario file played on a fresh receiver in a sandbox folder, for the
// benchmarks.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "sim/receiver/receiver.h"
#include "sim/report/run_record.h"
#include "sim/scenario/scenario.h"

namespace bench {

class ScenarioRun {
 public:
  // Loads `file`, lays it out in a new sandbox and loads the shipped .tap.
  explicit ScenarioRun(const std::string &file)
  {
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/brimvale-bench-XXXXXX";
    if(mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    sandbox_ = pattern;
    std::string error;
    if(!sim::LoadScenario(file, &scenario, &error)) throw std::runtime_error(error);
    scenario.config.root = sandbox_ + "/root";
    scenario.config.firmware_dir = BRIMVALE_FIRMWARE_DIR;
    if(!sim::PrepareNetwork(&scenario, sandbox_ + "/nas", &error)) throw std::runtime_error(error);
    receiver = std::make_unique<sim::Receiver>(scenario.config);
    sim::KeepRunTrace(receiver.get());  // as `brimvale-sim run` does
    if(!receiver->Boot(&error) || !sim::PrepareReceiver(scenario, receiver.get(), &error) ||
       !receiver->Load(BRIMVALE_TAP, &error))
      throw std::runtime_error(error);
  }
  ~ScenarioRun()
  {
    receiver.reset();
    std::error_code ec;
    std::filesystem::remove_all(sandbox_, ec);
  }
  // Starts the plug-in and plays the scenario's time.
  int Play() { return sim::PlayScenario(scenario, receiver.get(), {}); }

  sim::Scenario scenario;
  std::unique_ptr<sim::Receiver> receiver;

 private:
  std::string sandbox_;
};

}  // namespace bench
