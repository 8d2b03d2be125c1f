// Broadcast text to UTF-8: the character tables against the C library's own
// converters, the selectors, ISO/IEC 6937 composition, and the bounds.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/text/text.h"
#include "lib/firmware/firmware.h"
#include "sim_fixture.h"

namespace {

using Bytes = std::string;

// The code point iconv gives for one byte of `charset`, 0 when it has none;
// -1 when `in` holds more than one character's worth (a pair).
long IconvCodePoint(iconv_t cd, const Bytes &in)
{
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char out[16];
  char *inPtr = const_cast<char *>(in.data());
  size_t inLeft = in.size();
  char *outPtr = out;
  size_t outLeft = sizeof(out);
  if(iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) return 0;
  if(sizeof(out) - outLeft != 4) return -1;
  uint32_t cp;
  std::memcpy(&cp, out, 4);
  return static_cast<long>(cp);
}

struct TableCase {
  int part;
  const word *table;
};

const TableCase kTables[] = {
  {1, UTFLookupISO8859_1},   {2, UTFLookupISO8859_2},   {3, UTFLookupISO8859_3},
  {4, UTFLookupISO8859_4},   {5, UTFLookupISO8859_5},   {6, UTFLookupISO8859_6},
  {7, UTFLookupISO8859_7},   {8, UTFLookupISO8859_8},   {9, UTFLookupISO8859_9},
  {10, UTFLookupISO8859_10}, {11, UTFLookupISO8859_11}, {13, UTFLookupISO8859_13},
  {14, UTFLookupISO8859_14}, {15, UTFLookupISO8859_15}, {16, UTFLookupISO8859_16},
};

TEST(TextTables, Iso8859MatchIconvByteForByte)
{
  for(const TableCase &t : kTables)
  {
    std::string charset = "ISO-8859-" + std::to_string(t.part);
    iconv_t cd = iconv_open("UTF-32LE", charset.c_str());
    if(cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "the C library has no " << charset;
    for(int b = 0xA0; b <= 0xFF; b++)
    {
      long expected = IconvCodePoint(cd, Bytes(1, static_cast<char>(b)));
      // The C library follows the 2003 edition of 8859-7, which added the euro
      // sign (0xA4), the drachma sign (0xA5) and the ypogegrammeni (0xAA); the
      // receivers' table is the 1987 edition, where those bytes are unassigned.
      if(t.part == 7 && (b == 0xA4 || b == 0xA5 || b == 0xAA))
      {
        EXPECT_NE(expected, 0) << "iconv's 8859-7 is no longer the 2003 edition";
        expected = 0;
      }
      EXPECT_EQ(t.table[b - 0xA0], expected) << charset << " byte 0x" << std::hex << b;
    }
    iconv_close(cd);
  }
}

TEST(TextTables, Iso6937MatchesIconvExceptTheBroadcastVariant)
{
  iconv_t cd = iconv_open("UTF-32LE", "ISO_6937");
  if(cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "the C library has no ISO_6937";
  // Where the broadcast table differs from the C library's ISO 6937: the euro
  // sign at 0xA4, the horizontal bar (not the em dash) at 0xD0, D with stroke
  // (not eth) at 0xE2, and the diacritics as combining marks (the C library
  // has them only before a letter).
  const std::vector<std::pair<int, long>> differences = {
    {0xA4, 0x20AC}, {0xD0, 0x2015}, {0xE2, 0x0110}, {0xC1, 0x0300}, {0xC2, 0x0301},
    {0xC3, 0x0302}, {0xC4, 0x0303}, {0xC5, 0x0304}, {0xC6, 0x0306}, {0xC7, 0x0307},
    {0xC8, 0x0308}, {0xCA, 0x030A}, {0xCB, 0x0327}, {0xCD, 0x030B}, {0xCE, 0x0328},
    {0xCF, 0x030C},
  };
  for(int b = 0xA0; b <= 0xFF; b++)
  {
    long expected = IconvCodePoint(cd, Bytes(1, static_cast<char>(b)));
    for(const auto &d : differences)
      if(d.first == b) expected = d.second;
    EXPECT_EQ(UTFLookupISO6937[b - 0xA0], expected) << "byte 0x" << std::hex << b;
  }
  iconv_close(cd);
}

class TextTest : public SimTest {
 protected:
  void SetUp() override
  {
    MakeDir("/mnt/hd/ProgramFiles/Settings");
    Boot();
  }

  // StrToUTF8 into a buffer sized as callers size it; the result through *result.
  static Bytes Convert(const Bytes &source, dword table, int *result = nullptr)
  {
    std::vector<byte> src(source.begin(), source.end());
    src.push_back(0);
    std::vector<byte> dest(3 * source.size() + 1, 0xEE);
    int r = StrToUTF8(src.data(), dest.data(), table);
    if(result != nullptr) *result = r;
    return Bytes(reinterpret_cast<const char *>(dest.data()));
  }

  std::string Log() const { return ReadFile("/mnt/hd/ProgramFiles/Settings/SupportLib.log"); }
};

struct ConvertCase {
  const char *what;
  Bytes source;
  dword table;
  Bytes expected;
  int result;
};

TEST_F(TextTest, SelectorsTablesAndPassThrough)
{
  const ConvertCase cases[] = {
    {"ascii unchanged", "Tagesschau 20:00", 0, "Tagesschau 20:00", 0},
    {"utf-8 unchanged", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x93\xBA", 0,
     "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x93\xBA", 0},
    {"empty", "", 0, "", 0},
    {"8859-9 dotless i", "\xFD", 9, "\xC4\xB1", 1},
    {"8859-9 dotted I", "\xDD", 9, "\xC4\xB0", 1},
    {"8859-1 y acute", "\xFD", 1, "\xC3\xBD", 1},
    {"8859-1 Y acute", "\xDD", 1, "\xC3\x9D", 1},
    {"6937 O stroke", "\xE9", 0, "\xC3\x98", 1},
    {"only the low 8 bits of the table", "\xFD", 0x109, "\xC4\xB1", 1},
    {"0x05 selects 8859-9", "\x05\xFD", 1, "\xC4\xB1", 1},
    {"0x01 selects 8859-5", "\x01\xB0", 0, "\xD0\x90", 1},
    {"0x0B selects 8859-15", "\x0B\xA4", 0, "\xE2\x82\xAC", 1},
    {"0x10 with a non-zero high byte selects by the low one", "\x10\x01\x02\xA1", 0, "\xC4\x84", 1},
    {"0x10 with table 12 reads 6937", "\x10\x01\x0C\xA4", 1, "\xE2\x82\xAC", 1},
    {"0x15 declares utf-8", "\x15" "Caf\xC3\xA9 \xE9", 0, "Caf\xC3\xA9 \xE9", 0},
    {"0x1F skips its encoding byte", "\x1F\x01\xFD", 9, "\xC4\xB1", 1},
    {"0x0C is skipped", "\x0C\xFD", 9, "\xC4\xB1", 1},
    {"0x11 is skipped, default table", "\x11\xFD", 9, "\xC4\xB1", 1},
    {"0x1E is skipped", "\x1E" "A", 9, "A", 0},
    {"0x08 is table 12: 6937 without composition", "\x08\xC2" "e", 0, "\xCC\x81" "e", 1},
    {"table 12 has no composition", "\xC2" "e", 12, "\xCC\x81" "e", 1},
    {"table 17 and up read 6937", "\xA4", 200, "\xE2\x82\xAC", 1},
    {"8859-15 euro", "\xA4", 15, "\xE2\x82\xAC", 1},
    {"8859-7 (1987) 0xA4 ends the text", "a\xA4" "b", 7, "a", 1},
    {"unassigned 8859-3 byte ends the text", "x\xA5y", 3, "x", 1},
    {"line break control byte", "a\x8A" "b", 0, "a\xC2\x8A" "b", 1},
    {"emphasis on and off", "\x86" "X\x87", 9, "\xC2\x86" "X\xC2\x87", 1},
    {"0x9F", "\x9F", 1, "\xC2\x9F", 1},
    {"utf-8 bytes stay, others convert", "\xC3\xA9\xE9", 1, "\xC3\xA9\xC3\xA9", 1},
    {"lead byte without continuation converts", "\xC3" "A", 1, "\xC3\x83" "A", 1},
    {"0xF8 never starts utf-8", "\xF8\x80\x80\x80\x80", 1, "\xC3\xB8\xC2\x80\xC2\x80\xC2\x80\xC2\x80", 1},
  };
  for(const ConvertCase &c : cases)
  {
    int result = -1;
    EXPECT_EQ(Convert(c.source, c.table, &result), c.expected) << c.what;
    EXPECT_EQ(result, c.result) << c.what;
  }
  EXPECT_EQ(Log(), "");  // nothing in these texts is worth a log line
}

TEST_F(TextTest, EverySingleByteSelectorPicksItsTable)
{
  // 0x01..0x0B are 8859-5..-15; 0x08 (table 12) does not exist and reads 6937.
  const word *expected[] = {UTFLookupISO8859_5,  UTFLookupISO8859_6,  UTFLookupISO8859_7,
                            UTFLookupISO8859_8,  UTFLookupISO8859_9,  UTFLookupISO8859_10,
                            UTFLookupISO8859_11, UTFLookupISO6937,    UTFLookupISO8859_13,
                            UTFLookupISO8859_14, UTFLookupISO8859_15};
  for(int selector = 0x01; selector <= 0x0B; selector++)
  {
    const word *table = expected[selector - 1];
    Bytes text;
    Bytes want;
    for(int b = 0xA0; b <= 0xFF; b++)
    {
      word cp = table[b - 0xA0];
      if(cp == 0) continue;
      text += static_cast<char>(b);
      byte utf8[4], n = 0;
      UTF32ToUTF8(cp, utf8, &n);
      want.append(reinterpret_cast<const char *>(utf8), n);
    }
    // The bytes are converted one by one, so none of them may pass as UTF-8.
    Bytes got;
    for(size_t k = 0; k < text.size(); k++)
      got += Convert(Bytes(1, static_cast<char>(selector)) + text[k], 0);
    EXPECT_EQ(got, want) << "selector 0x" << std::hex << selector;
  }
}

TEST_F(TextTest, AllFiftyThreeCompositionsMatchIconv)
{
  iconv_t cd = iconv_open("UTF-32LE", "ISO_6937");
  if(cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "the C library has no ISO_6937";
  const struct {
    char diacritic;
    const char *letters;
  } pairs[] = {
    {'\xC1', "AEIOUaeiou"}, {'\xC2', "AEIOUYaeiouy"}, {'\xC3', "AEIOUaeiou"}, {'\xC4', "ANOano"},
    {'\xC8', "AEIOUaeiouy"}, {'\xCA', "Aa"}, {'\xCB', "Cc"},
  };
  int count = 0;
  for(const auto &p : pairs)
    for(const char *l = p.letters; *l != '\0'; l++)
    {
      Bytes pair = Bytes(1, p.diacritic) + *l;
      long cp = IconvCodePoint(cd, pair);
      ASSERT_GE(cp, 0xC0) << "iconv does not compose " << *l;
      ASSERT_LE(cp, 0xFF);
      byte utf8[4], n = 0;
      UTF32ToUTF8(static_cast<dword>(cp), utf8, &n);
      int result = 0;
      EXPECT_EQ(Convert("x" + pair + "y", 0, &result), "x" + Bytes(reinterpret_cast<char *>(utf8), n) + "y")
          << std::hex << (p.diacritic & 0xFF) << " " << *l;
      EXPECT_EQ(result, 1);
      count++;
    }
  EXPECT_EQ(count, 53);
  iconv_close(cd);
  EXPECT_EQ(Log(), "");
}

TEST_F(TextTest, NoOtherPairComposesAndEachIgnoredPairIsLogged)
{
  // Every letter after every diacritic byte that does not compose it: all
  // are dropped, each with one log line.
  const char *composing[16] = {nullptr, "AEIOUaeiou", "AEIOUYaeiouy", "AEIOUaeiou", "ANOano",
                               nullptr, nullptr, nullptr, "AEIOUaeiouy", nullptr, "Aa", "Cc"};
  // Bytes from 0xC0 on after a diacritic start no UTF-8 character either,
  // and the log names them as bytes.
  const Bytes letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz\xC0\xE9\xFF";
  Bytes expectedLog;
  for(int d = 0xC0; d <= 0xCF; d++)
  {
    Bytes text = "<";
    for(char l : letters)
    {
      const char *ok = composing[d - 0xC0];
      if(ok != nullptr && std::strchr(ok, l) != nullptr) continue;
      text += static_cast<char>(d);
      text += l;
      char line[96];
      std::snprintf(line, sizeof(line), "2026-12-08 12:00:00 StrToUTF8: ISO6937 diacritical char %02x %02x has been ignored\r\n", d,
                    l & 0xFF);
      expectedLog += line;
    }
    int result = 0;
    EXPECT_EQ(Convert(text + ">", 0, &result), "<>") << std::hex << d;
    EXPECT_EQ(result, 1);
  }
  EXPECT_EQ(Log(), expectedLog);
}

TEST_F(TextTest, IgnoredPairIsLoggedWithEcho)
{
  receiver.reset();
  config.terminals = {0};
  Boot();
  int result = 0;
  EXPECT_EQ(Convert("\xC5" "a!", 0, &result), "!");
  EXPECT_EQ(result, 1);
  const std::string message = "StrToUTF8: ISO6937 diacritical char c5 61 has been ignored";
  EXPECT_EQ(Log(), "2026-12-08 12:00:00 " + message + "\r\n");
  EXPECT_EQ(ReadFile("/dev/pts/0"), "2026-12-08 12:00:00  SUPPORTLIB - " + message + "\n" + Bytes(1, '\0'));
}

TEST_F(TextTest, RemnantsStopAtTheTerminatingZero)
{
  // Bytes after the terminator must never show up in the result.
  const struct {
    const char *what;
    Bytes buffer;  // source with its terminator and trailing junk
    dword table;
    Bytes expected;
    int result;
  } cases[] = {
    {"0x10 0x00: the zero is the end", Bytes("\x10\x00\x02\xA1", 4), 0, "", 0},
    {"0x10 0x00 then the end", Bytes("\x10\x00\x00" "AB", 6), 0, "", 0},
    {"0x10, a byte, then the end", Bytes("\x10" "a\x00" "AB", 6), 0, "", 0},
    {"0x1F then the end", Bytes("\x1F\x00" "AB", 5), 0, "", 0},
    {"0x1F and its byte, then the end", Bytes("\x1F\x05\x00" "AB", 6), 0, "", 0},
    {"0x15 then the end", Bytes("\x15\x00" "AB", 5), 0, "", 0},
    {"diacritic as the last byte", Bytes("ab\xC2\x00" "e", 6), 0, "ab", 1},
    {"lone diacritic", Bytes("\xC8\x00" "u", 4), 0, "", 1},
    {"utf-8 lead as the last byte", Bytes("\xE2\x82\x00\xAC", 5), 1, "\xC3\xA2\xC2\x82", 1},
  };
  for(const auto &c : cases)
  {
    std::vector<byte> dest(64, 0xEE);
    int result = StrToUTF8(reinterpret_cast<const byte *>(c.buffer.data()), dest.data(), c.table);
    EXPECT_EQ(Bytes(reinterpret_cast<const char *>(dest.data())), c.expected) << c.what;
    EXPECT_EQ(result, c.result) << c.what;
  }
  // Only the trailing diacritics had something worth logging.
  EXPECT_EQ(Log(),
            "2026-12-08 12:00:00 StrToUTF8: ISO6937 diacritical char c2 00 has been ignored\r\n"
            "2026-12-08 12:00:00 StrToUTF8: ISO6937 diacritical char c8 00 has been ignored\r\n");
}

TEST_F(TextTest, NeverWritesPastThreeBytesPerSourceBytePlusOne)
{
  // The widest conversions: three-byte code points from every table.
  const struct {
    Bytes source;
    dword table;
  } cases[] = {
    {Bytes(100, '\xA4'), 15}, {Bytes(100, '\xAC'), 0}, {Bytes(100, '\xD5'), 0},
    {Bytes(100, '\xE2'), 7 + 0x100}, {"\x15" + Bytes(99, 'x'), 0}, {Bytes(100, '\x8A'), 1},
  };
  for(const auto &c : cases)
  {
    std::vector<byte> src(c.source.begin(), c.source.end());
    src.push_back(0);
    const size_t bound = 3 * c.source.size() + 1;
    std::vector<byte> dest(bound + 16, 0xEE);
    StrToUTF8(src.data(), dest.data(), c.table);
    for(size_t k = bound; k < dest.size(); k++) ASSERT_EQ(dest[k], 0xEE) << "written past the bound";
  }
}

TEST_F(TextTest, BoundedConversionRefusesRatherThanCuts)
{
  const byte source[] = {'a', 0xA4, 0xA4, 0};  // "a€€" in 8859-15: 7 bytes
  byte dest[16];
  std::memset(dest, 0xEE, sizeof(dest));
  EXPECT_EQ(StrToUTF8Bounded(source, dest, 8, 15), 1);
  EXPECT_STREQ(reinterpret_cast<char *>(dest), "a\xE2\x82\xAC\xE2\x82\xAC");

  std::memset(dest, 0xEE, sizeof(dest));
  EXPECT_EQ(StrToUTF8Bounded(source, dest, 7, 15), -1);
  EXPECT_EQ(dest[0], 0);
  for(size_t k = 7; k < sizeof(dest); k++) EXPECT_EQ(dest[k], 0xEE);

  const byte utf8[] = {0x15, 'a', 'b', 'c', 0};
  EXPECT_EQ(StrToUTF8Bounded(utf8, dest, 3, 0), -1);
  EXPECT_EQ(dest[0], 0);
  EXPECT_EQ(StrToUTF8Bounded(utf8, dest, 4, 0), 0);
  EXPECT_STREQ(reinterpret_cast<char *>(dest), "abc");

  // Runs of ASCII go a machine word at a time: the bound holds for them too.
  const byte *ascii = reinterpret_cast<const byte *>("a folder name of 31 characters/");
  byte wide[48];
  std::memset(wide, 0xEE, sizeof(wide));
  EXPECT_EQ(StrToUTF8Bounded(ascii, wide, 12, 1), -1);
  EXPECT_EQ(wide[0], 0);
  for(size_t k = 12; k < sizeof(wide); k++) ASSERT_EQ(wide[k], 0xEE) << "written past the bound";
  EXPECT_EQ(StrToUTF8Bounded(ascii, wide, 31, 1), -1);
  EXPECT_EQ(StrToUTF8Bounded(ascii, wide, 32, 1), 0);
  EXPECT_STREQ(reinterpret_cast<char *>(wide), "a folder name of 31 characters/");
}

TEST_F(TextTest, NullArguments)
{
  byte dest[8] = {'z', 0};
  EXPECT_EQ(StrToUTF8(nullptr, dest, 0), 0);
  EXPECT_EQ(dest[0], 'z');
  EXPECT_EQ(StrToUTF8(reinterpret_cast<const byte *>("\xE9"), nullptr, 0), 0);
}

TEST(TextUTF32ToUTF8, EncodesEachLength)
{
  const struct {
    dword cp;
    Bytes utf8;
  } cases[] = {
    {0x00, Bytes(1, '\0')},   {0x41, "A"},          {0x7F, "\x7F"},
    {0x80, "\xC2\x80"},       {0xE9, "\xC3\xA9"},   {0x7FF, "\xDF\xBF"},
    {0x800, "\xE0\xA0\x80"},  {0x20AC, "\xE2\x82\xAC"}, {0xFFFF, "\xEF\xBF\xBF"},
    {0x10000, "\xF0\x90\x80\x80"}, {0x1F4FA, "\xF0\x9F\x93\xBA"}, {0x10FFFF, "\xF4\x8F\xBF\xBF"},
    {0xD800, "\xED\xA0\x80"},  // surrogates are not checked
  };
  for(const auto &c : cases)
  {
    byte out[8] = {};
    byte length = 0;
    EXPECT_EQ(UTF32ToUTF8(c.cp, out, &length), static_cast<int>(c.utf8.size())) << std::hex << c.cp;
    EXPECT_EQ(length, c.utf8.size());
    EXPECT_EQ(Bytes(reinterpret_cast<char *>(out), length), c.utf8) << std::hex << c.cp;
    EXPECT_EQ(UTF32ToUTF8(c.cp, nullptr, nullptr), static_cast<int>(c.utf8.size()));
  }
}

TEST(TextIsUTF8Char, RecognisesWellFormedLeadsOnly)
{
  const struct {
    Bytes text;
    int result;
    int length;
  } cases[] = {
    {"\xC3\xA9", 1, 2},        {"\xE2\x82\xAC", 1, 3},     {"\xF0\x9F\x93\xBA", 1, 4},
    {"A", 0, 1},               {"\x80\x80", 0, 1},         {"\xC3", 0, 1},
    {"\xC3" "A", 0, 1},        {"\xE2\x82", 0, 1},         {"\xE2\x82" "A", 0, 1},
    {"\xF0\x9F\x93", 0, 1},    {"\xF8\x88\x80\x80\x80", 0, 1}, {"\xFF\x80", 0, 1},
    {"\xC0\x80", 1, 2},        // overlong forms are not rejected
    {"\xF4\x90\x80\x80", 1, 4},  // nor values above U+10FFFF
  };
  for(const auto &c : cases)
  {
    byte length = 99;
    EXPECT_EQ(isUTF8Char(reinterpret_cast<const byte *>(c.text.c_str()), &length), c.result)
        << testing::PrintToString(c.text);
    EXPECT_EQ(length, c.length) << testing::PrintToString(c.text);
  }
  byte length = 99;
  EXPECT_EQ(isUTF8Char(nullptr, &length), 0);
  EXPECT_EQ(length, 1);
  EXPECT_EQ(isUTF8Char(reinterpret_cast<const byte *>("\xC3\xA9"), nullptr), 1);
}

class TextFirmwareTest : public SimTest {};

TEST_F(TextFirmwareTest, UTF8FirmwareIsRecognisedOnce)
{
  Boot();
  EXPECT_EQ(isUTFFirmware(), 0);
  receiver.reset();  // a firmware does not change while the plug-in runs
  config.firmware.utf8 = true;
  Boot();
  EXPECT_NE(FIS_fwAppl_ConvertToValidUTF8Str(), nullptr);
  EXPECT_EQ(isUTFFirmware(), 0);
}

TEST_F(TextFirmwareTest, OtherFirmwareIsNotUTF8)
{
  Boot();
  EXPECT_EQ(isUTFFirmware(), 0);
}

}  // namespace
