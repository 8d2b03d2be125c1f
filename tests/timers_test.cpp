// Recording timers: the four slot layouts bit for bit, and indexed access to
// the emulated firmware's live timer table.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lib/firmware/firmware.h"
#include "lib/timers/timers.h"
#include "sim/firmware/firmware_dat.h"
#include "sim_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Layout {
  const char *name;
  int (*decode)(const void *, TimerRecord *);
  int (*encode)(void *, const TimerRecord *);
  size_t size;
};
const Layout kTmss{"TMSS", FlashTimerDecode_ST_TMSS, FlashTimerEncode_ST_TMSS, 200};
const Layout kTmst200{"TMST200", FlashTimerDecode_ST_TMST200, FlashTimerEncode_ST_TMST200, 200};
const Layout kTmst208{"TMST208", FlashTimerDecode_ST_TMST, FlashTimerEncode_ST_TMST, 208};
const Layout kTmsc{"TMSC", FlashTimerDecode_ST_TMSC, FlashTimerEncode_ST_TMSC, 196};
const Layout *const kLayouts[] = {&kTmss, &kTmst200, &kTmst208, &kTmsc};

constexpr size_t kName = 9, kNameEnd = 139;  // slot offsets of the name and its terminator
constexpr size_t kGuard = 16;                // bytes after a slot that no encoder may touch
constexpr uint8_t kFill = 0xC3;

struct Field {
  const char *name;
  size_t offset, size;
};
#define FIELD(m) Field{#m, offsetof(TimerRecord, m), sizeof(TimerRecord::m)}
// All 47 fields; the name without its terminator, which no slot carries.
const Field kFields[] = {
  FIELD(Slot0), FIELD(Slot1Bits0to2), FIELD(Slot1Bits3to4), FIELD(Slot1Bit5), FIELD(Slot1Bits6to7),
  FIELD(Slot2), FIELD(Slot3Bit0), FIELD(Slot3Bits1to3), FIELD(Slot3Bits4to7), FIELD(Slot4),
  FIELD(Duration), FIELD(Slot8), Field{"Name", offsetof(TimerRecord, Name), TIMER_NAME_CHARS},
  FIELD(StartTime), FIELD(Slot144), FIELD(Slot148), FIELD(RecordFlag), FIELD(Slot151), FIELD(Slot152),
  FIELD(Slot153), FIELD(Slot154), FIELD(Slot156), FIELD(Slot160), FIELD(Slot164), FIELD(Slot168),
  FIELD(Slot170Block), FIELD(Slot178), FIELD(Slot179Block), FIELD(Tail184), FIELD(Tail188),
  FIELD(Tail192), FIELD(Tmst185), FIELD(Tmst186), FIELD(Tail194), FIELD(Tail198), FIELD(Tmst198),
  FIELD(Tmss186Bit3), FIELD(Tmss185Bit7And186Bits0to2), FIELD(Tail185Bits5to6), FIELD(Tmss185Bit4),
  FIELD(Tmss185Bit0), FIELD(Tmst194), FIELD(Tmss196Bit0), FIELD(Tail185Bits1to3), FIELD(Tail186Bits4to7),
  FIELD(Tmss187), FIELD(Tmss196Bits1to15),
};

TimerRecord Zero()
{
  TimerRecord r;
  std::memset(&r, 0, sizeof(r));
  return r;
}
void Set(TimerRecord *r, const Field &f, uint32_t v)
{
  uint8_t *at = reinterpret_cast<uint8_t *>(r) + f.offset;
  for(size_t i = 0; i < f.size && i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));  // little-endian hosts only
}
uint32_t Get(const TimerRecord &r, const Field &f)
{
  uint32_t v = 0;
  for(size_t i = std::min<size_t>(f.size, 4); i > 0; --i) v = v << 8 | reinterpret_cast<const uint8_t *>(&r)[f.offset + i - 1];
  return v;
}
Bytes Encode(const Layout &l, const TimerRecord &r)
{
  Bytes slot(l.size + kGuard, kFill);
  EXPECT_EQ(l.encode(slot.data(), &r), 1);
  return slot;
}
// Where two byte strings first differ (for messages), or -1.
long FirstDifference(const Bytes &a, const Bytes &b)
{
  for(size_t i = 0; i < std::min(a.size(), b.size()); ++i) if(a[i] != b[i]) return static_cast<long>(i);
  return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}
