#include "scrambled_text_store.hpp"

#include <array>
#include <cstddef>

#include "builtin_key.hpp"
#include "decoding_key.hpp"
#include "stored_texts.hpp"
#include "support/once_text.hpp"
#include "xor_transcode.hpp"

namespace autodeploy {

namespace {

constexpr std::size_t kCachedEntryCount = 5;

constinit std::array<OnceText, kCachedEntryCount> g_cached_texts{};

}  // namespace

std::string_view stored_bytes(CachedEntry entry) {
    switch (entry) {
    case CachedEntry::WEB_ADDRESS: return stored::WEB_ADDRESS.view();
    case CachedEntry::PARTITION_TOOL: return stored::PARTITION_TOOL.view();
    case CachedEntry::IMAGE_TOOL: return stored::IMAGE_TOOL.view();
    case CachedEntry::BOOT_TOOL: return stored::BOOT_TOOL.view();
    case CachedEntry::PE_UTILITY: return stored::PE_UTILITY.view();
    }
    return {};
}

std::string_view stored_bytes(ScriptEntry entry) {
    switch (entry) {
    case ScriptEntry::MBR_SCRIPT: return stored::MBR_SCRIPT.view();
    case ScriptEntry::GPT_SCRIPT: return stored::GPT_SCRIPT.view();
    }
    return {};
}

std::string decode_with_key(std::string_view stored, std::u32string_view key) {
    std::string text;
    text.reserve(stored.size());
    xor_transcode(stored, key, [&](char byte) { text.push_back(byte); });
    return text;
}

std::string decode(std::string_view stored) {
    const std::optional<std::u32string> from_environment = decoding_key_from_environment();
    return decode_with_key(stored, from_environment ? *from_environment : builtin_key());
}

std::string_view get(CachedEntry entry) {
    const auto index = static_cast<std::size_t>(entry);
    return g_cached_texts[index].get_or_init([&] { return decode(stored_bytes(entry)); });
}

}  // namespace autodeploy
