#include "app/registry.h"

#include <cstring>

#include "framework/handles.h"

namespace {

// Older systems lack GetNativeSystemInfo, so it is looked up by name.
int DetectNativeX64() {
    using NativeInfoFunction = void(WINAPI*)(LPSYSTEM_INFO);
    HMODULE kernel = ::GetModuleHandleA("kernel32");
    FARPROC found = kernel ? ::GetProcAddress(kernel, "GetNativeSystemInfo") : nullptr;
    if (!found) return 0;
    // Through void(*)(), the generic function pointer, to keep -Wcast-function-type quiet.
    auto getNativeSystemInfo = reinterpret_cast<NativeInfoFunction>(reinterpret_cast<void (*)()>(found));
    SYSTEM_INFO info{};
    getNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
}

}  // namespace

int Is64BitWindows() {
    static const int answer = DetectNativeX64();
    return answer;
}

REGSAM RegViewFlag(REGSAM access) {
    static const REGSAM view = Is64BitWindows() ? KEY_WOW64_64KEY : 0;
    return access | view;
}

int ReadRegString(HKEY root, const char* key, const char* value, char* buffer, DWORD size) {
    if (!buffer || size == 0) return 0;
    std::memset(buffer, 0, size);
    if (!key) return 0;

    fw::UniqueKey handle;
    if (::RegOpenKeyExA(root, key, 0, RegViewFlag(KEY_READ), handle.put()) != ERROR_SUCCESS &&
        ::RegOpenKeyExA(root, key, 0, KEY_READ, handle.put()) != ERROR_SUCCESS)
        return 0;

    DWORD bytes = size;
    if (::RegQueryValueExA(handle.get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes) !=
        ERROR_SUCCESS) {
        std::memset(buffer, 0, size);  // a value that did not fit may have left a partial copy
        return 0;
    }
    // Text stored without a terminator that fills the whole buffer leaves no
    // room for one: it does not fit.
    if (bytes >= size && buffer[size - 1] != '\0') {
        std::memset(buffer, 0, size);
        return 0;
    }
    // The count covers a terminator when the writer stored one; the caller
    // gets the text's own length either way.
    return static_cast<int>(strnlen(buffer, bytes));
}

int WriteRegValue(HKEY root, const char* key, const char* value, const void* data, DWORD length, DWORD type) {
    if (!key || (!data && length != 0)) return 0;
    fw::UniqueKey handle;
    if (::RegCreateKeyExA(root, key, 0, nullptr, REG_OPTION_NON_VOLATILE, RegViewFlag(KEY_ALL_ACCESS), nullptr,
                          handle.put(), nullptr) != ERROR_SUCCESS)
        return 0;
    return ::RegSetValueExA(handle.get(), value, 0, type, static_cast<const BYTE*>(data), length) == ERROR_SUCCESS;
}

int WriteRegString(HKEY root, const char* key, const char* value, const char* text) {
    if (!text) return 0;
    return WriteRegValue(root, key, value, text, static_cast<DWORD>(std::strlen(text)), REG_SZ);
}

int ReadRegDword(HKEY root, const char* key, const char* value, DWORD* out) {
    if (!key || !out) return 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        LSTATUS status;
        {
            fw::UniqueKey handle;
            status = ::RegCreateKeyExA(root, key, 0, nullptr, REG_OPTION_NON_VOLATILE, RegViewFlag(KEY_READ), nullptr,
                                       handle.put(), nullptr);
            if (status == ERROR_SUCCESS) {
                DWORD number = 0;
                DWORD bytes = sizeof(number);
                status = ::RegQueryValueExA(handle.get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(&number),
                                            &bytes);
                // A shorter value would fill *out only in part.
                if (status == ERROR_SUCCESS && bytes == sizeof(number)) {
                    *out = number;
                    return 4;
                }
            }
        }
        // A missing value is no passing condition; anything else may be, so
        // give the registry a moment before the second attempt.
        if (attempt == 0 && status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) ::Sleep(8);
    }
    return 0;
}

int WriteRegDword(HKEY root, const char* key, const char* value, DWORD number) {
    if (!key) return 0;
    fw::UniqueKey handle;
    if (::RegCreateKeyExA(root, key, 0, nullptr, REG_OPTION_NON_VOLATILE, RegViewFlag(KEY_QUERY_VALUE | KEY_SET_VALUE),
                          nullptr, handle.put(), nullptr) != ERROR_SUCCESS)
        return 0;

    // Counters are rewritten often with the same number; skip those writes.
    DWORD current = 0;
    DWORD bytes = sizeof(current);
    DWORD type = REG_NONE;
    if (::RegQueryValueExA(handle.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(&current), &bytes) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && bytes == sizeof(current) && current == number)
        return 1;

    return ::RegSetValueExA(handle.get(), value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                            sizeof(number)) == ERROR_SUCCESS;
}