bool Same(const TimerRecord &a, const TimerRecord &b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }
Bytes Random(std::mt19937 &rng, size_t n)
{
  Bytes b(n);
  for(uint8_t &x : b) x = static_cast<uint8_t>(rng());
  return b;
}

TEST(TimerLayouts, DecodeThenEncodeGivesEverySlotBackExceptTheNamesTail)
{
  std::mt19937 rng(20101118);
  for(const Layout *l : kLayouts)
    for(int round = 0; round < 600; ++round)
    {
      Bytes slot = Random(rng, l->size);
      // A third of the names lack a terminator, a third end at a random place.
      if(round % 3 == 0) for(size_t i = kName; i <= kNameEnd; ++i) slot[i] |= 1;
      if(round % 3 == 1) slot[kName + rng() % (kNameEnd - kName)] = 0;
      Bytes expected = slot;
      bool ended = false;
      for(size_t i = kName; i <= kNameEnd; ++i) if((ended |= expected[i] == 0) || i == kNameEnd) expected[i] = 0;
      expected.resize(l->size + kGuard, kFill);

      TimerRecord first, second;
      std::memset(&first, 0x5A, sizeof(first));
      ASSERT_EQ(l->decode(slot.data(), &first), 1);
      Bytes out = Encode(*l, first);
      ASSERT_EQ(out, expected) << l->name << " round " << round;
      ASSERT_EQ(l->decode(out.data(), &second), 1);
      ASSERT_TRUE(Same(first, second)) << l->name << " round " << round;
    }
}

// Each field set alone to all ones: the bits it sets are its own, no other
// field's, together they cover the whole slot but the name's terminator, and
// decoding gives back that field alone. A field the layout lacks sets nothing.
struct Coverage {
  const Layout *layout;
  std::vector<std::string> absent;
};
const Coverage kCoverage[] = {
  {&kTmss, {"Tmst185", "Tmst186", "Tmst198", "Tmst194"}},
  {&kTmst200, {"Tail192", "Tmss186Bit3", "Tmss185Bit7And186Bits0to2", "Tail185Bits5to6", "Tmss185Bit4",
               "Tmss185Bit0", "Tmss196Bit0", "Tmss187", "Tmss196Bits1to15"}},
  {&kTmst208, {"Tail192", "Tmss186Bit3", "Tmss185Bit7And186Bits0to2", "Tail185Bits5to6", "Tmss185Bit4",
               "Tmss185Bit0", "Tmss196Bit0", "Tmss187", "Tmss196Bits1to15"}},
  {&kTmsc, {"Tail184", "Tmst185", "Tmst186", "Tmst198", "Tmss186Bit3", "Tmss185Bit7And186Bits0to2", "Tmss185Bit4",
            "Tmss185Bit0", "Tmst194", "Tmss196Bit0", "Tail186Bits4to7", "Tmss187", "Tmss196Bits1to15"}},
};

TEST(TimerLayouts, EveryBitOfTheSlotBelongsToExactlyOneField)
{
  for(const Coverage &c : kCoverage)
  {
    const Layout &l = *c.layout;
    Bytes owned(l.size, 0);
    for(const Field &f : kFields)
    {
      TimerRecord r = Zero();
      std::memset(reinterpret_cast<uint8_t *>(&r) + f.offset, 0xFF, f.size);
      Bytes slot = Encode(l, r);
      EXPECT_EQ(Bytes(slot.begin() + l.size, slot.end()), Bytes(kGuard, kFill)) << l.name << " " << f.name;
      slot.resize(l.size);
      bool absent = std::find(c.absent.begin(), c.absent.end(), f.name) != c.absent.end();
      EXPECT_EQ(slot == Bytes(l.size, 0), absent) << l.name << " " << f.name;
      for(size_t i = 0; i < l.size; ++i)
      {
        EXPECT_EQ(owned[i] & slot[i], 0) << l.name << " " << f.name << " shares byte " << i;
        owned[i] |= slot[i];
      }
      TimerRecord back = Zero(), only = Zero();
      l.decode(slot.data(), &back);
      std::memcpy(reinterpret_cast<uint8_t *>(&only) + f.offset, reinterpret_cast<uint8_t *>(&back) + f.offset, f.size);
      EXPECT_TRUE(Same(back, only)) << l.name << " " << f.name << " decodes into another field";
      EXPECT_EQ(Get(back, f) == 0, absent) << l.name << " " << f.name;
    }
    Bytes all(l.size, 0xFF);
    all[kNameEnd] = 0;
    EXPECT_EQ(owned, all) << l.name;
  }
}

