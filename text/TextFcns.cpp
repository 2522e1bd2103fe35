// TextFunctions core helpers: clamps, CopyText, FormatText, FormatTextSafe,
// the two filters, and cleaning, copying, tests, parsers and extraction.
// Threading: stateless; any thread.
#include "text/TextFcns.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

const char g_szTextFunctionsRevision[] =
    "%Z% TextFunctions KT3102:01 TextFunctions $Revision: 1.14 $";

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

double UpdateBacklash(double input, Backlash& state) {
  switch (state.mode) {
    case InsideAfterRise:
      if (input < state.lower) state.mode = PushingDown;
      if (input > state.upper) state.mode = PushingUp;
      break;
    case InsideAfterFall:
      if (input > state.upper) state.mode = PushingUp;
      if (input < state.lower) state.mode = PushingDown;
      break;
    case PushingDown:
      // The band moves on the very call that reverses, so after a turn it
      // is anchored at the first sample past the turning point.
      if (input > state.lastInput) state.mode = InsideAfterFall;
      state.lower = input;
      state.upper = input + state.width;
      state.output = (input + state.width / 2.0) * state.gain;
      break;
    case PushingUp:
      if (input < state.lastInput) state.mode = InsideAfterRise;
      state.upper = input;
      state.lower = input - state.width;
      state.output = (input - state.width / 2.0) * state.gain;
      break;
    default:
      state.mode = InsideAfterFall;
      break;
  }
  state.lastInput = input;
  return state.output;
}

double RateLimit(double target, double current, const RateLimits& limits) {
  if (limits.timeStep == 0.0) {
    return 0.0;
  }
  const double diff = target - current;
  if (target > current) {
    const double step = limits.riseRate * limits.timeStep;
    return diff > step ? current + step : target;
  }
  const double step = limits.fallRate * limits.timeStep;
  return diff < step ? current + step : target;
}

int TextBufferSize() { return 1024; }

char BoolLetter(bool b) { return b ? 'T' : 'F'; }

// The rebuilding cleaners compact the text in place: the write position
// never passes the read position, so a text of any length stays inside its
// own bytes (a fixed 1024-byte working copy would overflow past 1023).
namespace {

template <typename Drop>
char* CompactInPlace(char* text, Drop drop) {
  if (text == nullptr) {
    return nullptr;
  }
  char* out = text;
  char previous = '\0';
  for (const char* in = text; *in != '\0'; ++in) {
    const char c = *in;
    if (!drop(c, previous)) {
      *out++ = c;
    }
    previous = c;
  }
  *out = '\0';
  return text;
}

}  // namespace

char* CutAtNewline(char* text) { return CutAtChar(text, '\n'); }

char* DropTrailingTab(char* text) {
  if (text == nullptr) return nullptr;
  const std::size_t n = std::strlen(text);
  if (n > 0 && text[n - 1] == '\t') text[n - 1] = '\0';
  return text;
}

const char* SkipSpaces(const char* text) {
  if (text == nullptr) return nullptr;
  while (*text == ' ') ++text;
  return text;
}

char* RemoveSpaces(char* text) { return RemoveChar(text, ' '); }

char* TrimTrailingSpaces(char* text) {
  if (text == nullptr) return nullptr;
  std::size_t n = std::strlen(text);
  while (n > 0 && text[n - 1] == ' ') text[--n] = '\0';
  return text;
}

char* CollapseTabs(char* text) { return CollapseRuns(text, '\t'); }

char* CollapseRuns(char* text, char c) {
  return CompactInPlace(text, [c](char ch, char previous) { return ch == c && previous == c; });
}

char* ReplaceWithUnderscore(char* text, char c) { return ReplaceChar(text, c, '_'); }

char* ReplaceChar(char* text, char from, char to) {
  if (text == nullptr) return nullptr;
  for (char* p = text; *p != '\0'; ++p) {
    if (*p == from) *p = to;
  }
  return text;
}

char* CutAtChar(char* text, char c) {
  if (text == nullptr) return nullptr;
  for (char* p = text; *p != '\0'; ++p) {
    if (*p == c) {
      *p = '\0';
      break;
    }
  }
  return text;
}

char* TabsToSpaces(char* text) { return ReplaceChar(text, '\t', ' '); }

char* RemoveChar(char* text, char c) {
  return CompactInPlace(text, [c](char ch, char) { return ch == c; });
}

