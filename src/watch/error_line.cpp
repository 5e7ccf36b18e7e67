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

std::string dism_error_of(std::string_view output) {
    std::string error, message;
    bool after_error = false;
    for (std::size_t end; !output.empty();
         output.remove_prefix(end == std::string_view::npos ? output.size() : end + 1)) {
        end = output.find_first_of("\r\n");
        const std::string_view line = output.substr(0, end);
        if (is_error_line(line)) {
            error = line;
            message.clear();
            after_error = true;
        } else if (after_error && line.find_first_not_of(' ') != std::string_view::npos) {
            // Its log file's place is no message of its own.
            if (!line.starts_with("The DISM log file")) message = line;
            after_error = false;
        }
    }
    return message.empty() ? error : error + " (" + message + ")";
}

}  // namespace autodeploy::watch
