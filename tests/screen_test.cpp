// The receiver's on-screen display: what the plug-in's OSD calls put on the
// screen, pixel by pixel, and the snapshots written of it.
#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using sim::TraceKind;

constexpr dword kRed = 0xffff0000, kGreen = 0xff00ff00, kBlue = 0xff0000ff;
constexpr dword kLight = 0xffaaaaaa, kDark = 0xff555555, kFill = 0xff181818;
constexpr dword kTextColour = 0xffffffe0;
constexpr int kTextRegionW = 400, kTextRegionH = 40, kTextY = 5;

// Where ink (pixels other than the background) lies in a region.
struct Ink {
  int left = INT_MAX, right = -1, top = INT_MAX, bottom = -1, count = 0;
  std::vector<std::vector<bool>> rows;   // [y][x]: any ink
  std::vector<std::vector<bool>> solid;  // [y][x]: at least half opaque
  // Separate horizontal runs of solid ink in row y (antialiasing joins the
  // two dots of an umlaut with faint pixels).
  int Runs(int y) const
  {
    int runs = 0;
    for(size_t x = 0; x < solid[y].size(); ++x)
      if(solid[y][x] && (x == 0 || !solid[y][x - 1])) ++runs;
    return runs;
  }
  bool RowEmpty(int y) const { return std::none_of(rows[y].begin(), rows[y].end(), [](bool b) { return b; }); }
};

// A zlib-compressed image in the host's format.
struct Image {
  std::vector<uint8_t> stream;
  TYPE_GrData gd{};
};

Image MakeImage(int psize, int width, int height, const std::vector<uint32_t> &pixels)
{
  int bpp = psize == GD_FORMAT_ARGB8888 ? 4 : 2;
  std::vector<uint8_t> raw;
  for(uint32_t p : pixels)
    for(int i = 0; i < bpp; ++i) raw.push_back(static_cast<uint8_t>(p >> (8 * i)));
  Image image;
  uLongf size = compressBound(raw.size());
  image.stream.resize(size);
  EXPECT_EQ(compress2(image.stream.data(), &size, raw.data(), raw.size(), 9), Z_OK);
  image.stream.resize(size);
  image.gd.version = GD_VERSION;
  image.gd.psize = static_cast<byte>(psize);
  image.gd.compression = GD_COMPRESSION_HOST;
  image.gd.data = image.stream.data();
  image.gd.dataSize = static_cast<dword>(raw.size());
  image.gd.width = static_cast<word>(width);
  image.gd.height = static_cast<word>(height);
  return image;
}

bool ReadPng(const std::string &path, std::vector<uint8_t> *rgb, int *width, int *height)
{
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if(png_image_begin_read_from_file(&image, path.c_str()) == 0) return false;
  image.format = PNG_FORMAT_RGB;
  rgb->resize(PNG_IMAGE_SIZE(image));
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  return png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr) != 0;
}

uint32_t PngPixel(const std::vector<uint8_t> &rgb, int width, int x, int y)
{
  size_t at = (static_cast<size_t>(y) * width + x) * 3;
  return 0xff000000u | uint32_t{rgb[at]} << 16 | uint32_t{rgb[at + 1]} << 8 | rgb[at + 2];
}

// Channels may differ by rounding.
bool Near(uint32_t a, uint32_t b)
{
  for(int shift = 0; shift < 32; shift += 8)
    if(std::abs(static_cast<int>((a >> shift) & 0xff) - static_cast<int>((b >> shift) & 0xff)) > 1) return false;
  return true;
}

std::set<std::string> FilesIn(const std::string &dir)
{
  std::set<std::string> names;
  std::error_code ec;
  for(const auto &entry : fs::directory_iterator(dir, ec)) names.insert(entry.path().filename().string());
  return names;
}

class ScreenTest : public SimTest {
 protected:
  sim::Screen &screen() { return receiver->screen(); }

  std::string LastOsd() const
  {
    std::vector<std::string> texts = receiver->trace().Texts(TraceKind::kOsd);
    return texts.empty() ? "" : texts.back();
  }

  Ink InkOf(word rgn, int w, int h, uint32_t background = sim::kTransparent)
  {
    Ink ink;
    ink.rows.assign(h, std::vector<bool>(w, false));
    ink.solid = ink.rows;
    for(int y = 0; y < h; ++y)
      for(int x = 0; x < w; ++x)
        if(uint32_t p = screen().RegionPixel(rgn, x, y); p != background)
        {
          ink.rows[y][x] = true;
          ink.solid[y][x] = (p >> 24) >= 0x80;
          ++ink.count;
          ink.left = std::min(ink.left, x);
          ink.right = std::max(ink.right, x);
          ink.top = std::min(ink.top, y);
          ink.bottom = std::max(ink.bottom, y);
        }
    return ink;
  }