// One field set to a distinctive value: exactly these slot bytes change, and
// decoding gives the value cut to the slot field's width.
struct BitCase {
  const Layout *layout;  // null: the common part, checked in every layout
  Field field;
  uint32_t value;
  std::vector<std::pair<size_t, uint8_t>> bytes;
  uint32_t decoded;
};
const BitCase kBitCases[] = {
  {nullptr, FIELD(Slot1Bits0to2), 0xFF, {{1, 0x07}}, 7},
  {nullptr, FIELD(Slot1Bits3to4), 0x06, {{1, 0x10}}, 2},
  {nullptr, FIELD(Slot1Bit5), 0x03, {{1, 0x20}}, 1},
  {nullptr, FIELD(Slot1Bits6to7), 0x01, {{1, 0x40}}, 1},
  {nullptr, FIELD(Slot3Bit0), 0x01, {{3, 0x01}}, 1},
  {nullptr, FIELD(Slot3Bits1to3), 0x05, {{3, 0x0A}}, 5},
  {nullptr, FIELD(Slot3Bits4to7), 0x1C, {{3, 0xC0}}, 0x0C},
  {nullptr, FIELD(Slot4), 0xBEEF, {{4, 0xEF}, {5, 0xBE}}, 0xBEEF},
  {nullptr, FIELD(Duration), 0x0102, {{6, 0x02}, {7, 0x01}}, 0x0102},
  {nullptr, FIELD(StartTime), 0xEA6B0917, {{140, 0x17}, {141, 0x09}, {142, 0x6B}, {143, 0xEA}}, 0xEA6B0917},
  {nullptr, FIELD(RecordFlag), 0x01, {{150, 0x01}}, 1},
  {nullptr, FIELD(Slot154), 0x1234, {{154, 0x34}, {155, 0x12}}, 0x1234},
  {&kTmss, FIELD(Tmss185Bit0), 0xFF, {{185, 0x01}}, 1},
  {&kTmss, FIELD(Tail185Bits1to3), 0x1234, {{185, 0x08}}, 4},
  {&kTmss, FIELD(Tmss185Bit4), 0x01, {{185, 0x10}}, 1},
  {&kTmss, FIELD(Tail185Bits5to6), 0x02, {{185, 0x40}}, 2},
  {&kTmss, FIELD(Tmss185Bit7And186Bits0to2), 0x0F, {{185, 0x80}, {186, 0x07}}, 0x0F},
  {&kTmss, FIELD(Tmss185Bit7And186Bits0to2), 0x1A, {{186, 0x05}}, 0x0A},
  {&kTmss, FIELD(Tmss186Bit3), 0xFFFFFFFF, {{186, 0x08}}, 1},
  {&kTmss, FIELD(Tail186Bits4to7), 0x0ABC, {{186, 0xC0}}, 0x0C},
  {&kTmss, FIELD(Tmss187), 0x99, {{187, 0x99}}, 0x99},
  {&kTmss, FIELD(Tail188), 0xA1B2C3D4, {{188, 0xD4}, {189, 0xC3}, {190, 0xB2}, {191, 0xA1}}, 0xA1B2C3D4},
  {&kTmss, FIELD(Tail192), 0x4321, {{192, 0x21}, {193, 0x43}}, 0x4321},
  {&kTmss, FIELD(Tmss196Bit0), 0x03, {{196, 0x01}}, 1},
  {&kTmss, FIELD(Tmss196Bits1to15), 0x7FFF, {{196, 0xFE}, {197, 0xFF}}, 0x7FFF},
  {&kTmss, FIELD(Tmss196Bits1to15), 0x8001, {{196, 0x02}}, 1},
  {&kTmss, FIELD(Tail198), 0x0FF0, {{198, 0xF0}, {199, 0x0F}}, 0x0FF0},
  {&kTmst200, FIELD(Tmst185), 0x85, {{185, 0x85}}, 0x85},  // two bytes of one width: a swap only shows here
  {&kTmst200, FIELD(Tmst186), 0x86, {{186, 0x86}}, 0x86},
  {&kTmst200, FIELD(Tail185Bits1to3), 0x1234, {{187, 0x34}}, 0x34},
  {&kTmst200, FIELD(Tail194), 0x8765, {{192, 0x65}, {193, 0x87}}, 0x8765},
  {&kTmst200, FIELD(Tail186Bits4to7), 0x0ABC, {{195, 0xBC}}, 0xBC},
  {&kTmst200, FIELD(Tmst198), 0x1357, {{198, 0x57}, {199, 0x13}}, 0x1357},
  {&kTmst208, FIELD(Slot179Block), 0x04030201, {{179, 1}, {180, 2}, {181, 3}, {182, 4}}, 0x04030201},
  {&kTmst208, FIELD(Tail184), 0x5A, {{192, 0x5A}}, 0x5A},
  {&kTmst208, FIELD(Tmst194), 0x66, {{202, 0x66}}, 0x66},
  {&kTmst208, FIELD(Tmst198), 0x1357, {{206, 0x57}, {207, 0x13}}, 0x1357},
  {&kTmsc, FIELD(Tail188), 0xA1B2C3D4, {{184, 0xD4}, {185, 0xC3}, {186, 0xB2}, {187, 0xA1}}, 0xA1B2C3D4},
  {&kTmsc, FIELD(Tail194), 0x9190, {{190, 0x90}, {191, 0x91}}, 0x9190},  // two words side by side
  {&kTmsc, FIELD(Tail198), 0x9392, {{192, 0x92}, {193, 0x93}}, 0x9392},
  {&kTmsc, FIELD(Tail185Bits5to6), 0x7E, {{194, 0x7E}}, 0x7E},
  {&kTmsc, FIELD(Tail185Bits1to3), 0x1234, {{195, 0x34}}, 0x34},
};

