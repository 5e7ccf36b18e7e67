#include "builtin_key.hpp"

namespace autodeploy {

namespace {
// Read through volatile so the optimiser cannot precompute the plain key into the image.
volatile const unsigned kRuntimeMaskBase = key_detail::kMaskBase;
}  // namespace

std::u32string builtin_key() {
    const auto key = key_detail::unmask(kRuntimeMaskBase);
    return {key.begin(), key.end()};
}

}  // namespace autodeploy