  // A text drawn in a fresh transparent region.
  Ink Text(const char *text, int x, int maxX, int align)
  {
    word rgn = TAP_Osd_Create(0, 0, kTextRegionW, kTextRegionH, 0, 0);
    EXPECT_EQ(TAP_Osd_PutS(rgn, x, kTextY, maxX, text, kTextColour, 0, 0, 0, 0, align), 0) << LastOsd();
    return InkOf(rgn, kTextRegionW, kTextRegionH);
  }
};

TEST_F(ScreenTest, BoxHasLitAndShadowedEdgesAroundItsFill)
{
  Boot();
  struct Case {
    const char *what;
    int bx, by, bw, bh;  // the box
    int x, y;
    uint32_t expected;
  } cases[] = {
      {"top edge", 10, 20, 100, 40, 50, 20, kLight},
      {"top edge, second row", 10, 20, 100, 40, 50, 21, kLight},
      {"fill under the top edge", 10, 20, 100, 40, 50, 22, kFill},
      {"left edge", 10, 20, 100, 40, 10, 40, kLight},
      {"left edge, second column", 10, 20, 100, 40, 11, 40, kLight},
      {"fill right of the left edge", 10, 20, 100, 40, 12, 40, kFill},
      {"bottom edge", 10, 20, 100, 40, 50, 59, kDark},
      {"bottom edge, second row", 10, 20, 100, 40, 50, 58, kDark},
      {"fill over the bottom edge", 10, 20, 100, 40, 50, 57, kFill},
      {"right edge", 10, 20, 100, 40, 109, 40, kDark},
      {"right edge, second column", 10, 20, 100, 40, 108, 40, kDark},
      {"fill left of the right edge", 10, 20, 100, 40, 107, 40, kFill},
      {"top left corner", 10, 20, 100, 40, 10, 20, kLight},
      {"bottom right corner", 10, 20, 100, 40, 109, 59, kDark},
      {"left of the box", 10, 20, 100, 40, 9, 40, sim::kTransparent},
      {"above the box", 10, 20, 100, 40, 50, 19, sim::kTransparent},
      {"right of the box", 10, 20, 100, 40, 110, 40, sim::kTransparent},
      {"below the box", 10, 20, 100, 40, 50, 60, sim::kTransparent},
      {"tiny box: one-pixel top edge", 0, 0, 4, 4, 1, 0, kLight},
      {"tiny box: fill inside", 0, 0, 4, 4, 1, 1, kFill},
      {"tiny box: one-pixel bottom edge", 0, 0, 4, 4, 2, 3, kDark},
      {"box beyond the region: fill at the region's edge", 150, 10, 100, 40, 199, 30, kFill},
  };
  for(const Case &c : cases)
  {
    word rgn = TAP_Osd_Create(0, 0, 200, 100, 0, 0);
    EXPECT_EQ(TAP_Osd_Draw3dBoxFill(rgn, c.bx, c.by, c.bw, c.bh, kLight, kDark, kFill), 0);
    EXPECT_EQ(screen().RegionPixel(rgn, c.x, c.y), c.expected) << c.what;
  }
}

TEST_F(ScreenTest, TextInkStaysWithinItsFieldAndTheRegion)
{
  Boot();
  const char *kLong = "MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM";
  struct Case {
    const char *what, *text;
    int x, maxX, align;
    bool cut;  // the text is wider than the field: ink runs up to its end
  } cases[] = {
      {"left, fits", "Hallo", 10, 300, sim::kAlignLeft, false},
      {"centre, fits", "Hallo", 10, 300, sim::kAlignCentre, false},
      {"right, fits", "Hallo", 10, 300, sim::kAlignRight, false},
      {"left, cut", kLong, 10, 120, sim::kAlignLeft, true},
      {"centre, cut", kLong, 10, 120, sim::kAlignCentre, true},
      {"right, cut", kLong, 10, 120, sim::kAlignRight, true},
      {"field beyond the region", kLong, 350, 600, sim::kAlignLeft, true},
  };
  for(const Case &c : cases)
  {
    Ink ink = Text(c.text, c.x, c.maxX, c.align);
    int end = std::min(c.maxX, kTextRegionW);
    ASSERT_GT(ink.count, 0) << c.what;
    EXPECT_GE(ink.left, c.x) << c.what;
    EXPECT_LT(ink.right, end) << c.what;
    EXPECT_GE(ink.top, kTextY) << c.what;
    EXPECT_LT(ink.bottom, kTextY + sim::kFontCellHeights[0]) << c.what;
    // A glyph that crosses the end is drawn up to it, not dropped whole.
    if(c.cut) EXPECT_GE(ink.right, end - 3) << c.what;
  }
}

