// Platform service: whether a standard stream is an interactive terminal
// (progress bars are drawn only there, never into files or pipes).
//
// Contract: IsTerminal(stream) is true when standard stream stream
// (1 = output, 2 = error) is attached to a terminal or console, false
// otherwise or for any other stream number.
//
// Threading: any thread.
#pragma once

namespace platform {

bool IsTerminal(int stream);

}  // namespace platform
