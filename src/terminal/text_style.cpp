#include "terminal/text_style.h"

#include <array>
#include <charconv>

namespace corvel {

namespace {

// The 16 colours as most terminals show them.
constexpr std::array<Rgb, 16> kBasic = {{{0, 0, 0},
                                         {205, 0, 0},
                                         {0, 205, 0},
                                         {205, 205, 0},
                                         {0, 0, 238},
                                         {205, 0, 205},
                                         {0, 205, 205},
                                         {229, 229, 229},
                                         {127, 127, 127},
                                         {255, 0, 0},
                                         {0, 255, 0},
                                         {255, 255, 0},
                                         {92, 92, 255},
                                         {255, 0, 255},
                                         {0, 255, 255},
                                         {255, 255, 255}}};

// The parameters of a sequence, one at a time; an empty one reads as 0. Sub-parameters
// separated by ':' (38:2::r:g:b) are read like ';'-separated ones.
class Params {
  public:
    explicit Params(std::string_view text) : text_(text) {}
    bool Next(int& value) {
        if (pos_ > text_.size()) return false;
        std::size_t end = pos_;
        while (end < text_.size() && text_[end] != ';' && text_[end] != ':') ++end;
        value = 0;
        unsigned parsed = 0;
        const auto result = std::from_chars(text_.data() + pos_, text_.data() + end, parsed);
        if (result.ec == std::errc() && parsed <= 0xFFFFFF) value = static_cast<int>(parsed);
        pos_ = end + 1;
        return true;
    }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// The colour after 38 or 48: "5;n" or "2;r;g;b".
bool ReadExtendedColor(Params& p, TermColor& color) {
    int kind = 0;
    if (!p.Next(kind)) return false;
    if (kind == 5) {
        int index = 0;
        if (!p.Next(index)) return false;
        if (index <= 255) color = kTermIndexed | static_cast<TermColor>(index);
        return true;
    }
    if (kind == 2) {
        int r = 0, g = 0, b = 0;
        if (!p.Next(r) || !p.Next(g) || !p.Next(b)) return false;
        if (r <= 255 && g <= 255 && b <= 255)
            color = kTermRgb | static_cast<TermColor>((r << 16) | (g << 8) | b);
        return true;
    }
    return true;
}

}  // namespace

void ApplySgr(std::string_view params, TermStyle& style) {
    Params p(params);
    int code = 0;
    while (p.Next(code)) {
        if (code == 0) {
            style = TermStyle{};
        } else if (code == 1) {
            style.attrs |= kTermBold;
        } else if (code == 2) {
            style.attrs |= kTermFaint;
        } else if (code == 3) {
            style.attrs |= kTermItalic;
        } else if (code == 4) {
            style.attrs |= kTermUnderline;
        } else if (code == 7) {
            style.attrs |= kTermInverse;
        } else if (code == 22) {
            style.attrs &= static_cast<std::uint8_t>(~(kTermBold | kTermFaint));
        } else if (code == 23) {
            style.attrs &= static_cast<std::uint8_t>(~kTermItalic);
        } else if (code == 24) {
            style.attrs &= static_cast<std::uint8_t>(~kTermUnderline);
        } else if (code == 27) {
            style.attrs &= static_cast<std::uint8_t>(~kTermInverse);
        } else if (code >= 30 && code <= 37) {
            style.fg = kTermIndexed | static_cast<TermColor>(code - 30);
        } else if (code == 38) {
            if (!ReadExtendedColor(p, style.fg)) return;
        } else if (code == 39) {
            style.fg = kTermDefault;
        } else if (code >= 40 && code <= 47) {
            style.bg = kTermIndexed | static_cast<TermColor>(code - 40);
        } else if (code == 48) {
            if (!ReadExtendedColor(p, style.bg)) return;
        } else if (code == 49) {
            style.bg = kTermDefault;
        } else if (code >= 90 && code <= 97) {
            style.fg = kTermIndexed | static_cast<TermColor>(code - 90 + 8);
        } else if (code >= 100 && code <= 107) {
            style.bg = kTermIndexed | static_cast<TermColor>(code - 100 + 8);
        }
    }
}

Rgb IndexedColor(int index) {
    if (index < 0 || index > 255) return {};
    if (index < 16) return kBasic[static_cast<std::size_t>(index)];
    if (index < 232) {
        const int i = index - 16;
        const auto level = [](int v) {
            return static_cast<std::uint8_t>(v == 0 ? 0 : 55 + 40 * v);
        };
        return {level(i / 36), level(i / 6 % 6), level(i % 6)};
    }
    const auto grey = static_cast<std::uint8_t>(8 + 10 * (index - 232));
    return {grey, grey, grey};
}

Rgb ResolveColor(TermColor color) {
    if ((color & 0xFF000000) == kTermIndexed) return IndexedColor(static_cast<int>(color & 0xFF));
    return {static_cast<std::uint8_t>((color >> 16) & 0xFF),
            static_cast<std::uint8_t>((color >> 8) & 0xFF),
            static_cast<std::uint8_t>(color & 0xFF)};
}

}  // namespace corvel
