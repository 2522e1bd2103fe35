// TextFunctions, core helpers: clamps, bounded copy and bounded formatting,
// which every other component calls directly; the two signal filters; and
// the in-place cleaning, copying, test, parser and extraction helpers.
// Formats (Formats.h), splitting (tokenise.h), paths (Files.h) and the
// registration routines (TextFcnsConfig.h) have their own headers.
//
// Texts are single-byte and NUL-terminated; only character 32 is a space and
// only character 9 a tab; there is no locale and no case folding.
//
// Threading: free functions without state (the filters keep theirs in the
// caller's record); safe from any thread.
#pragma once

#include <cstdarg>

inline constexpr char kTextFcnsHeaderRevision[] =
    "%Z% TextFunctions KT3102 TextFcns $Revision: 1.3 $";
extern const char g_szTextFunctionsRevision[];

// Clamps test the upper bound first: x >= hi gives hi, else x < lo gives lo,
// else x. So with lo > hi every x below hi gives lo, and a NaN x gives lo
// (except ClampFDD, whose second test lets a NaN through).
float ClampF(float lo, float x, float hi);
double ClampD(double lo, double x, double hi);
double ClampDFD(double lo, float x, double hi);
double ClampFDD(float lo, double x, double hi);
// Exact integer clamp with the same order of tests.
int ClampI(int lo, int x, int hi);

// Copies at most size characters of src into dst, zero-filling the rest of
// the size bytes, and always terminates at dst[size - 1]. Returns dst, or
// null (nothing written) when dst or src is null, size is negative, or size
// is 0 (there would be no room for the terminator).
char* CopyText(char* dst, const char* src, int size);

// printf-style formatting of at most size characters into buf, which must
// hold size + 1 bytes; terminated at buf[size]. Returns the character count
// when the text fits, a negative count when it was cut, 0 for a null buf.
int FormatText(char* buf, int size, const char* format, ...) __attribute__((format(printf, 3, 4)));
int FormatTextV(char* buf, int size, const char* format, va_list args);

