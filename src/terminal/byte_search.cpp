#include "terminal/byte_search.h"

#include <algorithm>

namespace corvel {

ByteSearch::ByteSearch(std::string_view needle, bool matchCase, bool latin1)
    : needle_(needle), matchCase_(matchCase) {
    for (std::size_t b = 0; b < 256; ++b) {
        auto c = static_cast<unsigned char>(b);
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
        // Latin-1's capitals À..Þ sit 32 below their small letters; × (D7) has no pair.
        if (latin1 && c >= 0xC0 && c <= 0xDE && c != 0xD7) c = static_cast<unsigned char>(c + 32);
        fold_[b] = c;
    }
    if (matchCase_ || needle_.empty()) return;
    for (char& c : needle_) c = static_cast<char>(fold_[static_cast<unsigned char>(c)]);
    // Horspool's shifts on the folded bytes: a text byte that is not in the needle (bar its last
    // byte) moves the window by its whole length.
    const std::size_t n = needle_.size();
    skip_.fill(n);
    for (std::size_t b = 0; b < 256; ++b) {
        const unsigned char f = fold_[b];
        for (std::size_t j = n - 1; j-- > 0;) {
            if (static_cast<unsigned char>(needle_[j]) == f) {
                skip_[b] = n - 1 - j;
                break;
            }
        }
    }
}

std::size_t ByteSearch::FindIn(std::string_view text, std::size_t from) const {
    const std::size_t n = needle_.size();
    if (n == 0 || from >= text.size() || text.size() - from < n) return npos;
    if (matchCase_) return text.find(needle_, from);
    const auto* t = reinterpret_cast<const unsigned char*>(text.data());
    const auto* p = reinterpret_cast<const unsigned char*>(needle_.data());
    const unsigned char last = p[n - 1];
    for (std::size_t i = from; i + n <= text.size();) {
        const unsigned char end = t[i + n - 1];
        if (fold_[end] == last) {
            std::size_t j = 0;
            while (j + 1 < n && fold_[t[i + j]] == p[j]) ++j;
            if (j + 1 == n) return i;
        }
        i += skip_[end];
    }
    return npos;
}

std::size_t ByteSearch::FindLastIn(std::string_view text, std::size_t before) const {
    const std::size_t n = needle_.size();
    if (n == 0 || text.size() < n || before == 0) return npos;
    const std::size_t lastStart = std::min(before - 1, text.size() - n);
    if (matchCase_) return text.rfind(needle_, lastStart);
    std::size_t found = npos;
    for (std::size_t at = FindIn(text, 0); at != npos && at <= lastStart; at = FindIn(text, at + 1))
        found = at;
    return found;
}

}  // namespace corvel
