// The plug-in's texts are 8-bit ISO 8859-1, as the receiver shows them;
// terminals, browsers and the output files want UTF-8.
#pragma once

#include <string>

namespace sim {

inline std::string Latin1ToUtf8(const std::string &text)
{
  std::string out;
  for(unsigned char c : text)
  {
    if(c < 0x80)
      out += static_cast<char>(c);
    else
    {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace sim
