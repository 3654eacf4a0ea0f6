#pragma once
// Rendering of received bytes into the receive window and the side-column window.
//
// ASCII mode is a small line-editing terminal (CR, LF, BS, BEL and the erase sequences ESC [ J /
// ESC [ K are obeyed, other control bytes are dropped); HEX mode is a dump of 16 bytes per line
// continued across chunks. Either way every byte gets one line in the side window, showing the
// columns switched on (character or control name, decimal, hexadecimal, binary).
//
// What the windows show depends on the bytes alone, never on how the reads split them: the line
// being edited, its cursor and an unfinished escape sequence carry from one chunk to the next.
//
// This is the hot path of the application, so a chunk costs each window a fixed number of edits,
// whatever its length: the receive window gets at most one line replaced and one batch of lines
// appended per chunk (more only around an erase sequence that removes lines), the side window one
// batch. Nothing is allocated per byte once the buffers have grown.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "terminal/line_box.h"
#include "terminal/rx_Control.h"
#include "terminal/rx_rich_line.h"
#include "terminal/text_style.h"

namespace corvel {

inline constexpr std::size_t HEX_LINE_LENGTH = 67;
// Longest line of the receive window in ASCII mode; text beyond it continues on a new line.
inline constexpr std::size_t RX_MAX_LINE_LENGTH = 16384;

enum class RxMode { Ascii, Hex };

// How ASCII mode reads the text, beyond what a plain terminal of bytes does. All off by default.
struct RxTextOptions {
    bool utf8 = false;     // UTF-8 sequences show as one character each
    bool colours = false;  // SGR sequences set colours and attributes
    bool tabs = false;     // TAB moves to the next multiple of 8 columns
    bool operator==(const RxTextOptions&) const = default;
};

// The four side-column switches.
struct RxColumns {
    bool showChar = false;
    bool showDec = false;
    bool showHex = false;
    bool showBin = false;

    bool Any() const { return showChar || showDec || showHex || showBin; }
    bool operator==(const RxColumns&) const = default;
};

// value as `digits` characters '0'/'1', most significant first. Bits above `digits` are dropped.
std::string IntToBin(std::uint32_t value, int digits);

// Places value into slot 0..15 of a hex line, first making the line HEX_LINE_LENGTH spaces if it
// has any other length. A slot outside 0..15 leaves the line alone.
void PutHexByte(std::string& line, std::uint8_t value, int slot);

// The side-window line of byte b with the given columns ("" when none is on).
std::string RxColumnsLine(std::uint8_t b, const RxColumns& columns);

// Width in pixels of the side panel for these columns; 0 means the panel is hidden.
int RxPanelWidth(const RxColumns& columns);

class tRxRenderer {
  public:
    using BeepFn = std::function<void()>;

    tRxRenderer(LineBox& memoUart, LineBox& memoUartAux, BeepFn beep = {});
    tRxRenderer(const tRxRenderer&) = delete;
    tRxRenderer& operator=(const tRxRenderer&) = delete;

    // The driver's receive callback: renders one chunk in the current mode. The bytes are only
    // read during the call. The beep hook runs inside the call and must not call back in.
    void printf_ReceiveData(const std::uint8_t* data, std::size_t size);
    void PrintRxAscii(const std::uint8_t* data, std::size_t size);
    void PrintRxHex(const std::uint8_t* data, std::size_t size);

    // Acts on rxControl.escape, whose final character has just arrived.
    void RunEscapeSequence();

    // Queues the side-window line of b; RefreshRxColumns, which ends every chunk, hands the
    // queued lines to the side window in one edit.
    void AddRxColumnsLine(std::uint8_t b);
    void RefreshRxColumns();

    // Empties the receive window and resets the line editor; the side window keeps its lines and
    // an escape sequence in progress survives.
    void ClearRx();

    // Applies the column switches: the side window is emptied, and the panel width in pixels is
    // returned (0 = hide the panel).
    int EnableViewsRX();
    int SetColumns(const RxColumns& columns);
    const RxColumns& Columns() const { return columns_; }

    // A choice of mode (either radio button) always empties the receive window.
    void SetMode(RxMode mode);
    RxMode Mode() const { return mode_; }

    // A change of the UTF-8 reading empties the receive window (its lines were written for the
    // other one).
    void SetTextOptions(const RxTextOptions& options);
    const RxTextOptions& TextOptions() const { return options_; }
    // The style the next received character takes (colours on).
    const TermStyle& CurrentStyle() const { return style_; }

    // Keeps only the newest lines of each window, dropping the oldest whole lines; 0 = no limit.
    void SetMaxLines(std::size_t receiveLines, std::size_t sideLines);

    tRxControl rxControl;

  private:
    // Strings handed to LineBox::AppendLines, recycled from chunk to chunk so their buffers are
    // reused instead of allocated per line.
    class LineBatch {
      public:
        std::string& Next();
        void Reset();
        bool Empty() const { return lines_.empty(); }
        const std::vector<std::string>& Lines() const { return lines_; }

      private:
        std::vector<std::string> lines_;
        std::vector<std::string> spare_;
    };

    void QueueColumns(const std::uint8_t* data, std::size_t size);
    void WritePrintable(const std::uint8_t* data, std::size_t count);
    void NewLine();
    void FlushLines(bool endOfChunk);
    void WriteEditedLine();
    void PendLine(bool shownEmpty);
    void TakeUpLastLine();
    // With UTF-8 or colours on, the line is edited as characters with styles (rich_).
    bool Rich() const { return options_.utf8 || options_.colours; }
    void WriteRich(const std::uint8_t* data, std::size_t count);
    void PutRich(char32_t c);
    void FlushUtf8Pending();
    void MoveToNextTabStop();
    // One byte of an escape sequence being collected; false when the byte ends the sequence
    // without belonging to it (and must then be handled as an ordinary byte).
    bool TakeEscapeByte(std::uint8_t b);
    void DropPendingLines();
    void TrimReceive();
    void TrimSide();
    void RebuildColumnTable();

    LineBox& memoUart_;
    LineBox& memoUartAux_;
    BeepFn beep_;
    RxMode mode_ = RxMode::Ascii;
    RxColumns columns_;
    std::size_t maxReceiveLines_ = 0;
    std::size_t maxSideLines_ = 0;

    std::array<std::string, 256> columnText_;  // side-window line of every byte value
    LineBatch sideBatch_;

    RxTextOptions options_;
    tRichLine rich_;
    TermStyle style_;
    // An unfinished UTF-8 sequence: its bytes, the bytes still needed, the code point so far
    // and the range its second byte must fall in.
    std::string utf8Pending_;
    int utf8Need_ = 0;
    char32_t utf8Code_ = 0;
    std::uint8_t utf8Lo_ = 0x80;
    std::uint8_t utf8Hi_ = 0xBF;
    // Styles of the pending lines (rich lines only): the head's first, then the others'.
    std::vector<LineStyle> pendingStyles_;

    // The line and cursor of the last chunk carry on while the window is as this renderer left
    // it (its revision then is ownRevision_).
    bool carry_ = false;
    std::uint64_t ownRevision_ = 0;
    // The window's only line was opened by text, not by a line feed.
    bool loneLineFromText_ = false;

    // Lines finished by LF in this chunk and not yet written: the first replaces the window's
    // last line (the one the chunk started editing), the others follow it.
    bool havePendingHead_ = false;
    std::string pendingHead_;
    LineBatch pendingLines_;
};

}  // namespace corvel