// The bounded form other components use: buf holds size bytes, is zeroed,
// and always ends up terminated inside them with at most size - 1
// characters. Returns the count, negative when the text was longer than
// size; 0 for a null buf or a size below 1.
int FormatTextSafe(char* buf, int size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int FormatTextSafeV(char* buf, int size, const char* format, va_list args);

// Dead-band follower. The owner sets all seven fields before the first
// UpdateBacklash; mode values other than the four below are repaired to
// InsideAfterFall by the next update.
enum BacklashMode : int {
  InsideAfterRise = 0,
  InsideAfterFall = 1,
  PushingDown = 2,
  PushingUp = 3,
};

struct Backlash {
  double width;      // width of the dead band, input units
  double gain;       // factor from band centre to output
  double lastInput;  // input of the previous call
  double output;     // band centre times gain
  double lower;      // lower edge of the band
  double upper;      // upper edge of the band
  int mode;          // BacklashMode
};

// One sample of the follower: the output holds while the input moves inside
// the band and follows the band centre while the input drags an edge. A
// mode change decided inside the band takes effect on the next call, so the
// call that first leaves the band still returns the old output.
double UpdateBacklash(double input, Backlash& state);

struct RateLimits {
  double riseRate;  // greatest increase per time unit (positive)
  double fallRate;  // greatest decrease per time unit, signed (negative)
  double timeStep;  // one step, same time unit
};

// Moves current toward target by at most one step of the limits. A timeStep
// of exactly 0.0 gives 0.0 (not current), which callers rely on to reset.
double RateLimit(double target, double current, const RateLimits& limits);

// Size of the working copy the cleaning functions were written for (1024).
int TextBufferSize();
// 'T' when the low 8 bits of b are non-zero, else 'F'.
char BoolLetter(bool b);

// Cleaning in place. Each returns text (null for null) and never writes
// past the text's terminator, whatever its length.
char* CutAtNewline(char* text);
char* DropTrailingTab(char* text);
const char* SkipSpaces(const char* text);
char* RemoveSpaces(char* text);
char* TrimTrailingSpaces(char* text);
char* CollapseTabs(char* text);          // every run of tabs becomes one tab
char* CollapseRuns(char* text, char c);  // every run of c becomes one c
char* ReplaceWithUnderscore(char* text, char c);
char* ReplaceChar(char* text, char from, char to);
char* CutAtChar(char* text, char c);
char* TabsToSpaces(char* text);
char* RemoveChar(char* text, char c);
// Drops the spaces outside double quotes among the first maxScan characters;
// the cleaned part replaces the whole text (characters past maxScan are
// dropped). A text longer than 1024 characters is refused: null, unchanged.
// An unbalanced quote keeps every space after it.
char* RemoveSpacesOutsideQuotes(char* text, int maxScan);
// True when text held nothing but spaces (it is left empty); otherwise the
// spaces are removed, the text is cut at its first newline and the result is
// false. Null or empty text: false, unchanged.
bool RemoveSpacesIsBlank(char* text);

// Copies up to 20 characters of src, stopping at its end; writes no
// terminator. Returns dst (nothing happens when either is null).
char* CopyField20(char* dst, const char* src);
// strncpy of n characters; when src has n characters or more a terminator is
// stored at dst[n], so dst must hold n + 1 bytes. Returns dst; nothing
// happens when dst or src is null or n is negative.
char* CopyTextTerminated(char* dst, const char* src, int n);
// Builds in dst a copy of src with every occurrence of pattern replaced by
// replacement. src is cut in place (a terminator over the first character of
// each match), so afterwards it holds the text before the first match. dst
// needs room for the whole result. An empty pattern copies src. Nothing
// happens unless all four pointers are given.
void ReplaceAll(char* src, char* dst, const char* pattern, const char* replacement);
// As ReplaceAll into a dst of size bytes: at most size - 1 characters,
// always terminated (size >= 1). Returns the length of the whole result, so
// a result >= size means it was cut; -1 when a pointer is missing or size < 1.
int ReplaceAllBounded(char* src, char* dst, int size, const char* pattern, const char* replacement);
// Copies src into dst without the first occurrence of pattern (unchanged when
// it does not occur). Nothing happens when any pointer is null.
void RemoveFirst(const char* src, char* dst, const char* pattern);
// "left_wing_tank" -> "leftWingTank": the character after each underscore is
// lowered by 32 in its code, the scan then skips the character after it
// ("a_b_c" -> "aBc"), and the underscores are removed. Returns dst.
char* JoinUnderscoreName(char* dst, const char* src);

// Tests and parsers.
bool IsEmptyText(const char* text);  // non-null and ""
bool IsBlankText(const char* text);  // length 0; false for null
// Compares the first 999 characters of each text with their spaces removed,
// case-sensitive. False when either is null.
bool EqualIgnoringSpaces(const char* a, const char* b);
// True when a character among the first 1023 of set occurs in text.
bool ContainsAnyOf(const char* text, const char* set);
// Hexadecimal digits after the first "0x" (or from the start): 0 for null or
// no digits, -1 for a text over 18 characters or any character that is not a
// hex digit. Only the last 8 digits can contribute (32-bit value).
int ParseHex(const char* text);
int DigitValue(char c);  // 0..9 for '0'..'9', else -1
// First four characters packed high byte first, later ones added; signed
// 8-bit characters, wrapping in 32 bits. -1 for null.
int TextCode(const char* text);
int BoundedLength(const char* text);  // length up to 10000; 0 for null

// Extraction into out of size bytes: out is zero-filled first, so it is the
// empty text when nothing is found. Each returns out and writes nothing when
// out is null or size < 1.
// The characters from start up to end, cut at size - 1; empty when end lies
// before start or more than size characters after it.
char* CopySpan(const char* start, const char* end, char* out, int size);
// The text between the first two double quotes after key: for
// name = "Value" and key "name", Value.
char* GetQuotedValue(const char* text, const char* key, char* out, int size);
// The text between the first '>' at or after openKey and closeKey (both
// found from the start of text): <Tag>12</Tag> with "<Tag", "</Tag" gives 12.
char* GetElementText(const char* text, const char* openKey, const char* closeKey, char* out,
                     int size);
