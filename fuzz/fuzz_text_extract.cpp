// libFuzzer target: GetQuotedValue, GetElementText and CopySpan. The input
// is split into text and keys at the first two NUL bytes; out sizes come
// from the first byte, out lives on the heap at exactly its size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "text/TextFcns.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int outSize = data[0] % 40;
  std::vector<char> all(data + 1, data + size);
  all.push_back('\0');
  all.push_back('\0');
  all.push_back('\0');
  const char* text = all.data();
  const char* key = text + std::strlen(text) + 1;
  const char* closeKey = key + std::strlen(key) + 1;
  if (closeKey >= all.data() + all.size()) closeKey = "";

  const auto out = std::make_unique<char[]>(outSize > 0 ? static_cast<std::size_t>(outSize) : 1);
  char* buf = outSize > 0 ? out.get() : out.get() + 1;  // size 0 gets no bytes at all
  GetQuotedValue(text, key, buf, outSize);
  if (outSize > 0 && std::strlen(buf) >= static_cast<std::size_t>(outSize)) __builtin_trap();
  GetElementText(text, key, closeKey, buf, outSize);
  if (outSize > 0 && std::strlen(buf) >= static_cast<std::size_t>(outSize)) __builtin_trap();
  const std::size_t length = std::strlen(text);
  CopySpan(text, text + length, buf, outSize);
  CopySpan(text + length, text, buf, outSize);
  return 0;
}
