#pragma once
// The seven scrambled entries. The partitioning scripts come from plain text files under assets/
// and the web address from the build's AUTODEPLOY_WEB_ADDRESS (both generated into
// partition_scripts.hpp); the tool names are written here.
#include <string_view>

#include "build_time_scrambling.hpp"
#include "partition_scripts.hpp"

namespace autodeploy::stored {

inline constexpr auto WEB_ADDRESS = scramble_at_build([] {
    return std::string_view{generated::kWebAddress, sizeof generated::kWebAddress - 1};
});
inline constexpr auto PARTITION_TOOL = scramble_at_build([] { return std::string_view{"diskpart"}; });
inline constexpr auto IMAGE_TOOL = scramble_at_build([] { return std::string_view{"dism"}; });
inline constexpr auto BOOT_TOOL = scramble_at_build([] { return std::string_view{"bcdboot"}; });
inline constexpr auto PE_UTILITY = scramble_at_build([] { return std::string_view{"wpeutil"}; });
inline constexpr auto MBR_SCRIPT = scramble_at_build([] {
    return std::string_view{generated::kMbrScript, sizeof generated::kMbrScript - 1};
});
inline constexpr auto GPT_SCRIPT = scramble_at_build([] {
    return std::string_view{generated::kGptScript, sizeof generated::kGptScript - 1};
});

}  // namespace autodeploy::stored
