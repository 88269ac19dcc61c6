// How ondelle-send tells its user something: one line on standard error, after its name.
#pragma once

#include <string>

namespace ondelle::send {

// Writes "ondelle-send: " text and a line end to standard error, in one piece.
void say(const std::string& text);

}  // namespace ondelle::send
