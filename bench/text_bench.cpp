// StrToUTF8 against iconv on the same text: ISO 8859-1 (German) and
// ISO 8859-5 (Russian), 4 KiB each, in MB of source per second. Both
// conversions must give the same bytes (counter same_output = 1).
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/text/text.h"

// The library's log is not part of the conversion measured here.
void LogEntryLibPrintf(int, const char *, ...) {}

namespace {

constexpr size_t kTextBytes = 4096;

// A text in the code page in which no run of high bytes happens to form a
// UTF-8 character (StrToUTF8 would pass that on unchanged, iconv not).
std::string Text(int table)
{
  // "Größe Übergänge straße " and "Привет мир " in their code pages.
  static const char kGerman[] = "Gr\xF6\xDF" "e \xDC" "berg\xE4nge Stra\xDF" "e ";
  static const char kRussian[] = "\xBF\xE0\xD8\xD2\xD5\xE2 \xDC\xD8\xE0 ";
  const char *part = table == 1 ? kGerman : kRussian;
  std::string text;
  while(text.size() + strlen(part) < kTextBytes) text += part;
  return text;
}

std::string WithIconv(const std::string &text, iconv_t cd)
{
  std::vector<char> out(text.size() * 3 + 1);
  char *in = const_cast<char *>(text.data());
  size_t inLeft = text.size(), outLeft = out.size();
  char *o = out.data();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  iconv(cd, &in, &inLeft, &o, &outLeft);
  return std::string(out.data(), static_cast<size_t>(o - out.data()));
}

void BM_StrToUTF8(benchmark::State &state)
{
  int table = static_cast<int>(state.range(0));
  std::string text = Text(table);
  std::vector<byte> dest(text.size() * 3 + 1);
  for(auto _ : state)
  {
    StrToUTF8(reinterpret_cast<const byte *>(text.c_str()), dest.data(), static_cast<dword>(table));
    benchmark::DoNotOptimize(dest.data());
  }
  iconv_t cd = iconv_open("UTF-8", table == 1 ? "ISO-8859-1" : "ISO-8859-5");
  std::string reference = WithIconv(text, cd);
  iconv_close(cd);
  state.counters["same_output"] = reference == reinterpret_cast<const char *>(dest.data()) ? 1 : 0;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(table == 1 ? "ISO-8859-1" : "ISO-8859-5");
}
BENCHMARK(BM_StrToUTF8)->Arg(1)->Arg(5);

void BM_Iconv(benchmark::State &state)
{
  int table = static_cast<int>(state.range(0));
  std::string text = Text(table);
  const char *from = table == 1 ? "ISO-8859-1" : "ISO-8859-5";
  iconv_t cd = iconv_open("UTF-8", from);
  std::vector<char> out(text.size() * 3 + 1);
  for(auto _ : state)
  {
    char *in = const_cast<char *>(text.data());
    size_t inLeft = text.size(), outLeft = out.size();
    char *o = out.data();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    iconv(cd, &in, &inLeft, &o, &outLeft);
    benchmark::DoNotOptimize(o);
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(from);
}
BENCHMARK(BM_Iconv)->Arg(1)->Arg(5);

}  // namespace
