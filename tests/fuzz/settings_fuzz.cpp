// libFuzzer driver for the settings files as the application reads them:
// LoadINI on any file text, into any of the nine server records.
//
// Input: byte 0 flags, bytes 1-2 server 1's boot time, then
//   - a file's text, loaded into record n (n from the flags), or
//   - with ROUND_TRIP: the values of record 1 and the global settings, which
//     SaveINI writes into a new main file that LoadINI must read back as they
//     were.
// Checked: every text field terminated inside its capacity, every number in
// its range (the boot-time rule included), the run-time fields and the other
// records untouched, the settings file and its folder unchanged by a load, no
// heap block, INI buffer or folder-stack entry left behind.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/Brimvale.h"
#include "app/settings.h"
#include "fuzz_receiver.h"
#include "lib/paths/paths.h"

namespace {

// Byte 0 of the input.
constexpr uint8_t kServerMask = 0x0F;    // n = 1 + this % 9
constexpr uint8_t kNasRecording = 0x10;  // server 1 holds the recording folder
constexpr uint8_t kGerman = 0x20;
constexpr uint8_t kRoundTrip = 0x40;
constexpr uint8_t kInSettings = 0x80;    // the file lies in /ProgramFiles/Settings

constexpr uint8_t kScribble = 0x5A;
constexpr int kGlobalSentinel = 77;
const std::string kSettings = "/mnt/hd/ProgramFiles/Settings";

struct Snapshot {
  ServerRecord table[SERVER_TABLE_SIZE];
};

bool Terminated(const char *field, size_t size) { return strnlen(field, size) < size; }

void CheckRecord(const ServerRecord &s, int n, int recordingBootTime)
{
  FUZZ_CHECK(Terminated(s.address, sizeof(s.address)));
  FUZZ_CHECK(Terminated(s.mac, sizeof(s.mac)));
  FUZZ_CHECK(Terminated(s.localName, sizeof(s.localName)));
  for(int f = 0; f < REMOTE_FOLDER_COUNT; ++f) FUZZ_CHECK(Terminated(s.remoteFolder[f], sizeof(s.remoteFolder[f])));
  FUZZ_CHECK(Terminated(s.mountOptions, sizeof(s.mountOptions)));
  FUZZ_CHECK(s.autoMount == 0 || s.autoMount == 1);
  FUZZ_CHECK(s.pingWait >= 1 && s.pingWait <= 10);
  FUZZ_CHECK(s.pingGap >= 10 && s.pingGap <= 300);
  if(n != 1 && NASRecord == 1)
    // Mounted after the recording server, and pushed past 600 only by it.
    FUZZ_CHECK(s.bootTime > recordingBootTime && (s.bootTime <= 600 || s.bootTime == recordingBootTime + 1));
  else
    FUZZ_CHECK(s.bootTime >= 0 && s.bootTime <= 600);

  // What start-up and the scheduler own is not the settings' business.
  ServerRecord pattern;
  memset(&pattern, kScribble, sizeof(pattern));
  FUZZ_CHECK(s.mountDueTick == pattern.mountDueTick && s.tries == pattern.tries &&
             s.nextProbeTick == pattern.nextProbeTick && s.mounted == pattern.mounted);
}

void LoadOne(uint8_t flags, int recordingBootTime, const uint8_t *data, size_t size)
{
  int n = 1 + (flags & kServerMask) % MAX_SERVERS;
  char name[16];
  snprintf(name, sizeof(name), n == 1 ? MAIN_INI_NAME : SERVER_INI_FORMAT, n);
  std::string folder = flags & kInSettings ? kSettings : std::string(fuzz::kAppFolder);
  std::string path = folder + "/" + name;
  std::string text(reinterpret_cast<const char *>(data), size);
  fuzz::WriteFile(path, text);
  std::vector<std::string> before = fuzz::List(folder);

  memset(ServerTable, kScribble, sizeof(ServerTable));
  ServerTable[1].bootTime = recordingBootTime;
  NASRecord = flags & kNasRecording ? 1 : 0;
  Timerdelay = Initialdelay = Silentmode = logfile = kGlobalSentinel;
  Snapshot old;
  memcpy(old.table, ServerTable, sizeof(ServerTable));

  FUZZ_CHECK(LoadINI(name, n) == 1);

  CheckRecord(ServerTable[n], n, recordingBootTime);
  for(int i = 0; i < SERVER_TABLE_SIZE; ++i)
    if(i != n) FUZZ_CHECK(memcmp(&ServerTable[i], &old.table[i], sizeof(ServerRecord)) == 0);
  if(n == 1)
  {
    FUZZ_CHECK(NASRecord == 0 || NASRecord == 1);
    FUZZ_CHECK(Timerdelay == 0 || Timerdelay == 1);
    FUZZ_CHECK(Initialdelay >= 0 && Initialdelay <= 600);
    FUZZ_CHECK(Silentmode == 0 || Silentmode == 1);
    FUZZ_CHECK(logfile == 0 || logfile == 1);
  }
  else
  {
    // A server file never sets a global setting, whatever it holds.
    FUZZ_CHECK(NASRecord == (flags & kNasRecording ? 1 : 0));
    FUZZ_CHECK(Timerdelay == kGlobalSentinel && Initialdelay == kGlobalSentinel &&
               Silentmode == kGlobalSentinel && logfile == kGlobalSentinel);
  }

  // Reading writes nothing.
  std::string after;
  FUZZ_CHECK(fuzz::ReadFile(path, &after) && after == text);
  FUZZ_CHECK(fuzz::List(folder) == before);
  fuzz::CheckNothingLeft();
  fuzz::Remove(path);
}

// A value that the file format carries unchanged: no line break, no "=" (a
// value holding another key and "=" is that key's entry by the format's
// rules), no zero byte.
void FillText(char *field, size_t size, const uint8_t **data, size_t *left)
{
  std::string text = fuzz::TakeText(data, left, size - 1);
  for(char &c : text)
    if(c == '\r' || c == '\n' || c == '=') c = '_';
  memcpy(field, text.c_str(), text.size() + 1);
}

int Number(const uint8_t **data, size_t *left, int low, int high)
{
  unsigned value = 0;
  for(int k = 0; k < 2 && *left > 0; ++k, ++*data, --*left) value = value << 8 | **data;
  return low + static_cast<int>(value % static_cast<unsigned>(high - low + 1));
}

void RoundTrip(const uint8_t *data, size_t size)
{
  const std::string path = std::string(fuzz::kAppFolder) + "/" + MAIN_INI_NAME;
  fuzz::Remove(path);
  memset(ServerTable, kScribble, sizeof(ServerTable));
  ServerRecord &s = ServerTable[1];
  FillText(s.address, sizeof(s.address), &data, &size);
  FillText(s.mac, sizeof(s.mac), &data, &size);
  FillText(s.localName, sizeof(s.localName), &data, &size);
  for(int f = 0; f < REMOTE_FOLDER_COUNT; ++f) FillText(s.remoteFolder[f], sizeof(s.remoteFolder[f]), &data, &size);
  FillText(s.mountOptions, sizeof(s.mountOptions), &data, &size);
  s.bootTime = Number(&data, &size, 0, 600);
  s.autoMount = Number(&data, &size, 0, 1);
  s.pingWait = Number(&data, &size, 1, 10);
  s.pingGap = Number(&data, &size, 10, 300);
  NASRecord = Number(&data, &size, 0, 1);
  Timerdelay = Number(&data, &size, 0, 1);
  Initialdelay = Number(&data, &size, 0, 600);
  Silentmode = Number(&data, &size, 0, 1);
  logfile = Number(&data, &size, 0, 1);
  ServerRecord written = s;
  // Values are read back without the blanks and tabs around them.
  // Past the value's end a field keeps what was there before the load.
  auto trimmed = [](char *text) {
    size_t length = strlen(text), n = length, from = 0;
    while(n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
    while(from < n && (text[from] == ' ' || text[from] == '\t')) ++from;
    memmove(text, text + from, n - from);
    text[n - from] = 0;
    if(length > n - from) memset(text + (n - from) + 1, kScribble, length - (n - from));
  };
  trimmed(written.address);
  trimmed(written.mac);
  trimmed(written.localName);
  for(int f = 0; f < REMOTE_FOLDER_COUNT; ++f) trimmed(written.remoteFolder[f]);
  trimmed(written.mountOptions);
  int globals[] = {NASRecord, Timerdelay, Initialdelay, Silentmode, logfile};

  SaveINI();
  FUZZ_CHECK(fuzz::Exists(path));
  fuzz::CheckNothingLeft();

  memset(ServerTable, kScribble, sizeof(ServerTable));
  NASRecord = Timerdelay = Initialdelay = Silentmode = logfile = kGlobalSentinel;
  FUZZ_CHECK(LoadINI(MAIN_INI_NAME, 1) == 1);
  FUZZ_CHECK(memcmp(&s, &written, sizeof(s)) == 0);
  int read[] = {NASRecord, Timerdelay, Initialdelay, Silentmode, logfile};
  FUZZ_CHECK(memcmp(read, globals, sizeof(read)) == 0);
  fuzz::CheckNothingLeft();
  fuzz::Remove(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if(size < 3 || size > 65536) return 0;
  fuzz::TheReceiver();
  fuzz::NextInput();
  uint8_t flags = data[0];
  int recordingBootTime = (data[1] | data[2] << 8) % 601;
  lang = flags & kGerman ? LANGUAGE_GERMAN : 1;
  if(flags & kRoundTrip)
    RoundTrip(data + 3, size - 3);
  else
    LoadOne(flags, recordingBootTime, data + 3, size - 3);
  return 0;
}
