// The web page's way into the settings check: the page writes the chosen
// files into a folder of the browser's memory and asks for the very report
// `brimvale-sim check` prints on it, by the same code.
#include <emscripten/emscripten.h>

#include <sstream>
#include <string>

#include "../sim/cli/check.h"
#include "../sim/scenario/settings_folder.h"

namespace {
std::string g_report;
}

extern "C" {

// Checks `folder` (a path in the browser's memory); the exit status of
// `brimvale-sim check`. The report stays readable until the next check.
EMSCRIPTEN_KEEPALIVE int brimvale_check_folder(const char *folder)
{
  std::ostringstream out;
  int status = CheckSettingsFolder(folder, out);
  g_report = out.str();
  return status;
}

EMSCRIPTEN_KEEPALIVE const char *brimvale_check_report() { return g_report.data(); }
EMSCRIPTEN_KEEPALIVE int brimvale_check_report_length() { return static_cast<int>(g_report.size()); }

// Whether the check reads a file of this name: only those need their text.
EMSCRIPTEN_KEEPALIVE int brimvale_is_settings_file_name(const char *name)
{
  return sim::IsSettingsFileName(name) ? 1 : 0;
}

// How many bytes of a file the check needs to give its verdict: one more
// than it reads, so that a larger file is refused as it is on the PC.
EMSCRIPTEN_KEEPALIVE int brimvale_settings_file_bytes() { return static_cast<int>(sim::kMaxSettingsFileBytes + 1); }
}
