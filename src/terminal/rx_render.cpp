#include "terminal/rx_render.h"

#include <algorithm>
#include <cstring>

namespace corvel {
namespace {

constexpr std::uint8_t kBel = 7;
constexpr std::uint8_t kBs = 8;
constexpr std::uint8_t kTab = 9;
constexpr std::uint8_t kLf = 10;
constexpr std::uint8_t kCr = 13;
constexpr std::uint8_t kEsc = 27;
constexpr std::uint8_t kFirstPrintable = 32;

// A sequence's meaning lies in its first parameters and its final byte; a sender that never ends
// its sequence cannot make us store more than this.
constexpr std::size_t kMaxEscapeLength = 64;

// Every chunk reads the last line back and writes it again, so a sender that never sends LF (binary
// data shown as text) would make each chunk cost more than the one before until the window could
// no longer keep up. A line that reaches this length goes on on a new line.
constexpr std::size_t kMaxLineLength = RX_MAX_LINE_LENGTH;

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr std::array<const char*, 32> kControlNames = {
    "NUL ", "SOH ", "STX ", "ETX ", "EOT ", "ENQ ", "ACK ", "BEL ", "BS  ", "HT  ", "LF  ",
    "VT  ", "FF  ", "CR  ", "SO  ", "SI  ", "DLE ", "DC1 ", "DC2 ", "DC3 ", "DC4 ", "NAK ",
    "SYN ", "ETB ", "CAN ", "EM  ", "SUB ", "ESC ", "FS  ", "GS  ", "RS  ", "US  "};

// Hex dump layout (0-based): pair of slot s at 3s, 3s+1, then a space; ':' at 49; the character of
// slot s at 51+s.
constexpr std::size_t kHexColon = 49;
constexpr std::size_t kHexChars = 51;

}  // namespace

std::string IntToBin(std::uint32_t value, int digits) {
    if (digits <= 0) return {};
    std::string bits(static_cast<std::size_t>(digits), '0');
    for (std::size_t pos = bits.size(); value > 0 && pos > 0; value >>= 1) {
        --pos;
        if (value & 1u) bits[pos] = '1';
    }
    return bits;
}

void PutHexByte(std::string& line, std::uint8_t value, int slot) {
    if (slot < 0 || slot > 15) return;
    if (line.size() != HEX_LINE_LENGTH) line.assign(HEX_LINE_LENGTH, ' ');
    char* p = line.data();
    const auto s = static_cast<std::size_t>(slot);
    p[3 * s] = kHexDigits[value >> 4];
    p[3 * s + 1] = kHexDigits[value & 0x0F];
    p[3 * s + 2] = ' ';
    p[kHexColon] = ':';
    p[kHexColon + 1] = ' ';
    p[kHexChars + s] = (value >= 32 && value <= 127) ? static_cast<char>(value) : '.';
}

std::string RxColumnsLine(std::uint8_t b, const RxColumns& columns) {
    std::string text;
    if (columns.showChar) {
        if (b < kFirstPrintable) {
            text += kControlNames[b];
        } else {
            text += static_cast<char>(b);
            text += "   ";
        }
    }
    if (columns.showDec) {
        char dec[5] = {' ', ' ', ' ', ' ', '\0'};
        dec[2] = static_cast<char>('0' + b % 10);
        if (b >= 10) dec[1] = static_cast<char>('0' + b / 10 % 10);
        if (b >= 100) dec[0] = static_cast<char>('0' + b / 100);
        text += dec;
    }
    if (columns.showHex) {
        text += "0x";
        text += kHexDigits[b >> 4];
        text += kHexDigits[b & 0x0F];
        text += ' ';
    }
    if (columns.showBin) text += IntToBin(b, 8);
    return text;
}

int RxPanelWidth(const RxColumns& columns) {
    if (!columns.Any()) return 0;
    int width = 20;
    if (columns.showDec) width += 34;
    if (columns.showHex) width += 34;
    if (columns.showChar) width += 34;
    if (columns.showBin) width += 64;
    return width;
}

std::string& tRxRenderer::LineBatch::Next() {
    if (spare_.empty()) return lines_.emplace_back();
    lines_.push_back(std::move(spare_.back()));
    spare_.pop_back();
    lines_.back().clear();
    return lines_.back();
}

void tRxRenderer::LineBatch::Reset() {
    while (!lines_.empty()) {
        spare_.push_back(std::move(lines_.back()));
        lines_.pop_back();
    }
}

tRxRenderer::tRxRenderer(LineBox& memoUart, LineBox& memoUartAux, BeepFn beep)
    : rxControl(memoUart), memoUart_(memoUart), memoUartAux_(memoUartAux), beep_(std::move(beep)) {
    RebuildColumnTable();
}

void tRxRenderer::printf_ReceiveData(const std::uint8_t* data, std::size_t size) {
    if (mode_ == RxMode::Ascii) {
        PrintRxAscii(data, size);
    } else {
        PrintRxHex(data, size);
    }
}

void tRxRenderer::PrintRxAscii(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size == 0) return;
    tRxControl& rx = rxControl;
    QueueColumns(data, size);

