#include "answer_file_win32.hpp"

#include <fstream>

#include "beside_win32.hpp"
#include "report_request.hpp"
#include "support/win32.hpp"

namespace autodeploy::watch {
namespace {

constexpr std::string_view kMediumFile = "autodeploy-unattend.xml";
// In the applied system, where its setup looks at the first boot.
constexpr std::wstring_view kPanther = L"C:\\Windows\\Panther";

std::string answer_file(const Settings& settings, const std::filesystem::path& folder) {
    for (int attempt = 0; settings.server && attempt < 2; ++attempt) {
        if (const auto response = exchange(*settings.server, answer_file_request(settings), 1 << 20)) {
            if (const auto body = body_of(*response)) return *body;
            break;  // the server answered: it has none for this PC
        }
    }
    return read_beside(folder, kMediumFile);
}

bool write_answer_file(const std::string& text) {
    const std::filesystem::path panther{kPanther};
    CreateDirectoryW(panther.parent_path().c_str(), nullptr);
    CreateDirectoryW(panther.c_str(), nullptr);
    std::ofstream out(panther / L"unattend.xml", std::ios::binary);
    return static_cast<bool>(out << text << std::flush);
}

}  // namespace

AnswerFile::AnswerFile(const Settings& settings, const std::filesystem::path& folder)
    : text_(answer_file(settings, folder)), done_(text_.empty()) {}

void AnswerFile::applied(Reporter& reporter) {
    if (!done_ && write_answer_file(text_)) reporter.send(Report(Stage::AnswerFile));
    done_ = true;
}

}  // namespace autodeploy::watch
