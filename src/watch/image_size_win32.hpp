#pragma once
// How big the image autodeploy receives has grown.
#include <cstdint>
#include <optional>

namespace autodeploy::watch {

// Its size as its file system has it now (a directory entry lags behind a file being written), or
// nothing.
std::optional<std::uint64_t> image_size();

}  // namespace autodeploy::watch
