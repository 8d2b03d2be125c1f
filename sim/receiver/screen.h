// The receiver's on-screen display: a 720 x 576 ARGB screen made of the
// regions the plug-in creates. Each region is a pixel plane of its own at its
// screen position; the planes are laid over the video picture (black here) in
// the order they were created. Text is drawn with real glyphs through
// FreeType, images are inflated from the host's zlib streams, and a snapshot
// of the composed screen can be written as a PNG whenever it changes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "../../host/tap.h"
#include "png_writer.h"

namespace sim {

constexpr int kScreenWidth = 720;
constexpr int kScreenHeight = 576;

// Colours are 32-bit ARGB words: alpha in the top byte, 0 = transparent.
constexpr uint32_t kTransparent = 0x00000000;
constexpr uint32_t kVideoBlack = 0xff000000;

// The receiver's standard font (fntSize 0, 1, 2) draws text cells of these
// heights in pixels; a text at y fills the rows y .. y + height - 1.
constexpr int kFontCellHeights[] = {19, 22, 26};
#ifndef BRIMVALE_FONT_FILE
#define BRIMVALE_FONT_FILE "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
#endif
constexpr const char *kFontFile = BRIMVALE_FONT_FILE;

// PutS alignment within [x, maxX].
constexpr int kAlignLeft = 0;
constexpr int kAlignCentre = 1;
constexpr int kAlignRight = 2;

struct OsdRegion {
  uint32_t x, y, w, h;
  int flag;
};

class Screen {
 public:
  Screen();
  ~Screen();
  Screen(const Screen &) = delete;
  Screen &operator=(const Screen &) = delete;

  // A new region number (1, 2, ...; numbers are not reused), transparent.
  uint16_t Create(const OsdRegion &region);
  bool Delete(uint16_t rgn);
  bool Exists(uint16_t rgn) const { return regions_.count(rgn) != 0; }
  std::map<uint16_t, OsdRegion> regions() const;

  // Drawing, in region coordinates and clipped to the region. Each answers
  // false with a reason (and draws nothing) when it cannot draw.
  bool Draw3dBoxFill(uint16_t rgn, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t c1, uint32_t c2, uint32_t fc,
                     std::string *error);
  // `text` is ISO 8859-1; ink stays within x .. maxX - 1.
  bool PutS(uint16_t rgn, int64_t x, int64_t y, int64_t maxX, const char *text, uint32_t fcolor, uint32_t bcolor,
            int fntSize, int align, std::string *error);
  // Pixels from the sum of the glyph advances PutS uses; 0 without a font.
  int TextWidth(const char *text, int fntSize);
  // sprite: blend by the image's alpha; otherwise copy pixels, alpha included.
  bool PutGd(uint16_t rgn, int64_t x, int64_t y, const TYPE_GrData *gd, bool sprite, std::string *error);

  // A pixel of a region's plane (transparent outside it or for no region).
  uint32_t RegionPixel(uint16_t rgn, int x, int y) const;
  // The visible screen: every region over the black video, row by row,
  // kScreenWidth x kScreenHeight opaque pixels.
  std::vector<uint32_t> Compose() const;
  // The same screen as runs of equal pixels, row after row.
  PixelRuns ComposeRuns() const;

  // On TAP_Osd_Sync: when the visible screen differs from the last snapshot
  // (the first is compared with the empty screen), writes it to
  // `dir`/screen-<stamp>.png, or screen-<stamp>-2.png and so on for a second
  // one with the same stamp. Answers the file name written, "" when nothing
  // changed; false with a reason when the file cannot be written. A screen
  // exactly like one written before gets its own name as a hard link to that
  // file (a copy where the file system has no links).
  bool Snapshot(const std::string &dir, const std::string &stamp, std::string *written, std::string *error);

  // Whether the firmware's own display is shown (TAP_SysOsdControl).
  void SetSystemOsd(int id, bool shown) { system_osd_[id] = shown; }
  bool SystemOsdShown(int id) const;

 private:
  struct Plane;
  struct Font;

  Plane *Find(uint16_t rgn, std::string *error);

  std::map<uint16_t, std::unique_ptr<Plane>> regions_;
  std::map<int, bool> system_osd_;
  uint16_t next_ = 1;
  std::unique_ptr<Font> font_;
  PixelRuns last_snapshot_;
  bool drawn_ = true;  // a region made, deleted or drawn on since the last snapshot
  std::string last_stamp_;
  int stamp_count_ = 0;
  // The screens written so far, by a hash of their runs.
  struct WrittenFrame {
    PixelRuns runs;
    std::string name;
  };
  static constexpr size_t kRememberedFrameBytes = size_t{32} << 20;
  std::unordered_multimap<uint64_t, WrittenFrame> written_frames_;
  size_t remembered_bytes_ = 0;
};

}  // namespace sim
