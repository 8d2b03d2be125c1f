#include "ini.h"

// Selectors at the start of broadcast text: 0x10 carries two more bytes, 0x1F
// one more, every other control byte stands alone.
#define SELECTOR_TABLE_PAGE 0x10
#define SELECTOR_TABLE_PAGE_LENGTH 3
#define SELECTOR_ENCODING 0x1F
#define SELECTOR_ENCODING_LENGTH 2
#define SELECTOR_FIRST 0x01
#define SELECTOR_LAST 0x1F

const char *SkipCharTableBytes(const char *text)
{
  if(text == NULL) return NULL;

  unsigned char first = (unsigned char)text[0];
  int skip = 0;
  if(first == SELECTOR_TABLE_PAGE) skip = SELECTOR_TABLE_PAGE_LENGTH;
  else if(first == SELECTOR_ENCODING) skip = SELECTOR_ENCODING_LENGTH;
  else if(first >= SELECTOR_FIRST && first <= SELECTOR_LAST) skip = 1;

  // A selector cut short by the end of the text must not carry us past it.
  while(skip > 0 && *text != '\0')
  {
    text++;
    skip--;
  }
  return text;
}