    // The line and cursor of the previous chunk go on as long as the window still shows what
    // this renderer last wrote, so a CR or an erase at the end of one read acts on the next one
    // exactly as it would inside one read. When anybody else changed the window (cleared it,
    // dropped lines, a mode change) the last line is taken up again with the cursor after it.
    if (!carry_ || memoUart_.Revision() != ownRevision_) TakeUpLastLine();
    DropPendingLines();

    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t b = data[i];
        if (rx.escapeInit) {
            if (TakeEscapeByte(b)) {
                ++i;
                continue;
            }
            // Not part of any sequence: the sequence is dropped and the byte acted on as usual.
        }
        if (b >= kFirstPrintable) {
            std::size_t run = 1;
            while (i + run < size && data[i + run] >= kFirstPrintable) ++run;
            if (Rich()) {
                WriteRich(data + i, run);
            } else {
                WritePrintable(data + i, run);
            }
            i += run;
            continue;
        }
        // A control byte ends an unfinished UTF-8 sequence: its bytes show as they are.
        FlushUtf8Pending();
        switch (b) {
            case kBel:
                if (beep_) beep_();
                break;
            case kBs:
                if (Rich()) {
                    if (rx.curY > 1) rich_.Erase(static_cast<std::size_t>(--rx.curY) - 1);
                } else {
                    rx.deleteChar(rx.curY - 1);
                }
                break;
            case kTab:
                if (options_.tabs) MoveToNextTabStop();
                break;
            case kLf:
                NewLine();
                break;
            case kCr:
                rx.curY = 1;
                break;
            case kEsc:
                rx.escapeInit = true;
                rx.escape.clear();
                break;
            default:  // every other control byte, TAB and form feed included, is dropped
                break;
        }
        ++i;
    }

    FlushLines(true);
    TrimReceive();
    // memoLine stays: it is what the window's last line now shows.
    carry_ = true;
    ownRevision_ = memoUart_.Revision();
    RefreshRxColumns();
}

// The escape parser of a VT100-style terminal: after ESC one byte completes the sequence unless
// it is "[", which opens a control sequence of parameter and intermediate bytes (0x20 to 0x3F)
// ended by a final byte (0x40 to 0x7E). A control byte, or a byte that no sequence holds, ends
// the sequence unfinished and is not consumed, so line noise never swallows the text after it.
bool tRxRenderer::TakeEscapeByte(std::uint8_t b) {
    tRxControl& rx = rxControl;
    const auto finish = [&] {
        RunEscapeSequence();
        rx.escapeInit = false;
    };
    if (b < kFirstPrintable || b > 0x7E) {
        rx.escapeInit = false;
        rx.escape.clear();
        return false;
    }
    if (rx.escape.empty()) {
        rx.escape.push_back(static_cast<char>(b));
        if (b != '[') finish();
        return true;
    }
    if (b >= 0x40) {
        rx.escape.push_back(static_cast<char>(b));
        finish();
        return true;
    }
    if (rx.escape.size() < kMaxEscapeLength - 1) rx.escape.push_back(static_cast<char>(b));
    return true;
}