TEST_F(ScreenTest, AlignmentMovesTheInkByTheFreeSpaceOfTheField)
{
  Boot();
  const int x = 20, maxX = 320;
  const char *texts[] = {"u", "Hallo Welt", "M\xfcnchen", "1", "Rechte f\xfcr busybox"};
  for(const char *text : texts)
  {
    int free = maxX - x - TAP_Osd_GetW(text, 0, 0);
    ASSERT_GT(free, 0) << text;
    Ink left = Text(text, x, maxX, sim::kAlignLeft);
    Ink centre = Text(text, x, maxX, sim::kAlignCentre);
    Ink right = Text(text, x, maxX, sim::kAlignRight);
    EXPECT_EQ(centre.left - left.left, free / 2) << text;
    EXPECT_EQ(right.left - left.left, free) << text;
    EXPECT_EQ(right.right - left.right, free) << text;
    EXPECT_EQ(right.count, left.count) << text << ": the same glyphs, only moved";
  }
}

TEST_F(ScreenTest, TextWidthIsTheAdvanceThatPutsUses)
{
  Boot();
  EXPECT_EQ(TAP_Osd_GetW("", 0, 0), 0);
  struct Grows {
    const char *shorter, *longer;
  } grows[] = {
      {"", "a"}, {"a", "ab"}, {"Hallo", "Hallo Welt"}, {"i", "W"}, {"iii", "WWW"}, {"1", "1 2"},
  };
  for(const Grows &g : grows)
    EXPECT_LT(TAP_Osd_GetW(g.shorter, 0, 0), TAP_Osd_GetW(g.longer, 0, 0)) << g.shorter << " / " << g.longer;
  EXPECT_GT(TAP_Osd_GetW("M", 0, 1), TAP_Osd_GetW("M", 0, 0)) << "size 1 is larger than size 0";

  // Left-aligned ink ends within the measured width, at its last pixels.
  const char *inked[] = {"MM", "HH", "Hallo WELT"};
  for(const char *text : inked)
  {
    int w = TAP_Osd_GetW(text, 0, 0);
    Ink ink = Text(text, 10, 390, sim::kAlignLeft);
    EXPECT_LE(ink.right, 10 + w - 1) << text;
    EXPECT_GE(ink.right, 10 + w - 3) << text;
  }
}

TEST_F(ScreenTest, Latin1UmlautsAndSharpSRenderAsTheirOwnLetters)
{
  Boot();
  Ink missing = Text("\x80", 10, 390, sim::kAlignLeft);  // a code point the font lacks
  struct Case {
    const char *plain, *marked;
    bool dots;  // two dots above the letter, apart from its body
  } cases[] = {
      {"u", "\xfc", true}, {"a", "\xe4", true}, {"o", "\xf6", true},
      {"U", "\xdc", true}, {"A", "\xc4", true}, {"O", "\xd6", true},
      {"s", "\xdf", false},
  };
  for(const Case &c : cases)
  {
    Ink plain = Text(c.plain, 10, 390, sim::kAlignLeft);
    Ink marked = Text(c.marked, 10, 390, sim::kAlignLeft);
    ASSERT_GT(plain.count, 0) << c.plain;
    ASSERT_GT(marked.count, 0) << c.plain;
    EXPECT_LT(marked.top, plain.top) << c.plain << ": ink above the plain letter";
    EXPECT_NE(marked.rows, missing.rows) << c.plain << ": not the font's replacement box";
    if(!c.dots) continue;
    bool two_dots = false, gap = false;
    for(int y = marked.top; y < plain.top; ++y)
    {
      two_dots = two_dots || marked.Runs(y) == 2;
      gap = gap || marked.RowEmpty(y);
    }
    EXPECT_TRUE(two_dots) << c.plain << ": two dots side by side";
    EXPECT_TRUE(gap) << c.plain << ": a clear row between dots and letter";
  }
}

