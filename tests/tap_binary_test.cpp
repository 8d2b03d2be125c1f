// The shipped Brimvale.tap as the firmware sees it: its identity sections,
// what it exports and what it needs from the receiver. Read straight from
// the ELF file, for whatever CPU it was built.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifndef BRIMVALE_SANITIZE
#define BRIMVALE_SANITIZE 0
#endif

namespace {

// ---- a small reader for little-endian ELF32 and ELF64 shared objects ----

struct Section {
  std::string name;
  uint32_t type;
  uint64_t addr, offset, size, link, entsize;
};

struct Symbol {
  std::string name;
  uint64_t value, size;
  uint16_t shndx;
  uint8_t bind, type, visibility;
};

class ElfFile {
 public:
  explicit ElfFile(const std::string &path)
  {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    bytes_ = data.str();
    if(bytes_.size() < 64 || bytes_.compare(0, 4, "\x7f" "ELF") != 0 || bytes_[5] != 1) return;
    is64_ = bytes_[4] == 2;
    uint64_t shoff = is64_ ? U64(0x28) : U32(0x20);
    uint16_t shentsize = U16(is64_ ? 0x3A : 0x2E), shnum = U16(is64_ ? 0x3C : 0x30);
    uint16_t shstrndx = U16(is64_ ? 0x3E : 0x32);
    for(uint16_t i = 0; i < shnum; ++i)
    {
      uint64_t h = shoff + static_cast<uint64_t>(i) * shentsize;
      Section s;
      s.name = std::to_string(U32(h));  // resolved below
      s.type = U32(h + 4);
      s.addr = is64_ ? U64(h + 0x10) : U32(h + 0x0C);
      s.offset = is64_ ? U64(h + 0x18) : U32(h + 0x10);
      s.size = is64_ ? U64(h + 0x20) : U32(h + 0x14);
      s.link = U32(h + (is64_ ? 0x28 : 0x18));
      s.entsize = is64_ ? U64(h + 0x38) : U32(h + 0x24);
      sections_.push_back(s);
    }
    if(shstrndx >= sections_.size()) return;
    const Section strtab = sections_[shstrndx];
    for(Section &s : sections_) s.name = Str(strtab.offset + std::stoull(s.name));
    valid_ = true;
  }

  bool valid() const { return valid_; }
  bool is64() const { return is64_; }
  const std::vector<Section> &sections() const { return sections_; }

  int SectionIndex(const std::string &name) const
  {
    for(size_t i = 0; i < sections_.size(); ++i)
      if(sections_[i].name == name) return static_cast<int>(i);
    return -1;
  }

  std::string Contents(int index) const { return bytes_.substr(sections_[index].offset, sections_[index].size); }

  std::vector<Symbol> DynamicSymbols() const
  {
    std::vector<Symbol> symbols;
    int index = SectionIndex(".dynsym");
    if(index < 0) return symbols;
    const Section &dynsym = sections_[index];
    const Section &dynstr = sections_[dynsym.link];
    size_t entsize = is64_ ? 24 : 16;
    for(uint64_t off = dynsym.offset + entsize; off + entsize <= dynsym.offset + dynsym.size; off += entsize)
    {
      Symbol s;
      s.name = Str(dynstr.offset + U32(off));
      uint8_t info = static_cast<uint8_t>(bytes_[off + (is64_ ? 4 : 12)]);
      s.bind = info >> 4;
      s.type = info & 0xF;
      s.visibility = static_cast<uint8_t>(bytes_[off + (is64_ ? 5 : 13)]) & 3;
      s.shndx = U16(off + (is64_ ? 6 : 14));
      s.value = is64_ ? U64(off + 8) : U32(off + 4);
      s.size = is64_ ? U64(off + 16) : U32(off + 8);
      symbols.push_back(s);
    }
    return symbols;
  }

