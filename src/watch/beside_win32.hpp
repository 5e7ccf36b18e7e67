#pragma once
// The folder the watch runs from (X:\Windows\System32 in WinPE), which holds autodeploy.exe and the
// files the watch reads.
#include <filesystem>
#include <string>
#include <string_view>

#include "watch_settings.hpp"

namespace autodeploy::watch {

std::filesystem::path own_folder();
// The file NAME there, its first MiB; empty when it cannot be read.
std::string read_beside(const std::filesystem::path& folder, std::string_view name);
// The settings of kServerFile and kWatchFile there.
Settings settings_beside(const std::filesystem::path& folder);

}  // namespace autodeploy::watch
