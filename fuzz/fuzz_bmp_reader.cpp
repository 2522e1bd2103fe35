// libFuzzer target: the POSIX bitmap reader on arbitrary bytes. Any input
// must be decoded or refused with a reason, never read or write out of
// bounds. The pixel limit is kept small so hostile sizes cannot make the
// fuzzer allocate its way out of memory. The in-place check must keep every
// row it promises inside the input: its first and last pixels are read.
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
  platform::bmp::InPlaceLayout layout;
  const platform::bmp::Access access =
      platform::bmp::Inspect(data, size, layout, reason, sizeof reason);
  if (access == platform::bmp::Access::kInPlace) {
    const std::uint64_t last = layout.bitsOffset +
                               layout.stride * static_cast<std::uint64_t>(layout.height - 1) +
                               static_cast<std::uint64_t>(layout.width - 1) *
                                   static_cast<std::uint64_t>(layout.bytesPerPixel) +
                               static_cast<std::uint64_t>(layout.bytesPerPixel - 1);
    if (last >= size) {
      __builtin_trap();  // a promised pixel outside the file
    }
    volatile std::uint8_t sink = data[layout.bitsOffset];
    sink = data[last];
    (void)sink;
  } else if (access == platform::bmp::Access::kRefused && reason[0] == '\0') {
    __builtin_trap();
  }
  return 0;
}
