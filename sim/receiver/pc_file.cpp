// Reading a whole file of the PC.
#include "pc_file.h"

#include <fstream>
#include <sstream>

namespace sim {

bool ReadPcFile(const std::string &path, std::string *text)
{
  text->clear();
  std::ifstream in(path, std::ios::binary);
  if(!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  if(in.bad()) return false;
  *text = all.str();
  return true;
}

}  // namespace sim
