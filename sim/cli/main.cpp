// brimvale-sim: a receiver on the PC. Loads a plug-in .tap, starts it on the
// receiver and home network a scenario describes, lets virtual time pass and
// prints what the plug-in makes the receiver do; or checks a receiver
// owner's settings files without running anything.
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "check.h"
#include "run.h"

#ifndef BRIMVALE_FIRMWARE_DIR
#define BRIMVALE_FIRMWARE_DIR "firmware"
#endif

namespace {

// Exit status of a command line the program cannot use, as for any tool.
constexpr int kUsageError = 2;

const char kUsage[] =
    "usage: brimvale-sim run [-q] [--no-report] [--out DIR] [--firmware-dir DIR] PLUGIN.tap SCENARIO.toml\n"
    "       brimvale-sim check SETTINGS-FOLDER\n"
    "       brimvale-sim --help\n";

}  // namespace

int main(int argc, char **argv)
{
  CLI::App app{"brimvale-sim: a stand-in TMS receiver that runs a Brimvale.tap"};
  app.require_subcommand(1);

  sim::RunOptions options;
  options.firmware_dir = BRIMVALE_FIRMWARE_DIR;
  CLI::App *run = app.add_subcommand("run", "run the plug-in on the receiver and network a TOML scenario describes");
  // The command's first name; old command lines keep working.
  run->alias("scenario");
  run->add_option("tap", options.tap, "the plug-in file (a path: ./Brimvale.tap, build/Brimvale.tap)")
      ->required()
      ->check(CLI::ExistingFile);
  run->add_option("file", options.scenario, "the scenario")->required()->check(CLI::ExistingFile);
  run->add_option("--out", options.out,
                  "output folder (default out/<scenario name>); an existing one is replaced only when an earlier "
                  "run wrote it and it holds nothing else");
  run->add_option("--firmware-dir", options.firmware_dir, "folder with the firmware object files");
  run->add_flag("-q,--quiet", options.quiet, "no timeline, only the summary at the end");
  bool no_report = false;
  run->add_flag("--no-report", no_report, "do not write report.html");

  std::string settings_folder;
  CLI::App *check = app.add_subcommand(
      "check", "show how the plug-in reads a folder of settings files, the commands it would run, and every problem");
  check->add_option("folder", settings_folder, "folder holding Brimvale.ini and 2.ini ... 9.ini")->required();

  try
  {
    app.parse(argc, argv);
  }
  catch(const CLI::CallForHelp &e)
  {
    return app.exit(e);
  }
  catch(const CLI::CallForAllHelp &e)
  {
    return app.exit(e);
  }
  catch(const CLI::ParseError &e)
  {
    std::cerr << "brimvale-sim: " << e.what() << "\n" << kUsage;
    return kUsageError;
  }
  if(check->parsed()) return CheckSettingsFolder(settings_folder, std::cout);
  // The progress line is for a person watching, never for a file or a pipe.
  options.progress = isatty(STDERR_FILENO) != 0;
  options.report = !no_report;
  return sim::RunScenarioFile(options, stdout, stderr);
}
