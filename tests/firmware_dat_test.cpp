// FirmwareTMS.dat: which files are accepted, where they are found, that the
// image is read once and kept (or freed when bad), and what is read from it.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "lib/firmware/firmware.h"
#include "lib/paths/paths.h"
#include "sim/receiver/clock.h"
#include "sim/firmware/firmware_dat.h"
#include "sim_fixture.h"

namespace {

const std::string kProgramFiles = "/mnt/hd/ProgramFiles/FirmwareTMS.dat";
const std::string kSettings = "/mnt/hd/ProgramFiles/Settings/FirmwareTMS.dat";
constexpr size_t kAll = std::string::npos;
constexpr int kRejected = -1;

// Disk calls of `function` on FirmwareTMS.dat (the library log has files too).
size_t Calls(sim::Receiver &r, const std::string &function)
{
  size_t n = 0;
  for(const std::string &text : r.trace().Texts(sim::TraceKind::kDisk))
    n += text.rfind(function + "(", 0) == 0 && text.find("FirmwareTMS.dat") != std::string::npos;
  return n;
}
size_t Fopens(sim::Receiver &r) { return Calls(r, "TAP_Hdd_Fopen"); }

sim::FirmwareDat Models(std::vector<sim::FirmwareDatReceiver> receivers, int day = 1)
{
  return sim::FirmwareDat{{2012, 5, day}, std::move(receivers)};
}

class FirmwareDatTest : public SimTest {
 protected:
  void SetUp() override
  {
    MakeDir("/mnt/hd/ProgramFiles/Settings/Brimvale");
    MakeDir("/mnt/hd/DataFiles");
  }
};

// ---- the emulator's writer ----

TEST_F(FirmwareDatTest, WriterPutsEachFieldAtItsOffset)
{
  sim::FirmwareDat dat{{2010, 11, 18}, {{22010, ST_TMST, 2}, {0xABCD, 0x01020304, -3}}, "tail"};
  const std::string bytes = dat.Bytes();
  ASSERT_EQ(bytes.size(), 20u + 2 * 348 + 4);
  const struct {
    size_t offset;
    std::string expected;
  } fields[] = {
    {0, "\x78\x56\x34\x12"},                     // magic
    {4, "\x12\x0B\xDA\x07"},                     // 18, 11, 2010
    {8, std::string(4, '\0')},                    // reserved
    {12, std::string("\x02\0\0\0", 4)},           // count
    {20, "\xFA\x55"},                             // first record: id 22010
    {20 + 292, std::string("\x06\0\0\0", 4)},     // system type
    {20 + 320, std::string("\x02\0\0\0", 4)},     // remote type
    {368, "\xCD\xAB"},                            // second record
    {368 + 292, "\x04\x03\x02\x01"},
    {368 + 320, "\xFD\xFF\xFF\xFF"},
    {716, "tail"},
  };
  for(const auto &f : fields) EXPECT_EQ(bytes.substr(f.offset, f.expected.size()), f.expected) << f.offset;
  EXPECT_EQ(bytes.substr(22, 290).find('\0'), std::string::npos) << "unread bytes are not zero";
}

// ---- header and table validation ----

struct HeaderCase {
  const char *name;
  uint32_t magic;
  uint32_t reserved;
  std::optional<int32_t> count;  // the records written unless set
  size_t records;
  size_t keep;                   // bytes of the file kept
  int expected;                  // receivers seen, or kRejected
};

const uint32_t kMagic = sim::kFirmwareDatMagic;
const size_t kTwoRecords = 20 + 2 * 348;

const HeaderCase kHeaderCases[] = {
  {"NoReceivers", kMagic, 0, {}, 0, kAll, 0},
  {"TwoReceivers", kMagic, 0, {}, 2, kAll, 2},
  {"BareHeader", kMagic, 0, {}, 0, 20, 0},
  {"WrongMagic", 0x12345679, 0, {}, 2, kAll, kRejected},
  {"MagicBigEndian", 0x78563412, 0, {}, 2, kAll, kRejected},
  {"ReservedWordOne", kMagic, 1, {}, 2, kAll, kRejected},
  {"ReservedWordHighBit", kMagic, 0x80000000, {}, 2, kAll, kRejected},
  {"NegativeCountMeansNone", kMagic, 0, -1, 2, kAll, 0},
  {"MostNegativeCount", kMagic, 0, INT32_MIN, 2, kAll, 0},
  {"HugeCount", kMagic, 0, INT32_MAX, 2, kAll, kRejected},
  {"CountWrappingRoundToAFit", kMagic, 0, 12341861, 2, kAll, kRejected},
  {"OneRecordTooMany", kMagic, 0, 3, 2, kAll, kRejected},
  {"TableCutShort", kMagic, 0, {}, 2, kTwoRecords - 1, kRejected},
  {"HeaderCutShort", kMagic, 0, {}, 0, 19, kRejected},
  {"OnlyTheMagic", kMagic, 0, {}, 0, 4, kRejected},
  {"EmptyFile", kMagic, 0, {}, 0, 0, kRejected},
};

void PrintTo(const HeaderCase &c, std::ostream *os) { *os << c.name; }

class FirmwareDatHeader : public FirmwareDatTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(FirmwareDatHeader, AcceptsOnlyWhatFitsTheFile)
{
  const HeaderCase &c = GetParam();
  sim::FirmwareDat dat = Models(std::vector<sim::FirmwareDatReceiver>(c.records, {22010, ST_TMST, 2}));
  dat.magic = c.magic;
  dat.reserved = c.reserved;
  dat.count = c.count;
  dat.trailer = "rest of the file";
  std::string bytes = dat.Bytes();
  if(c.keep != kAll) bytes.resize(c.keep);
  WriteFile(kProgramFiles, bytes);
  sim::Receiver &r = Boot();

