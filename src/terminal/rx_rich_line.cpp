#include "terminal/rx_rich_line.h"

#include <algorithm>

namespace corvel {

namespace {

// UTF-16 units of a character: the view counts in them.
std::uint32_t Units(char32_t c) {
    return c > 0xFFFF ? 2 : 1;
}

// The length of the valid UTF-8 sequence at text[i], or 0.
std::size_t ValidSequence(std::string_view text, std::size_t i, char32_t& out) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        out = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        out = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        out = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + need >= text.size()) return 0;
    for (std::size_t k = 1; k <= need; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return 0;
        out = (out << 6) | (b & 0x3F);
    }
    return need + 1;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::vector<char32_t> DecodeUtf8Lenient(std::string_view text) {
    std::vector<char32_t> chars;
    chars.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t n = ValidSequence(text, i, c);
        if (n == 0) {
            chars.push_back(static_cast<unsigned char>(text[i]));
            ++i;
        } else {
            chars.push_back(c);
            i += n;
        }
    }
    return chars;
}

void tRichLine::Clear() {
    chars_.clear();
    styles_.clear();
}

void tRichLine::Put(std::size_t at, char32_t c, const TermStyle& style) {
    if (at >= chars_.size()) {
        chars_.push_back(c);
        styles_.push_back(style);
    } else {
        chars_[at] = c;
        styles_[at] = style;
    }
}

void tRichLine::Erase(std::size_t at) {
    if (at >= chars_.size()) return;
    chars_.erase(chars_.begin() + static_cast<std::ptrdiff_t>(at));
    styles_.erase(styles_.begin() + static_cast<std::ptrdiff_t>(at));
}

void tRichLine::Truncate(std::size_t count) {
    if (count >= chars_.size()) return;
    chars_.resize(count);
    styles_.resize(count);
}

void tRichLine::Blank(std::size_t count) {
    count = std::min(count, chars_.size());
    std::fill_n(chars_.begin(), count, U' ');
    std::fill_n(styles_.begin(), count, TermStyle{});
}

void tRichLine::PadTo(std::size_t count) {
    if (count <= chars_.size()) return;
    chars_.resize(count, U' ');
    styles_.resize(count, TermStyle{});
}

std::string tRichLine::Text(bool utf8) const {
    std::string text;
    text.reserve(chars_.size());
    for (char32_t c : chars_) {
        if (utf8) {
            AppendUtf8(text, c);
        } else {
            text.push_back(static_cast<char>(c & 0xFF));
        }
    }
    return text;
}

LineStyle tRichLine::Runs() const {
    LineStyle runs;
    std::uint32_t unit = 0;
    for (std::size_t i = 0; i < chars_.size(); ++i) {
        const std::uint32_t width = Units(chars_[i]);
        const TermStyle& s = styles_[i];
        if (!s.IsDefault()) {
            if (!runs.empty() && runs.back().style == s &&
                runs.back().start + runs.back().length == unit) {
                runs.back().length += width;
            } else {
                runs.push_back({unit, width, s});
            }
        }
        unit += width;
    }
    return runs;
}

void tRichLine::Load(std::string_view text, bool utf8, const LineStyle& runs) {
    if (utf8) {
        chars_ = DecodeUtf8Lenient(text);
    } else {
        chars_.assign(text.begin(), text.end());
        for (char32_t& c : chars_) c &= 0xFF;
    }
    styles_.assign(chars_.size(), TermStyle{});
    // Runs count UTF-16 units: walk the characters to find where each run falls.
    std::size_t run = 0;
    std::uint32_t unit = 0;
    for (std::size_t i = 0; i < chars_.size() && run < runs.size(); ++i) {
        while (run < runs.size() && runs[run].start + runs[run].length <= unit) ++run;
        if (run < runs.size() && unit >= runs[run].start) styles_[i] = runs[run].style;
        unit += Units(chars_[i]);
    }
}

}  // namespace corvel
