#include "driver_folders_win32.hpp"

#include <algorithm>
#include <cwctype>

#include "driver_choice.hpp"

namespace autodeploy::watch {
namespace {

namespace fs = std::filesystem;

// The folders of FOLDER that NAME chooses; nothing is thrown, a folder that cannot be read holds none.
std::vector<fs::path> chosen_under(const fs::path& folder, std::string_view name) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::error_code kind;
        if (entry->is_directory(kind)) names.push_back(utf8_of(entry->path().filename()));
    }
    std::vector<fs::path> chosen;
    for (const std::string& found : chosen_folders(names, name)) {
        chosen.push_back(folder / std::u8string(found.begin(), found.end()));
    }
    return chosen;
}

}  // namespace

std::string utf8_of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

std::vector<fs::path> driver_folders(const fs::path& root, const Settings& settings) {
    std::vector<fs::path> folders;
    std::error_code error;
    if (fs::is_directory(root / L"all", error)) folders.push_back(root / L"all");
    for (const fs::path& make : chosen_under(root / L"by-model", settings.make)) {
        for (const fs::path& model : chosen_under(make, settings.model)) folders.push_back(model);
    }
    return folders;
}

std::vector<fs::path> inf_files(const fs::path& folder) {
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::recursive_directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::wstring extension = entry->path().extension().wstring();
        for (wchar_t& c : extension) c = static_cast<wchar_t>(std::towlower(c));
        std::error_code kind;
        if (extension == L".inf" && entry->is_regular_file(kind)) found.push_back(entry->path());
    }
    std::ranges::sort(found);
    return found;
}

}  // namespace autodeploy::watch
