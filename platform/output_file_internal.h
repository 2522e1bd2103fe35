// What each platform's COutputFile implementation provides to the shared
// part (output_file.cpp).
//
// Threading: no state.
#pragma once

namespace platform::detail {

// True when a text file's lines end in CR LF on this platform.
bool OutputLineEndIsCrLf();

}  // namespace platform::detail
