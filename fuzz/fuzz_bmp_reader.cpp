// libFuzzer target: the POSIX bitmap reader on arbitrary bytes. Any input
// must be decoded or refused with a reason, never read or write out of
// bounds. The pixel limit is kept small so hostile sizes cannot make the
// fuzzer allocate its way out of memory.
#include <cstddef>
#include <cstdint>

#include "platform/posix/bmp_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::bmp::DecodedBitmap out;
  char reason[128];
  if (platform::bmp::DecodeBmp(data, size, std::uint64_t{1} << 20, out, reason, sizeof reason)) {
    // Touch the corners so a short allocation shows up.
    volatile std::uint32_t sink = out.pixels[0];
    sink =
        out.pixels[static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) - 1];
    (void)sink;
  } else if (reason[0] == '\0') {
    __builtin_trap();  // a refusal must say why
  }
  return 0;
}
