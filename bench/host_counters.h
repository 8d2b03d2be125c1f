// Counts every call the plug-in makes through the host interface: each
// TAP_* pointer variable is replaced by a counting stand-in that calls the
// emulator's function it replaced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct HostCallCount {
  std::string name;
  uint64_t calls;
};

// Puts the counting stand-ins in place (once; later calls do nothing).
void CountHostCalls();
// The emulator's functions back in place.
void StopCountingHostCalls();
// Every counter back to 0.
void ResetHostCalls();
// The counters with calls, by name.
std::vector<HostCallCount> HostCalls();
uint64_t TotalHostCalls();

}  // namespace bench
