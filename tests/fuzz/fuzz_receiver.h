// The stand-in receiver for the application-level fuzz drivers: booted once
// per process, with the test build of the plug-in's code answering to it, so
// that each input costs only the files it rewrites and the calls it makes.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "sim/receiver/receiver.h"

// A broken property: says which and aborts, so that both libFuzzer and the
// corpus replay report the input.
#define FUZZ_CHECK(condition)                                                  \
  do                                                                           \
  {                                                                            \
    if(!(condition))                                                           \
    {                                                                          \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                                 \
    }                                                                          \
  } while(0)

namespace fuzz {

// The plug-in's settings folder, as the receiver's shell sees it.
extern const char kAppFolder[];

// The receiver, booted on first use, with the plug-in's folders made and the
// plug-in's state as start-up leaves it before it loads the settings.
sim::Receiver &TheReceiver();

// Starts the next input: the trace emptied, the current folder back in the
// settings folder, nothing left over on the disk from the input before.
void NextInput();

// Files of the receiver, by receiver path ("/mnt/hd/...").
std::string HostPath(const std::string &receiver_path);
void WriteFile(const std::string &receiver_path, const std::string &content);
bool ReadFile(const std::string &receiver_path, std::string *content);
bool Exists(const std::string &receiver_path);
void Remove(const std::string &receiver_path);
// Names in a receiver folder, sorted.
std::vector<std::string> List(const std::string &receiver_path);

// What the plug-in's code must leave behind after every call: no heap block,
// no open INI buffer, a balanced folder stack.
void CheckNothingLeft();

// The input up to its first zero byte (consumed with it), cut to `max` bytes.
std::string TakeText(const uint8_t **data, size_t *size, size_t max);

}  // namespace fuzz
