// libFuzzer driver for the process list as getprocess reads it: any text as
// the output of the receiver's ps, any pattern and mode.
//
// Input: byte 0 the mode (0 last, 1 first, else count) and whether ps fails,
// then the pattern up to a zero byte (at most 40 bytes), then ps's output.
// Checked against a model written here from the list's rules: the number of
// matches (overlapping ones included), the process number the mode picks
// (from the start of the line that holds the match, 0 when that line starts
// with no number), pidOut untouched when the mode only counts or nothing matched;
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

// The process number of the line that holds the occurrence at `at`: the
// digits after its leading blanks, at most nine, ended by a blank or tab;
// 0 when the line does not start that way.
int ModelNumber(const std::string &text, size_t at)
{
  size_t start = 0;
  if(at > 0 && text.rfind('\n', at - 1) != std::string::npos) start = text.rfind('\n', at - 1) + 1;
  size_t k = start;
  while(k < text.size() && (text[k] == ' ' || text[k] == '\t')) ++k;
  size_t digits = 0;
  long number = 0;
  for(; k < text.size() && text[k] >= '0' && text[k] <= '9'; ++k, ++digits)
    if(digits < 9) number = number * 10 + (text[k] - '0');
  if(digits == 0 || digits > 9 || k >= text.size() || (text[k] != ' ' && text[k] != '\t')) return 0;
  return static_cast<int>(number);
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
  FUZZ_CHECK(pidOut == kUntouched || (pidOut >= 0 && pidOut <= 999999999));
  return 0;
}