  std::vector<std::string> Needed() const
  {
    std::vector<std::string> needed;
    int index = SectionIndex(".dynamic");
    if(index < 0) return needed;
    const Section &dyn = sections_[index];
    const Section &dynstr = sections_[dyn.link];
    size_t entsize = is64_ ? 16 : 8;
    for(uint64_t off = dyn.offset; off + entsize <= dyn.offset + dyn.size; off += entsize)
    {
      uint64_t tag = is64_ ? U64(off) : U32(off);
      uint64_t val = is64_ ? U64(off + 8) : U32(off + 4);
      if(tag == 0) break;
      if(tag == 1) needed.push_back(Str(dynstr.offset + val));  // DT_NEEDED
    }
    return needed;
  }

 private:
  uint16_t U16(uint64_t off) const { return static_cast<uint16_t>(Byte(off) | Byte(off + 1) << 8); }
  uint32_t U32(uint64_t off) const { return U16(off) | static_cast<uint32_t>(U16(off + 2)) << 16; }
  uint64_t U64(uint64_t off) const { return U32(off) | static_cast<uint64_t>(U32(off + 4)) << 32; }
  uint32_t Byte(uint64_t off) const { return off < bytes_.size() ? static_cast<uint8_t>(bytes_[off]) : 0; }
  std::string Str(uint64_t off) const { return off < bytes_.size() ? std::string(bytes_.c_str() + off) : ""; }