  byte untouched[1];
  byte *header = untouched, *receivers = untouched, *rest = untouched;
  int loaded = LoadFirmwareDat(&header, &receivers, &rest);
  if(c.expected == kRejected)
  {
    EXPECT_EQ(loaded, 0);
    EXPECT_TRUE(header == untouched && receivers == untouched && rest == untouched);
    EXPECT_EQ(r.live_allocations(), 0u);
    EXPECT_EQ(GetSystemType(), 0u);
    EXPECT_EQ(FirmwareDatMJD(), 0u);
    EXPECT_EQ(Fopens(r), 3u) << "nothing kept: every call reads the file again";
    return;
  }
  ASSERT_EQ(loaded, 1);
  EXPECT_EQ(receivers, header + 20);
  ASSERT_EQ(rest, receivers + 348 * c.expected);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(rest), bytes.size() - (rest - header)),
            bytes.substr(20 + 348 * c.expected));
  EXPECT_EQ(r.live_allocations(), 1u);
  EXPECT_EQ(GetSystemType(), c.expected > 0 ? static_cast<dword>(ST_TMST) : 0u);
  EXPECT_EQ(FirmwareDatMJD(), 56048u);
  EXPECT_EQ(Fopens(r), 1u);
}

INSTANTIATE_TEST_SUITE_P(FirmwareDat, FirmwareDatHeader, ::testing::ValuesIn(kHeaderCases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- keeping, freeing and retrying ----

TEST_F(FirmwareDatTest, IsReadOnceForAllCallersAndKeptForTheRun)
{
  WriteFile(kProgramFiles, Models({{22010, ST_TMSS, 2}}).Bytes());
  sim::Receiver &r = Boot();
  for(int round = 0; round < 5; ++round)
  {
    EXPECT_EQ(LoadFirmwareDat(nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(GetSystemType(), static_cast<dword>(ST_TMSS));
    EXPECT_EQ(FirmwareDatMJD(), 56048u);
    EXPECT_NE(FirmwareDatFindReceiver(22010), nullptr);
  }
  EXPECT_EQ(Fopens(r), 1u);
  EXPECT_EQ(Calls(r, "TAP_Hdd_Fread"), 1u);
  EXPECT_EQ(r.live_allocations(), 1u);
  // A file replaced during the run counts from the next start on.
  WriteFile(kProgramFiles, Models({}, 20).Bytes());
  EXPECT_EQ(FirmwareDatMJD(), 56048u);
}

TEST_F(FirmwareDatTest, AnInvalidImageIsFreedAndTheFileReadAgain)
{
  sim::FirmwareDat bad = Models({{22010, ST_TMSC, 1}});
  bad.reserved = 1;
  WriteFile(kProgramFiles, bad.Bytes());
  sim::Receiver &r = Boot();
  EXPECT_EQ(LoadFirmwareDat(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(r.live_allocations(), 0u);
  EXPECT_EQ(LoadFirmwareDat(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(Fopens(r), 2u);

  WriteFile(kProgramFiles, Models({{22010, ST_TMSC, 1}}).Bytes());
  byte *header = nullptr;
  ASSERT_EQ(LoadFirmwareDat(&header, nullptr, nullptr), 1);
  EXPECT_EQ(r.live_allocations(), 1u);

  // Spoilt in memory by a caller: found out on the next call, not trusted.
  header[0] ^= 0xFF;
  EXPECT_EQ(LoadFirmwareDat(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(r.live_allocations(), 0u);
  EXPECT_EQ(LoadFirmwareDat(nullptr, nullptr, nullptr), 1) << "read afresh from the good file";
  EXPECT_EQ(Fopens(r), 4u);
  EXPECT_EQ(r.live_allocations(), 1u);
  EXPECT_EQ(GetSystemType(), static_cast<dword>(ST_TMSC));
}

dword (*g_real_read)(void *, dword, dword, TYPE_File *);

// Delivers the bytes but reports failure: what arrived must not be trusted.
dword FailingRead(void *buffer, dword size, dword blocks, TYPE_File *file)
{
  g_real_read(buffer, size, blocks, file);
  return 0;
}

TEST_F(FirmwareDatTest, AFailedReadKeepsNothingAndIsRetried)
{
  WriteFile(kSettings, Models({}).Bytes());
  sim::Receiver &r = Boot();
  g_real_read = TAP_Hdd_Fread;
  TAP_Hdd_Fread = FailingRead;
  int loaded = LoadFirmwareDat(nullptr, nullptr, nullptr);
  TAP_Hdd_Fread = g_real_read;
  EXPECT_EQ(loaded, 0);
  EXPECT_EQ(r.live_allocations(), 0u);
  EXPECT_EQ(r.trace().Count(sim::TraceKind::kMemory), 2u) << "allocated and freed again";
  EXPECT_EQ(LoadFirmwareDat(nullptr, nullptr, nullptr), 1);
}

TEST_F(FirmwareDatTest, NoMemoryKeepsNothingLogsTheLoaderAndIsRetried)
{
  config.fail_allocation = 1;
  WriteFile(kProgramFiles, Models({}).Bytes());
  sim::Receiver &r = Boot();
  EXPECT_EQ(LoadFirmwareDat(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(r.live_allocations(), 0u);
  EXPECT_NE(ReadFile("/mnt/hd/ProgramFiles/Settings/SupportLib.log").find("@ LoadFirmwareDat"), std::string::npos);
  EXPECT_EQ(Calls(r, "TAP_Hdd_Fclose"), 1u) << "the file is closed on the way out";
  EXPECT_EQ(LoadFirmwareDat(nullptr, nullptr, nullptr), 1);
}

TEST_F(FirmwareDatTest, ANameThatCannotBeOpenedIsNotFound)
{
  MakeDir(kProgramFiles);  // a folder of that name
  sim::Receiver &r = Boot();
  EXPECT_EQ(LoadFirmwareDat(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(Fopens(r), 1u);
  EXPECT_EQ(r.trace().Count(sim::TraceKind::kMemory), 0u);
}

// ---- where the file is found; the caller's folder is kept ----

struct SearchCase {
  const char *name;
  std::vector<std::pair<std::string, int>> files;  // folder, day of May 2012
  const char *start;                               // current folder at the call
  int expected_day;                                // 0: not found
};

const SearchCase kSearchCases[] = {
  {"ProgramFiles", {{"/mnt/hd/ProgramFiles", 1}}, "/", 1},
  {"Settings", {{"/mnt/hd/ProgramFiles/Settings", 2}}, "/", 2},
  {"SettingsWinsOverProgramFiles", {{"/mnt/hd/ProgramFiles", 1}, {"/mnt/hd/ProgramFiles/Settings", 2}}, "/DataFiles", 2},
  {"CurrentFolderFirst", {{"/mnt/hd/DataFiles", 3}, {"/mnt/hd/ProgramFiles/Settings", 2}}, "/DataFiles", 3},
  {"FromInsideSettings", {{"/mnt/hd/ProgramFiles", 1}}, "/ProgramFiles/Settings", 1},
  {"NotInTheApplicationFolder", {{"/mnt/hd/ProgramFiles/Settings/Brimvale", 4}}, "/", 0},
  {"RootOnlyWhenCurrent", {{"/mnt/hd", 5}}, "/DataFiles", 0},
  {"Nowhere", {}, "/ProgramFiles/Settings/Brimvale", 0},
};

void PrintTo(const SearchCase &c, std::ostream *os) { *os << c.name; }

class FirmwareDatSearch : public FirmwareDatTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(FirmwareDatSearch, FindsTheFileAndReturnsToTheCallersFolder)
{
  const SearchCase &c = GetParam();
  for(const auto &[folder, day] : c.files) WriteFile(folder + "/FirmwareTMS.dat", Models({}, day).Bytes());
  sim::Receiver &r = Boot();
  ASSERT_EQ(HDD_ChangeDir(c.start), 1);
  dword expected = c.expected_day == 0 ? 0 : static_cast<dword>(sim::MjdFromDate(2012, 5, c.expected_day));
  EXPECT_EQ(FirmwareDatMJD(), expected);
  EXPECT_EQ(r.hdd().current(), c.start);
}

INSTANTIATE_TEST_SUITE_P(FirmwareDat, FirmwareDatSearch, ::testing::ValuesIn(kSearchCases),
                         [](const auto &info) { return std::string(info.param.name); });

class FirmwareDatFolder : public FirmwareDatTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(FirmwareDatFolder, IsTheSameAfterEveryOutcome)
{
  sim::Receiver &r = Boot();
  ASSERT_EQ(HDD_ChangeDir(GetParam()), 1);
  sim::FirmwareDat bad = Models({});
  bad.count = 1;
  const struct {
    const char *name;
    std::string file;  // written to /ProgramFiles/Settings; empty: none
    int expected;
  } steps[] = {
    {"missing", "", 0},
    {"invalid", bad.Bytes(), 0},
    {"loaded", Models({}).Bytes(), 1},
    {"kept", "", 1},
  };
  for(const auto &step : steps)
  {
    if(!step.file.empty()) WriteFile(kSettings, step.file);
    EXPECT_EQ(LoadFirmwareDat(nullptr, nullptr, nullptr), step.expected) << step.name;
    EXPECT_EQ(r.hdd().current(), GetParam()) << step.name;
  }
}

INSTANTIATE_TEST_SUITE_P(FirmwareDat, FirmwareDatFolder,
                         ::testing::Values("/", "/DataFiles", "/ProgramFiles", "/ProgramFiles/Settings/Brimvale"),
                         [](const auto &info) {
                           std::string name = "In";
                           for(const char *p = info.param; *p != '\0'; ++p)
                             if(*p != '/') name += *p;
                           return name;
                         });

TEST_F(FirmwareDatTest, AFullFolderStackIsNeitherUsedNorDisturbed)
{
  WriteFile(kSettings, Models({}).Bytes());
  sim::Receiver &r = Boot();
  ASSERT_EQ(HDD_ChangeDir("/DataFiles"), 1);
  int pushed = 0;
  while(HDD_TAP_PushDir()) ++pushed;
  ASSERT_EQ(pushed, DIR_STACK_DEPTH);

  EXPECT_EQ(LoadFirmwareDat(nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(r.hdd().current(), "/DataFiles");
  int popped = 0;
  while(HDD_TAP_PopDir()) ++popped;
  EXPECT_EQ(popped, pushed) << "the stack holds what the caller pushed, no more, no less";
}

// ---- the date ----

struct DateCase {
  int year, month, day;
  dword expected;
};

std::string DateName(const DateCase &c)
{
  return std::to_string(c.year) + "_" + std::to_string(c.month) + "_" + std::to_string(c.day);
}
void PrintTo(const DateCase &c, std::ostream *os) { *os << DateName(c); }

class FirmwareDatDate : public FirmwareDatTest, public ::testing::WithParamInterface<DateCase> {};

TEST_P(FirmwareDatDate, IsTheModifiedJulianDayOrZero)
{
  const DateCase &c = GetParam();
  WriteFile(kProgramFiles, sim::FirmwareDat{{c.year, c.month, c.day}, {}}.Bytes());
  Boot();
  EXPECT_EQ(FirmwareDatMJD(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(FirmwareDat, FirmwareDatDate,
                         ::testing::Values(DateCase{2010, 11, 17, 55517},  // one day too old
                                           DateCase{2010, 11, 18, 55518},  // the oldest accepted
                                           DateCase{2012, 5, 1, 56048},
                                           DateCase{2010, 1, 31, 55227},
                                           DateCase{2010, 12, 31, 55561},  // the last day and month
                                           DateCase{2038, 4, 22, 65535},   // the last day a 16-bit MJD holds
                                           DateCase{2010, 0, 18, 0},
                                           DateCase{2010, 13, 18, 0},
                                           DateCase{2010, 11, 0, 0},
                                           DateCase{2010, 11, 32, 0}),
                         [](const auto &info) { return DateName(info.param); });

TEST_F(FirmwareDatTest, NoFileNoDate)
{
  Boot();
  EXPECT_EQ(FirmwareDatMJD(), 0u);
}

// ---- the system type ----

struct TypeCase {
  const char *name;
  std::vector<sim::FirmwareDatReceiver> receivers;
  int system_id;
  dword expected;
};

const TypeCase kTypeCases[] = {
  {"OnlyModel", {{22010, ST_TMST, 1}}, 22010, ST_TMST},
  {"MiddleOfThree", {{1, ST_TMSS, 1}, {22010, ST_TMSC, 1}, {3, ST_TMST, 1}}, 22010, ST_TMSC},
  {"FirstOfTwoDecides", {{22010, ST_TMST, 1}, {22010, ST_TMSC, 1}}, 22010, ST_TMST},
  {"NotListed", {{22011, ST_TMST, 1}, {21010, ST_TMSS, 1}}, 22010, 0},
  {"NoReceivers", {}, 22010, 0},
  {"IdBitsAbove16Ignored", {{22010, ST_TMSS, 1}}, 22010 + 0x10000, ST_TMSS},
  {"AllOnesId", {{1, ST_TMSS, 1}, {0xFFFF, ST_TMSC, 1}}, -1, ST_TMSC},
  {"TypeWithoutLayoutPassedOn", {{22010, 9, 1}}, 22010, 9},
};

void PrintTo(const TypeCase &c, std::ostream *os) { *os << c.name; }

class FirmwareDatType : public FirmwareDatTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(FirmwareDatType, ComesFromTheFirstMatchingRecord)
{
  const TypeCase &c = GetParam();
  config.system_id = c.system_id;
  WriteFile(kProgramFiles, Models(c.receivers).Bytes());
  Boot();
  EXPECT_EQ(GetSystemType(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(FirmwareDat, FirmwareDatType, ::testing::ValuesIn(kTypeCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(FirmwareDatTest, SystemTypeZeroIsSearchedAgainAnythingElseIsKept)
{
  WriteFile(kProgramFiles, Models({{22010, 0, 1}}).Bytes());
  Boot();
  byte *receivers = nullptr;
  ASSERT_EQ(LoadFirmwareDat(nullptr, &receivers, nullptr), 1);
  byte *type = receivers + 292;
  EXPECT_EQ(GetSystemType(), 0u);
  type[0] = ST_TMSS;
  EXPECT_EQ(GetSystemType(), static_cast<dword>(ST_TMSS)) << "0 was not kept";
  type[0] = ST_TMSC;
  EXPECT_EQ(GetSystemType(), static_cast<dword>(ST_TMSS)) << "a found type is kept";
}

TEST_F(FirmwareDatTest, SysIdIsTheLow16BitsOfTheSystemId)
{
  const struct {
    int system_id;
    word expected;
  } cases[] = {{22010, 22010}, {22010 + 0x10000, 22010}, {-1, 0xFFFF}, {0x7FFF0001, 1}, {0, 0}};
  for(const auto &c : cases)
  {
    receiver.reset();
    config.system_id = c.system_id;
    Boot();
    EXPECT_EQ(GetSysID(), c.expected) << c.system_id;
  }
}

}  // namespace
