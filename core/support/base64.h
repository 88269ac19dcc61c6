// Base64 (standard alphabet, "=" padding, no line breaks) for binary data inside JSON.
#pragma once

#include <string>

namespace ondelle {

std::string base64_encode(const std::string& bytes);

// Empty when the text holds a byte outside the alphabet; decoding stops at the first "=".
std::string base64_decode(const std::string& text);

}  // namespace ondelle