TEST_F(ScreenTest, TextBackgroundFillsTheFieldOnlyWhenNotTransparent)
{
  Boot();
  struct Case {
    uint32_t bcolor;
    int x, y;
    uint32_t expected;
  } cases[] = {
      {0xff123456, 299, kTextY, 0xff123456},                                  // end of the field, top row
      {0xff123456, 10, kTextY + sim::kFontCellHeights[0] - 1, 0xff123456},    // start, last row of the cell
      {0xff123456, 300, kTextY, sim::kTransparent},                           // maxX is outside
      {0xff123456, 9, kTextY, sim::kTransparent},                             // before x
      {0xff123456, 50, kTextY + sim::kFontCellHeights[0], sim::kTransparent}, // below the cell
      {0x00123456, 299, kTextY, sim::kTransparent},                           // alpha 0: no box
  };
  for(const Case &c : cases)
  {
    word rgn = TAP_Osd_Create(0, 0, kTextRegionW, kTextRegionH, 0, 0);
    TAP_Osd_PutS(rgn, 10, kTextY, 300, "1", kTextColour, c.bcolor, 0, 0, 0, sim::kAlignLeft);
    EXPECT_EQ(screen().RegionPixel(rgn, c.x, c.y), c.expected) << std::hex << c.bcolor << " at " << std::dec << c.x
                                                               << "," << c.y;
  }
}

TEST_F(ScreenTest, ImagesOfBothPixelFormatsLandWhereTheyArePut)
{
  Boot();
  struct Case {
    int psize;
    std::vector<uint32_t> pixels;    // 3 x 2, as stored
    std::vector<uint32_t> expected;  // ARGB
  } cases[] = {
      {GD_FORMAT_ARGB8888,
       {kRed, kGreen, kBlue, 0xffadadad, 0x80ffffff, 0x00000000},
       {kRed, kGreen, kBlue, 0xffadadad, 0x80ffffff, 0x00000000}},
      {GD_FORMAT_ARGB1555,
       {0xfc00, 0x83e0, 0x801f, 0xd6b5, 0xffff, 0x0000},
       {kRed, kGreen, kBlue, 0xffadadad, 0xffffffff, 0x00000000}},
  };
  const int x = 5, y = 7;
  for(const Case &c : cases)
  {
    Image image = MakeImage(c.psize, 3, 2, c.pixels);
    word rgn = TAP_Osd_Create(0, 0, 40, 20, 0, 0);
    TAP_Osd_Draw3dBoxFill(rgn, 0, 0, 40, 20, kFill, kFill, kFill);
    ASSERT_EQ(TAP_Osd_PutGd(rgn, x, y, &image.gd, 0), 0) << LastOsd();
    for(int i = 0; i < 6; ++i)
      EXPECT_EQ(screen().RegionPixel(rgn, x + i % 3, y + i / 3), c.expected[i]) << "format " << c.psize << " pixel " << i;
    int around[][2] = {{x - 1, y}, {x + 3, y}, {x, y - 1}, {x, y + 2}, {x + 3, y + 1}};
    for(auto &p : around) EXPECT_EQ(screen().RegionPixel(rgn, p[0], p[1]), kFill) << p[0] << "," << p[1];
  }
}

TEST_F(ScreenTest, SpriteImagesKeepWhatIsUnderTheirTransparentPixels)
{
  Boot();
  struct Case {
    int psize, sprite;
    uint32_t pixel, expected;
  } cases[] = {
      {GD_FORMAT_ARGB8888, 1, 0x00ffffff, kFill},        // transparent: the box shows
      {GD_FORMAT_ARGB8888, 1, 0x80ffffff, 0xff8c8c8c},   // half white over the box
      {GD_FORMAT_ARGB8888, 1, kBlue, kBlue},
      {GD_FORMAT_ARGB8888, 0, 0x00ffffff, 0x00ffffff},   // copied, transparency and all
      {GD_FORMAT_ARGB8888, 0, 0x80ffffff, 0x80ffffff},
      {GD_FORMAT_ARGB1555, 1, 0x7fff, kFill},
      {GD_FORMAT_ARGB1555, 1, 0x801f, kBlue},
      {GD_FORMAT_ARGB1555, 0, 0x7fff, 0x00ffffff},
  };
  for(const Case &c : cases)
  {
    Image image = MakeImage(c.psize, 1, 1, {c.pixel});
    word rgn = TAP_Osd_Create(0, 0, 10, 10, 0, 0);
    TAP_Osd_Draw3dBoxFill(rgn, 0, 0, 10, 10, kFill, kFill, kFill);
    ASSERT_EQ(TAP_Osd_PutGd(rgn, 4, 4, &image.gd, c.sprite), 0) << LastOsd();
    EXPECT_TRUE(Near(screen().RegionPixel(rgn, 4, 4), c.expected))
        << std::hex << c.pixel << " sprite " << c.sprite << ": " << screen().RegionPixel(rgn, 4, 4);
  }
}

