#include "error_line.hpp"

#include "main/error_report.hpp"

namespace autodeploy::watch {

bool is_error_line(std::string_view line) { return line.starts_with(kErrorPrefix); }

void ErrorLineOfStream::feed(std::string_view bytes) {
    for (const char byte : bytes) {
        if (byte == '\n' || byte == '\r') {
            if (is_error_line(line_)) error_ = line_;
            line_.clear();
        } else {
            line_ += byte;
        }
    }
}

std::string ErrorLineOfStream::last() const { return is_error_line(line_) ? line_ : error_; }

std::string error_of_rows(const std::vector<ScreenRow>& rows) {
    std::string line;
    bool full = false;  // the row before was filled to its end: the text wrapped onto this one
    for (const ScreenRow& row : rows) {
        if (is_error_line(row.text)) {
            line = row.text;
        } else if (full && !line.empty()) {
            line += row.text;
        }
        full = row.filled && !line.empty();
    }
    return line;
}

}  // namespace autodeploy::watch
