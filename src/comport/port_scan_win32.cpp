// Port scan on Windows: the serial ports the system has mapped, in the registry's order.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "comport/port_scan.h"

namespace corvel {

namespace {

std::string Narrow(const wchar_t* w, std::size_t len) {
    if (len == 0) return {};
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), out.data(), n, nullptr,
                              nullptr);
    return out;
}

std::vector<std::string> RegistryPorts() {
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLen = 256;
        wchar_t data[256];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG rc = ::RegEnumValueW(key, index, name, &nameLen, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataBytes);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
        // The data need not be terminated; never read past what was returned.
        std::size_t len = dataBytes / sizeof(wchar_t);
        while (len > 0 && data[len - 1] == L'\0') --len;
        if (len > 0) ports.push_back(Narrow(data, len));
    }
    ::RegCloseKey(key);
    return ports;
}

}  // namespace

std::vector<std::string> ScanSerialPorts() {
    const char* extra = std::getenv(kExtraPortsVariable);
    return MergePortLists(RegistryPorts(), SplitPortList(extra ? extra : "", ';'));
}

}  // namespace corvel
