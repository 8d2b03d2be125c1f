#include "screen.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <unordered_map>

namespace sim {

namespace {

// The receiver draws 3D boxes with edges this wide, 1 pixel on tiny boxes.
constexpr int64_t kBoxEdge = 2;
// The largest image the host accepts: one full screen of 4-byte pixels.
constexpr uint64_t kMaxImageBytes = uint64_t{kScreenWidth} * kScreenHeight * 4;

uint32_t Scale255(uint32_t value, uint32_t factor) { return (value * factor + 127) / 255; }

// `src` at `coverage` (0..255) laid over `dst`; both non-premultiplied ARGB.
uint32_t Over(uint32_t dst, uint32_t src, uint32_t coverage)
{
  uint32_t sa = Scale255(src >> 24, coverage);
  if(sa == 0) return dst;
  if(sa == 255) return src | 0xff000000u;
  uint32_t da = dst >> 24;
  uint32_t weight_dst = da * (255 - sa);          // scaled by 255
  uint32_t out_alpha = sa * 255 + weight_dst;     // scaled by 255
  uint32_t result = ((out_alpha + 127) / 255) << 24;
  for(int shift = 0; shift <= 16; shift += 8)
  {
    uint32_t s = (src >> shift) & 0xff, d = (dst >> shift) & 0xff;
    uint32_t c = (s * sa * 255 + d * weight_dst + out_alpha / 2) / out_alpha;
    result |= std::min<uint32_t>(c, 255) << shift;
  }
  return result;
}

uint32_t Expand5(uint32_t v) { return (v << 3) | (v >> 2); }

// Host pixel formats, little-endian words.
uint32_t PixelArgb8888(const uint8_t *p)
{
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t PixelArgb1555(const uint8_t *p)
{
  uint32_t v = uint32_t{p[0]} | uint32_t{p[1]} << 8;
  uint32_t alpha = (v & 0x8000) != 0 ? 0xff : 0;
  return alpha << 24 | Expand5((v >> 10) & 0x1f) << 16 | Expand5((v >> 5) & 0x1f) << 8 | Expand5(v & 0x1f);
}

// Bytes readable from `address` to the end of the memory mapping holding it;
// 0 when no readable mapping holds it. The descriptor gives no length of the
// compressed data, so this is the hard limit for reading a stream.
uint64_t ReadableFrom(const void *address)
{
  std::ifstream maps("/proc/self/maps");
  uint64_t at = reinterpret_cast<uintptr_t>(address);
  std::string line;
  while(std::getline(maps, line))
  {
    uint64_t start = 0, end = 0;
    char perms[8] = {};
    if(std::sscanf(line.c_str(), "%" SCNx64 "-%" SCNx64 " %7s", &start, &end, perms) != 3) continue;
    if(at >= start && at < end) return perms[0] == 'r' ? end - at : 0;
  }
  return 0;
}

// Inflates a zlib stream into exactly `out->size()` bytes. Input is handed
// to zlib one byte at a time, so nothing after the stream's last byte is
// ever read, and never more than `limit` bytes.
bool Inflate(const uint8_t *data, uint64_t limit, std::vector<uint8_t> *out, std::string *error)
{
  z_stream zs{};
  if(inflateInit(&zs) != Z_OK)
  {
    *error = "zlib cannot start";
    return false;
  }
  zs.next_out = out->data();
  zs.avail_out = static_cast<uInt>(out->size());
  uint64_t used = 0;
  int rc = Z_OK;
  while(rc == Z_OK && used < limit)
  {
    zs.next_in = const_cast<Bytef *>(data + used);
    zs.avail_in = 1;
    rc = inflate(&zs, Z_NO_FLUSH);
    used += 1 - zs.avail_in;
  }
  uint64_t produced = zs.total_out;
  const char *message = zs.msg;
  std::string why = rc == Z_DATA_ERROR ? std::string("bad stream: ") + (message ? message : "corrupt data")
                    : rc == Z_NEED_DICT ? "bad stream: wants a dictionary"
                    : rc == Z_MEM_ERROR ? "out of memory"
                    : "";
  inflateEnd(&zs);
  if(!why.empty())
  {
    *error = why;
    return false;
  }
  if(rc != Z_STREAM_END)
  {
    *error = zs.avail_out == 0 ? "stream holds more than " + std::to_string(out->size()) + " bytes"
                               : "stream does not end within " + std::to_string(limit) + " readable bytes";
    return false;
  }
  if(produced != out->size())
  {
    *error = "stream holds " + std::to_string(produced) + " bytes, not " + std::to_string(out->size());
    return false;
  }
  return true;
}

}  // namespace

// ---- regions ----

struct Screen::Plane {
  OsdRegion region;
  // Only the part of the region that lies on the screen has pixels: nothing
  // drawn beyond the screen's edge can ever be seen.
  int64_t w = 0, h = 0;
  std::vector<uint32_t> pixels;

