// Where a run's output goes: the output folder, the hidden folder it is built
// in, and the memory disks the run's disks live on meanwhile. Only what a run
// wrote is ever replaced or removed.
//
// Two marks tell the folders apart. A finished output folder holds an output
// mark (.brimvale-output) listing everything its run wrote and the scenario
// it ran; it is replaced only while it holds nothing else, and never swept.
// A folder that lives only as long as its run (the hidden folder the output
// is built in, a previous output moved aside for the moment of the swap, a
// memory disk) holds a scratch mark (.brimvale-scratch) that its run keeps
// locked until it ends; a later run removes such a folder only when it can
// take that lock, whichever PID namespace, container or machine its run was
// in.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace sim {

namespace fs = std::filesystem;

const char kOutputMark[] = ".brimvale-output";
const char kScratchMark[] = ".brimvale-scratch";

// A name that is safe as one folder name: letters (also beyond ASCII),
// digits, "-", "_" and inner dots; anything else becomes "_".
std::string SafeName(const std::string &name);

// The output folder a run is to write.
struct OutputFolder {
  fs::path path;          // absolute
  std::string shown;      // as the owner gave it, for messages
  std::string scenario;   // the scenario's file name, recorded in the mark
  bool by_scenario_name;  // the default out/<scenario name>, not a --out
};

// Why `out` may not become the output folder, or "" when it may: nothing is
// there, or a folder an earlier run wrote that holds only what that run
// wrote (and, for a default folder, of a scenario by the same name).
std::string TargetProblem(const OutputFolder &out);

// A folder of this run that is removed when the run ends without keeping
// it, and by a later run's sweep once no run holds its lock.
class ScratchFolder {
 public:
  ScratchFolder() = default;
  ScratchFolder(const ScratchFolder &) = delete;
  ScratchFolder &operator=(const ScratchFolder &) = delete;
  ~ScratchFolder() { Remove(); }

  // Makes a new folder from `pattern` (ending in XXXXXX) with `mode`, marked
  // and locked; false with errno set when it could not.
  bool Make(const std::string &pattern, mode_t mode);
  // Marks and locks the existing folder `folder` (an output about to be
  // moved aside); false when it could not.
  bool Claim(const fs::path &folder);
  // The folder was renamed to `path`.
  void MovedTo(const fs::path &path) { path_ = path.string(); }
  // The folder stays where it is, without its scratch mark.
  void Keep();
  // Removes the folder now (its lock held until it is gone).
  void Remove();
  const std::string &path() const { return path_; }

 private:
  std::string path_;
  int lock_ = -1;
};

// Makes the parent of `out` and the hidden folder the output is built in,
// with the owner's umask, after removing the scratch folders that runs now
// gone left beside it; "" or why not.
std::string MakeWorkFolder(const OutputFolder &out, ScratchFolder *work);

// Writes the output mark listing what is in `work`, then puts `work` where
// the output folder is, holding the lock beside it for the moment of the
// swap. 0 done; 2 the output folder is refused (something was put there
// meanwhile); 1 it could not be put in place. `error` says why.
int PutInPlace(ScratchFolder *work, const OutputFolder &out, std::string *error);

// A memory disk for a run of `duration_seconds` in `scratch`, left empty
// when there is none with room to spare. Memory disks of runs now gone are
// removed first, room or not.
void MemoryScratch(double duration_seconds, ScratchFolder *scratch);

}  // namespace sim
