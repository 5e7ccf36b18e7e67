#include "image_size_win32.hpp"

#include "main/deployment_driver.hpp"
#include "support/unique_handle_win32.hpp"
#include "support/wide_win32.hpp"

namespace autodeploy::watch {

std::optional<std::uint64_t> image_size() {
    const UniqueHandle file{CreateFileW(widen(kImagePath).c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        0, nullptr)};
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

}  // namespace autodeploy::watch
