#include "error_info.hpp"

#include <oaidl.h>

#include "support/wide_win32.hpp"
#include "support/win32.hpp"

namespace autodeploy {

namespace {

// IRestrictedErrorInfo, which mingw-w64 does not declare.
struct RestrictedErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetErrorDetails(BSTR* description, HRESULT* error, BSTR* restricted_description,
                                                      BSTR* capability_sid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetReference(BSTR* reference) = 0;
};
constexpr IID kRestrictedErrorInfoId = {0x82BA7092, 0x4C88, 0x427D, {0xA7, 0xBC, 0x16, 0xDD, 0x93, 0xFE, 0xB6, 0x7E}};

using RoOriginateErrorWFn = BOOL(WINAPI*)(HRESULT, UINT, PCWSTR);
using GetErrorInfoFn = HRESULT(WINAPI*)(ULONG, IErrorInfo**);
using SysFreeStringFn = void(WINAPI*)(BSTR);

struct ErrorInfoService {
    RoOriginateErrorWFn originate = nullptr;
    GetErrorInfoFn get_error_info = nullptr;
    SysFreeStringFn free_string = nullptr;
    bool available() const { return originate && get_error_info && free_string; }
};

template <class Fn>
Fn lookup(const wchar_t* module_name, const char* function) {
    HMODULE module = LoadLibraryExW(module_name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, function)));
}

const ErrorInfoService& error_info_service() {
    static const ErrorInfoService service = [] {
        // Wine exports RoOriginateErrorW as a stub that raises an exception and ends the process.
        if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) {
            return ErrorInfoService{};
        }
        return ErrorInfoService{lookup<RoOriginateErrorWFn>(L"combase.dll", "RoOriginateErrorW"),
                                lookup<GetErrorInfoFn>(L"oleaut32.dll", "GetErrorInfo"),
                                lookup<SysFreeStringFn>(L"oleaut32.dll", "SysFreeString")};
    }();
    return service;
}

std::optional<std::string> take_text(const ErrorInfoService& service, BSTR& text) {
    std::optional<std::string> result;
    if (text != nullptr) {
        const std::wstring_view view{text};
        if (!view.empty()) result = narrow(view);
        service.free_string(text);
        text = nullptr;
    }
    return result;
}

// The restricted description if it is not empty, else the description, else the plain one.
std::optional<std::string> describe(const ErrorInfoService& service, IErrorInfo* info) {
    std::optional<std::string> text;
    RestrictedErrorInfo* restricted = nullptr;
    if (SUCCEEDED(info->QueryInterface(kRestrictedErrorInfoId, reinterpret_cast<void**>(&restricted)))) {
        BSTR description = nullptr, restricted_description = nullptr, capability = nullptr;
        HRESULT code = S_OK;
        if (SUCCEEDED(restricted->GetErrorDetails(&description, &code, &restricted_description, &capability))) {
            std::optional<std::string> plain = take_text(service, description);
            text = take_text(service, restricted_description);
            if (!text) text = std::move(plain);
            take_text(service, capability);
        }
        restricted->Release();
    }
    if (!text) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description))) text = take_text(service, description);
    }
    return text;
}

}  // namespace

std::optional<std::string> originate_error_description(std::uint32_t result_code, std::string_view text) {
    const ErrorInfoService& service = error_info_service();
    if (!service.available()) return std::nullopt;
    const std::wstring wide = widen(text);
    service.originate(static_cast<HRESULT>(result_code), static_cast<UINT>(wide.size()), wide.c_str());
    IErrorInfo* info = nullptr;
    if (service.get_error_info(0, &info) != S_OK || info == nullptr) return std::nullopt;
    std::optional<std::string> description = describe(service, info);
    info->Release();
    return description;
}

}  // namespace autodeploy
