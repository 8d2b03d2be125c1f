// Finding objects inside the running firmware: each accessor asks the
// dynamic loader once while its symbol is there, and again after a miss.
#include <gtest/gtest.h>

#include "lib/firmware/firmware.h"
#include "sim_fixture.h"

namespace {

using Accessor = void *(*)(void);

struct AccessorCase {
  const char *symbol;
  Accessor accessor;
  bool returns_stored_pointer;
};

const AccessorCase kAccessors[] = {
  {FW_SYM_EEPROM, FIS_vEEPROM, true},
  {FW_SYM_TIMER, FIS_vFlashBlockTimer, true},
  {FW_SYM_TIMER_EDIT, FIS_vTimerEditInfo, false},
  {FW_SYM_TIMER_TEMP, FIS_vTimerTempInfo, false},
  {FW_SYM_UTF8, FIS_fwAppl_ConvertToValidUTF8Str, false},
  {FW_SYM_TAP_TABLE, FIS_vTAPTable, false},
  {FW_SYM_CUR_TAP_TASK, FIS_vCurTapTask, false},
};

class FirmwareSymbolsTest : public SimTest {};

TEST_F(FirmwareSymbolsTest, EachSymbolIsLookedUpOnceAndGivesTheFirmwaresObject)
{
  config.firmware.utf8 = true;
  sim::Receiver &r = Boot();
  uint64_t lookups = 0;
  for(const AccessorCase &c : kAccessors)
  {
    void *address = r.symbol(c.symbol);
    ASSERT_NE(address, nullptr) << c.symbol;
    void *expected = c.returns_stored_pointer ? *static_cast<void **>(address) : address;
    EXPECT_EQ(c.accessor(), expected) << c.symbol;
    EXPECT_EQ(c.accessor(), expected) << c.symbol;
    EXPECT_EQ(r.plugin_dlopen_calls(), ++lookups) << c.symbol << ": the second call must use the cache";
  }
}

TEST_F(FirmwareSymbolsTest, AMissingSymbolIsAskedForAgainEveryTime)
{
  config.firmware.timer_edit = false;
  sim::Receiver &r = Boot();
  EXPECT_EQ(FIS_vTimerEditInfo(), nullptr);
  EXPECT_EQ(FIS_vTimerEditInfo(), nullptr);
  EXPECT_EQ(FIS_vTimerEditInfo(), nullptr);
  EXPECT_EQ(r.plugin_dlopen_calls(), 3u);
  // The other work area is still there on its own.
  EXPECT_NE(FIS_vTimerTempInfo(), nullptr);
}

TEST_F(FirmwareSymbolsTest, UtfRoutineAbsentOnAnOrdinaryFirmware)
{
  Boot();
  EXPECT_EQ(FIS_fwAppl_ConvertToValidUTF8Str(), nullptr);
}

TEST_F(FirmwareSymbolsTest, AStoredNullIsFollowedWithoutANewLookUp)
{
  sim::Receiver &r = Boot();
  void **variable = static_cast<void **>(r.symbol(FW_SYM_EEPROM));
  void *image = *variable;
  *variable = nullptr;
  EXPECT_EQ(FIS_vEEPROM(), nullptr);
  *variable = image;
  EXPECT_EQ(FIS_vEEPROM(), image);
  // The firmware moves its image: the accessor follows.
  uint8_t moved[16];
  *variable = moved;
  EXPECT_EQ(FIS_vEEPROM(), moved);
  EXPECT_EQ(r.plugin_dlopen_calls(), 1u);
}

TEST_F(FirmwareSymbolsTest, NoLoaderMeansNoObjects)
{
  config.fail_dlopen = true;
  sim::Receiver &r = Boot();
  for(const AccessorCase &c : kAccessors) EXPECT_EQ(c.accessor(), nullptr) << c.symbol;
  EXPECT_EQ(r.plugin_dlopen_calls(), std::size(kAccessors));
}

TEST_F(FirmwareSymbolsTest, TryResolveFindsOnlyWhatTheFirmwareExports)
{
  sim::Receiver &r = Boot();
  EXPECT_EQ(TryResolve(FW_SYM_TAP_TABLE), r.symbol(FW_SYM_TAP_TABLE));
  EXPECT_EQ(TryResolve("_noSuchFirmwareObject"), nullptr);
  EXPECT_EQ(TryResolve(FW_SYM_UTF8), nullptr);
}

class TimerWorkAreas : public SimTest, public ::testing::WithParamInterface<int> {};

TEST_P(TimerWorkAreas, LieOneSlotApart)
{
  config.firmware.timer_slot_size = GetParam();
  sim::Receiver &r = Boot();
  auto *edit = static_cast<uint8_t *>(r.symbol(FW_SYM_TIMER_EDIT));
  auto *temp = static_cast<uint8_t *>(r.symbol(FW_SYM_TIMER_TEMP));
  ASSERT_NE(edit, nullptr);
  ASSERT_NE(temp, nullptr);
  EXPECT_EQ(temp - edit, GetParam());
}

INSTANTIATE_TEST_SUITE_P(BothSlotSizes, TimerWorkAreas, ::testing::Values(200, 208));

TEST_F(FirmwareSymbolsTest, AnObjectOnceLoadedCannotBeTakenAwayInTheSameProcess)
{
  // Cached addresses must stay valid for the whole process, so a second
  // receiver cannot drop an object the first one had: it says so plainly.
  Boot();
  receiver.reset();
  config.firmware.eeprom = false;
  receiver = std::make_unique<sim::Receiver>(config);
  std::string error;
  EXPECT_FALSE(receiver->Boot(&error));
  EXPECT_NE(error.find("fw_eeprom.so"), std::string::npos) << error;
}

}  // namespace
