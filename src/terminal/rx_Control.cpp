#include "terminal/rx_Control.h"

namespace corvel {

tRxControl::tRxControl(LineBox& memo) : memoUart(memo) {
    ControlClean();
}

void tRxControl::ControlClean() {
    memoLine.clear();
    curY = 1;
    countRx = 0;
}

void tRxControl::capLine(int linePos) {
    memoLine = memoUart.Line(linePos);
    curY = static_cast<std::int32_t>(memoLine.size()) + 1;
}

void tRxControl::deleteChar(int pos) {
    if (curY <= 1) return;
    if (pos < 1 || static_cast<std::size_t>(pos) > memoLine.size()) return;
    memoLine.erase(static_cast<std::size_t>(pos) - 1, 1);
    --curY;
    const auto end = static_cast<std::int32_t>(memoLine.size()) + 1;
    if (curY > end) curY = end;
}

void tRxControl::insertChar(std::uint8_t p) {
    const auto end = static_cast<std::int32_t>(memoLine.size()) + 1;
    if (curY < 1 || curY > end) curY = end;  // a cursor moved outside the line writes at its end
    const char c = static_cast<char>(p);
    if (curY == end) {
        memoLine.push_back(c);
    } else {
        memoLine[static_cast<std::size_t>(curY) - 1] = c;
    }
    ++curY;
}

void tRxControl::replaceLine(bool newLine) {
    if (newLine) {
        WriteBack();
        curY = 1;
        memoUart.AppendLine({});
    } else if (!memoLine.empty()) {
        WriteBack();
    }
    memoLine.clear();
}

void tRxControl::WriteBack() {
    const int count = memoUart.LineCount();
    if (count > 0) {
        memoUart.ReplaceLine(count - 1, memoLine);
    } else {
        memoUart.AppendLine(memoLine);
    }
}

}  // namespace corvel
