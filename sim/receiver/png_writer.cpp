// The PNG writer of the screen snapshots. OSD frames are flat: a handful of
// colours (the anti-aliased text adds a few dozen), long runs, many rows like
// the one above. So a palette of the fewest bits that holds them, a row equal
// to the one above sent as zeros (filter Up), and zlib's run-length strategy,
// which finds exactly those repeats at a fraction of the default search's cost.
#include "png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace sim {

namespace {

// PNG filter types of a scanline.
constexpr uint8_t kFilterNone = 0;
constexpr uint8_t kFilterUp = 2;
// PNG colour types.
constexpr char kColourRgb = 2;
constexpr char kColourPalette = 3;
constexpr size_t kMaxPaletteColours = 256;

// The picture's colours (RGB) in the order they first appear, each with its
// palette index; empty when there are too many for a palette.
struct Palette {
  std::vector<uint32_t> colours;
  std::unordered_map<uint32_t, uint8_t> index;
};

// How the samples of a row are laid out.
struct Layout {
  bool indexed = false;
  int depth = 8;          // bits per sample
  int per_byte = 1;       // samples in a byte, when indexed
  int per_byte_log2 = 0;
  size_t row_bytes = 0;   // without the filter byte
};

void PutBigEndian32(std::string *out, uint32_t v)
{
  const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                         static_cast<char>(v)};
  out->append(bytes, 4);
}

void PutChunk(std::string *png, const char type[4], const std::string &data)
{
  PutBigEndian32(png, static_cast<uint32_t>(data.size()));
  size_t at = png->size();
  png->append(type, 4);
  png->append(data);
  uLong crc = crc32(0, reinterpret_cast<const Bytef *>(png->data() + at), static_cast<uInt>(png->size() - at));
  PutBigEndian32(png, static_cast<uint32_t>(crc));
}

Palette PaletteOf(const PixelRuns &runs)
{
  Palette palette;
  for(const PixelRun &r : runs)
  {
    uint32_t rgb = r.colour & 0xffffff;
    if(palette.index.count(rgb) != 0) continue;
    if(palette.colours.size() == kMaxPaletteColours)
    {
      palette.colours.clear();
      break;
    }
    palette.index.emplace(rgb, static_cast<uint8_t>(palette.colours.size()));
    palette.colours.push_back(rgb);
  }
  return palette;
}

Layout LayoutOf(const Palette &palette, int width)
{
  Layout l;
  size_t colours = palette.colours.size();
  l.indexed = colours != 0;
  l.depth = !l.indexed ? 8 : colours <= 2 ? 1 : colours <= 4 ? 2 : colours <= 16 ? 4 : 8;
  l.per_byte = 8 / l.depth;
  l.per_byte_log2 = l.depth == 1 ? 3 : l.depth == 2 ? 2 : l.depth == 4 ? 1 : 0;
  l.row_bytes = l.indexed ? (static_cast<size_t>(width) + l.per_byte - 1) / l.per_byte : static_cast<size_t>(width) * 3;
  return l;
}

// Walks a picture's runs pixel after pixel, across the rows.
class RunReader {
 public:
  explicit RunReader(const PixelRuns &runs) : runs_(runs), left_(runs.empty() ? 0 : runs[0].length) {}

  // The colour of the next pixels and in `n` how many of them, at most
  // `most`, have it; moves past them.
  uint32_t Take(int most, int *n)
  {
    while(left_ == 0) left_ = runs_[++run_].length;
    *n = static_cast<int>(std::min<uint64_t>(left_, static_cast<uint64_t>(most)));
    left_ -= static_cast<uint32_t>(*n);
    return runs_[run_].colour;
  }

 private:
  const PixelRuns &runs_;
  size_t run_ = 0;
  uint32_t left_;
};

// The palette indices of a row, `depth` bits each, into the zeroed `row`.
void PackIndices(const std::vector<uint8_t> &indices, const Layout &l, int width, std::vector<uint8_t> *row)
{
  if(l.depth == 8)
  {
    std::memcpy(row->data(), indices.data(), l.row_bytes);
    return;
  }
  for(int x = 0; x < width; ++x)
    (*row)[static_cast<size_t>(x >> l.per_byte_log2)] |=
        static_cast<uint8_t>(indices[static_cast<size_t>(x)] << (8 - l.depth * ((x & (l.per_byte - 1)) + 1)));
}

// The next row of the picture as PNG samples, into the zeroed `row`;
// `indices` is room for a row of palette indices.
void ReadRow(RunReader *reader, const Palette &palette, const Layout &l, int width, std::vector<uint8_t> *indices,
             std::vector<uint8_t> *row)
{
  for(int x = 0; x < width;)
  {
    int n = 0;
    uint32_t colour = reader->Take(width - x, &n);
    if(l.indexed)
      std::memset(&(*indices)[static_cast<size_t>(x)], palette.index.at(colour & 0xffffff), static_cast<size_t>(n));
    else
      for(int k = 0; k < n; ++k)
      {
        uint8_t *at = &(*row)[static_cast<size_t>(x + k) * 3];
        at[0] = static_cast<uint8_t>(colour >> 16);
        at[1] = static_cast<uint8_t>(colour >> 8);
        at[2] = static_cast<uint8_t>(colour);
      }
    x += n;
  }
  if(l.indexed) PackIndices(*indices, l, width, row);
}