char* RemoveSpacesOutsideQuotes(char* text, int maxScan) {
  if (text == nullptr) return nullptr;
  if (std::strlen(text) > 1024) return nullptr;
  bool inside = false;
  char* out = text;
  for (int i = 0; i < maxScan && text[i] != '\0'; ++i) {
    const char c = text[i];
    if (inside) {
      if (c == '"') inside = false;
      *out++ = c;
    } else if (c == '"') {
      inside = true;
      *out++ = c;
    } else if (c != ' ') {
      *out++ = c;
    }
  }
  *out = '\0';
  return text;
}

bool RemoveSpacesIsBlank(char* text) {
  if (text == nullptr || text[0] == '\0') return false;
  RemoveSpaces(text);
  if (text[0] == '\0') return true;
  CutAtNewline(text);
  return false;
}

char* CopyField20(char* dst, const char* src) {
  if (dst == nullptr || src == nullptr) return dst;
  for (int i = 0; i < 20 && src[i] != '\0'; ++i) dst[i] = src[i];
  return dst;
}

char* CopyTextTerminated(char* dst, const char* src, int n) {
  if (dst == nullptr || src == nullptr || n < 0) return dst;
  int i = 0;
  for (; i < n && src[i] != '\0'; ++i) dst[i] = src[i];
  const bool filled = i == n;
  for (; i < n; ++i) dst[i] = '\0';
  if (filled) dst[n] = '\0';
  return dst;
}

namespace {

// Appends piece to dst at *length, never past size - 1 characters; the
// length keeps counting what the whole result needs.
void AppendBounded(char* dst, std::size_t size, std::size_t* length, const char* piece,
                   std::size_t count) {
  if (*length + 1 < size) {
    const std::size_t room = size - 1 - *length;
    std::memcpy(dst + *length, piece, count < room ? count : room);
  }
  *length += count;
  const std::size_t end = *length < size - 1 ? *length : size - 1;
  dst[end] = '\0';
}

std::size_t ReplaceInto(char* src, char* dst, std::size_t size, const char* pattern,
                        const char* replacement) {
  std::size_t length = 0;
  dst[0] = '\0';
  const std::size_t patternLength = std::strlen(pattern);
  const std::size_t replacementLength = std::strlen(replacement);
  char* rest = src;
  if (patternLength > 0) {
    for (char* match = std::strstr(rest, pattern); match != nullptr;
         match = std::strstr(rest, pattern)) {
      *match = '\0';
      AppendBounded(dst, size, &length, rest, static_cast<std::size_t>(match - rest));
      AppendBounded(dst, size, &length, replacement, replacementLength);
      rest = match + patternLength;
    }
  }
  AppendBounded(dst, size, &length, rest, std::strlen(rest));
  return length;
}

}  // namespace

void ReplaceAll(char* src, char* dst, const char* pattern, const char* replacement) {
  if (src == nullptr || dst == nullptr || pattern == nullptr || replacement == nullptr) return;
  // The caller vouches for dst's room; with no size of our own the bound is
  // the largest object size.
  ReplaceInto(src, dst, SIZE_MAX, pattern, replacement);
}

int ReplaceAllBounded(char* src, char* dst, int size, const char* pattern,
                      const char* replacement) {
  if (src == nullptr || dst == nullptr || pattern == nullptr || replacement == nullptr ||
      size < 1) {
    return -1;
  }
  const std::size_t length =
      ReplaceInto(src, dst, static_cast<std::size_t>(size), pattern, replacement);
  return length > INT32_MAX ? INT32_MAX : static_cast<int>(length);
}

void RemoveFirst(const char* src, char* dst, const char* pattern) {
  if (src == nullptr || dst == nullptr || pattern == nullptr) return;
  const char* match = std::strstr(src, pattern);
  if (match == nullptr) {
    std::memmove(dst, src, std::strlen(src) + 1);
    return;
  }
  const std::size_t head = static_cast<std::size_t>(match - src);
  const char* tail = match + std::strlen(pattern);
  std::memmove(dst, src, head);
  std::memmove(dst + head, tail, std::strlen(tail) + 1);
}

char* JoinUnderscoreName(char* dst, const char* src) {
  if (dst == nullptr || src == nullptr) return dst;
  std::memmove(dst, src, std::strlen(src) + 1);
  std::size_t i = 0;
  while (dst[i] != '\0') {
    if (dst[i] != '_' || dst[i + 1] == '\0') {
      ++i;
      continue;
    }
    // Shift the character after the underscore (a lower-case letter becomes
    // its capital), then skip the one after that. The scan stops rather than
    // step over a terminator: a shifted space becomes one, and a shifted
    // last character leaves nothing to skip.
    dst[i + 1] = static_cast<char>(dst[i + 1] - 32);
    if (dst[i + 1] == '\0' || dst[i + 2] == '\0') break;
    i += 3;
  }
  RemoveChar(dst, '_');
  return dst;
}

