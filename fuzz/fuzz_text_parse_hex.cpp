// libFuzzer target: ParseHex and the small parsers on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "text/TextFcns.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const int value = ParseHex(text.data());
  if (std::strlen(text.data()) > 18 && value != -1) __builtin_trap();
  TextCode(text.data());
  BoundedLength(text.data());
  if (size > 0) DigitValue(static_cast<char>(data[0]));
  return 0;
}
