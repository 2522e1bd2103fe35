// libFuzzer target: Tokenise, TokeniseMax and the field splitters. The
// first byte picks max and the delimiter set length; tokens arrays are sized
// exactly as the contracts say, so AddressSanitizer sees any write past them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "text/tokenise.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int max = static_cast<int>(data[0] % 12) - 1;  // -1 .. 10
  const std::size_t delimiterLength = data[1] % 4;
  data += 2;
  size -= 2;
  if (size < delimiterLength) return 0;
  std::vector<char> delimiters(data, data + delimiterLength);
  delimiters.push_back('\0');
  data += delimiterLength;
  size -= delimiterLength;
  std::vector<char> original(data, data + size);
  original.push_back('\0');
  const std::size_t length = std::strlen(original.data());

  // Tokenise: at most length / 2 + 1 tokens, plus the closing null.
  {
    std::vector<char> text = original;
    const auto tokens = std::make_unique<char*[]>(length / 2 + 2);
    const int n = Tokenise(text.data(), delimiters.data(), tokens.get());
    if (n < 1) __builtin_trap();
  }
  // TokeniseMax: max + 1 entries, none when max is negative.
  {
    std::vector<char> text = original;
    const std::size_t entries = max >= 0 ? static_cast<std::size_t>(max) + 1 : 0;
    const auto tokens = std::make_unique<char*[]>(entries > 0 ? entries : 1);
    char** array = entries > 0 ? tokens.get() : nullptr;
    const int n = TokeniseMax(text.data(), delimiters.data(), max >= 0 ? array : tokens.get(), max);
    if (max >= 0 && n > max + 1) __builtin_trap();
  }
  // SplitAtChar: at most length + 1 fields; SplitAtCharMax: max + 1.
  {
    std::vector<char> text = original;
    const auto fields = std::make_unique<char*[]>(length + 1);
    SplitAtChar(text.data(), delimiters.data(), fields.get());
  }
  if (max >= 0) {
    std::vector<char> text = original;
    const auto fields = std::make_unique<char*[]>(static_cast<std::size_t>(max) + 1);
    const int n = SplitAtCharMax(text.data(), delimiters.data(), fields.get(), max);
    if (n > max + 1) __builtin_trap();
  }
  return 0;
}
