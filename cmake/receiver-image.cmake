# Writes a C++ source that holds a file as a constant byte array behind receiver_image().
# Usage: cmake -DINPUT=file -DOUTPUT=source.cpp -P receiver-image.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
if(size EQUAL 0)
    message(FATAL_ERROR "The receiver ${INPUT} is empty")
endif()
# 32 bytes a line keeps the source readable for diff tools and light for the compiler.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}; do not edit.
#include <cstddef>
#include <string_view>

#include \"main/receiver_image.hpp\"

namespace autodeploy {

namespace {
constexpr std::size_t kReceiverImageSize = ${size};
alignas(16) const unsigned char kReceiverImage[] = {
${bytes}
};
}  // namespace

std::string_view receiver_image() {
    return {reinterpret_cast<const char*>(kReceiverImage), kReceiverImageSize};
}

}  // namespace autodeploy
")