void tRxRenderer::WritePrintable(const std::uint8_t* data, std::size_t count) {
    tRxControl& rx = rxControl;
    std::string& line = rx.memoLine;
    const char* text = reinterpret_cast<const char*>(data);
    while (count > 0) {
        if (rx.curY < 1 || static_cast<std::size_t>(rx.curY) > line.size() + 1) {
            rx.curY = static_cast<std::int32_t>(line.size()) + 1;
        }
        auto at = static_cast<std::size_t>(rx.curY) - 1;
        if (at >= kMaxLineLength) {
            NewLine();
            at = 0;
        }
        const std::size_t take = std::min(count, kMaxLineLength - at);
        const std::size_t overwrite = std::min(take, line.size() - at);
        std::memcpy(line.data() + at, text, overwrite);
        line.append(text + overwrite, take - overwrite);
        rx.curY += static_cast<std::int32_t>(take);
        text += take;
        count -= take;
    }
}

// A line feed, as the line editor's replaceLine(true), but the finished line is held back and
// written with the others of the chunk.
void tRxRenderer::NewLine() {
    tRxControl& rx = rxControl;
    PendLine(false);
    rx.memoLine.clear();
    rich_.Clear();
    rx.curY = 1;
}

// Holds the line being edited (or, when shownEmpty, an empty line) as the next pending line.
void tRxRenderer::PendLine(bool shownEmpty) {
    std::string& text = havePendingHead_ ? pendingLines_.Next() : pendingHead_;
    const std::size_t slot = havePendingHead_ ? pendingLines_.Lines().size() : 0;
    havePendingHead_ = true;
    if (shownEmpty) {
        text.clear();
    } else if (Rich()) {
        text = rich_.Text(options_.utf8);
    } else {
        text.assign(rxControl.memoLine);
    }
    if (!Rich()) return;
    if (pendingStyles_.size() <= slot) pendingStyles_.resize(slot + 1);
    pendingStyles_[slot] = shownEmpty ? LineStyle{} : rich_.Runs();
}

// Writes what the line feeds of this chunk left pending. At the end of a chunk the line being
// edited follows them (or, with no line feed, replaces the last line when it holds text); in the
// middle of one, the window shows the new line as still empty, as each line feed would have.
void tRxRenderer::FlushLines(bool endOfChunk) {
    if (!havePendingHead_) {
        if (endOfChunk) WriteEditedLine();
        return;
    }
    PendLine(!endOfChunk);
    int first = memoUart_.LineCount();
    if (first > 0) {
        memoUart_.ReplaceLine(--first, pendingHead_);
    } else {
        memoUart_.AppendLine(pendingHead_);
    }
    memoUart_.AppendLines(pendingLines_.Lines());
    if (Rich()) {
        const std::size_t count = pendingLines_.Lines().size() + 1;
        for (std::size_t k = 0; k < count && k < pendingStyles_.size(); ++k) {
            if (!pendingStyles_[k].empty())
                memoUart_.SetLineStyle(first + static_cast<int>(k), std::move(pendingStyles_[k]));
        }
    }
    DropPendingLines();
    loneLineFromText_ = false;
}

