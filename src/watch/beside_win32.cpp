#include "beside_win32.hpp"

#include <fstream>
#include <sstream>

#include "support/grow_buffer_win32.hpp"

namespace autodeploy::watch {

std::filesystem::path own_folder() {
    const std::filesystem::path self = fill_growing([](wchar_t* buffer, DWORD capacity) {
                                           return GetModuleFileNameW(nullptr, buffer, capacity);
                                       }).text;
    return self.parent_path();
}

std::string read_beside(const std::filesystem::path& folder, std::string_view name) {
    std::ifstream in(folder / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str().substr(0, 1 << 20);
}

Settings settings_beside(const std::filesystem::path& folder) {
    Settings settings;
    read_server_file(read_beside(folder, kServerFile), settings);
    read_watch_file(read_beside(folder, kWatchFile), settings);
    return settings;
}

}  // namespace autodeploy::watch