TEST(TimerLayouts, EachFieldLandsOnItsOwnBits)
{
  for(const BitCase &c : kBitCases)
    for(const Layout *l : kLayouts)
    {
      if(c.layout != nullptr && c.layout != l) continue;
      TimerRecord r = Zero(), back;
      Set(&r, c.field, c.value);
      Bytes expected(l->size + kGuard, 0);
      std::fill(expected.begin() + l->size, expected.end(), kFill);
      for(auto [offset, value] : c.bytes) expected[offset] = value;
      Bytes slot = Encode(*l, r);
      EXPECT_EQ(slot, expected) << l->name << " " << c.field.name << " = " << std::hex << c.value;
      l->decode(slot.data(), &back);
      EXPECT_EQ(Get(back, c.field), c.decoded) << l->name << " " << c.field.name;
    }
}

TEST(TimerLayouts, TwoFieldsSharingAWordFillItTogether)
{
  TimerRecord r = Zero();
  r.Tmss196Bit0 = 1;
  r.Tmss196Bits1to15 = 0x7FFF;
  Bytes slot = Encode(kTmss, r);
  EXPECT_EQ(slot[196], 0xFF);
  EXPECT_EQ(slot[197], 0xFF);
}

TEST(TimerLayouts, NullSlotOrRecordIsRefusedUntouched)
{
  for(const Layout *l : kLayouts)
  {
    TimerRecord r = Zero();
    Bytes slot(l->size, kFill);
    EXPECT_EQ(l->decode(nullptr, &r), 0) << l->name;
    EXPECT_EQ(l->encode(nullptr, &r), 0) << l->name;
    EXPECT_EQ(l->decode(slot.data(), nullptr), 0) << l->name;
    EXPECT_EQ(l->encode(slot.data(), nullptr), 0) << l->name;
    EXPECT_TRUE(Same(r, Zero())) << l->name;
    EXPECT_EQ(slot, Bytes(l->size, kFill)) << l->name;
  }
}

struct NameCase {
  std::string slot;      // slot bytes 9 to 139
  std::string expected;  // the decoded name
};
const NameCase kNameCases[] = {
  {std::string("Tagesschau\0garbage", 18), "Tagesschau"},
  {std::string(130, 'a') + "Z", std::string(130, 'a')},  // no terminator in the slot
  {std::string(129, 'b') + std::string("\0Q", 2), std::string(129, 'b')},
  {std::string("\0xyz", 4), ""},
};

