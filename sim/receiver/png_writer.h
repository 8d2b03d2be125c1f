// The PNG writer of the receiver's screen snapshots: a picture given as runs
// of equal pixels, written with the fewest palette bits that hold its
// colours. Only zlib is needed; libpng reads the files back in the tests and
// the report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// A picture as runs of equal pixels, row after row (a run may cross a row's
// end).
struct PixelRun {
  uint32_t colour;
  uint32_t length;
  bool operator==(const PixelRun &o) const { return colour == o.colour && length == o.length; }
};
using PixelRuns = std::vector<PixelRun>;
PixelRuns ToRuns(const std::vector<uint32_t> &pixels);

// Writes opaque ARGB pixels as a PNG (alpha is dropped): indexed with 1, 2,
// 4 or 8 bits where 256 colours or fewer make the picture, 8-bit RGB
// otherwise; false with a reason.
bool WritePng(const std::string &path, const std::vector<uint32_t> &pixels, int width, int height,
              std::string *error);
bool WritePngRuns(const std::string &path, const PixelRuns &runs, int width, int height, std::string *error);

}  // namespace sim
