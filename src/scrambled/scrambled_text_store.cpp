#include "scrambled_text_store.hpp"

#include "builtin_key.hpp"
#include "decoding_key.hpp"
#include "stored_texts.hpp"
#include "xor_transcode.hpp"

namespace autodeploy {

namespace {

// One function-local static per entry: C++ runs its initialiser exactly once, and racing callers
// wait for it. The text is never destroyed, so views of it outlive static destruction.
template <CachedEntry entry>
std::string_view decoded_once() {
    static const std::string& text = *new std::string(decode(stored_bytes(entry)));
    return text;
}

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
    switch (entry) {
    case CachedEntry::WEB_ADDRESS: return decoded_once<CachedEntry::WEB_ADDRESS>();
    case CachedEntry::PARTITION_TOOL: return decoded_once<CachedEntry::PARTITION_TOOL>();
    case CachedEntry::IMAGE_TOOL: return decoded_once<CachedEntry::IMAGE_TOOL>();
    case CachedEntry::BOOT_TOOL: return decoded_once<CachedEntry::BOOT_TOOL>();
    case CachedEntry::PE_UTILITY: return decoded_once<CachedEntry::PE_UTILITY>();
    }
    return {};
}

}  // namespace autodeploy
