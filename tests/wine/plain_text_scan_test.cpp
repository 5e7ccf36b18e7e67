// The texts kept scrambled must not be readable in the built program, in UTF-8 or UTF-16.
// AUTODEPLOY_EXE names the executable to scan.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "configured_web_address.hpp"
#include "partition_scripts.hpp"
#include "scrambled/builtin_key.hpp"
#include "standin_fixture.hpp"
#include "support/utf.hpp"

namespace {

using namespace standin_test;

std::string executable_bytes() {
    const char* path = std::getenv("AUTODEPLOY_EXE");
    if (path == nullptr) {
        ADD_FAILURE() << "AUTODEPLOY_EXE is not set";
        return {};
    }
    const std::optional<std::string> bytes = read_file(wide(path));
    if (!bytes || bytes->size() < 4096) ADD_FAILURE() << "cannot read " << path;
    return bytes.value_or("");
}

std::string utf16le(std::string_view text) {
    const std::u16string units = autodeploy::utf8_to_utf16(text);
    std::string bytes;
    for (const char16_t unit : units) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

bool contains(const std::string& haystack, std::string_view text) {
    return haystack.find(text) != std::string::npos || haystack.find(utf16le(text)) != std::string::npos;
}

// Every text the store keeps out of sight, and each line of the two scripts on its own.
std::vector<std::string> hidden_texts() {
    std::vector<std::string> texts = {"diskpart",
                                      "bcdboot",
                                      "wpeutil",
                                      "dism.exe",
                                      autodeploy::configured::kWebAddress,
                                      autodeploy::generated::kMbrScript,
                                      autodeploy::generated::kGptScript};
    const std::string_view address = autodeploy::configured::kWebAddress;
    if (const auto scheme = address.find("://"); scheme != std::string_view::npos) {
        texts.emplace_back(address.substr(scheme + 3));  // the host and path alone
    }
    const std::u32string key = autodeploy::builtin_key();
    texts.emplace_back(key.begin(), key.end());
    for (const char* script : {autodeploy::generated::kMbrScript, autodeploy::generated::kGptScript}) {
        std::istringstream lines(script);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() >= 8) texts.push_back(line);  // shorter ones ("exit", "active") are common words
        }
    }
    return texts;
}

TEST(PlainTextScan, ScrambledTextsAreNotInTheExecutable) {
    const std::string bytes = executable_bytes();
    for (const std::string& text : hidden_texts()) EXPECT_FALSE(contains(bytes, text)) << "found: " << text;
}

TEST(PlainTextScan, TheScanFindsPlainTextsThatAreThere) {
    // Texts stored in plain on purpose: proof that the scan above would see one. (Texts short
    // enough for the compiler to build from immediate operands would escape any byte scan; the
    // scrambled ones never exist in plain outside the compiler, which is what this checks.)
    const std::string bytes = executable_bytes();
    EXPECT_TRUE(contains(bytes, "[INFO] 等待网络发送 system.wim ..."));
    EXPECT_TRUE(contains(bytes, "PEFirmwareType"));  // a UTF-16 registry name
    EXPECT_TRUE(contains(bytes, "Veskaro — WinPE 自动部署工具"));
}

}  // namespace
