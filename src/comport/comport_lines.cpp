// The driver's control lines: BREAK, a reset pulse on DTR or RTS, and the modem inputs. The
// timed actions run on host timers, so a long BREAK or pulse never holds the UI thread.

#include <algorithm>

#include "comport/comport.h"

namespace corvel {

namespace {
std::uint32_t EscapeFor(TComPortLine line, bool on) {
    if (line == TComPortLine::DTR) return on ? kEscSetDtr : kEscClrDtr;
    return on ? kEscSetRts : kEscClrRts;
}
}  // namespace

bool TCommPortDriver::LineState(TComPortLine line) const {
    if (line == TComPortLine::DTR) return dtrSet_.value_or(EnableDTROnOpen);
    return rtsSet_.value_or(EnableRTSOnOpen);
}

bool TCommPortDriver::SendBreak(std::uint32_t ms) {
    if (!Connected() || BreakActive()) return false;
    if (!io_->SetBreak(true)) return false;
    if (UseDebug) AddLog("BREAK " + std::to_string(ms) + " ms");
    breakTimer_ = host_.StartTimer(std::max<std::uint32_t>(1, ms), [this] { EndBreak(); });
    return true;
}

void TCommPortDriver::EndBreak() {
    if (breakTimer_ == 0) return;
    host_.StopTimer(breakTimer_);
    breakTimer_ = 0;
    io_->SetBreak(false);
}

bool TCommPortDriver::PulseLine(TComPortLine line, bool active, std::uint32_t ms) {
    if (!Connected() || PulseActive()) return false;
    if (line == TComPortLine::RTS && FComPortHwHandshaking == hhRTSCTS) return false;
    if (!io_->Escape(EscapeFor(line, active))) return false;
    pulseLine_ = line;
    pulseTimer_ = host_.StartTimer(std::max<std::uint32_t>(1, ms), [this] { EndPulse(); });
    return true;
}

void TCommPortDriver::EndPulse() {
    if (pulseTimer_ == 0) return;
    host_.StopTimer(pulseTimer_);
    pulseTimer_ = 0;
    // Back to the resting level, which a toggle during the pulse may have changed.
    if (pulseLine_ == TComPortLine::RTS && FComPortHwHandshaking == hhRTSCTS) return;
    io_->Escape(EscapeFor(pulseLine_, LineState(pulseLine_)));
}

bool TCommPortDriver::GetModemStatus(ModemStatus& status) {
    if (!Connected()) return false;
    return io_->GetModemStatus(status);
}

}  // namespace corvel
