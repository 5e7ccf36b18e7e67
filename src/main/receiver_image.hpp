#pragma once
// The udpcast receiver program, embedded byte for byte when the program is built.
#include <string_view>

namespace autodeploy {

// A view of the embedded bytes; they are written out straight from the program image.
std::string_view receiver_image();

}  // namespace autodeploy
