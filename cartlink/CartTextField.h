#pragma once
#include <windows.h>
#include "common/CStringEx.h"

// Fixed-width 8-bit name fields of the cart protocol, in the thread's ANSI code page.
namespace CartTextField
{
// Fills a field of `width` bytes from `text`: an empty text leaves the field untouched;
// otherwise the field is zeroed and the first min(length, width) bytes of the converted
// text are copied in, so a name that fills the field has no terminating zero.
void Write(BYTE* field, int width, LPCWSTR text);

// Reads a received field: at most `length` bytes (never more than `capacity`), stopping
// at the first zero byte.
CStringEx Read(const BYTE* field, int length, int capacity);
}
