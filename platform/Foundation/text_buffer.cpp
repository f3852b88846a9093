/* The growing text buffer: room doubles, from 64 bytes. */
#include "text_buffer.h"

#include <stdlib.h>
#include <string.h>

bool fnd::textReserve(TextBuffer *text, unsigned extra) noexcept {
  const unsigned needed = text->length + extra + 1;
  if (needed < text->length || needed < extra)
    return false; /* past 4 GiB */
  if (needed <= text->capacity)
    return true;
  unsigned capacity = text->capacity ? text->capacity : 64;
  while (capacity < needed) {
    if (capacity > 0x7fffffffu) {
      capacity = needed;
      break;
    }
    capacity *= 2;
  }
  char *grown = static_cast<char *>(realloc(text->data, capacity));
  if (!grown)
    return false;
  text->data = grown;
  text->capacity = capacity;
  return true;
}

bool fnd::textAppend(TextBuffer *text, const char *bytes,
                     unsigned count) noexcept {
  if (!textReserve(text, count))
    return false;
  memcpy(text->data + text->length, bytes, count);
  text->length += count;
  text->data[text->length] = '\0';
  return true;
}
