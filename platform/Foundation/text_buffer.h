/* A growing text buffer, shared by Foundation's formatter, strings, files
   and exceptions. Internal. */
#ifndef FOUNDATION_TEXT_BUFFER_H
#define FOUNDATION_TEXT_BUFFER_H

#ifndef FND_HIDDEN
#define FND_HIDDEN __attribute__((visibility("hidden")))
#endif

namespace fnd {

/* Characters from malloc, kept NUL-terminated once anything is in them;
   no destructor, so that a raise may leave a frame that holds one. The
   owner frees data. */
struct TextBuffer {
  char *data;
  unsigned length;
  unsigned capacity;
};

/* Makes room for extra more characters and the NUL; false when memory
   runs out (the buffer is left as it was). */
FND_HIDDEN bool textReserve(TextBuffer *text, unsigned extra) noexcept;
/* Appends count bytes; false when memory runs out. */
FND_HIDDEN bool textAppend(TextBuffer *text, const char *bytes,
                           unsigned count) noexcept;

} // namespace fnd

#endif