// The window's last line is the line being edited, so it shows memoLine even when the edits
// emptied it. Into an empty window only text opens a line; and a line that text opened there
// goes again once it is empty, as if the text had never come.
void tRxRenderer::WriteEditedLine() {
    const bool rich = Rich();
    const std::string richText = rich ? rich_.Text(options_.utf8) : std::string();
    const std::string& line = rich ? richText : rxControl.memoLine;
    const int count = memoUart_.LineCount();
    int written = -1;
    if (count == 0) {
        if (line.empty()) return;
        memoUart_.AppendLine(line);
        loneLineFromText_ = true;
        written = 0;
    } else if (line.empty() && count == 1 && loneLineFromText_) {
        memoUart_.RemoveLine(0);
        loneLineFromText_ = false;
    } else {
        memoUart_.ReplaceLine(count - 1, line);
        written = count - 1;
    }
    if (rich && written >= 0) {
        LineStyle runs = rich_.Runs();
        if (!runs.empty()) memoUart_.SetLineStyle(written, std::move(runs));
    }
}

// The window was changed by somebody else: its last line becomes the line edited, with the
// cursor after its end.
void tRxRenderer::TakeUpLastLine() {
    tRxControl& rx = rxControl;
    const int count = memoUart_.LineCount();
    if (Rich()) {
        rx.memoLine.clear();
        if (count > 0) {
            rich_.Load(memoUart_.Line(count - 1), options_.utf8, memoUart_.GetLineStyle(count - 1));
        } else {
            rich_.Clear();
        }
        rx.curY = static_cast<std::int32_t>(rich_.Size()) + 1;
    } else if (count > 0) {
        rx.capLine(count - 1);
    } else {
        rx.ControlClean();
    }
    loneLineFromText_ = false;
}

void tRxRenderer::WriteRich(const std::uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = data[i];
        if (!options_.utf8 || (b < 0x80 && utf8Pending_.empty())) {
            PutRich(b);
            continue;
        }
        if (!utf8Pending_.empty()) {
            const bool second = utf8Pending_.size() == 1;
            const std::uint8_t lo = second ? utf8Lo_ : 0x80;
            const std::uint8_t hi = second ? utf8Hi_ : 0xBF;
            if (b >= lo && b <= hi) {
                utf8Pending_.push_back(static_cast<char>(b));
                utf8Code_ = (utf8Code_ << 6) | (b & 0x3F);
                if (--utf8Need_ == 0) {
                    utf8Pending_.clear();
                    PutRich(utf8Code_);
                }
                continue;
            }
            FlushUtf8Pending();
        }
        // A lead byte opens a sequence; any other byte above 127 is its Latin-1 character.
        utf8Lo_ = 0x80;
        utf8Hi_ = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            utf8Need_ = 1;
            utf8Code_ = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            utf8Need_ = 2;
            utf8Code_ = b & 0x0F;
            if (b == 0xE0) utf8Lo_ = 0xA0;  // no overlong forms
            if (b == 0xED) utf8Hi_ = 0x9F;  // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            utf8Need_ = 3;
            utf8Code_ = b & 0x07;
            if (b == 0xF0) utf8Lo_ = 0x90;
            if (b == 0xF4) utf8Hi_ = 0x8F;  // nothing past U+10FFFF
        } else {
            PutRich(b);
            continue;
        }
        utf8Pending_.assign(1, static_cast<char>(b));
    }
}

void tRxRenderer::FlushUtf8Pending() {
    if (utf8Pending_.empty()) return;
    const std::string bytes = std::move(utf8Pending_);
    utf8Pending_.clear();
    utf8Need_ = 0;
    for (char c : bytes) PutRich(static_cast<unsigned char>(c));
}

void tRxRenderer::PutRich(char32_t c) {
    tRxControl& rx = rxControl;
    auto at = static_cast<std::size_t>(std::max(rx.curY, 1)) - 1;
    if (at > rich_.Size()) at = rich_.Size();
    if (at >= kMaxLineLength) {
        NewLine();
        at = 0;
    }
    rich_.Put(at, c, options_.colours ? style_ : TermStyle{});
    rx.curY = static_cast<std::int32_t>(at) + 2;
}

