#include "firmware_dat.h"

namespace sim {

namespace {

// Header offsets.
constexpr size_t kDayOffset = 4, kMonthOffset = 5, kYearOffset = 6;
constexpr size_t kReservedOffset = 8, kCountOffset = 12;
// Receiver record offsets.
constexpr size_t kSystemIdOffset = 0, kSystemTypeOffset = 292, kRemoteTypeOffset = 320;

// Unread bytes: never 0, and different from one offset to the next.
std::string Pattern(size_t length, size_t start)
{
  std::string bytes(length, '\0');
  for(size_t k = 0; k < length; ++k) bytes[k] = static_cast<char>(0x80 | ((start + k) * 37 % 127));
  return bytes;
}

}  // namespace

void PutLittleEndian(std::string *bytes, size_t offset, uint64_t value, size_t size)
{
  if(bytes->size() < offset + size) bytes->resize(offset + size, '\0');
  for(size_t k = 0; k < size; ++k) (*bytes)[offset + k] = static_cast<char>((value >> (8 * k)) & 0xFF);
}

std::string FirmwareDat::Bytes() const
{
  size_t table = receivers.size() * kFirmwareDatRecordSize;
  std::string bytes = Pattern(kFirmwareDatHeaderSize + table, 0);

  PutLittleEndian(&bytes, 0, magic, 4);
  PutLittleEndian(&bytes, kDayOffset, static_cast<uint64_t>(date.day), 1);
  PutLittleEndian(&bytes, kMonthOffset, static_cast<uint64_t>(date.month), 1);
  PutLittleEndian(&bytes, kYearOffset, static_cast<uint64_t>(date.year), 2);
  PutLittleEndian(&bytes, kReservedOffset, reserved, 4);
  int32_t stated = count.value_or(static_cast<int32_t>(receivers.size()));
  PutLittleEndian(&bytes, kCountOffset, static_cast<uint32_t>(stated), 4);

  for(size_t n = 0; n < receivers.size(); ++n)
  {
    size_t record = kFirmwareDatHeaderSize + n * kFirmwareDatRecordSize;
    const FirmwareDatReceiver &r = receivers[n];
    PutLittleEndian(&bytes, record + kSystemIdOffset, r.system_id, 2);
    PutLittleEndian(&bytes, record + kSystemTypeOffset, r.system_type, 4);
    PutLittleEndian(&bytes, record + kRemoteTypeOffset, static_cast<uint32_t>(r.remote_type), 4);
  }
  return bytes + trailer;
}

}  // namespace sim