TEST(TimerLayouts, NamesAreCutAtTheirEndAndAlwaysTerminated)
{
  for(const Layout *l : kLayouts)
    for(const NameCase &c : kNameCases)
    {
      Bytes slot(l->size, 0x20);
      std::copy(c.slot.begin(), c.slot.end(), slot.begin() + kName);
      TimerRecord r;
      std::memset(&r, 0x5A, sizeof(r));
      l->decode(slot.data(), &r);
      std::string name(r.Name, TIMER_NAME_SIZE);
      EXPECT_EQ(name, c.expected + std::string(TIMER_NAME_SIZE - c.expected.size(), '\0')) << l->name;
    }
  // A caller's name without a terminator: 130 characters go out, byte 139 stays 0.
  TimerRecord r = Zero();
  std::memset(r.Name, 'n', TIMER_NAME_SIZE);
  for(const Layout *l : kLayouts)
  {
    Bytes slot = Encode(*l, r);
    EXPECT_EQ(std::string(slot.begin() + kName, slot.begin() + kNameEnd), std::string(130, 'n')) << l->name;
    EXPECT_EQ(slot[kNameEnd], 0) << l->name;
    EXPECT_EQ(slot[kNameEnd + 1], 0) << l->name;
  }
}

// ---- the firmware's live table ----

const std::string kFirmwareDat = "/mnt/hd/ProgramFiles/FirmwareTMS.dat";
constexpr int kTimers = 10;

struct ReceiverCase {
  const char *name;
  uint32_t system_type;  // listed for this receiver in FirmwareTMS.dat
  bool edit, temp;       // which work areas the firmware exports
  int distance;          // and how far apart they are
  const Layout *layout;  // the slots' layout; null: the codec refuses
  bool dat = true, listed = true, table = true, detached_work_areas = false;
};
void PrintTo(const ReceiverCase &c, std::ostream *os) { *os << c.name; }

class TimerTable : public SimTest, public ::testing::WithParamInterface<ReceiverCase> {
 protected:
  void SetUp() override
  {
    const ReceiverCase &c = GetParam();
    MakeDir("/mnt/hd/ProgramFiles/Settings/Brimvale");
    if(c.dat) WriteFile(kFirmwareDat, sim::FirmwareDat{{2012, 5, 1}, {{c.listed ? uint16_t(22010) : uint16_t(31001), c.system_type, 1}}}.Bytes());
    config.system_id = 22010;
    config.timer_count = kTimers;
    config.firmware.timer_edit = c.edit;
    config.firmware.timer_temp = c.temp;
    config.firmware.timer_slot_size = c.distance;
    config.firmware.timer_table = c.table;
    Boot();
    // Work areas in two separate objects: no meaningful distance.
    if(c.detached_work_areas)
      for(const char *so : {"/fw_timeredit.so", "/fw_timertemp.so"})
      {
        detached.push_back(dlopen((config.firmware_dir + so).c_str(), RTLD_NOW | RTLD_GLOBAL));
        ASSERT_NE(detached.back(), nullptr) << so;
      }
    // Filled in place: the firmware's table pointer must stay valid.
    Bytes &table = receiver->timer_table();
    Bytes content = Random(rng, table.size());
    std::copy(content.begin(), content.end(), table.begin());
  }
  void TearDown() override
  {
    for(void *h : detached) if(h != nullptr) dlclose(h);
  }
  std::vector<void *> detached;
  std::mt19937 rng{GetParam().system_type * 1000u + static_cast<unsigned>(GetParam().distance)};
};