// TAB: on to the next multiple of 8 columns; past the end of the line the gap shows as blanks.
void tRxRenderer::MoveToNextTabStop() {
    tRxControl& rx = rxControl;
    const auto column = static_cast<std::size_t>(std::max(rx.curY, 1)) - 1;
    const std::size_t next = std::min((column / 8 + 1) * 8, kMaxLineLength);
    if (Rich()) {
        rich_.PadTo(next);
    } else if (rx.memoLine.size() < next) {
        rx.memoLine.resize(next, ' ');
    }
    rx.curY = static_cast<std::int32_t>(next) + 1;
}

void tRxRenderer::DropPendingLines() {
    havePendingHead_ = false;
    pendingLines_.Reset();
    pendingStyles_.clear();
}

void tRxRenderer::RunEscapeSequence() {
    tRxControl& rx = rxControl;
    const std::string& seq = rx.escape;
    if (seq.size() < 2 || seq.front() != '[') return;
    const char last = seq.back();
    if (last == 'm') {
        // Colours and attributes; a private marker ("<=>?") makes it some other sequence.
        if (options_.colours && (seq.size() == 2 || seq[1] < '<' || seq[1] > '?'))
            ApplySgr(std::string_view(seq).substr(1, seq.size() - 2), style_);
        return;
    }
    if (last != 'J' && last != 'K') return;
    const char param = seq.size() == 2 ? '0' : seq[1];
    const bool rich = Rich();
    std::string& line = rx.memoLine;
    const auto cursorColumn = [&] { return static_cast<std::size_t>(std::max(rx.curY, 1)) - 1; };
    const auto eraseToEnd = [&] {
        const std::size_t at = cursorColumn();
        if (rich) {
            rich_.Truncate(at);
            rx.curY = static_cast<std::int32_t>(rich_.Size()) + 1;
        } else {
            if (at < line.size()) line.resize(at);
            rx.curY = static_cast<std::int32_t>(line.size()) + 1;
        }
    };

    if (last == 'J') {
        if (param == '2') {
            ClearRx();
        } else if (param == '0') {
            eraseToEnd();
            // The lines below the caret go now; lines finished earlier in this chunk must be in
            // the window first, and writing them puts the caret on the last line.
            FlushLines(false);
            const int caret = memoUart_.CaretLine();
            for (int lastLine = memoUart_.LineCount() - 1; lastLine > std::max(caret, 0);
                 --lastLine) {
                memoUart_.RemoveLine(lastLine);
            }
        }
        return;
    }

    if (param == '2') {
        line.clear();
        rich_.Clear();
        rx.curY = 1;
        return;
    }
    if (param == '1') {
        // Erase to the cursor the way terminals do: the erased characters become blanks and the
        // cursor does not move, so text sent next lands in the column the sender expects. The
        // removal from the cursor column on, common to every K sequence, follows.
        if (rich) {
            rich_.Blank(cursorColumn());
        } else {
            std::fill_n(line.begin(), std::min(line.size(), cursorColumn()), ' ');
        }
    }
    eraseToEnd();
}

void tRxRenderer::SetTextOptions(const RxTextOptions& options) {
    if (options == options_) return;
    const bool encodingChanged = options.utf8 != options_.utf8;
    options_ = options;
    // The line being edited is taken up again from the window in the new form.
    carry_ = false;
    if (!options_.colours) style_ = TermStyle{};
    if (encodingChanged) {
        utf8Pending_.clear();
        utf8Need_ = 0;
        // What the window holds was written for the other reading of its bytes.
        memoUart_.SetUtf8(options_.utf8);
        ClearRx();
    }
}

