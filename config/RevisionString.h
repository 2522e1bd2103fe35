// Texts cut out of an interface header's revision string: the identity text
// (everything after the product code), which versions the shared record, and
// the revision text (from "$Revision" on), which the waiting status shows.
// Both return pointers into the given string; nothing is copied.
//
// Threading: pure functions; any thread. Usable at compile time.
#pragma once

inline constexpr char g_szRevisionStringRevision[] =
    "%Z% ConfigControl KT3103:03 RevisionString $Revision: 1.2 $";

namespace revision_detail {

// Index of the first occurrence of pattern in text, or -1. Works on indices
// rather than pointers so the compiler can evaluate it at compile time even
// with pointer checks instrumented.
constexpr int Find(const char* text, const char* pattern) {
  for (int start = 0; text[start] != '\0'; ++start) {
    int n = 0;
    while (pattern[n] != '\0' && text[start + n] == pattern[n]) {
      ++n;
    }
    if (pattern[n] == '\0') {
      return start;
    }
  }
  return -1;
}

constexpr int Length(const char* text) {
  int n = 0;
  while (text[n] != '\0') {
    ++n;
  }
  return n;
}

}  // namespace revision_detail

// What follows the first occurrence of productCode (starting with the blank
// after it); productCode itself when it does not occur.
constexpr const char* RevisionIdentityText(const char* revision, const char* productCode) {
  const int match = revision_detail::Find(revision, productCode);
  return match < 0 ? productCode : revision + match + revision_detail::Length(productCode);
}

// From the "$" of the first " $Re" onward; " $Re" when it does not occur.
constexpr const char* RevisionNumberText(const char* revision) {
  const int match = revision_detail::Find(revision, " $Re");
  return match < 0 ? " $Re" : revision + match + 1;
}
