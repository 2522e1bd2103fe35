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

constexpr const char* Find(const char* text, const char* pattern) {
  for (const char* start = text; *start != '\0'; ++start) {
    const char* a = start;
    const char* b = pattern;
    while (*b != '\0' && *a == *b) {
      ++a;
      ++b;
    }
    if (*b == '\0') {
      return start;
    }
  }
  return nullptr;
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
  const char* match = revision_detail::Find(revision, productCode);
  return match == nullptr ? productCode : match + revision_detail::Length(productCode);
}

// From the "$" of the first " $Re" onward; " $Re" when it does not occur.
constexpr const char* RevisionNumberText(const char* revision) {
  const char* match = revision_detail::Find(revision, " $Re");
  return match == nullptr ? " $Re" : match + 1;
}
