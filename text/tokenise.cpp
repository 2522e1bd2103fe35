// TextFunctions, splitting into fields and tokens.
// Threading: the tokenisers use strtok's hidden position (one run at a
// time); the field splitters are stateless.
#include "text/tokenise.h"

#include <cstring>

const char g_szTokeniseRevision[] = "%Z% TextFunctions KT3102:02 tokenise $Revision: 1.3 $";

namespace {

// strtok needs a delimiter set; a missing one means "no delimiters", so the
// whole text is one token.
const char* DelimiterSet(const char* delimiters) { return delimiters != nullptr ? delimiters : ""; }

int SplitFields(char* text, const char* delimiter, char** fields, int max, bool bounded) {
  if (text == nullptr || fields == nullptr) {
    return 0;
  }
  const char d = delimiter != nullptr ? delimiter[0] : '\0';
  fields[0] = text;
  int count = 0;
  if (d == '\0') {
    return 1;
  }
  for (char* p = text; *p != '\0'; ++p) {
    if (bounded && count >= max) {
      break;
    }
    if (*p == d) {
      *p = '\0';
      ++count;
      fields[count] = p + 1;
    }
  }
  return count + 1;
}

}  // namespace

int SplitAtChar(char* text, const char* delimiter, char** fields) {
  return SplitFields(text, delimiter, fields, 0, false);
}

int SplitAtCharMax(char* text, const char* delimiter, char** fields, int max) {
  return SplitFields(text, delimiter, fields, max, true);
}

int Tokenise(char* text, const char* delimiters, char** tokens) {
  if (text == nullptr || tokens == nullptr) {
    return 0;
  }
  const char* set = DelimiterSet(delimiters);
  tokens[0] = std::strtok(text, set);
  int i = 1;
  for (;;) {
    tokens[i] = std::strtok(nullptr, set);
    if (tokens[i] == nullptr) {
      return i;
    }
    ++i;
  }
}

int TokeniseMax(char* text, const char* delimiters, char** tokens, int max) {
  if (text == nullptr || tokens == nullptr || max < 0) {
    return 0;
  }
  const char* set = DelimiterSet(delimiters);
  tokens[0] = std::strtok(text, set);
  if (max == 0) {
    // tokens holds a single entry: never store the closing null after it.
    return tokens[0] != nullptr ? 0 : 1;
  }
  int i = 1;
  for (;;) {
    tokens[i] = std::strtok(nullptr, set);
    if (tokens[i] == nullptr || i >= max) {
      return i;
    }
    ++i;
  }
}

int Tokenize(char* text, const char* delimiters, char** tokens) {
  return Tokenise(text, delimiters, tokens);
}

int TokenizeMax(char* text, const char* delimiters, char** tokens, int max) {
  return TokeniseMax(text, delimiters, tokens, max);
}
