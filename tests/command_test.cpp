// Settings values pasted into shell command lines: every character the shell
// would act on at a value's place in the line makes the value unsafe.
#include <gtest/gtest.h>

#include <string>

#include "app/command.h"

namespace {

TEST(CommandSafety, EachCharacterTheShellActsOnIsRefusedOnItsOwn)
{
  const std::string inQuotes = "\"`$\\\r\n";
  const std::string inWords = inQuotes + ";&|<>()'*?[]{}~#!";
  const struct {
    const char *name;
    ArgPosition position;
    std::string refused;
    std::string taken;  // harmless there, and needed: folder names hold blanks
  } positions[] = {
    {"quoted", ARG_QUOTED, inQuotes, " ;&|<>()'*?[]{}~#!"},
    {"options", ARG_OPTIONS, inWords, " "},
    {"word", ARG_WORD, inWords + " \t", ""},
  };
  for(const auto &p : positions)
  {
    EXPECT_EQ(IsSafeArgument("volume1", p.position), 1) << p.name;
    for(char c : p.refused)
      EXPECT_EQ(IsSafeArgument(("vol" + std::string(1, c) + "ume1").c_str(), p.position), 0)
          << p.name << " takes character " << static_cast<int>(c);
    for(char c : p.taken)
      EXPECT_EQ(IsSafeArgument(("vol" + std::string(1, c) + "ume1").c_str(), p.position), 1)
          << p.name << " refuses character " << static_cast<int>(c);
  }
  EXPECT_EQ(IsSafeArgument(nullptr, ARG_QUOTED), 0);
}

}  // namespace