  explicit Plane(const OsdRegion &r) : region(r)
  {
    w = std::clamp<int64_t>(int64_t{kScreenWidth} - r.x, 0, r.w);
    h = std::clamp<int64_t>(int64_t{kScreenHeight} - r.y, 0, r.h);
    pixels.assign(static_cast<size_t>(w * h), kTransparent);
  }
  uint32_t &At(int64_t x, int64_t y) { return pixels[static_cast<size_t>(y * w + x)]; }
  // Copies `color` into the rectangle [x0, x1) x [y0, y1), clipped.
  void Fill(int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t color)
  {
    x0 = std::max<int64_t>(x0, 0);
    y0 = std::max<int64_t>(y0, 0);
    x1 = std::min(x1, w);
    y1 = std::min(y1, h);
    for(int64_t y = y0; y < y1; ++y)
      for(int64_t x = x0; x < x1; ++x) At(x, y) = color;
  }
};

uint16_t Screen::Create(const OsdRegion &region)
{
  uint16_t rgn = next_++;
  regions_[rgn] = std::make_unique<Plane>(region);
  drawn_ = true;
  return rgn;
}

bool Screen::Delete(uint16_t rgn)
{
  drawn_ = true;
  return regions_.erase(rgn) != 0;
}

std::map<uint16_t, OsdRegion> Screen::regions() const
{
  std::map<uint16_t, OsdRegion> out;
  for(const auto &r : regions_) out[r.first] = r.second->region;
  return out;
}

Screen::Plane *Screen::Find(uint16_t rgn, std::string *error)
{
  // Every drawing call finds its plane first.
  drawn_ = true;
  auto it = regions_.find(rgn);
  if(it != regions_.end()) return it->second.get();
  *error = "no such region";
  return nullptr;
}

uint32_t Screen::RegionPixel(uint16_t rgn, int x, int y) const
{
  auto it = regions_.find(rgn);
  if(it == regions_.end()) return kTransparent;
  Plane &p = *it->second;
  return x >= 0 && y >= 0 && x < p.w && y < p.h ? p.At(x, y) : kTransparent;
}

bool Screen::Draw3dBoxFill(uint16_t rgn, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t c1, uint32_t c2,
                           uint32_t fc, std::string *error)
{
  Plane *p = Find(rgn, error);
  if(p == nullptr) return false;
  if(w <= 0 || h <= 0) return true;
  int64_t edge = w > 2 * kBoxEdge && h > 2 * kBoxEdge ? kBoxEdge : 1;
  p->Fill(x, y, x + w, y + h, fc);
  // Lit from the top left: c1 there, c2 on the shadowed bottom and right
  // edges, which own the two corners where they meet.
  p->Fill(x, y, x + w, y + edge, c1);
  p->Fill(x, y, x + edge, y + h, c1);
  p->Fill(x, y + h - edge, x + w, y + h, c2);
  p->Fill(x + w - edge, y, x + w, y + h, c2);
  return true;
}

// ---- text ----

struct Screen::Font {
  struct Glyph {
    int left = 0, top = 0, width = 0, rows = 0, advance = 0;
    std::vector<uint8_t> coverage;
  };
  struct Size {
    FT_UInt pixels = 0;  // em size
    int ascent = 0;      // baseline below the top of the text cell
  };

