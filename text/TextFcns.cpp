// TextFunctions core helpers: clamps, CopyText, FormatText, FormatTextSafe.
// Threading: stateless; any thread.
#include "text/TextFcns.h"

#include <cstdio>
#include <cstring>

float ClampF(float lo, float x, float hi) {
  if (x >= hi) return hi;
  if (x < lo) return lo;
  if (x != x) return lo;  // NaN compares false above; it still lands on lo
  return x;
}

double ClampD(double lo, double x, double hi) {
  if (x >= hi) return hi;
  if (x < lo) return lo;
  if (x != x) return lo;
  return x;
}

double ClampDFD(double lo, float x, double hi) { return ClampD(lo, static_cast<double>(x), hi); }

double ClampFDD(float lo, double x, double hi) {
  if (x >= hi) return hi;
  // Unlike the other clamps this one lets a NaN through: its second test
  // only replaces x when x is known to lie below lo.
  if (!(static_cast<double>(lo) > x)) return x;
  return lo;
}

int ClampI(int lo, int x, int hi) {
  return static_cast<int>(
      ClampD(static_cast<double>(lo), static_cast<double>(x), static_cast<double>(hi)));
}

char* CopyText(char* dst, const char* src, int size) {
  if (dst == nullptr || src == nullptr || size <= 0) {
    return nullptr;
  }
  // strncpy semantics: copy up to size characters, zero-fill the rest.
  int i = 0;
  for (; i < size && src[i] != '\0'; ++i) {
    dst[i] = src[i];
  }
  for (; i < size; ++i) {
    dst[i] = '\0';
  }
  dst[size - 1] = '\0';
  return dst;
}

int FormatTextV(char* buf, int size, const char* format, va_list args) {
  if (buf == nullptr || size < 0 || format == nullptr) {
    return 0;
  }
  // C99 vsnprintf returns the length it needed; the counted formatter this
  // library was written against returns a negative count on overflow, so
  // report that on every runtime.
  const int needed = std::vsnprintf(buf, static_cast<std::size_t>(size) + 1, format, args);
  buf[size] = '\0';
  if (needed < 0) {
    return needed;
  }
  return needed > size ? -1 : needed;
}

int FormatText(char* buf, int size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = FormatTextV(buf, size, format, args);
  va_end(args);
  return n;
}

int FormatTextSafeV(char* buf, int size, const char* format, va_list args) {
  if (buf == nullptr || size < 1 || format == nullptr) {
    return 0;
  }
  std::memset(buf, 0, static_cast<std::size_t>(size));
  const int needed = std::vsnprintf(buf, static_cast<std::size_t>(size), format, args);
  // A text of exactly size characters counts size (the counted formatter
  // filled buf without a terminator); a longer one counts negative.
  int n = needed > size ? -1 : needed;
  if (n < 0 || n >= size) {
    buf[size - 1] = '\0';
  } else {
    buf[n] = '\0';
  }
  return n;
}

int FormatTextSafe(char* buf, int size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = FormatTextSafeV(buf, size, format, args);
  va_end(args);
  return n;
}
