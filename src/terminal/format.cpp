#include "terminal/format.h"

#include <cstdarg>
#include <cstdio>

namespace corvel {
namespace {

// n / unit rounded to nearest, ties to even.
std::uint32_t DivideRounded(std::uint32_t n, std::uint32_t unit) {
    std::uint32_t q = n / unit;
    const std::uint32_t r = n % unit;
    const std::uint32_t half = unit / 2;
    if (r > half || (r == half && (q & 1u) != 0)) ++q;
    return q;
}

}  // namespace

std::string FormatByteSize(std::uint32_t n) {
    constexpr std::uint32_t kKilo = 1024;
    constexpr std::uint32_t kMega = 1024 * 1024;
    if (n <= kKilo) return std::to_string(n) + " bytes";
    if (n <= kMega) return std::to_string(DivideRounded(n, kKilo)) + " Kbytes";
    return std::to_string(DivideRounded(n, kMega)) + " Mbytes";
}

std::string FormatText(const char* format, ...) {
    if (format == nullptr) return {};
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out;
    if (needed < 0) {
        out = format;
    } else {
        out.resize(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(out.data(), out.size(), format, again);
        out.resize(static_cast<std::size_t>(needed));
    }
    va_end(again);
    return out;
}

}  // namespace corvel
