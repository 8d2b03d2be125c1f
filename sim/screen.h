// The receiver's on-screen display: regions the plug-in creates, and a record
// of every drawing call with its arguments.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace sim {

struct OsdRegion {
  uint32_t x, y, w, h;
  int flag;
};

class Screen {
 public:
  // A new region number (1, 2, ...; numbers are not reused).
  uint16_t Create(const OsdRegion &region);
  bool Delete(uint16_t rgn);
  bool Exists(uint16_t rgn) const { return regions_.count(rgn) != 0; }
  const std::map<uint16_t, OsdRegion> &regions() const { return regions_; }

  // Width in pixels of a text in the font the receiver draws with.
  static int TextWidth(const char *text);

  // Whether the firmware's own display is shown (TAP_SysOsdControl).
  void SetSystemOsd(int id, bool shown) { system_osd_[id] = shown; }
  bool SystemOsdShown(int id) const;

 private:
  std::map<uint16_t, OsdRegion> regions_;
  std::map<int, bool> system_osd_;
  uint16_t next_ = 1;
};

}  // namespace sim
