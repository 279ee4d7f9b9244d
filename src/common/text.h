// Small text helpers of our own. The Windows build has no C runtime, so the
// product uses these in both builds instead of the C library's string calls.
// Every write into a fixed buffer is bounded and reports whether the result
// is whole: a cut path or name must never be acted on.
#pragma once

#include "../win32.h"

typedef unsigned int TextSize;

TextSize TextLength(const char *text);

// 1 when text equals other byte for byte.
int TextEqual(const char *text, const char *other);

// strncmp over `length` bytes: 0 when equal, else the sign of the first
// differing byte (compared as unsigned). Stops at a terminator in either.
int ComparePrefix(const char *text, const char *prefix, TextSize length);

// Copies src whole into dst (capacity counts the terminator) and gives 1; when
// it does not fit, dst becomes "" and the result is 0.
int CopyTextWhole(char *dst, TextSize capacity, const char *src);
// Appends src to the text in dst, whole: 1 when it fits, else 0 with dst as it was.
int AppendTextWhole(char *dst, TextSize capacity, const char *src);

// Formats into dst with "%s" (the next text argument) and "%%" as the only
// conversions. Gives 1 when the whole result fits; otherwise dst becomes ""
// and the result is 0. NULL arguments format as "".
int FormatTextWhole(char *dst, TextSize capacity, const char *format, ...);
