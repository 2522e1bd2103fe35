// libFuzzer target: ReplaceAll into a destination of exactly the size its
// result needs, and ReplaceAllBounded into a smaller one. Input: pattern,
// replacement and text separated by the first two NUL bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "text/TextFcns.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int bound = data[0] % 64 + 1;
  std::vector<char> all(data + 1, data + size);
  all.insert(all.end(), 3, '\0');
  const char* pattern = all.data();
  const char* replacement = pattern + std::strlen(pattern) + 1;
  const char* rest = replacement + std::strlen(replacement) + 1;
  if (rest >= all.data() + all.size()) rest = "";
  const std::size_t length = std::strlen(rest);

  // The exact room: the bounded form reports the whole result's length.
  std::vector<char> src(rest, rest + length + 1);
  char probe[1];
  const int needed = ReplaceAllBounded(src.data(), probe, 1, pattern, replacement);
  if (needed < 0 || probe[0] != '\0') __builtin_trap();

  src.assign(rest, rest + length + 1);
  const auto exact = std::make_unique<char[]>(static_cast<std::size_t>(needed) + 1);
  ReplaceAll(src.data(), exact.get(), pattern, replacement);
  if (std::strlen(exact.get()) != static_cast<std::size_t>(needed)) __builtin_trap();

  src.assign(rest, rest + length + 1);
  const auto small = std::make_unique<char[]>(static_cast<std::size_t>(bound));
  const int again = ReplaceAllBounded(src.data(), small.get(), bound, pattern, replacement);
  if (again != needed) __builtin_trap();
  if (std::strncmp(small.get(), exact.get(), static_cast<std::size_t>(bound) - 1) != 0)
    __builtin_trap();
  return 0;
}
