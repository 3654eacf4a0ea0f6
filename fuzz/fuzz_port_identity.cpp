// The device identity as read back from the settings file, and the USB ids as read from Windows
// instance ids, fed arbitrary text.
//
// Checked: nothing crashes; an identity that parses writes back to a text that parses to the
// same identity (what is stored at exit must find the same board at the next start); ids taken
// from instance ids survive the same round trip; descriptions and refusal reasons are built for
// anything.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "comport/port_info.h"

using namespace corvel;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void RoundTrips(const UsbIdentity& id) {
    if (id.Empty()) return;
    const std::string text = id.ToText();
    Check(UsbIdentity::FromText(text) == id);
    PortInfo info;
    info.name = "COM3";
    info.usb = true;
    info.id = id;
    (void)DescribePort(info);
    (void)ShortDeviceName(info);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    RoundTrips(UsbIdentity::FromText(text));

    const std::size_t cut = text.find('\n');
    const std::string_view instance = text.substr(0, cut);
    const std::string_view parent = cut == std::string_view::npos ? "" : text.substr(cut + 1);
    const UsbIdentity fromWindows = ParseWindowsDeviceId(instance, parent);
    // A serial holding a line break could not have come from the settings file; everything else
    // the parser takes must survive being stored.
    if (fromWindows.serial.find_first_of("\r\n") == std::string::npos) RoundTrips(fromWindows);

    (void)DescribeOpenRefusal(PortErrorKind::Busy, std::string(text));
    return 0;
}