bool IsEmptyText(const char* text) { return text != nullptr && text[0] == '\0'; }

bool IsBlankText(const char* text) { return text != nullptr && text[0] == '\0'; }

bool EqualIgnoringSpaces(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  char left[1000];
  char right[1000];
  CopyText(left, a, static_cast<int>(sizeof left));
  CopyText(right, b, static_cast<int>(sizeof right));
  RemoveSpaces(left);
  RemoveSpaces(right);
  return std::strcmp(left, right) == 0;
}

bool ContainsAnyOf(const char* text, const char* set) {
  if (text == nullptr || set == nullptr) return false;
  char work[1024];
  CopyText(work, set, static_cast<int>(sizeof work));
  for (const char* c = work; *c != '\0'; ++c) {
    if (std::strchr(text, *c) != nullptr) return true;
  }
  return false;
}

int ParseHex(const char* text) {
  if (text == nullptr) return 0;
  const std::size_t length = std::strlen(text);
  if (length > 18) return -1;
  const char* start = text;
  if (const char* prefix = std::strstr(text, "0x"); prefix != nullptr) start = prefix + 2;
  // Unsigned arithmetic: digits beyond the eighth wrap away instead of
  // overflowing a signed int.
  std::uint32_t value = 0;
  std::uint32_t weight = 1;
  bool valid = true;
  for (const char* p = text + length; p > start;) {
    --p;
    const int digit = *p >= '0' && *p <= '9'   ? *p - '0'
                      : *p >= 'A' && *p <= 'F' ? *p - 'A' + 10
                      : *p >= 'a' && *p <= 'f' ? *p - 'a' + 10
                                               : -1;
    if (digit < 0) valid = false;
    if (!valid) continue;
    value += static_cast<std::uint32_t>(digit) * weight;
    weight *= 16U;
  }
  return valid ? static_cast<int>(value) : -1;
}

int DigitValue(char c) { return c >= '0' && c <= '9' ? c - '0' : -1; }

int TextCode(const char* text) {
  if (text == nullptr) return -1;
  static const std::uint32_t kWeights[4] = {16777216U, 65536U, 256U, 1U};
  std::uint32_t sum = 0;
  for (std::size_t i = 0; text[i] != '\0'; ++i) {
    const auto code =
        static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(text[i])));
    sum += i < 4 ? code * kWeights[i] : code;
  }
  return static_cast<int>(sum);
}

int BoundedLength(const char* text) {
  if (text == nullptr) return 0;
  int n = 0;
  while (n < 10000 && text[n] != '\0') ++n;
  return n;
}

char* CopySpan(const char* start, const char* end, char* out, int size) {
  if (out == nullptr || size < 1) return out;
  std::memset(out, 0, static_cast<std::size_t>(size));
  if (start == nullptr || end == nullptr) return out;
  const std::ptrdiff_t n = end - start;
  if (n < 0 || n > size) return out;
  const std::ptrdiff_t count = n < size - 1 ? n : size - 1;
  std::memcpy(out, start, static_cast<std::size_t>(count));
  return out;
}

char* GetQuotedValue(const char* text, const char* key, char* out, int size) {
  if (out == nullptr || size < 1) return out;
  std::memset(out, 0, static_cast<std::size_t>(size));
  if (text == nullptr || key == nullptr) return out;
  const char* found = std::strstr(text, key);
  if (found == nullptr) return out;
  const char* open = std::strchr(found + std::strlen(key), '"');
  if (open == nullptr) return out;
  const char* close = std::strchr(open + 1, '"');
  if (close == nullptr) return out;
  return CopySpan(open + 1, close, out, size);
}

char* GetElementText(const char* text, const char* openKey, const char* closeKey, char* out,
                     int size) {
  if (out == nullptr || size < 1) return out;
  std::memset(out, 0, static_cast<std::size_t>(size));
  if (text == nullptr || openKey == nullptr || closeKey == nullptr) return out;
  const char* open = std::strstr(text, openKey);
  const char* close = std::strstr(text, closeKey);
  if (open == nullptr || close == nullptr) return out;
  const char* gt = std::strchr(open, '>');
  if (gt == nullptr) return out;
  return CopySpan(gt + 1, close, out, size);
}