  FT_Library library = nullptr;
  FT_Face face = nullptr;
  std::string error;
  Size sizes[std::size(kFontCellHeights)];
  int selected = -1;
  std::map<std::pair<int, uint32_t>, Glyph> glyphs;

  Font()
  {
    if(FT_Init_FreeType(&library) != 0)
    {
      library = nullptr;
      error = "FreeType cannot start";
      return;
    }
    if(FT_New_Face(library, kFontFile, 0, &face) != 0 || !FT_IS_SCALABLE(face))
    {
      face = nullptr;
      error = std::string("cannot load the font ") + kFontFile;
      return;
    }
    // Pick each em size so that ascender plus descender fill the text cell.
    FT_Long extent = face->ascender - face->descender;
    for(size_t i = 0; i < std::size(kFontCellHeights); ++i)
    {
      Size &s = sizes[i];
      s.pixels = static_cast<FT_UInt>(kFontCellHeights[i] * face->units_per_EM / extent);
      s.ascent = static_cast<int>((face->ascender * static_cast<FT_Long>(s.pixels) + face->units_per_EM - 1) /
                                  face->units_per_EM);
    }
  }
  ~Font()
  {
    if(face != nullptr) FT_Done_Face(face);
    if(library != nullptr) FT_Done_FreeType(library);
  }
  Font(const Font &) = delete;
  Font &operator=(const Font &) = delete;

  bool ok() const { return face != nullptr; }
  static int SizeIndex(int fntSize)
  {
    return fntSize >= 0 && static_cast<size_t>(fntSize) < std::size(kFontCellHeights) ? fntSize : 0;
  }

