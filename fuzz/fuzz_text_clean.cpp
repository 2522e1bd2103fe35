// libFuzzer target: the in-place cleaners, RemoveSpacesOutsideQuotes first,
// on texts of any length (the working-copy size is no limit any more).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "text/TextFcns.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int maxScan = static_cast<int>(data[0]) * 8 - 16;
  std::vector<char> original(data + 1, data + size);
  original.push_back('\0');
  const std::size_t length = std::strlen(original.data());

  std::vector<char> text = original;
  char* result = RemoveSpacesOutsideQuotes(text.data(), maxScan);
  if ((result == nullptr) != (length > 1024)) __builtin_trap();
  if (result != nullptr && std::strlen(result) > length) __builtin_trap();

  text = original;
  RemoveSpaces(text.data());
  text = original;
  CollapseTabs(text.data());
  text = original;
  CollapseRuns(text.data(), length > 0 ? original[0] : ',');
  text = original;
  RemoveChar(text.data(), length > 0 ? original[0] : 'x');
  text = original;
  TrimTrailingSpaces(text.data());
  text = original;
  RemoveSpacesIsBlank(text.data());

  std::vector<char> dst(length + 1);
  JoinUnderscoreName(dst.data(), original.data());
  EqualIgnoringSpaces(original.data(), dst.data());
  ContainsAnyOf(original.data(), dst.data());
  return 0;
}
