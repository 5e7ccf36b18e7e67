#pragma once
// Texts kept out of plain sight: stored XOR-scrambled, turned back into text when needed.
// Tool names and the web address are decoded once per process; scripts at each use.
#include <string>
#include <string_view>

namespace autodeploy {

enum class CachedEntry { WEB_ADDRESS, PARTITION_TOOL, IMAGE_TOOL, BOOT_TOOL, PE_UTILITY };
enum class ScriptEntry { MBR_SCRIPT, GPT_SCRIPT };

// The scrambled bytes of an entry, as stored in the program.
std::string_view stored_bytes(CachedEntry entry);
std::string_view stored_bytes(ScriptEntry entry);

// Decodes with the key of the moment: "CRYPTIFY_KEY" when it is set to valid Unicode text
// (an empty value is an empty key), else the built-in key. Looked up afresh at every call.
std::string decode(std::string_view stored);
std::string decode_with_key(std::string_view stored, std::u32string_view key);

// Decodes a cached entry on first use; later calls, from any thread, see the same text, which
// stays valid until the process ends. Exactly one caller decodes; racing callers wait for it.
std::string_view get(CachedEntry entry);

}  // namespace autodeploy
