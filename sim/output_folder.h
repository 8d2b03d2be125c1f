// Where a run's output goes: the output folder, the hidden folder it is built
// in, and the memory disks the run's disks live on meanwhile. Only what a run
// wrote is ever replaced or removed.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace sim {

namespace fs = std::filesystem;

// Every folder a run writes carries this file: only a folder with it is ever
// replaced or, as a left-over partial folder, removed.
const char kOutputMark[] = ".brimvale-output";
const char kOutputMarkText[] = "brimvale-sim output folder; a later run replaces it\n";

// A name that is safe as one folder name.
std::string SafeName(const std::string &name);

// Whether `folder` holds an output mark.
bool HasMark(const std::filesystem::path &folder);

// Writes the mark into `folder`; false when it could not.
bool WriteMark(const std::filesystem::path &folder, const std::string &text);

// Why `out` may not become the output folder, or "" when it may.
std::string TargetProblem(const std::filesystem::path &out, const std::string &shown);

bool ProcessGone(pid_t pid);

// Removes the left-over folders in `parent` of runs that were killed.
void RemoveStalePartials(const std::filesystem::path &parent, const std::string &prefix = ".",
                         const std::string &part = ".partial-");

// Removes what it was given unless released: the half-written folder of a run
// that did not finish.
class FolderGuard {
 public:
  explicit FolderGuard(std::string path) : path_(std::move(path)) {}
  ~FolderGuard()
  {
    std::error_code ec;
    if(!path_.empty()) fs::remove_all(path_, ec);
  }
  void Release() { path_.clear(); }

 private:
  std::string path_;
};

// Puts `ready` where `out` is; false with `error` when it could not.
bool PutInPlace(const std::filesystem::path &ready, const std::filesystem::path &out, const std::string &shown,
                std::string *error);

// A memory disk for a run of `duration_seconds`, or "" when there is none.
std::string MemoryScratch(double duration_seconds);

}  // namespace sim
