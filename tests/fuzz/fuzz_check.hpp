#pragma once
// What the fuzzers share: a property that does not hold prints what it saw and aborts, which
// libFuzzer reports as a crash and keeps the input that caused it.
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace autodeploy::fuzz {

// Bytes as a C string literal would show them: printable ASCII as is, the rest escaped.
inline std::string escaped(std::string_view bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        }
    }
    out += '"';
    return out;
}

inline std::string escaped(const std::vector<std::string>& list) {
    std::string out = "{";
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0) out += ", ";
        out += escaped(list[i]);
    }
    out += "}";
    return out;
}

// Labelled values printed before aborting.
struct Shown {
    const char* label;
    std::string value;
};

[[noreturn]] inline void property_failed(const char* property, std::initializer_list<Shown> shown) {
    std::fprintf(stderr, "\n*** property does not hold: %s\n", property);
    for (const Shown& item : shown) std::fprintf(stderr, "    %s: %s\n", item.label, item.value.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace autodeploy::fuzz
