// Text helpers shared by both builds (the Windows build has no C runtime).
#include "text.h"

#include <stdarg.h>

TextSize TextLength(const char *text) {
  TextSize length = 0;
  while (text[length]) ++length;
  return length;
}

int TextEqual(const char *text, const char *other) {
  while (*text && *text == *other) {
    ++text;
    ++other;
  }
  return *text == *other;
}

int ComparePrefix(const char *text, const char *prefix, TextSize length) {
  for (TextSize i = 0; i < length; ++i) {
    unsigned char a = static_cast<unsigned char>(text[i]);
    unsigned char b = static_cast<unsigned char>(prefix[i]);
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
  return 0;
}

int CopyTextWhole(char *dst, TextSize capacity, const char *src) {
  if (capacity == 0) return 0;
  TextSize i = 0;
  for (; src[i]; ++i) {
    if (i + 1 >= capacity) {
      dst[0] = 0;
      return 0;
    }
    dst[i] = src[i];
  }
  dst[i] = 0;
  return 1;
}

int AppendTextWhole(char *dst, TextSize capacity, const char *src) {
  TextSize used = TextLength(dst);
  return used < capacity && CopyTextWhole(dst + used, capacity - used, src);
}

int FormatTextWhole(char *dst, TextSize capacity, const char *format, ...) {
  if (capacity == 0) return 0;
  va_list args;
  va_start(args, format);
  TextSize out = 0;
  int whole = 1;
  for (const char *f = format; *f && whole; ++f) {
    const char *insert = f;
    TextSize insertLength = 1;
    if (f[0] == '%' && f[1] == 's') {
      insert = va_arg(args, const char *);
      if (!insert) insert = "";
      insertLength = TextLength(insert);
      ++f;
    } else if (f[0] == '%' && f[1] == '%') {
      ++f;
    }
    for (TextSize i = 0; i < insertLength; ++i) {
      if (out + 1 >= capacity) {
        whole = 0;
        break;
      }
      dst[out++] = insert[i];
    }
  }
  va_end(args);
  if (!whole) out = 0;
  dst[out] = 0;
  return whole;
}
