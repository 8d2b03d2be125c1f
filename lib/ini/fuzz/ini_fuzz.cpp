// libFuzzer driver for the INI store's text handling: arbitrary bytes become
// the loaded text, a key and a value, and every getter and setter runs on
// them. Only the buffer-level functions are linked; the host's allocator is
// played by malloc here.
//
// Input: flags, key length, key, value length, value, then the text.
//
// Not part of the build (the main build compiles every .cpp below lib/;
// without BRIMVALE_FUZZ this file is empty there). From the top of the tree:
//   mkdir -p build-fuzz
//   clang++ -std=c++17 -DBRIMVALE_FUZZ -g -O1 -fsanitize=fuzzer,address,undefined -I.
//     lib/ini/fuzz/ini_fuzz.cpp lib/ini/INIBuffer.cpp lib/ini/INIFindEntry.cpp
//     lib/ini/INIFindStartEnd.cpp lib/ini/INIGetInt.cpp lib/ini/INIGetString.cpp
//     lib/ini/INISetInt.cpp lib/ini/INISetString.cpp lib/ini/INICloseFile.cpp
//     lib/ini/stricstr.cpp lib/ini/SkipCharTableBytes.cpp lib/str/*.cpp -o build-fuzz/ini_fuzz
//   build-fuzz/ini_fuzz -max_len=9000 -max_total_time=60
#ifdef BRIMVALE_FUZZ
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../ini.h"
#include "../ini_internal.h"

#define FUZZ_MAX_TEXT 8192
#define FUZZ_SENTINEL '\x5a'
#define FUZZ_BIG_VALUE 512

// Flags.
#define FLAG_AS_LOADED 0x01     // the text as a load leaves it: cut at a zero byte, ends with a line end
#define FLAG_TIGHT 0x02         // a buffer with no slack beyond the text
#define FLAG_FAIL_ALLOC 0x04    // every allocation after the first fails
#define FLAG_SET_INT 0x08       // INISetInt instead of INISetString

static int failAllocations;
static long liveAllocations;
static int allocationFailed;

static void *FuzzAlloc(dword size)
{
  if(failAllocations)
  {
    allocationFailed = 1;
    return NULL;
  }
  liveAllocations++;
  return malloc(size == 0 ? 1 : size);
}

static int FuzzFree(const void *block)
{
  if(block == NULL) return 0;
  liveAllocations--;
  free((void *)block);
  return 1;
}

void *(*TAP_MemAlloc)(dword size) = FuzzAlloc;
int (*TAP_MemFree)(const void *addr) = FuzzFree;

// Takes a length-prefixed field off the input.
static const uint8_t *Field(const uint8_t **data, size_t *size, size_t *length)
{
  if(*size == 0)
  {
    *length = 0;
    return *data;
  }
  size_t n = (*data)[0];
  (*data)++;
  (*size)--;
  if(n > *size) n = *size;
  const uint8_t *field = *data;
  *data += n;
  *size -= n;
  *length = n;
  return field;
}

static int Printable(const char *text)
{
  if(text[0] == '\0') return 0;
  for(; *text != '\0'; text++)
    if((unsigned char)*text < 0x20 || (unsigned char)*text > 0x7e) return 0;
  return 1;
}

static size_t LineBreaks(const char *text)
{
  size_t n = 0;
  for(; *text != '\0'; text++) n += *text == '\r' || *text == '\n';
  return n;
}

// A change may be refused only when it leaves the text as it was and even an
// appended entry would need the buffer to grow by more than one step.
static int RefusedForSize(const char *before, const char *key, size_t valueLength)
{
  if(strcmp(before, INIBuffer) != 0) return 0;
  size_t keyLength = strnlen(key, INI_KEY_LENGTH) + 1;
  size_t needed = strlen(before) + keyLength + valueLength + INI_LINE_END_LENGTH + 1;
  return needed > ((size_t)BufferSize / INI_GROWTH_STEP + 1) * INI_GROWTH_STEP;
}

