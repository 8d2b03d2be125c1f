// StrToUTF8 against glibc's iconv, one benchmark per character table: a
// phrase of the table's language, repeated to 4 KiB, converted by both in
// turn within every iteration, so that a busy machine slows both alike.
// Time and bytes_per_second are StrToUTF8's means. A conversion takes
// microseconds, so on a shared machine a few iterations that lost the CPU
// weigh heavily in a mean: the counters take the median iteration of each,
// MB/s and iconv_MB/s, and StrToUTF8's speed as a multiple of iconv's,
// x_iconv (below 1: slower than iconv); x_iconv_best compares the fastest
// iteration of each. same_output = 1 when both gave the same bytes.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "lib/text/text.h"

// The library's log is not part of the conversion measured here.
void LogEntryLibPrintf(int, const char *, ...) {}

namespace {

constexpr size_t kTextBytes = 4096;

struct Table {
  dword number;         // StrToUTF8's table number
  const char *charset;  // iconv's name of the same set
  const char *phrase;   // in UTF-8; iconv writes it in the table's code page
};

// The phrases avoid the bytes where a table and iconv differ (8859-7 of 1987,
// the broadcast variant of 6937), and a run of high bytes that happens to
// form a UTF-8 character: StrToUTF8 passes that on unchanged, iconv not
// (checked below). Table 0 is 6937 with its diacritics composed.
const Table kTables[] = {
  {1, "ISO-8859-1", "Größe Übergänge Straße "},
  {2, "ISO-8859-2", "Zażółć gęślą jaźń "},
  {3, "ISO-8859-3", "Ċensiment ta' ħajja ġdida żgħira "},
  {4, "ISO-8859-4", "Ūdens ķēniņš ģimene ļoti "},
  {5, "ISO-8859-5", "Привет мир "},
  {6, "ISO-8859-6", "مرحبا بالعالم "},
  {7, "ISO-8859-7", "Καλημέρα κόσμε "},
  {8, "ISO-8859-8", "שלום עולם "},
  {9, "ISO-8859-9", "Günaydın İstanbul şehri "},
  {10, "ISO-8859-10", "Davvisámegiella: čállit đ ŋ ŧ "},
  {11, "ISO-8859-11", "ภาษาไทย ยามเย็น ฝนตก "},
  {13, "ISO-8859-13", "Ačiū, labas rytas, žąsis "},
  {14, "ISO-8859-14", "Mae'r ŵyn yn y cae, tŷ bach "},
  {15, "ISO-8859-15", "Cœur d'été, 5 € "},
  {16, "ISO-8859-16", "Bună ziua, țară și școală "},
  {0, "ISO_6937", "Größe Übergänge Straße, déjà vu "},
};

// One whole conversion by iconv: the bytes it wrote. An empty result when it
// stopped early.
std::string Iconv(iconv_t cd, const std::string &in, std::vector<char> &out)
{
  char *i = const_cast<char *>(in.data());
  size_t inLeft = in.size(), outLeft = out.size();
  char *o = out.data();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if(iconv(cd, &i, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) return std::string();
  return std::string(out.data(), static_cast<size_t>(o - out.data()));
}

// The phrase in the table's code page, repeated to kTextBytes; empty when
// iconv cannot write it or a high byte would start a UTF-8 character.
std::string Text(const Table &table)
{
  iconv_t cd = iconv_open(table.charset, "UTF-8");
  if(cd == reinterpret_cast<iconv_t>(-1)) return std::string();
  std::string phrase(table.phrase);
  std::vector<char> out(phrase.size() * 4);
  std::string part = Iconv(cd, phrase, out);
  iconv_close(cd);
  if(part.empty()) return std::string();
  std::string text;
  while(text.size() + part.size() < kTextBytes) text += part;
  std::string padded = text + std::string(4, '\0');
  for(size_t k = 0; k < text.size(); k++)
  {
    byte n = 0;
    if(isUTF8Char(reinterpret_cast<const byte *>(padded.data() + k), &n)) return std::string();
  }
  return text;
}

double Seconds(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to)
{
  return std::chrono::duration<double>(to - from).count();
}

double Median(std::vector<double> &samples)
{
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

void BM_StrToUTF8VsIconv(benchmark::State &state, const Table &table)
{
  std::string text = Text(table);
  iconv_t cd = iconv_open("UTF-8", table.charset);
  if(text.empty() || cd == reinterpret_cast<iconv_t>(-1))
  {
    state.SkipWithError("no usable text in this code page (iconv lacks it, or it holds UTF-8 by chance)");
    if(cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    return;
  }
  std::vector<byte> dest(text.size() * 3 + 1);
  std::vector<char> out(text.size() * 3 + 1);
  const byte *source = reinterpret_cast<const byte *>(text.c_str());
  std::vector<double> ours, theirs;
  bool oursFirst = true;
  for(auto _ : state)
  {
    // Each goes first every other time: neither always finds the text in
    // the cache the other left.
    double mine = 0, iconvs = 0;
    for(int turn = 0; turn < 2; turn++)
    {
      auto start = std::chrono::steady_clock::now();
      if(oursFirst == (turn == 0))
      {
        StrToUTF8(source, dest.data(), table.number);
        benchmark::DoNotOptimize(dest.data());
        mine = Seconds(start, std::chrono::steady_clock::now());
      }
      else
      {
        char *in = const_cast<char *>(text.data());
        size_t inLeft = text.size(), outLeft = out.size();
        char *o = out.data();
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        iconv(cd, &in, &inLeft, &o, &outLeft);
        benchmark::DoNotOptimize(o);
        iconvs = Seconds(start, std::chrono::steady_clock::now());
      }
    }
    oursFirst = !oursFirst;
    state.SetIterationTime(mine);
    ours.push_back(mine);
    theirs.push_back(iconvs);
  }
  std::string reference = Iconv(cd, text, out);
  iconv_close(cd);
  StrToUTF8(source, dest.data(), table.number);
  state.counters["same_output"] = reference == reinterpret_cast<const char *>(dest.data()) ? 1 : 0;
  double oursMedian = Median(ours), theirsMedian = Median(theirs);
  state.counters["MB/s"] = text.size() / oursMedian / 1e6;
  state.counters["iconv_MB/s"] = text.size() / theirsMedian / 1e6;
  state.counters["x_iconv"] = theirsMedian / oursMedian;
  state.counters["x_iconv_best"] = *std::min_element(theirs.begin(), theirs.end()) /
                                   *std::min_element(ours.begin(), ours.end());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(table.charset);
}

int RegisterTables()
{
  for(const Table &table : kTables)
  {
    std::string name = std::string("BM_StrToUTF8VsIconv/") + table.charset;
    benchmark::RegisterBenchmark(name.c_str(), BM_StrToUTF8VsIconv, table)->UseManualTime();
  }
  return 0;
}
const int kRegistered = RegisterTables();

}  // namespace
