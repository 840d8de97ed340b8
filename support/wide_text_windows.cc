// UTF-8 and UTF-16 conversions through the system's own converter, so that
// what reaches a wide interface is what the user typed, whatever the ANSI
// code page is.

#include <stdlib.h>
#include <windows.h>

#include "support/support.h"
#include "support/wide_text.h"

wchar_t *wide_from_utf8_or_null(const char *text) {
  int count = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (count <= 0) return nullptr;
  wchar_t *wide = (wchar_t *)malloc((size_t)count * sizeof(wchar_t));
  if (wide == nullptr) return nullptr;
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, count);
  return wide;
}

char *utf8_from_wide_or_null(const wchar_t *text) {
  int count = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return nullptr;
  char *narrow = (char *)malloc((size_t)count);
  if (narrow == nullptr) return nullptr;
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, count, nullptr, nullptr);
  return narrow;
}

wchar_t *wide_from_utf8(const char *text) {
  int count = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (count <= 0) count = 1;
  wchar_t *wide = (wchar_t *)must_malloc((size_t)count * sizeof(wchar_t));
  if (MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, count) <= 0) wide[0] = L'\0';
  return wide;
}

char *utf8_from_wide(const wchar_t *text) {
  int count = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (count <= 0) count = 1;
  char *narrow = (char *)must_malloc((size_t)count);
  if (WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, count, nullptr, nullptr) <= 0)
    narrow[0] = '\0';
  return narrow;
}
