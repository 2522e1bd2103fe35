// TextFunctions, core helpers: clamps, bounded copy and bounded formatting,
// which every other component calls directly. The rest of the library
// (formats, parsing, tokenising, files) has its own headers beside this one.
//
// Threading: free functions without state; safe from any thread.
#pragma once

#include <cstdarg>

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
int FormatText(char* buf, int size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int FormatTextV(char* buf, int size, const char* format, va_list args);

// The bounded form other components use: buf holds size bytes, is zeroed,
// and always ends up terminated inside them with at most size - 1
// characters. Returns the count, negative when the text was longer than
// size; 0 for a null buf or a size below 1.
int FormatTextSafe(char* buf, int size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int FormatTextSafeV(char* buf, int size, const char* format, va_list args);
