// Port descriptions on Windows: SetupAPI's view of the present devices of the Ports class,
// matched to the port list by each device's "PortName".

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// clang-format off
#include <setupapi.h>
#include <cfgmgr32.h>
#include <devguid.h>
// clang-format on

#include <string>
#include <vector>

#include "comport/port_info.h"

namespace corvel {

namespace {

std::string Narrow(const wchar_t* w) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& dev, DWORD prop) {
    wchar_t buf[512] = {};
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &dev, prop, &type, reinterpret_cast<BYTE*>(buf),
                                             sizeof buf - sizeof(wchar_t), nullptr))
        return {};
    if (type != REG_SZ && type != REG_MULTI_SZ) return {};
    return Narrow(buf);
}

std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& dev) {
    HKEY key = ::SetupDiOpenDevRegKey(set, &dev, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return {};
    wchar_t buf[64] = {};
    DWORD bytes = sizeof buf - sizeof(wchar_t);
    DWORD type = 0;
    const LONG rc =
        ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(buf), &bytes);
    ::RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return {};
    return Narrow(buf);
}

std::string InstanceId(DEVINST inst) {
    wchar_t buf[MAX_DEVICE_ID_LEN + 1] = {};
    if (::CM_Get_Device_IDW(inst, buf, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return {};
    return Narrow(buf);
}

std::vector<PortInfo> PresentPorts() {
    std::vector<PortInfo> found;
    HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return found;
    SP_DEVINFO_DATA dev{};
    dev.cbSize = sizeof dev;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
        PortInfo info;
        info.name = PortNameOf(set, dev);
        if (info.name.empty()) continue;
        const std::string id = InstanceId(dev.DevInst);
        DEVINST parent = 0;
        std::string parentId;
        if (::CM_Get_Parent(&parent, dev.DevInst, 0) == CR_SUCCESS) parentId = InstanceId(parent);
        info.id = ParseWindowsDeviceId(id, parentId);
        info.usb = !info.id.Empty();
        info.manufacturer = Property(set, dev, SPDRP_MFG);
        info.product = Property(set, dev, SPDRP_DEVICEDESC);
        info.driver = Property(set, dev, SPDRP_SERVICE);
        found.push_back(std::move(info));
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return found;
}

}  // namespace

std::vector<PortInfo> DescribeSystemPorts(const std::vector<std::string>& names) {
    const std::vector<PortInfo> present = PresentPorts();
    std::vector<PortInfo> out;
    out.reserve(names.size());
    for (const std::string& name : names) {
        PortInfo info;
        info.name = name;
        for (const PortInfo& p : present) {
            if (_stricmp(p.name.c_str(), name.c_str()) != 0) continue;
            info = p;
            info.name = name;
            break;
        }
        out.push_back(std::move(info));
    }
    return out;
}

}  // namespace corvel
