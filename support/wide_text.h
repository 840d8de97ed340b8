// UTF-8 and UTF-16 texts on Windows, whose interfaces take UTF-16 where
// the rest of this program keeps UTF-8 (support/wide_text_windows.cc).
#pragma once

#include <wchar.h>

// A new UTF-16 copy of a UTF-8 text, from must_malloc; never null.  Bytes
// that are no UTF-8 become U+FFFD.
wchar_t *wide_from_utf8(const char *text);
// A new UTF-8 copy of a UTF-16 text, from must_malloc; never null.
char *utf8_from_wide(const wchar_t *text);
// The same with the system allocator: null when memory runs out.
wchar_t *wide_from_utf8_or_null(const char *text);
char *utf8_from_wide_or_null(const wchar_t *text);