  std::string bytes_;
  bool is64_ = false;
  bool valid_ = false;
  std::vector<Section> sections_;
};

constexpr uint16_t kUndefined = 0;
constexpr uint8_t kGlobal = 1, kWeak = 2;

// The names in a list of imports (host/tap.imports, host/libc.imports): the
// first word of each line that is not a comment.
std::set<std::string> ImportList(const char *file)
{
  std::ifstream in(std::string(BRIMVALE_SOURCE_DIR) + "/host/" + file);
  std::set<std::string> names;
  std::string line;
  while(std::getline(in, line))
  {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string name;
    if(words >> name) names.insert(name);
  }
  return names;
}

std::string Unversioned(const std::string &name) { return name.substr(0, name.find('@')); }

bool IsSanitizerSymbol(const std::string &name)
{
  // Instrumented code registers its globals and reports through these.
  return name.find("asan") != std::string::npos || name.find("ubsan") != std::string::npos ||
         name.find("sanitizer") != std::string::npos || name.find("lsan") != std::string::npos;
}

class TapBinary : public ::testing::Test {
 protected:
  TapBinary() : elf(BRIMVALE_TAP) {}
  ElfFile elf;
};

TEST_F(TapBinary, CarriesTheSixIdentitySections)
{
  ASSERT_TRUE(elf.valid());
  std::string header("TFAPMIPS\x10\0\0\0", 12);
  header.resize(32, '\0');
  const struct {
    const char *section;
    const char *object;
    size_t size;
    std::string contents;  // empty: checked separately
  } expected[] = {
    {"._tap_program_name", "__tap_program_name__", 64, std::string("Brimvale 3.1").append(52, '\0')},
    {"._tap_description", "__tap_description__", 128, std::string("Mounts NAS-Servers with NFS").append(101, '\0')},
    {"._tap_author_name", "__tap_author_name__", 64, ""},
    {"._tap_etcinfo", "__tap_etc_str__", 64, ""},
    {"._tap_id", "__tap_ud__", 4, std::string("\x06\x01\x00\x80", 4)},
    {"._tap_header", "__tap_Header__", 32, header},
  };
  std::vector<Symbol> symbols = elf.DynamicSymbols();
  for(const auto &e : expected)
  {
    int index = elf.SectionIndex(e.section);
    ASSERT_GE(index, 0) << e.section;
    EXPECT_EQ(elf.sections()[index].size, e.size) << e.section;
    std::string contents = elf.Contents(index);
    if(!e.contents.empty()) EXPECT_EQ(contents, e.contents) << e.section;

    bool found = false;
    for(const Symbol &s : symbols)
    {
      if(s.name != e.object) continue;
      found = true;
      EXPECT_EQ(s.shndx, index) << e.object << " lies in its own section";
      EXPECT_EQ(s.value, elf.sections()[index].addr) << e.object << " starts its section";
      EXPECT_EQ(s.size, e.size) << e.object;
      EXPECT_EQ(s.bind, kGlobal) << e.object;
    }
    EXPECT_TRUE(found) << e.object << " is exported";
  }

  // Texts: zero-terminated and zero-padded to the section size.
  std::string author = elf.Contents(elf.SectionIndex("._tap_author_name"));
  EXPECT_GT(std::strlen(author.c_str()), 0u);
  EXPECT_EQ(author.find_first_not_of('\0', std::strlen(author.c_str())), std::string::npos);
  std::string date = elf.Contents(elf.SectionIndex("._tap_etcinfo"));
  std::string text = date.c_str();
  EXPECT_TRUE(std::regex_match(text, std::regex("(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) ( [1-9]|[12][0-9]|3[01]) 20[0-9]{2}")))
      << "\"" << text << "\" is not of the form \"Jan  9 2015\"";
  EXPECT_EQ(date.find_first_not_of('\0', text.size()), std::string::npos);
}

TEST_F(TapBinary, ExportsOnlyItsEntryPointsAndIdentity)
{
  ASSERT_TRUE(elf.valid());
  const std::set<std::string> expected = {
    "__TAP_Init_", "TAP_Main", "TAP_EventHandler",
    "__tap_program_name__", "__tap_description__", "__tap_author_name__", "__tap_etc_str__", "__tap_ud__",
    "__tap_Header__",
  };
  std::set<std::string> exported;
  for(const Symbol &s : elf.DynamicSymbols())
    if(s.shndx != kUndefined && (s.bind == kGlobal || s.bind == kWeak) && !s.name.empty())
      if(!(BRIMVALE_SANITIZE && IsSanitizerSymbol(s.name))) exported.insert(s.name);
  EXPECT_EQ(exported, expected);
}

TEST_F(TapBinary, NeedsOnlyTheHostInterfaceAndTheCLibrary)
{
  ASSERT_TRUE(elf.valid());
  // The host functions and the C library and loader calls every receiver
  // generation exports.
  const std::set<std::string> host = ImportList("tap.imports");
  ASSERT_GT(host.size(), 30u) << "host/tap.imports could not be read";
  const std::set<std::string> libc = ImportList("libc.imports");
  ASSERT_GT(libc.size(), 20u) << "host/libc.imports could not be read";
  for(const Symbol &s : elf.DynamicSymbols())
  {
    if(s.shndx != kUndefined || s.name.empty()) continue;
    std::string name = Unversioned(s.name);
    bool allowed = host.count(name) || libc.count(name) || (BRIMVALE_SANITIZE && IsSanitizerSymbol(name));
    EXPECT_TRUE(allowed) << "the plug-in needs " << s.name << ", which is in neither host/tap.imports nor host/libc.imports";
  }
  // The shipped build names no library and no symbol version: the receiver's
  // loader finds the C library calls in the firmware's own C library, which
  // knows nothing of this machine's versions. The sanitizer runtimes bring
  // the C library, the C++ runtime and libm along in that build only.
  const std::set<std::string> sanitizer_libs = {"libc.so.6", "libdl.so.2", "libstdc++.so.6", "libm.so.6"};
  for(const std::string &lib : elf.Needed())
  {
    bool allowed = BRIMVALE_SANITIZE && (lib.rfind("libasan", 0) == 0 || lib.rfind("libubsan", 0) == 0 ||
                                         sanitizer_libs.count(lib));
    EXPECT_TRUE(allowed) << "the plug-in needs " << lib;
  }
  if(!BRIMVALE_SANITIZE) EXPECT_LT(elf.SectionIndex(".gnu.version_r"), 0) << "the plug-in asks for symbol versions";
}

TEST_F(TapBinary, IsBuiltForThisMachinesWordSize)
{
  ASSERT_TRUE(elf.valid());
  EXPECT_EQ(elf.is64(), sizeof(void *) == 8);
}

}  // namespace