void tRxRenderer::PrintRxHex(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size == 0) return;
    tRxControl& rx = rxControl;
    carry_ = false;
    QueueColumns(data, size);
    if (rx.countRx >= 16) rx.countRx = 0;

    DropPendingLines();
    // The unfinished line of the previous chunk is continued in place.
    const int count = memoUart_.LineCount();
    const bool resume = rx.countRx > 0 && count > 0;
    if (resume) {
        rx.memoLine = memoUart_.Line(count - 1);
    } else {
        rx.memoLine.clear();
    }
    const auto finishLine = [&](const std::string& line) {
        if (resume && !havePendingHead_) {
            pendingHead_.assign(line);
            havePendingHead_ = true;
        } else {
            pendingLines_.Next().assign(line);
        }
    };

    for (std::size_t i = 0; i < size; ++i) {
        PutHexByte(rx.memoLine, data[i], rx.countRx);
        if (++rx.countRx == 16) {
            finishLine(rx.memoLine);
            rx.memoLine.clear();
            rx.countRx = 0;
        }
    }
    if (!rx.memoLine.empty()) finishLine(rx.memoLine);

    if (havePendingHead_) memoUart_.ReplaceLine(count - 1, pendingHead_);
    if (!pendingLines_.Empty()) memoUart_.AppendLines(pendingLines_.Lines());
    DropPendingLines();
    TrimReceive();
    memoUart_.Repaint();
    memoUart_.ScrollToEnd();
    RefreshRxColumns();
}

void tRxRenderer::AddRxColumnsLine(std::uint8_t b) {
    // With no column on the side panel is hidden, and it is emptied when a column comes on, so
    // its lines would never be seen.
    if (!columns_.Any()) return;
    sideBatch_.Next().assign(columnText_[b]);
}

void tRxRenderer::QueueColumns(const std::uint8_t* data, std::size_t size) {
    if (!columns_.Any()) return;
    // Lines that a line limit would drop at once are not built.
    std::size_t first = 0;
    if (maxSideLines_ != 0 && size > maxSideLines_) first = size - maxSideLines_;
    for (std::size_t i = first; i < size; ++i) sideBatch_.Next().assign(columnText_[data[i]]);
}

void tRxRenderer::RefreshRxColumns() {
    if (!sideBatch_.Empty()) {
        memoUartAux_.AppendLines(sideBatch_.Lines());
        sideBatch_.Reset();
        TrimSide();
    }
    if (!columns_.Any()) return;
    memoUartAux_.Repaint();
    memoUartAux_.ScrollToEnd();
}

void tRxRenderer::ClearRx() {
    DropPendingLines();
    rich_.Clear();
    carry_ = false;
    loneLineFromText_ = false;
    rxControl.ControlClean();
    memoUart_.Clear();
}

int tRxRenderer::EnableViewsRX() {
    sideBatch_.Reset();
    memoUartAux_.Clear();
    return RxPanelWidth(columns_);
}

int tRxRenderer::SetColumns(const RxColumns& columns) {
    columns_ = columns;
    RebuildColumnTable();
    return EnableViewsRX();
}

void tRxRenderer::SetMode(RxMode mode) {
    mode_ = mode;
    ClearRx();
}

void tRxRenderer::SetMaxLines(std::size_t receiveLines, std::size_t sideLines) {
    maxReceiveLines_ = receiveLines;
    maxSideLines_ = sideLines;
    TrimReceive();
    TrimSide();
}

void tRxRenderer::TrimReceive() {
    if (maxReceiveLines_ == 0) return;
    const int excess = memoUart_.LineCount() - static_cast<int>(maxReceiveLines_);
    if (excess > 0) memoUart_.RemoveFirstLines(excess);
}

void tRxRenderer::TrimSide() {
    if (maxSideLines_ == 0) return;
    const int excess = memoUartAux_.LineCount() - static_cast<int>(maxSideLines_);
    if (excess > 0) memoUartAux_.RemoveFirstLines(excess);
}

void tRxRenderer::RebuildColumnTable() {
    for (int b = 0; b < 256; ++b) {
        columnText_[static_cast<std::size_t>(b)] =
            RxColumnsLine(static_cast<std::uint8_t>(b), columns_);
    }
}

}  // namespace corvel
