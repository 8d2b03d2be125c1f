// libFuzzer driver for the process list as getprocess reads it: any text as
// the output of the receiver's ps, any pattern and mode.
//
// Input: byte 0 the mode (0 last, 1 first, else count) and whether ps fails,
// then the pattern up to a zero byte (at most 40 bytes), then ps's output.
// Checked against a model written here from the list's rules: the number of
// matches (overlapping ones included), the process number the mode picks
// (taken from the first five columns of the line found 34 characters before
// the match), pidOut untouched when the mode only counts or nothing matched;
// ps.txt gone after a read, no heap block left.
#include <stdint.h>
#include <string.h>

#include <string>

#include "app/Brimvale.h"
#include "app/process.h"
#include "fuzz_receiver.h"

namespace {

constexpr uint8_t kModeMask = 0x03;
constexpr uint8_t kPsFails = 0x04;
constexpr size_t kPatternMax = 40;
constexpr int kUntouched = -424242;
const std::string kPsFile = std::string(fuzz::kAppFolder) + "/ps.txt";

std::string g_output;
bool g_fail = false;

int FakePs(sim::ToolCall &call)
{
  call.out = g_output;
  return g_fail ? 1 : 0;
}

// The process number of the line that an occurrence at `at` is attributed to.
int ModelNumber(const std::string &text, size_t at)
{
  size_t from = at < 34 ? 0 : at - 34;
  size_t start = 0;
  for(size_t k = from + 1; k-- > 0;)
    if(text[k] == '\n')
    {
      start = k + 1;
      break;
    }
  size_t blanks = 0;
  while(start + blanks < text.size() && text[start + blanks] == ' ') ++blanks;
  int number = 0;
  for(size_t k = start + blanks; k < start + 5 && k < text.size() && text[k] >= '0' && text[k] <= '9'; ++k)
    number = number * 10 + (text[k] - '0');
  return number;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if(size < 1 || size > 65536) return 0;
  sim::Receiver &r = fuzz::TheReceiver();
  static bool installed = false;
  if(!installed)
  {
    r.shell().AddTool("ps", FakePs);
    installed = true;
  }
  fuzz::NextInput();

  uint8_t flags = data[0];
  int mode = flags & kModeMask;
  g_fail = (flags & kPsFails) != 0;
  ++data;
  --size;
  std::string pattern = fuzz::TakeText(&data, &size, kPatternMax);
  g_output.assign(reinterpret_cast<const char *>(data), size);

  int pidOut = kUntouched, count = kUntouched;
  int result = getprocess(pattern.c_str(), &pidOut, &count, mode);
  fuzz::CheckNothingLeft();
  if(g_fail)
  {
    FUZZ_CHECK(result == 0 && pidOut == kUntouched);
    fuzz::Remove(kPsFile);
    return 0;
  }
  FUZZ_CHECK(result == 1);
  FUZZ_CHECK(!fuzz::Exists(kPsFile));

  // The model: the list ends at its first zero byte, as a C text does.
  std::string text = g_output.substr(0, g_output.find('\0'));
  int expectedCount = 0, expectedPid = kUntouched;
  if(!pattern.empty())
    for(size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + 1))
    {
      if(mode == PROCESS_LAST || (mode == PROCESS_FIRST && expectedCount == 0)) expectedPid = ModelNumber(text, at);
      ++expectedCount;
    }
  FUZZ_CHECK(count == expectedCount);
  FUZZ_CHECK(pidOut == expectedPid);
  FUZZ_CHECK(pidOut == kUntouched || (pidOut >= 0 && pidOut <= 99999));
  return 0;
}