  // The glyph of a code point at a size; a missing one draws the font's
  // replacement box, as the firmware draws something for every byte.
  const Glyph &Get(int size, uint32_t code)
  {
    auto key = std::make_pair(size, code);
    auto it = glyphs.find(key);
    if(it != glyphs.end()) return it->second;
    Glyph &g = glyphs[key];
    if(selected != size && FT_Set_Pixel_Sizes(face, 0, sizes[size].pixels) == 0) selected = size;
    if(selected != size || FT_Load_Char(face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) != 0) return g;
    FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap &bm = slot->bitmap;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if(bm.pixel_mode != FT_PIXEL_MODE_GRAY) return g;
    g.width = static_cast<int>(bm.width);
    g.rows = static_cast<int>(bm.rows);
    g.coverage.resize(static_cast<size_t>(g.width) * g.rows);
    for(int row = 0; row < g.rows; ++row)
    {
      const uint8_t *src = bm.buffer + static_cast<ptrdiff_t>(row) * bm.pitch;
      std::memcpy(&g.coverage[static_cast<size_t>(row) * g.width], src, static_cast<size_t>(g.width));
    }
    return g;
  }
};

// Defined here, where the font's type is complete.
Screen::Screen() = default;
Screen::~Screen() = default;

// The text's bytes are ISO 8859-1: each byte is the Unicode code point of
// the same number.
int Screen::TextWidth(const char *text, int fntSize)
{
  if(!font_) font_ = std::make_unique<Font>();
  if(text == nullptr || !font_->ok()) return 0;
  int size = Font::SizeIndex(fntSize);
  int width = 0;
  for(const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c != 0; ++c)
    width += font_->Get(size, *c).advance;
  return width;
}

bool Screen::PutS(uint16_t rgn, int64_t x, int64_t y, int64_t maxX, const char *text, uint32_t fcolor,
                  uint32_t bcolor, int fntSize, int align, std::string *error)
{
  Plane *p = Find(rgn, error);
  if(p == nullptr) return false;
  if(text == nullptr)
  {
    *error = "no text";
    return false;
  }
  int width = TextWidth(text, fntSize);
  if(!font_->ok())
  {
    *error = font_->error;
    return false;
  }
  int size = Font::SizeIndex(fntSize);
  int64_t field = maxX - x;
  if(field <= 0) return true;

  if((bcolor >> 24) != 0) p->Fill(x, y, maxX, y + kFontCellHeights[size], bcolor);

  // A text wider than its field starts at x whatever the alignment, so that
  // its beginning stays readable; the end is cut at maxX.
  int64_t pen = x;
  if(width < field && align == kAlignCentre) pen = x + (field - width) / 2;
  if(width < field && align == kAlignRight) pen = maxX - width;

  int64_t clip_left = std::max<int64_t>(x, 0), clip_right = std::min(maxX, p->w);
  int64_t baseline = y + font_->sizes[size].ascent;
  for(const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c != 0 && pen < clip_right; ++c)
  {
    const Font::Glyph &g = font_->Get(size, *c);
    for(int row = 0; row < g.rows; ++row)
    {
      int64_t py = baseline - g.top + row;
      if(py < 0 || py >= p->h) continue;
      for(int col = 0; col < g.width; ++col)
      {
        int64_t px = pen + g.left + col;
        uint8_t coverage = g.coverage[static_cast<size_t>(row) * g.width + col];
        if(coverage == 0 || px < clip_left || px >= clip_right) continue;
        p->At(px, py) = Over(p->At(px, py), fcolor, coverage);
      }
    }
    pen += g.advance;
  }
  return true;
}

// ---- images ----

bool Screen::PutGd(uint16_t rgn, int64_t x, int64_t y, const TYPE_GrData *gd, bool sprite, std::string *error)
{
  Plane *p = Find(rgn, error);
  if(p == nullptr) return false;
  if(gd == nullptr || gd->data == nullptr)
  {
    *error = "no image";
    return false;
  }
  if(gd->compression != GD_COMPRESSION_HOST)
  {
    *error = "unknown compression " + std::to_string(gd->compression);
    return false;
  }
  if(gd->psize != GD_FORMAT_ARGB8888 && gd->psize != GD_FORMAT_ARGB1555)
  {
    *error = "unknown pixel format " + std::to_string(gd->psize);
    return false;
  }
  uint64_t bpp = gd->psize == GD_FORMAT_ARGB8888 ? 4 : 2;
  uint64_t bytes = uint64_t{gd->width} * gd->height * bpp;
  if(bytes != gd->dataSize)
  {
    *error = "size " + std::to_string(gd->dataSize) + " is not " + std::to_string(gd->width) + " x " +
             std::to_string(gd->height) + " x " + std::to_string(bpp);
    return false;
  }
  if(bytes > kMaxImageBytes)
  {
    *error = "image larger than the screen";
    return false;
  }
  // No conforming compressor makes a stream longer than zlib's bound for the
  // pixel bytes; a longer one is garbage, and memory past the mapping is
  // never touched.
  uint64_t limit = std::min<uint64_t>(compressBound(static_cast<uLong>(bytes)), ReadableFrom(gd->data));
  std::vector<uint8_t> raw(static_cast<size_t>(bytes));
  if(!Inflate(gd->data, limit, &raw, error)) return false;

  for(int64_t row = 0; row < gd->height; ++row)
  {
    int64_t py = y + row;
    if(py < 0 || py >= p->h) continue;
    for(int64_t col = 0; col < gd->width; ++col)
    {
      int64_t px = x + col;
      if(px < 0 || px >= p->w) continue;
      const uint8_t *at = &raw[static_cast<size_t>((row * gd->width + col) * static_cast<int64_t>(bpp))];
      uint32_t pixel = bpp == 4 ? PixelArgb8888(at) : PixelArgb1555(at);
      p->At(px, py) = sprite ? Over(p->At(px, py), pixel, 255) : pixel;
    }
  }
  return true;
}

// ---- the visible screen ----

std::vector<uint32_t> Screen::Compose() const
{
  std::vector<uint32_t> screen(static_cast<size_t>(kScreenWidth) * kScreenHeight, kVideoBlack);
  for(const auto &entry : regions_)  // region numbers grow with creation
  {
    const Plane &p = *entry.second;
    for(int64_t y = 0; y < p.h; ++y)
      for(int64_t x = 0; x < p.w; ++x)
      {
        uint32_t &dst = screen[static_cast<size_t>((p.region.y + y) * kScreenWidth + p.region.x + x)];
        dst = Over(dst, p.pixels[static_cast<size_t>(y * p.w + x)], 255);
      }
  }
  return screen;
}

PixelRuns Screen::ComposeRuns() const
{
  // Row by row: a row no region covers is video black and joins the run
  // before it; a covered row is composed alone. The same runs as
  // ToRuns(Compose()), without a screen of pixels.
  PixelRuns runs;
  auto add = [&runs](uint32_t colour, uint32_t length) {
    if(!runs.empty() && runs.back().colour == colour)
      runs.back().length += length;
    else
      runs.push_back(PixelRun{colour, length});
  };
  std::vector<uint32_t> row(static_cast<size_t>(kScreenWidth));
  for(int64_t y = 0; y < kScreenHeight; ++y)
  {
    bool covered = false;
    for(const auto &entry : regions_)
    {
      const Plane &p = *entry.second;
      if(p.w > 0 && y >= static_cast<int64_t>(p.region.y) && y < static_cast<int64_t>(p.region.y) + p.h)
      {
        if(!covered) std::fill(row.begin(), row.end(), kVideoBlack);
        covered = true;
        const uint32_t *src = &p.pixels[static_cast<size_t>((y - p.region.y) * p.w)];
        uint32_t *dst = &row[static_cast<size_t>(p.region.x)];
        for(int64_t x = 0; x < p.w; ++x) dst[x] = Over(dst[x], src[x], 255);
      }
    }
    if(!covered)
    {
      add(kVideoBlack, kScreenWidth);
      continue;
    }
    for(size_t i = 0; i < row.size();)
    {
      size_t j = i + 1;
      while(j < row.size() && row[j] == row[i]) ++j;
      add(row[i], static_cast<uint32_t>(j - i));
      i = j;
    }
  }
  return runs;
}

bool Screen::Snapshot(const std::string &dir, const std::string &stamp, std::string *written, std::string *error)
{
  written->clear();
  // The plug-in syncs after every message and icon; composing and comparing
  // the whole screen each time costs more than the rest of a tick.
  if(!drawn_) return true;
  // Compared as runs: a few thousand of them instead of 400,000 pixels.
  PixelRuns runs = ComposeRuns();
  bool unchanged = last_snapshot_.empty()
                       ? runs.size() == 1 && runs[0].colour == kVideoBlack
                       : runs == last_snapshot_;
  if(unchanged)
  {
    drawn_ = false;
    return true;
  }

  int count = stamp == last_stamp_ ? stamp_count_ + 1 : 1;
  std::string name = "screen-" + stamp + (count > 1 ? "-" + std::to_string(count) : "") + ".png";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::string path = dir + "/" + name;
  // The message bar comes and goes with the same few texts, and between
  // them the screen is black again: most frames of a day were written
  // before. Those become another name for the earlier file; a frame is
  // encoded only the first time it is seen.
  std::string_view bytes(reinterpret_cast<const char *>(runs.data()), runs.size() * sizeof(PixelRun));
  uint64_t key = std::hash<std::string_view>{}(bytes);
  bool linked = false;
  auto [first, last] = written_frames_.equal_range(key);
  for(auto it = first; it != last && !linked; ++it)
    if(it->second.runs == runs)
      linked = ::link((dir + "/" + it->second.name).c_str(), path.c_str()) == 0 ||
               std::filesystem::copy_file(dir + "/" + it->second.name, path, ec);
  if(!linked)
  {
    if(!WritePngRuns(path, runs, kScreenWidth, kScreenHeight, error)) return false;
    // Bounded: a long run with many distinct frames forgets the old ones
    // and encodes them again should they come back.
    remembered_bytes_ += bytes.size();
    if(remembered_bytes_ > kRememberedFrameBytes)
    {
      written_frames_.clear();
      remembered_bytes_ = bytes.size();
    }
    written_frames_.emplace(key, WrittenFrame{runs, name});
  }
  last_snapshot_ = std::move(runs);
  last_stamp_ = stamp;
  stamp_count_ = count;
  drawn_ = false;
  *written = name;
  return true;
}

bool Screen::SystemOsdShown(int id) const
{
  auto it = system_osd_.find(id);
  return it == system_osd_.end() || it->second;
}

}  // namespace sim
