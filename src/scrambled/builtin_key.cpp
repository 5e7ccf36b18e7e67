#include "builtin_key.hpp"

namespace autodeploy {

namespace {
// Read through volatile so the optimiser cannot precompute the plain key into the image.
volatile const unsigned kRuntimeMaskBase = key_detail::kMaskBase;
}  // namespace

std::u32string builtin_key() {
    const unsigned base = kRuntimeMaskBase;
    std::u32string key(kBuiltinKeyLength, U'\0');
    for (std::size_t i = 0; i < kBuiltinKeyLength; ++i) {
        key[i] = key_detail::kMaskedKey[i] ^ key_detail::mask_at(base, i);
    }
    return key;
}

}  // namespace autodeploy
