#pragma once
// Small text formatters shared by the window and the transfer reports.

#include <cstdint>
#include <string>

namespace corvel {

// A byte count for people: up to 1024 in bytes, up to 1 MiB in Kbytes, above in Mbytes, rounded
// to the nearest unit with a half going to the even neighbour ("1024 bytes", "2 Kbytes").
std::string FormatByteSize(std::uint32_t n);

// printf into a std::string; a format the C library rejects gives the format text itself, so a
// log line is never lost to a stray '%'.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
FormatText(const char* format, ...);

}  // namespace corvel
