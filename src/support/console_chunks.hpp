#pragma once
// Cutting UTF-8 text into console-sized pieces without splitting a character.
#include <cstddef>
#include <string_view>
#include <vector>

namespace autodeploy {

inline constexpr std::size_t kConsoleChunkBytes = 4096;

// Pieces of at most `limit` bytes, each cut back to the start of a character. A run of bytes
// with no character start in reach is cut at the limit rather than never; a limit of 0 works as 1.
std::vector<std::string_view> utf8_chunks(std::string_view text, std::size_t limit = kConsoleChunkBytes);

}  // namespace autodeploy
