#pragma once
// The folders of drivers that ride an image (autodeploy-drivers beside the watch in WinPE,
// C:\autodeploy-drivers in the applied Windows): ROOT\all for every PC, and ROOT\by-model\MAKE\MODEL for
// the PCs of that make and model (driver_choice.hpp).
#include <filesystem>
#include <string>
#include <vector>

#include "watch_settings.hpp"

namespace autodeploy::watch {

// ROOT\all when it is there, then every MAKE\MODEL folder under ROOT\by-model that SETTINGS' make and
// model choose.
std::vector<std::filesystem::path> driver_folders(const std::filesystem::path& root, const Settings& settings);
// PATH in UTF-8, as the lines, reports and tools' command lines take it.
std::string utf8_of(const std::filesystem::path& path);
// Every .inf file (any case) at any depth under FOLDER, sorted.
std::vector<std::filesystem::path> inf_files(const std::filesystem::path& folder);

}  // namespace autodeploy::watch