// The scanlines, each after its filter byte, into `raw`.
void Scanlines(const PixelRuns &runs, const Palette &palette, const Layout &l, int width, int height,
               std::vector<uint8_t> *raw)
{
  raw->assign(static_cast<size_t>(height) * (l.row_bytes + 1), 0);
  std::vector<uint8_t> indices(static_cast<size_t>(width));
  std::vector<uint8_t> previous(l.row_bytes), current(l.row_bytes);
  RunReader reader(runs);
  for(int y = 0; y < height; ++y)
  {
    std::fill(current.begin(), current.end(), 0);
    ReadRow(&reader, palette, l, width, &indices, &current);
    uint8_t *out = &(*raw)[static_cast<size_t>(y) * (l.row_bytes + 1)];
    bool same = y > 0 && current == previous;
    out[0] = same ? kFilterUp : kFilterNone;
    if(!same) std::memcpy(out + 1, current.data(), l.row_bytes);  // Up of an equal row is all zeros
    std::swap(previous, current);
  }
}

bool Compress(const std::vector<uint8_t> &raw, std::string *idat, std::string *error)
{
  z_stream zs{};
  if(deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, 15, 9, Z_RLE) != Z_OK)
  {
    *error = "zlib cannot start";
    return false;
  }
  idat->resize(deflateBound(&zs, static_cast<uLong>(raw.size())));
  zs.next_in = const_cast<Bytef *>(raw.data());
  zs.avail_in = static_cast<uInt>(raw.size());
  zs.next_out = reinterpret_cast<Bytef *>(idat->data());
  zs.avail_out = static_cast<uInt>(idat->size());
  int rc = deflate(&zs, Z_FINISH);
  idat->resize(zs.total_out);
  deflateEnd(&zs);
  if(rc != Z_STREAM_END)
  {
    *error = "zlib cannot compress the picture";
    return false;
  }
  return true;
}

// The whole file: signature, header, palette, the compressed scanlines.
std::string PngFile(int width, int height, const Palette &palette, const Layout &l, const std::string &idat)
{
  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  PutBigEndian32(&header, static_cast<uint32_t>(width));
  PutBigEndian32(&header, static_cast<uint32_t>(height));
  header += static_cast<char>(l.depth);
  header += l.indexed ? kColourPalette : kColourRgb;
  header.append(3, '\0');  // deflate, adaptive filtering, not interlaced
  PutChunk(&png, "IHDR", header);
  if(l.indexed)
  {
    std::string plte;
    for(uint32_t rgb : palette.colours)
    {
      plte += static_cast<char>(rgb >> 16);
      plte += static_cast<char>(rgb >> 8);
      plte += static_cast<char>(rgb);
    }
    PutChunk(&png, "PLTE", plte);
  }
  PutChunk(&png, "IDAT", idat);
  PutChunk(&png, "IEND", std::string());
  return png;
}

bool WriteFile(const std::string &path, const std::string &bytes, std::string *error)
{
  std::FILE *file = std::fopen(path.c_str(), "wb");
  bool ok = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if(file != nullptr && std::fclose(file) != 0) ok = false;
  if(!ok)
  {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

PixelRuns ToRuns(const std::vector<uint32_t> &pixels)
{
  PixelRuns runs;
  for(size_t i = 0; i < pixels.size();)
  {
    size_t j = i + 1;
    while(j < pixels.size() && pixels[j] == pixels[i]) ++j;
    runs.push_back(PixelRun{pixels[i], static_cast<uint32_t>(j - i)});
    i = j;
  }
  return runs;
}

bool WritePngRuns(const std::string &path, const PixelRuns &runs, int width, int height, std::string *error)
{
  uint64_t total = 0;
  for(const PixelRun &r : runs) total += r.length;
  if(width <= 0 || height <= 0 || total != uint64_t(width) * uint64_t(height))
  {
    *error = "no picture";
    return false;
  }
  Palette palette = PaletteOf(runs);
  Layout layout = LayoutOf(palette, width);
  // The large buffers are kept from one picture to the next: fresh ones cost
  // a page fault per 4 KB.
  thread_local std::vector<uint8_t> raw;
  thread_local std::string idat;
  Scanlines(runs, palette, layout, width, height, &raw);
  if(!Compress(raw, &idat, error)) return false;
  return WriteFile(path, PngFile(width, height, palette, layout, idat), error);
}

bool WritePng(const std::string &path, const std::vector<uint32_t> &pixels, int width, int height,
              std::string *error)
{
  if(width <= 0 || height <= 0 || pixels.size() != static_cast<size_t>(width) * height)
  {
    *error = "no picture";
    return false;
  }
  return WritePngRuns(path, ToRuns(pixels), width, height, error);
}

}  // namespace sim
