// The ASCII and HEX receive renderers fed arbitrary bytes in arbitrary chunks.
//
// Input: 4 header bytes, then the received bytes.
//   [0] bit0 HEX mode, bits1-4 side columns (char, dec, hex, bin), bit5 small line limits,
//       bit6 window operations between chunks (clear, mode switch, column switch, caret)
//   [1..2] seed of the chunk sizes
//   [3] text options: bit0 UTF-8, bit1 colours, bit2 TAB stops
//
// The same bytes are rendered once as one chunk and once in many chunks (some empty). Checked:
// the line editor's cursor never goes before column 1; ASCII lines never exceed the line cap (in
// characters) and are valid UTF-8 when read so; HEX lines are always exactly one hex line long;
// without operations between chunks both windows, the styles of their lines and the bell come
// out the same whatever the chunking.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "terminal/mem_line_box.h"
#include "terminal/rx_render.h"

using namespace corvel;

namespace {

struct Screen {
    MemLineBox memo;
    MemLineBox aux;
    int beeps = 0;
    tRxRenderer r{memo, aux, [this] { ++beeps; }};
};

bool ValidUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t n = b < 0x80                 ? 1
                        : b >= 0xC2 && b <= 0xDF ? 2
                        : b >= 0xE0 && b <= 0xEF ? 3
                        : b >= 0xF0 && b <= 0xF4 ? 4
                                                 : 0;
        if (n == 0 || i + n > text.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

void CheckLine(const Screen& s, const std::string& line) {
    if (s.r.Mode() == RxMode::Hex) {
        FUZZ_CHECK(line.size() == HEX_LINE_LENGTH);
    } else if (s.r.TextOptions().utf8) {
        FUZZ_CHECK(line.size() <= 4 * RX_MAX_LINE_LENGTH);
        FUZZ_CHECK(ValidUtf8(line));
    } else {
        FUZZ_CHECK(line.size() <= RX_MAX_LINE_LENGTH);
    }
}

void CheckEditor(const Screen& s) {
    const tRxControl& c = s.r.rxControl;
    FUZZ_CHECK(c.curY >= 1);
    FUZZ_CHECK(c.countRx <= 15);
    const int n = s.memo.LineCount();
    if (n > 0) CheckLine(s, s.memo.Line(n - 1));
}

void CheckAll(const Screen& s) {
    CheckEditor(s);
    for (const std::string& line : s.memo.Lines()) CheckLine(s, line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::uint8_t flags = data[0];
    const RxMode mode = (flags & 1) ? RxMode::Hex : RxMode::Ascii;
    const RxColumns columns{(flags & 2) != 0, (flags & 4) != 0, (flags & 8) != 0,
                            (flags & 16) != 0};
    const bool limits = flags & 32;
    const bool operations = flags & 64;
    std::uint32_t seed = static_cast<std::uint32_t>(data[1] | (data[2] << 8));
    const RxTextOptions text{(data[3] & 1) != 0, (data[3] & 2) != 0, (data[3] & 4) != 0};
    const std::uint8_t* bytes = data + 4;
    const std::size_t n = size - 4;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };

    auto setUp = [&](Screen& s) {
        s.r.SetTextOptions(text);
        s.r.SetMode(mode);
        s.r.SetColumns(columns);
        if (limits) s.r.SetMaxLines(5, 7);
    };

    Screen whole;
    setUp(whole);
    whole.r.printf_ReceiveData(bytes, n);
    CheckAll(whole);

    Screen parts;
    setUp(parts);
    for (std::size_t at = 0; at < n;) {
        const std::uint32_t roll = next();
        std::size_t len = roll % 8 == 0 ? 0 : 1 + roll % 97;
        len = std::min(len, n - at);
        parts.r.printf_ReceiveData(bytes + at, len);
        at += len;
        CheckEditor(parts);
        if (operations) {
            switch (next() % 16) {
                case 0:
                    parts.r.ClearRx();
                    break;
                case 1:
                    parts.r.SetMode(parts.r.Mode() == RxMode::Hex ? RxMode::Ascii : RxMode::Hex);
                    break;
                case 2: {
                    const std::uint32_t c = next();
                    parts.r.SetColumns(
                        RxColumns{(c & 1) != 0, (c & 2) != 0, (c & 4) != 0, (c & 8) != 0});
                    break;
                }
                case 3:
                    parts.memo.SetCaretLine(static_cast<int>(next() % 8));
                    break;
                default:
                    break;
            }
            CheckEditor(parts);
        }
    }
    CheckAll(parts);
    if (operations) return 0;

    FUZZ_CHECK(parts.aux.Lines() == whole.aux.Lines());
    FUZZ_CHECK(parts.beeps == whole.beeps);
    FUZZ_CHECK(parts.memo.Lines() == whole.memo.Lines());
    for (int i = 0; i < whole.memo.LineCount(); ++i)
        FUZZ_CHECK(parts.memo.GetLineStyle(i) == whole.memo.GetLineStyle(i));
    return 0;
}