TEST_P(TimerTable, ReadsAndWritesEachTimerInPlaceOrRefuses)
{
  const ReceiverCase &c = GetParam();
  const Bytes before = receiver->timer_table();
  TimerRecord record, expected;
  std::memset(&record, 0x77, sizeof(record));
  if(c.layout == nullptr || !c.table)
  {
    const TimerRecord untouched = record;
    for(int i = 0; i < kTimers; ++i)
    {
      EXPECT_EQ(FlashTimerGetInfo(i, &record), 0) << i;
      EXPECT_EQ(FlashTimerSetInfo(i, &record), 0) << i;
    }
    EXPECT_TRUE(Same(record, untouched));
    EXPECT_EQ(FirstDifference(receiver->timer_table(), before), -1);
  }
  else
  {
    const Layout &l = *c.layout;
    for(int i : {0, 3, kTimers - 1})
    {
      ASSERT_EQ(FlashTimerGetInfo(i, &record), 1) << i;
      l.decode(before.data() + i * l.size, &expected);
      EXPECT_TRUE(Same(record, expected)) << "timer " << i << " is not read at " << i * l.size;
    }
    // Writing timer 3 replaces its slot and nothing else.
    record.StartTime = 0xEA6B1715;
    record.Duration = 95;
    ASSERT_EQ(FlashTimerSetInfo(3, &record), 1);
    Bytes after = before;
    l.encode(after.data() + 3 * l.size, &record);
    EXPECT_EQ(FirstDifference(receiver->timer_table(), after), -1);
  }

  // The codec on a slot of the caller's: this receiver's layout, or refusal
  // without touching slot or record.
  Bytes slot(TIMER_SLOT_SIZE_MAX + kGuard, kFill);
  TimerRecord decoded = record, direct = Zero();
  Bytes expected_slot = slot;
  if(c.layout != nullptr) c.layout->encode(expected_slot.data(), &record);
  EXPECT_EQ(FlashTimerEncode(slot.data(), &record), c.layout != nullptr);
  EXPECT_EQ(FirstDifference(slot, expected_slot), -1);
  if(c.layout != nullptr)
  {
    slot = Random(rng, c.layout->size);
    c.layout->decode(slot.data(), &direct);
  }
  EXPECT_EQ(FlashTimerDecode(slot.data(), &decoded), c.layout != nullptr);
  EXPECT_TRUE(Same(decoded, c.layout ? direct : record));
  EXPECT_EQ(FlashTimerDecode(nullptr, &decoded), 0);
  EXPECT_EQ(FlashTimerEncode(slot.data(), nullptr), 0);
}

TEST_P(TimerTable, RefusesIndicesOutsideTheTableAndNullRecords)
{
  const Bytes before = receiver->timer_table();
  TimerRecord record;
  std::memset(&record, 0x77, sizeof(record));
  const TimerRecord untouched = record;
  for(int i : {-1, kTimers, kTimers + 1, 65535, INT_MIN, INT_MAX})
  {
    EXPECT_EQ(FlashTimerGetInfo(i, &record), 0) << i;
    EXPECT_EQ(FlashTimerSetInfo(i, &record), 0) << i;
  }
  EXPECT_EQ(FlashTimerGetInfo(0, nullptr), 0);
  EXPECT_EQ(FlashTimerSetInfo(0, nullptr), 0);
  EXPECT_TRUE(Same(record, untouched));
  EXPECT_EQ(FirstDifference(receiver->timer_table(), before), -1);
}

TEST_P(TimerTable, SlotSizeIsTheDistanceOfTheWorkAreas)
{
  const ReceiverCase &c = GetParam();
  int size = FlashTimerStructSize();
  if(c.detached_work_areas) EXPECT_TRUE(size != 0 && size != 200 && size != 208) << size;
  else EXPECT_EQ(size, c.edit && c.temp ? c.distance : 0);
}

const ReceiverCase kReceivers[] = {
  {"Tmss", ST_TMSS, true, true, 200, &kTmss},
  {"TmssWithoutWorkAreas", ST_TMSS, false, false, 200, &kTmss},
  {"Tmst200", ST_TMST, true, true, 200, &kTmst200},
  {"Tmst208", ST_TMST, true, true, 208, &kTmst208},
  {"Tmsc", ST_TMSC, true, true, 208, &kTmsc},
  {"TmstWithoutEditArea", ST_TMST, false, true, 208, nullptr},
  {"TmstWithoutTempArea", ST_TMST, true, false, 200, nullptr},
  {"TmstWithoutWorkAreas", ST_TMST, false, false, 208, nullptr},
  {"TmstWorkAreasApart", ST_TMST, false, false, 200, nullptr, true, true, true, true},
  {"SystemTypeUnknown", 0, true, true, 200, nullptr},
  {"SystemTypeEight", 8, true, true, 200, nullptr},
  {"ReceiverNotListed", ST_TMSS, true, true, 200, nullptr, true, false},
  {"NoFirmwareDat", ST_TMSS, true, true, 200, nullptr, false},
  {"NoTimerTable", ST_TMSS, true, true, 200, &kTmss, true, true, false},
};
INSTANTIATE_TEST_SUITE_P(Timer, TimerTable, ::testing::ValuesIn(kReceivers),
                         [](const ::testing::TestParamInfo<ReceiverCase> &info) { return std::string(info.param.name); });

}  // namespace
