// The receiver model description file FirmwareTMS.dat, written from a few
// lines, so that scenarios and tests can say which receiver they stand for:
//
//   sim::FirmwareDat{{2012, 5, 1}, {{22010, 6, 2}, {31001, 5, 1}}}.Bytes()
//
// Only the fields the plug-in reads carry meaning; every other byte holds a
// pattern that depends on its position, so a reader at a wrong offset finds
// nonsense rather than a plausible zero.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

constexpr uint32_t kFirmwareDatMagic = 0x12345678;
constexpr size_t kFirmwareDatHeaderSize = 20;
constexpr size_t kFirmwareDatRecordSize = 348;

// The date stored in the header.
struct FirmwareDatDate {
  int year = 2012;
  int month = 5;
  int day = 1;
};

// One receiver model: the fields the plug-in reads of its record.
struct FirmwareDatReceiver {
  uint16_t system_id = 0;    // low 16 bits of the receiver's system id
  uint32_t system_type = 0;  // 5 TMSS, 6 TMST, 7 TMSC, 0 none
  int32_t remote_type = 1;   // 2 and 3 change key codes
};

struct FirmwareDat {
  FirmwareDatDate date;
  std::vector<FirmwareDatReceiver> receivers;  // in file order
  std::string trailer;                         // what follows the receiver table

  // Header fields for files that are not what they should be.
  uint32_t magic = kFirmwareDatMagic;
  uint32_t reserved = 0;         // offset 8: 0 in every valid file
  std::optional<int32_t> count;  // offset 12: receivers.size() unless set

  // The whole file.
  std::string Bytes() const;
};

// The little-endian number `value` over `size` bytes of `bytes` at `offset`
// (the string grows as needed): for patching a written file in tests.
void PutLittleEndian(std::string *bytes, size_t offset, uint64_t value, size_t size);

}  // namespace sim