TEST_F(ScreenTest, BadImagesDrawNothingAndAreTraced)
{
  Boot();
  std::vector<uint32_t> six = {kRed, kRed, kRed, kRed, kRed, kRed};
  struct Case {
    const char *what;
    void (*spoil)(Image *);
  } cases[] = {
      {"corrupt stream header", [](Image *i) { i->stream[0] ^= 0xff; }},
      {"corrupt check sum", [](Image *i) { i->stream.back() ^= 0x01; }},
      {"size is not width x height x bytes", [](Image *i) { i->gd.dataSize += 4; }},
      {"stream holds fewer pixels", [](Image *i) {
         i->gd.width = 4;
         i->gd.dataSize = 4 * 2 * 4;
       }},
      {"stream holds more pixels", [](Image *i) {
         i->gd.width = 2;
         i->gd.dataSize = 2 * 2 * 4;
       }},
      {"unknown compression", [](Image *i) { i->gd.compression = 1; }},
      {"unknown pixel format", [](Image *i) { i->gd.psize = 3; }},
      {"no data", [](Image *i) { i->gd.data = nullptr; }},
  };
  for(const Case &c : cases)
  {
    Image image = MakeImage(GD_FORMAT_ARGB8888, 3, 2, six);
    c.spoil(&image);
    word rgn = TAP_Osd_Create(0, 0, 10, 10, 0, 0);
    TAP_Osd_Draw3dBoxFill(rgn, 0, 0, 10, 10, kFill, kFill, kFill);
    EXPECT_NE(TAP_Osd_PutGd(rgn, 1, 1, &image.gd, 0), 0) << c.what;
    EXPECT_EQ(InkOf(rgn, 10, 10, kFill).count, 0) << c.what;
    EXPECT_EQ(LastOsd().rfind("TAP_Osd_PutGd(" + std::to_string(rgn) + ", 1, 1, image, 0) -> ", 0), 0u)
        << c.what << ": " << LastOsd();
  }

  word rgn = TAP_Osd_Create(0, 0, 10, 10, 0, 0);
  EXPECT_NE(TAP_Osd_PutGd(rgn, 1, 1, nullptr, 0), 0);
  EXPECT_EQ(LastOsd(), "TAP_Osd_PutGd(" + std::to_string(rgn) + ", 1, 1, NULL, 0) -> no image");
  Image image = MakeImage(GD_FORMAT_ARGB8888, 3, 2, six);
  EXPECT_NE(TAP_Osd_PutGd(999, 1, 1, &image.gd, 0), 0);
  EXPECT_EQ(LastOsd(), "TAP_Osd_PutGd(999, 1, 1, image, 0) -> no such region");
}

TEST_F(ScreenTest, StreamCutShortAtTheEndOfMemoryIsRefusedWithoutReadingBeyond)
{
  Boot();
  long page = sysconf(_SC_PAGESIZE);
  void *map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  ASSERT_EQ(mprotect(static_cast<char *>(map) + page, page, PROT_NONE), 0);

  std::vector<uint32_t> pixels(16 * 16);
  for(size_t i = 0; i < pixels.size(); ++i) pixels[i] = 0xff000000u | static_cast<uint32_t>(i * 2654435761u);
  Image image = MakeImage(GD_FORMAT_ARGB8888, 16, 16, pixels);
  size_t half = image.stream.size() / 2;
  uint8_t *at = static_cast<uint8_t *>(map) + page - half;  // the rest would lie on the unreadable page
  std::memcpy(at, image.stream.data(), half);
  image.gd.data = at;

  word rgn = TAP_Osd_Create(0, 0, 20, 20, 0, 0);
  EXPECT_NE(TAP_Osd_PutGd(rgn, 0, 0, &image.gd, 0), 0);
  EXPECT_EQ(InkOf(rgn, 20, 20).count, 0);
  EXPECT_NE(LastOsd().find("does not end"), std::string::npos) << LastOsd();
  munmap(map, 2 * page);
}

