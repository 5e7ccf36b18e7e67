#include "firmware_names_win32.hpp"

#include "driver_choice.hpp"
#include "support/wide_win32.hpp"
#include "support/win32.hpp"

namespace autodeploy::watch {
namespace {

constexpr const wchar_t* kBiosKey = L"HARDWARE\\DESCRIPTION\\System\\BIOS";

std::string firmware_value(const wchar_t* name) {
    wchar_t text[256];
    DWORD size = sizeof text;
    // RegGetValueW opens and closes the key itself and ends the text with its NUL.
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kBiosKey, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
        return {};
    }
    return trimmed(narrow(text).value_or(""));
}

}  // namespace

void read_firmware_names(Settings& settings) {
    settings.make = firmware_value(L"SystemManufacturer");
    settings.model = firmware_value(L"SystemProductName");
}

}  // namespace autodeploy::watch