static void CheckBuffer(void)
{
  if(INIBuffer == NULL || BufferSize == 0) abort();
  if(strnlen(INIBuffer, BufferSize) >= BufferSize) abort();  // unterminated
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if(size == 0) return 0;
  uint8_t flags = data[0];
  data++;
  size--;

  char key[256], value[256];
  size_t keyLength, valueLength;
  const uint8_t *field = Field(&data, &size, &keyLength);
  memcpy(key, field, keyLength);
  key[keyLength] = '\0';
  field = Field(&data, &size, &valueLength);
  memcpy(value, field, valueLength);
  value[valueLength] = '\0';
  if(size > FUZZ_MAX_TEXT) return 0;

  // The text, sized as a load sizes it or with no room to spare.
  dword textLength = (dword)size;
  dword bufferSize = flags & FLAG_TIGHT ? textLength + 1 + (flags & FLAG_AS_LOADED ? 2 : 0)
                                        : INI_BUFFER_BLOCK * (textLength / INI_BUFFER_BLOCK + INI_LOAD_SLACK_BLOCKS);
  failAllocations = 0;
  allocationFailed = 0;
  INIBuffer = (char *)TAP_MemAlloc(bufferSize);
  BufferSize = bufferSize;
  memset(INIBuffer, 0, bufferSize);
  memcpy(INIBuffer, data, textLength);
  if(flags & FLAG_AS_LOADED)
  {
    size_t cut = strlen(INIBuffer);
    memset(INIBuffer + cut, 0, textLength - cut);
    char last = cut > 0 ? INIBuffer[cut - 1] : '\0';
    if(last != '\r' && last != '\n') memcpy(INIBuffer + cut, "\r\n", 2);
  }
  CheckBuffer();

  // Finding: start and end lie in the text, end never before start, never
  // past the limit.
  dword limit = 1 + flags % 40;
  char *start, *end;
  INIFindStartEnd(key, &start, &end, limit);
  size_t length = strlen(INIBuffer);
  if(start != NULL && (start < INIBuffer || start >= INIBuffer + length)) abort();
  if(end != NULL && (start == NULL || end < start || end >= INIBuffer + length || end > start + limit - 1)) abort();
  char *hit = stricstr(INIBuffer, key);
  if(hit != NULL && (hit < INIBuffer || hit >= INIBuffer + length)) abort();

  // Reading never writes past the destination and always terminates it.
  for(dword destination = 1; destination <= 64; destination *= 4)
  {
    char out[65];
    memset(out, FUZZ_SENTINEL, sizeof(out));
    if(INIGetString(key, out, value, destination) != 1) abort();
    if(out[destination] != FUZZ_SENTINEL || strnlen(out, destination) >= destination) abort();
  }
  int minimum = -(int)(flags & 0x70), maximum = (int)(flags & 0x70) + 3;
  int number = INIGetInt(key, 12345, minimum, maximum);
  if(number != 12345 && (number < minimum || number > maximum)) abort();

  // Changing: the buffer stays terminated, a refused change leaves the text
  // as it was, no line break is ever lost, and a plain key reads back what
  // was stored.
  char *before = strdup(INIBuffer);
  failAllocations = (flags & FLAG_FAIL_ALLOC) != 0;
  int plain = (flags & FLAG_AS_LOADED) && Printable(key) && Printable(value) &&
              ((unsigned char)INIBuffer[0] >= 0x20 || INIBuffer[0] == '\r' || INIBuffer[0] == '\n');
  if(flags & FLAG_SET_INT)
  {
    int stored = (int)(uint32_t)((uint32_t)value[0] << 24 | (uint32_t)valueLength << 8 | flags);
    INISetInt(key, stored);
    CheckBuffer();
    if(allocationFailed && strcmp(before, INIBuffer) != 0) abort();
    if(LineBreaks(INIBuffer) < LineBreaks(before)) abort();
    char text[INI_INT_TEXT_SIZE];
    snprintf(text, sizeof(text), "%d", stored);
    if(plain && !allocationFailed && INIGetInt(key, 0, INT32_MIN, INT32_MAX) != stored &&
       !RefusedForSize(before, key, strlen(text)))
      abort();
  }
  else
  {
    INISetString(key, value);
    CheckBuffer();
    if(allocationFailed && strcmp(before, INIBuffer) != 0) abort();
    if(LineBreaks(INIBuffer) < LineBreaks(before)) abort();
    char out[FUZZ_BIG_VALUE];
    if(plain && !allocationFailed)
    {
      INIGetString(key, out, "", sizeof(out));
      if(strcmp(out, value) != 0 && !RefusedForSize(before, key, strlen(value))) abort();
    }
  }
  free(before);

  failAllocations = 0;
  INICloseFile();
  if(INIBuffer != NULL || BufferSize != 0 || liveAllocations != 0) abort();
  return 0;
}

#endif  // BRIMVALE_FUZZ