TEST_F(ScreenTest, RegionsComposeInCreationOrderAndLeaveWhenDeleted)
{
  Boot();
  word first = TAP_Osd_Create(100, 100, 50, 50, 0, 0);
  TAP_Osd_Draw3dBoxFill(first, 0, 0, 50, 50, kRed, kRed, kRed);
  word second = TAP_Osd_Create(120, 120, 50, 50, 0, 0);
  TAP_Osd_Draw3dBoxFill(second, 0, 0, 50, 50, kBlue, kBlue, kBlue);
  word veil = TAP_Osd_Create(100, 200, 20, 20, 0, 0);
  TAP_Osd_Draw3dBoxFill(veil, 0, 0, 20, 20, 0x80ffffff, 0x80ffffff, 0x80ffffff);
  word edge = TAP_Osd_Create(700, 560, 100, 100, 0, 0);  // reaches past the screen
  TAP_Osd_Draw3dBoxFill(edge, 0, 0, 100, 100, kGreen, kGreen, kGreen);

  auto at = [&](int x, int y) { return screen().Compose()[static_cast<size_t>(y) * sim::kScreenWidth + x]; };
  struct Spot {
    int x, y;
    uint32_t expected;
  };
  auto check = [&](const char *when, std::vector<Spot> spots) {
    std::vector<uint32_t> composed = screen().Compose();
    for(const Spot &s : spots)
      EXPECT_TRUE(Near(composed[static_cast<size_t>(s.y) * sim::kScreenWidth + s.x], s.expected))
          << when << " at " << s.x << "," << s.y << ": " << std::hex << at(s.x, s.y);
    // Screenshots are composed row by row into runs: overlaps, a veil, a
    // region past the edge and the black between must come out the same.
    EXPECT_TRUE(screen().ComposeRuns() == sim::ToRuns(composed)) << when;
  };
  check("all regions", {{110, 110, kRed}, {130, 130, kBlue}, {160, 160, kBlue}, {99, 99, sim::kVideoBlack},
                        {105, 205, 0xff808080}, {719, 575, kGreen}, {699, 575, sim::kVideoBlack}});
  EXPECT_EQ(TAP_Osd_Delete(second), 0);
  check("second deleted", {{110, 110, kRed}, {130, 130, kRed}, {160, 160, sim::kVideoBlack}});
  EXPECT_EQ(TAP_Osd_Delete(first), 0);
  check("both deleted", {{110, 110, sim::kVideoBlack}, {130, 130, sim::kVideoBlack}});
  EXPECT_NE(TAP_Osd_Delete(first), 0);
  EXPECT_EQ(LastOsd(), "TAP_Osd_Delete(" + std::to_string(first) + ") -> no such region");
  EXPECT_NE(TAP_Osd_Draw3dBoxFill(first, 0, 0, 5, 5, kRed, kRed, kRed), 0);
  EXPECT_NE(TAP_Osd_PutS(first, 0, 0, 50, "x", kRed, 0, 0, 0, 0, 0), 0);
}

TEST_F(ScreenTest, SyncWritesASnapshotOnlyWhenTheScreenChanged)
{
  const std::string dir = sandbox.path() + "/shots";
  config.screenshot_dir = dir;
  sim::Receiver &r = Boot();

  struct Step {
    const char *what;
    void (*act)(sim::Receiver &, word *);
    const char *file;  // written by the Sync after the step, or null
    int x, y;          // a pixel of that snapshot
    uint32_t expected;
  } steps[] = {
      {"nothing drawn yet", [](sim::Receiver &, word *) {}, nullptr, 0, 0, 0},
      {"the message bar",
       [](sim::Receiver &, word *rgn) {
         *rgn = TAP_Osd_Create(30, 65, 660, 30, 0, 2);
         TAP_Osd_Draw3dBoxFill(*rgn, 0, 0, 660, 30, 0xff7f7f7f, 0xff7f7f7f, kFill);
       },
       "screen-2026-12-08_12-00-00.00.png", 30, 65, 0xff7f7f7f},
      {"no change", [](sim::Receiver &, word *) {}, nullptr, 0, 0, 0},
      {"time passes, no change", [](sim::Receiver &rr, word *) { rr.clock().Advance(523); }, nullptr, 0, 0, 0},
      {"a box on the bar",
       [](sim::Receiver &, word *rgn) { TAP_Osd_Draw3dBoxFill(*rgn, 10, 10, 5, 5, kRed, kRed, kRed); },
       "screen-2026-12-08_12-00-05.23.png", 42, 77, kRed},
      {"another in the same tick",
       [](sim::Receiver &, word *rgn) { TAP_Osd_Draw3dBoxFill(*rgn, 20, 10, 5, 5, kBlue, kBlue, kBlue); },
       "screen-2026-12-08_12-00-05.23-2.png", 52, 77, kBlue},
      {"the bar deleted", [](sim::Receiver &, word *rgn) { TAP_Osd_Delete(*rgn); },
       "screen-2026-12-08_12-00-05.23-3.png", 42, 77, sim::kVideoBlack},
  };
  word rgn = 0;
  std::set<std::string> expected_files;
  for(const Step &s : steps)
  {
    s.act(r, &rgn);
    TAP_Osd_Sync();
    if(s.file != nullptr) expected_files.insert(s.file);
    EXPECT_EQ(FilesIn(dir), expected_files) << s.what;
    EXPECT_EQ(LastOsd(), s.file ? std::string("TAP_Osd_Sync -> ") + s.file : "TAP_Osd_Sync") << s.what;
    if(s.file == nullptr) continue;
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    ASSERT_TRUE(ReadPng(dir + "/" + s.file, &rgb, &w, &h)) << s.what;
    EXPECT_EQ(w, sim::kScreenWidth);
    EXPECT_EQ(h, sim::kScreenHeight);
    EXPECT_EQ(PngPixel(rgb, w, s.x, s.y), s.expected) << s.what;
    EXPECT_EQ(PngPixel(rgb, w, 0, 0), sim::kVideoBlack) << s.what;
  }
}

