#include "screen.h"

#include <cstring>

namespace sim {

uint16_t Screen::Create(const OsdRegion &region)
{
  uint16_t rgn = next_++;
  regions_[rgn] = region;
  return rgn;
}

bool Screen::Delete(uint16_t rgn) { return regions_.erase(rgn) != 0; }

int Screen::TextWidth(const char *text)
{
  // Until glyphs are drawn, every character counts as 10 pixels wide.
  return text == nullptr ? 0 : static_cast<int>(std::strlen(text)) * 10;
}

bool Screen::SystemOsdShown(int id) const
{
  auto it = system_osd_.find(id);
  return it == system_osd_.end() || it->second;
}

}  // namespace sim
