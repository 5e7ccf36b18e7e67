#include "screen_error_win32.hpp"

#include <algorithm>
#include <vector>

#include "error_line.hpp"
#include "support/wide_win32.hpp"

namespace autodeploy::watch {

std::string error_on_screen(HANDLE console) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(console, &info)) return {};
    const auto width = static_cast<std::size_t>(info.dwSize.X);
    std::vector<ScreenRow> rows;
    for (int row = std::max(0, info.dwCursorPosition.Y - 8); row <= info.dwCursorPosition.Y; ++row) {
        std::wstring cells(width, L' ');
        DWORD read = 0;
        ReadConsoleOutputCharacterW(console, cells.data(), static_cast<DWORD>(width), COORD{0, static_cast<SHORT>(row)},
                                    &read);
        cells.resize(read);
        const bool filled = !cells.empty() && cells.back() != L' ';
        cells.erase(cells.find_last_not_of(L' ') + 1);
        rows.push_back({narrow(cells).value_or(""), filled});
    }
    return error_of_rows(rows);
}

}  // namespace autodeploy::watch