// The snapshot writer picks palette depth and filters by the picture: every
// choice must decode to the very pixels it was given.
TEST(PngWriter, DecodesToTheSamePixels)
{
  Sandbox sandbox;
  const struct {
    const char *what;
    int width, height, colours;  // colour k at pixel i: (i * 7 + i / width) % colours
  } cases[] = {
      {"one colour, 1 bit", 720, 576, 1},    {"two colours, 1 bit", 13, 5, 2},
      {"three colours, 2 bits", 9, 4, 3},    {"five colours, 4 bits", 7, 6, 5},
      {"seventeen colours, 8 bits", 31, 9, 17}, {"256 colours, still a palette", 64, 8, 256},
      {"257 colours, RGB", 67, 9, 257},      {"one pixel wide", 1, 40, 3},
  };
  for(const auto &c : cases)
  {
    std::vector<uint32_t> pixels(static_cast<size_t>(c.width) * c.height);
    for(size_t i = 0; i < pixels.size(); ++i)
    {
      uint32_t k = static_cast<uint32_t>((i * 7 + i / c.width) % c.colours);
      // Colours differ in every channel, and alpha is never part of them.
      pixels[i] = 0xff000000u | (k * 0x010305u & 0xffffff);
    }
    // Rows equal to the one above, where the filter choice differs.
    if(c.height > 2) std::copy_n(pixels.begin(), c.width, pixels.begin() + c.width);
    std::string path = sandbox.path() + "/p.png", error;
    ASSERT_TRUE(sim::WritePng(path, pixels, c.width, c.height, &error)) << c.what << ": " << error;
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    ASSERT_TRUE(ReadPng(path, &rgb, &w, &h)) << c.what;
    ASSERT_EQ(w, c.width) << c.what;
    ASSERT_EQ(h, c.height) << c.what;
    size_t wrong = 0;
    for(int y = 0; y < h; ++y)
      for(int x = 0; x < w; ++x) wrong += PngPixel(rgb, w, x, y) != pixels[static_cast<size_t>(y) * w + x];
    EXPECT_EQ(wrong, 0u) << c.what;
  }
}

