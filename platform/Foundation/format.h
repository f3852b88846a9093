/* printf-style formatting into a text buffer, with %@ for objects.
   Internal to Foundation. */
#ifndef FOUNDATION_FORMAT_H
#define FOUNDATION_FORMAT_H

#include <stdarg.h>

#include "text_buffer.h"

namespace fnd {

/* Appends printf-style output; %@ inserts the characters of an object's
   description ("(null)" for nil). The va_list is consumed through the
   pointer. */
FND_HIDDEN void textFormat(TextBuffer *text, const char *format,
                           va_list *args) noexcept;

} // namespace fnd

#endif
