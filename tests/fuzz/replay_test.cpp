// Runs a fuzz driver over every input of its corpus, the regression inputs
// of earlier findings among them, as an ordinary test in every build (the
// sanitizer and mipsel builds included). A broken property aborts the
// process; the input's name is printed before it runs.
#include <gtest/gtest.h>
#include <stdint.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

TEST(FuzzReplay, EveryCorpusInputKeepsItsProperties)
{
  std::vector<fs::path> inputs;
  for(const fs::directory_entry &e : fs::directory_iterator(FUZZ_CORPUS_DIR))
    if(e.is_regular_file()) inputs.push_back(e.path());
  std::sort(inputs.begin(), inputs.end());
  ASSERT_FALSE(inputs.empty()) << "no corpus in " << FUZZ_CORPUS_DIR;
  for(const fs::path &input : inputs)
  {
    std::ifstream in(input, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fprintf(stderr, "replay %s\n", input.filename().c_str());
    // libFuzzer hands the driver a block of exactly the input's size.
    uint8_t *block = new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)];
    std::copy(bytes.begin(), bytes.end(), block);
    EXPECT_EQ(LLVMFuzzerTestOneInput(block, bytes.size()), 0) << input;
    delete[] block;
  }
}