// A screen shown again is the earlier file under its own name; a screen that
// differs from it in one pixel is a picture of its own.
TEST_F(ScreenTest, AScreenShownAgainIsTheEarlierFileUnderItsOwnName)
{
  const std::string dir = sandbox.path() + "/shots";
  config.screenshot_dir = dir;
  sim::Receiver &r = Boot();
  auto bar = [](uint32_t corner) {
    word rgn = TAP_Osd_Create(30, 65, 660, 30, 0, 2);
    TAP_Osd_Draw3dBoxFill(rgn, 0, 0, 660, 30, 0xff7f7f7f, 0xff7f7f7f, kFill);
    TAP_Osd_PutS(rgn, 3, 6, 657, "NAS1 mounted", kTextColour, kFill, 0, 0, 0, 1);
    TAP_Osd_Draw3dBoxFill(rgn, 650, 20, 1, 1, corner, corner, corner);
    TAP_Osd_Sync();
    return rgn;
  };
  auto hide = [&](word rgn) {
    TAP_Osd_Delete(rgn);
    TAP_Osd_Sync();
    r.clock().Advance(100);
  };
  auto file = [&] { return dir + "/" + LastOsd().substr(std::string("TAP_Osd_Sync -> ").size()); };
  word shown = bar(kRed);
  std::string first = file();
  hide(shown);
  word again = bar(kRed);
  std::string second = file();
  hide(again);
  bar(kBlue);
  std::string third = file();
  ASSERT_EQ(FilesIn(dir).size(), 5u) << "bar, black, bar, black, bar";
  EXPECT_TRUE(fs::equivalent(first, second));
  EXPECT_FALSE(fs::equivalent(first, third));
  std::vector<uint8_t> rgb2, rgb3;
  int w = 0, h = 0;
  ASSERT_TRUE(ReadPng(second, &rgb2, &w, &h));
  ASSERT_TRUE(ReadPng(third, &rgb3, &w, &h));
  EXPECT_EQ(PngPixel(rgb2, w, 680, 85), kRed);
  EXPECT_EQ(PngPixel(rgb3, w, 680, 85), kBlue);
  std::vector<uint32_t> composed = screen().Compose();
  size_t wrong = 0;
  for(int y = 0; y < h; ++y)
    for(int x = 0; x < w; ++x) wrong += PngPixel(rgb3, w, x, y) != composed[static_cast<size_t>(y) * w + x];
  EXPECT_EQ(wrong, 0u);
}

TEST_F(ScreenTest, WithoutASnapshotFolderSyncWritesNothing)
{
  sim::Receiver &r = Boot();
  word rgn = TAP_Osd_Create(30, 65, 660, 30, 0, 2);
  TAP_Osd_Draw3dBoxFill(rgn, 0, 0, 660, 30, kRed, kRed, kRed);
  TAP_Osd_Sync();
  EXPECT_EQ(LastOsd(), "TAP_Osd_Sync");
  EXPECT_TRUE(FilesIn(r.config().root).count("screen-2026-12-08_12-00-00.00.png") == 0);
  EXPECT_TRUE(FilesIn(sandbox.path()).count("screen-2026-12-08_12-00-00.00.png") == 0);
}

// The plug-in's message bar, drawn with the very calls it makes; the snapshot
// goes to $BRIMVALE_SNAPSHOT_DIR when set, for a person to look at.
TEST_F(ScreenTest, MessageBarShowsTheLongestMessagesInFull)
{
  const char *env = getenv("BRIMVALE_SNAPSHOT_DIR");
  config.screenshot_dir = env != nullptr && *env != '\0' ? env : sandbox.path() + "/shots";
  Boot();
  const char *messages[] = {
      "Rechte f\xfcr busybox konnten nicht gesetzt werden - TAP wird beendet!",
      "Server-IP und/oder lokaler Ordnername fehlen - TAP wird beendet!",
      "Server-IP and/or local folder name missing - TAP will be terminated!",
      "Can't set the rights for busybox - TAP will be terminated!",
      "Prozesslistendatei konnten nicht gelesen werden",
  };
  for(const char *text : messages)
  {
    word rgn = TAP_Osd_Create(30, 65, 660, 30, 0, 2);
    TAP_Osd_Draw3dBoxFill(rgn, 0, 0, 660, 30, 0xff7f7f7f, 0xff7f7f7f, kFill);
    TAP_Osd_PutS(rgn, 3, 6, 657, text, kTextColour, kFill, 0, 0, 0, 1);
    TAP_Osd_Sync();
    int w = TAP_Osd_GetW(text, 0, 0);
    EXPECT_LE(w, 657 - 3) << text << ": fits the bar";
    // Text pixels are those neither fill nor edge colour.
    Ink ink;
    ink.rows.assign(30, std::vector<bool>(660, false));
    for(int y = 0; y < 30; ++y)
      for(int x = 0; x < 660; ++x)
      {
        uint32_t p = screen().RegionPixel(rgn, x, y);
        if(p == kFill || p == 0xff7f7f7f) continue;
        ink.left = std::min(ink.left, x);
        ink.right = std::max(ink.right, x);
        ink.top = std::min(ink.top, y);
        ink.bottom = std::max(ink.bottom, y);
      }
    EXPECT_GE(ink.top, 6) << text;
    EXPECT_LT(ink.bottom, 28) << text << ": clear of the bottom edge";
    // Centred: the free space splits evenly, give or take the side bearings.
    EXPECT_NEAR(ink.left - 3, 657 - 1 - ink.right, 3) << text;
    receiver->clock().Advance(100);
    TAP_Osd_Delete(rgn);
  }
}

}  // namespace
