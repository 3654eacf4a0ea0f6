#include "comport/sim_port.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <mutex>

#include "host/fake_host.h"

namespace corvel {

namespace {
constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint32_t kDefaultOutCapacity = 4096;
std::atomic<ComHandleValue> g_nextId{100};

constexpr std::uint64_t kNsPerMs = 1000000;

std::uint64_t SteadyNs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}
}  // namespace

// Shared by the two ends of a pair: one lock, one condition, one clock. The clock counts
// nanoseconds so that a byte becomes readable when its last bit would have arrived, not on the
// next millisecond; a fake host's clock only has milliseconds, which it then steps through.
struct SimDevice::Wire {
    std::mutex mu;
    std::condition_variable cv;
    FakeHost* fake = nullptr;
    SimDevice* ends[2] = {nullptr, nullptr};

    std::uint64_t Now() const { return fake ? fake->NowMs() * kNsPerMs : SteadyNs(); }
    SimDevice* Other(const SimDevice* d) const { return ends[0] == d ? ends[1] : ends[0]; }
};

struct SimDevice::State {
    std::deque<std::uint8_t> rx;   // arrived, not yet read by the port's owner
    std::deque<std::uint8_t> out;  // written, not yet on the wire
    std::string wire;              // left the output queue (lone device)
    std::multimap<std::uint64_t, std::string> scheduled;  // by arrival time in ns
    // The output queue drains at drainRate bytes per ms from drainOrigin (ns), and drained bytes
    // have left since then: byte k is on the far side once k / drainRate ms have passed.
    std::uint64_t drainOrigin = 0;
    std::uint64_t drained = 0;
    std::uint32_t drainRate = 0;
    std::uint32_t outCapacity = 0;
    std::uint32_t setupOut = 0;
    bool reportEmptyOut = false;
    bool cts = true;
    bool dsr = false;
    bool dcd = false;
    bool ri = false;
    bool noModemStatus = false;
    bool refuseSettings = false;
    std::uint64_t breakSince = 0;  // ns
    bool ctsFlow = false;
    bool open = false;
    bool lost = false;
    int failReads = 0;
    PortErrorKind refuse = PortErrorKind::None;
    Records rec;

    std::uint32_t Capacity() const {
        if (outCapacity) return outCapacity;
        return setupOut ? setupOut : kDefaultOutCapacity;
    }
    bool Held() const { return ctsFlow && !cts; }
};

SimDevice::SimDevice() : wire_(std::make_shared<Wire>()), st_(std::make_unique<State>()) {
    id_ = g_nextId.fetch_add(1);
    wire_->ends[0] = this;
}

SimDevice::~SimDevice() {
    std::lock_guard<std::mutex> lock(wire_->mu);
    for (auto& e : wire_->ends)
        if (e == this) e = nullptr;
}

std::shared_ptr<SimDevice> SimDevice::Make() {
    return std::make_shared<SimDevice>();
}

std::pair<std::shared_ptr<SimDevice>, std::shared_ptr<SimDevice>> SimDevice::MakePair() {
    auto a = Make();
    auto b = Make();
    b->wire_ = a->wire_;
    a->wire_->ends[1] = b.get();
    return {a, b};
}

struct SimDeviceAccess {
    static SimDevice::State& Get(SimDevice* d) { return *d->st_; }
};

namespace {

// The line starts counting its drain afresh from now: it was idle, held or reconfigured.
void RestartDrain(SimDevice::State& s, std::uint64_t now) {
    s.drainOrigin = now;
    s.drained = 0;
}

// Moves what is due: scheduled arrivals, and output that the drain rate has put on the wire by
// now. Called with the wire locked.
void Pump(SimDevice::Wire& w, std::uint64_t now) {
    for (SimDevice* d : w.ends) {
        if (!d) continue;
        SimDevice::State& s = SimDeviceAccess::Get(d);
        while (!s.scheduled.empty() && s.scheduled.begin()->first <= now) {
            const std::string& bytes = s.scheduled.begin()->second;
            s.rx.insert(s.rx.end(), bytes.begin(), bytes.end());
            s.scheduled.erase(s.scheduled.begin());
        }
    }
    for (SimDevice* d : w.ends) {
        if (!d) continue;
        SimDevice::State& s = SimDeviceAccess::Get(d);
        if (s.out.empty() || s.Held() || s.lost) {
            RestartDrain(s, now);
            continue;
        }
        std::size_t n = s.out.size();
        if (s.drainRate) {
            const std::uint64_t since = now - std::min(now, s.drainOrigin);
            const std::uint64_t done = since * s.drainRate / kNsPerMs;
            n = static_cast<std::size_t>(
                std::min<std::uint64_t>(n, done - std::min(done, s.drained)));
        }
        if (n == 0) continue;
        s.drained += n;
        // Whole milliseconds of drained bytes move into the origin, so the products above stay
        // small on a line that never rests.
        if (s.drainRate && s.drained >= s.drainRate) {
            const std::uint64_t ms = s.drained / s.drainRate;
            s.drainOrigin += ms * kNsPerMs;
            s.drained -= ms * s.drainRate;
        }
        SimDevice* other = w.Other(d);
        if (other) {
            SimDevice::State& o = SimDeviceAccess::Get(other);
            o.rx.insert(o.rx.end(), s.out.begin(), s.out.begin() + static_cast<std::ptrdiff_t>(n));
        } else {
            s.wire.append(s.out.begin(), s.out.begin() + static_cast<std::ptrdiff_t>(n));
        }
        s.out.erase(s.out.begin(), s.out.begin() + static_cast<std::ptrdiff_t>(n));
        // An empty queue rests the line; the next write starts a new byte clock.
        if (s.out.empty()) RestartDrain(s, now);
    }
}

// When the k-th next byte in an output queue will have fully left it (ns); kNever when it
// does not drain. k is at least 1 and at most the queue's length.
std::uint64_t ByteDue(const SimDevice::State& s, std::uint64_t now, std::uint64_t k) {
    if (s.out.empty() || s.Held() || s.lost) return kNever;
    if (!s.drainRate) return now;
    // The smallest t with (t - origin) * rate / 1e6 >= drained + k.
    const std::uint64_t need = (s.drained + k) * kNsPerMs;
    return s.drainOrigin + (need + s.drainRate - 1) / s.drainRate;
}

std::uint64_t NextByteDue(const SimDevice::State& s, std::uint64_t now) {
    return ByteDue(s, now, 1);
}

// The earliest moment something can change by itself: a scheduled arrival or a draining byte.
std::uint64_t NextEvent(SimDevice::Wire& w, std::uint64_t now) {
    std::uint64_t next = kNever;
    for (SimDevice* d : w.ends) {
        if (!d) continue;
        SimDevice::State& s = SimDeviceAccess::Get(d);
        if (!s.scheduled.empty()) next = std::min(next, s.scheduled.begin()->first);
        next = std::min(next, NextByteDue(s, now));
    }
    return next;
}

// Nothing more is on its way to d: the far end's output queue is empty or held. A reader that
// asked for a whole frame takes a shorter one once the line has gone quiet.
bool FarEndQuiet(SimDevice::Wire& w, const SimDevice* d) {
    SimDevice* other = w.Other(d);
    if (!other) return true;
    const SimDevice::State& o = SimDeviceAccess::Get(other);
    return o.out.empty() || o.Held() || o.lost;
}

}  // namespace

// Waits until cond holds (checked with the wire locked after pumping) or ms pass.
// Fake time moves the host's clock; real time sleeps on the condition variable until the moment
// wake(now) names (by default the next byte due anywhere), or until a call on the wire notifies.
template <typename Cond, typename Wake>
static bool WaitOn(SimDevice::Wire& w, std::uint32_t ms, Cond cond, Wake wake) {
    std::unique_lock<std::mutex> lock(w.mu);
    const std::uint64_t deadline = w.Now() + std::uint64_t{ms} * kNsPerMs;
    for (;;) {
        const std::uint64_t now = w.Now();
        Pump(w, now);
        if (cond()) return true;
        if (now >= deadline) return false;
        std::uint64_t until = std::min(deadline, wake(now));
        if (w.fake) {
            // A host timer may change the device (unplug it, write to it): look again after it.
            until = std::min(until, w.fake->NextTimerDueMs() * kNsPerMs);
            const std::uint64_t gap = until - std::min(until, now);
            const std::uint64_t step = std::max<std::uint64_t>(1, (gap + kNsPerMs - 1) / kNsPerMs);
            FakeHost* host = w.fake;
            lock.unlock();
            host->Advance(step);  // due timers fire here, outside the lock
            lock.lock();
        } else {
            const auto at = std::chrono::steady_clock::time_point(
                std::chrono::nanoseconds(std::max(until, now + 1)));
            w.cv.wait_until(lock, at);
        }
    }
}

template <typename Cond>
static bool WaitOn(SimDevice::Wire& w, std::uint32_t ms, Cond cond) {
    return WaitOn(w, ms, cond, [&w](std::uint64_t now) { return NextEvent(w, now); });
}

void SimDevice::UseHost(FakeHost& host) {
    std::lock_guard<std::mutex> lock(wire_->mu);
    wire_->fake = &host;
    for (SimDevice* d : wire_->ends)
        if (d) RestartDrain(*d->st_, host.NowMs() * kNsPerMs);
}

void SimDevice::RemoteWrite(std::string_view bytes) {
    RemoteWrite(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

void SimDevice::RemoteWrite(const std::uint8_t* data, std::size_t size) {
    {
        std::lock_guard<std::mutex> lock(wire_->mu);
        if (!st_->lost) st_->rx.insert(st_->rx.end(), data, data + size);
    }
    wire_->cv.notify_all();
}

void SimDevice::ScheduleRemoteWrite(std::uint64_t delayMs, std::string_view bytes) {
    std::lock_guard<std::mutex> lock(wire_->mu);
    st_->scheduled.emplace(wire_->Now() + delayMs * kNsPerMs, std::string(bytes));
}

std::string SimDevice::RemoteRead(std::size_t maxBytes) {
    std::string out;
    {
        std::lock_guard<std::mutex> lock(wire_->mu);
        Pump(*wire_, wire_->Now());
        const std::size_t n = std::min(maxBytes, st_->wire.size());
        out = st_->wire.substr(0, n);
        st_->wire.erase(0, n);
    }
    wire_->cv.notify_all();
    return out;
}

std::size_t SimDevice::RemoteAvailable() {
    std::lock_guard<std::mutex> lock(wire_->mu);
    Pump(*wire_, wire_->Now());
    return st_->wire.size();
}

bool SimDevice::RemoteWait(std::size_t n, std::uint32_t ms) {
    State& s = *st_;
    return WaitOn(*wire_, ms, [&] { return s.wire.size() >= n; });
}

void SimDevice::SetCts(bool on) {
    {
        std::lock_guard<std::mutex> lock(wire_->mu);
        Pump(*wire_, wire_->Now());
        st_->cts = on;
        RestartDrain(*st_, wire_->Now());
    }
    wire_->cv.notify_all();
}

void SimDevice::SetModemInputs(const ModemStatus& lines) {
    SetCts(lines.cts);
    std::lock_guard<std::mutex> lock(wire_->mu);
    st_->dsr = lines.dsr;
    st_->dcd = lines.dcd;
    st_->ri = lines.ri;
}

ModemStatus SimDevice::ModemInputs() {
    std::lock_guard<std::mutex> lock(wire_->mu);
    return {st_->cts, st_->dsr, st_->dcd, st_->ri};
}

void SimDevice::SetNoModemStatus(bool on) {
    std::lock_guard<std::mutex> lock(wire_->mu);
    st_->noModemStatus = on;
}

void SimDevice::RefuseSettings(bool on) {
    std::lock_guard<std::mutex> lock(wire_->mu);
    st_->refuseSettings = on;
}

void SimDevice::SetDrainRate(std::uint32_t bytesPerMs) {
    std::lock_guard<std::mutex> lock(wire_->mu);
    st_->drainRate = bytesPerMs;
    RestartDrain(*st_, wire_->Now());
}

void SimDevice::SetOutCapacity(std::uint32_t bytes) {
    std::lock_guard<std::mutex> lock(wire_->mu);
    st_->outCapacity = bytes;
}

void SimDevice::SetReportEmptyOutQueue(bool on) {
    std::lock_guard<std::mutex> lock(wire_->mu);
    st_->reportEmptyOut = on;
}

void SimDevice::FailReads(int count) {
    std::lock_guard<std::mutex> lock(wire_->mu);
    st_->failReads = count;
}

void SimDevice::Unplug() {
    {
        std::lock_guard<std::mutex> lock(wire_->mu);
        st_->lost = true;
    }
    wire_->cv.notify_all();
}

void SimDevice::RefuseOpen(PortErrorKind kind) {
    std::lock_guard<std::mutex> lock(wire_->mu);
    st_->refuse = kind;
}

SimDevice::Records SimDevice::GetRecords() {
    std::lock_guard<std::mutex> lock(wire_->mu);
    return st_->rec;
}

SimDevice::LineState SimDevice::CurrentLine() {
    std::lock_guard<std::mutex> lock(wire_->mu);
    LineState line;
    if (!st_->rec.settings.empty()) {
        line.configured = true;
        line.settings = st_->rec.settings.back();
    }
    if (!st_->rec.queueSizes.empty()) {
        line.inQueue = st_->rec.queueSizes.back().first;
        line.outQueue = st_->rec.queueSizes.back().second;
    }
    const Records& r = st_->rec;
    line.dtr = r.dtr;
    line.rts = r.rts;
    line.dtrRises = r.dtrRises;
    line.rtsRises = r.rtsRises;
    line.breaks = r.breaks;
    line.lastBreakMs = r.lastBreakMs;
    return line;
}

bool SimDevice::IsOpen() {
    std::lock_guard<std::mutex> lock(wire_->mu);
    return st_->open;
}

std::size_t SimDevice::RxQueued() {
    std::lock_guard<std::mutex> lock(wire_->mu);
    Pump(*wire_, wire_->Now());
    return st_->rx.size();
}

std::size_t SimDevice::OutQueued() {
    std::lock_guard<std::mutex> lock(wire_->mu);
    Pump(*wire_, wire_->Now());
    return st_->out.size();
}

// ---------------------------------------------------------------------------------------------
// Registry and the port layer over it

struct SimPortRegistry::Table {
    std::mutex mu;
    std::map<std::string, std::shared_ptr<SimDevice>> byName;
};

class SimPortIo : public ComPortIo {
  public:
    explicit SimPortIo(std::shared_ptr<SimPortRegistry::Table> table) : table_(std::move(table)) {}
    ~SimPortIo() override { Close(); }

    bool Open(const std::string& name) override {
        if (dev_) return Fail(PortErrorKind::Busy, "port already open");
        std::shared_ptr<SimDevice> d;
        {
            std::lock_guard<std::mutex> lock(table_->mu);
            auto it = table_->byName.find(name);
            if (it != table_->byName.end()) d = it->second;
        }
        if (!d) return Fail(PortErrorKind::NotFound, "no such port: " + name);
        return Attach(d, name);
    }

    bool IsOpen() const override { return dev_ != nullptr; }

    void Close() override {
        if (!dev_) return;
        {
            std::lock_guard<std::mutex> lock(dev_->wire_->mu);
            dev_->st_->open = false;
            ++dev_->st_->rec.closes;
        }
        dev_->wire_->cv.notify_all();
        dev_.reset();
    }

    ComHandleValue Handle() const override { return dev_ ? dev_->Id() : 0; }

    bool Adopt(ComHandleValue handle) override {
        Close();
        std::shared_ptr<SimDevice> d;
        {
            std::lock_guard<std::mutex> lock(table_->mu);
            for (auto& [name, dev] : table_->byName)
                if (dev->Id() == handle) d = dev;
        }
        if (!d) return Fail(PortErrorKind::NotFound, "unknown handle");
        {
            std::lock_guard<std::mutex> lock(d->wire_->mu);
            d->st_->open = true;  // the handle was opened elsewhere: no exclusivity check
        }
        dev_ = d;
        return true;
    }

    void Detach() override { dev_.reset(); }

    bool ApplySettings(const LineSettingsRecord& r) override {
        return Op([&](SimDevice::State& s) {
            s.rec.settings.push_back(r);
            if (s.refuseSettings) return Fail(PortErrorKind::Other, "settings refused");
            s.ctsFlow = (r.Flags & kDcbOutxCtsFlow) != 0;
            const bool handshake = (r.Flags & kDcbRtsControlHandshake) != 0;
            SetLines(s, (r.Flags & kDcbDtrControlEnable) != 0,
                     handshake || (r.Flags & kDcbRtsControlEnable) != 0, handshake);
            return true;
        });
    }

    bool Purge(std::uint32_t flags) override {
        return Op([&](SimDevice::State& s) {
            s.rec.purges.push_back(flags);
            if (flags & (kPurgeRxAbort | kPurgeRxClear)) s.rx.clear();
            if (flags & (kPurgeTxAbort | kPurgeTxClear)) s.out.clear();
            return true;
        });
    }

    bool SetupQueues(std::uint32_t inSize, std::uint32_t outSize) override {
        return Op([&](SimDevice::State& s) {
            s.rec.queueSizes.emplace_back(inSize, outSize);
            s.setupOut = outSize;
            return true;
        });
    }

    bool SetNonBlockingTimeouts() override {
        return Op([&](SimDevice::State& s) {
            ++s.rec.timeoutsSet;
            return true;
        });
    }

    std::int32_t Read(std::uint8_t* buf, std::int32_t maxBytes) override {
        std::int32_t got = -1;
        Op([&](SimDevice::State& s) {
            if (s.failReads != 0) {
                if (s.failReads > 0) --s.failReads;
                return Fail(PortErrorKind::Other, "read failed");
            }
            const auto n = static_cast<std::int32_t>(std::min<std::size_t>(
                s.rx.size(), static_cast<std::size_t>(std::max(0, maxBytes))));
            std::copy_n(s.rx.begin(), n, buf);
            s.rx.erase(s.rx.begin(), s.rx.begin() + n);
            got = n;
            return true;
        });
        return got;
    }

    std::int32_t Write(const std::uint8_t* data, std::int32_t size) override {
        std::int32_t put = -1;
        Op([&](SimDevice::State& s) {
            const std::size_t room =
                s.Capacity() - std::min<std::size_t>(s.Capacity(), s.out.size());
            const auto n = static_cast<std::int32_t>(
                std::min<std::size_t>(room, static_cast<std::size_t>(std::max(0, size))));
            s.out.insert(s.out.end(), data, data + n);
            if (s.rec.writes.size() >= SimDevice::kMaxWriteRecords)
                s.rec.writes.erase(s.rec.writes.begin(),
                                   s.rec.writes.begin() + SimDevice::kMaxWriteRecords / 2);
            s.rec.writes.push_back(n);
            put = n;
            return true;
        });
        if (dev_) dev_->wire_->cv.notify_all();
        return put;
    }

    std::int32_t OutQueueCount() override {
        std::int32_t count = -1;
        Op([&](SimDevice::State& s) {
            count = s.reportEmptyOut ? 0 : static_cast<std::int32_t>(s.out.size());
            return true;
        });
        return count;
    }

    bool Escape(std::uint32_t fn) override {
        return Op([&](SimDevice::State& s) {
            s.rec.escapes.push_back(fn);
            const bool handshake =
                !s.rec.settings.empty() && (s.rec.settings.back().Flags & kDcbRtsControlHandshake);
            switch (fn) {
                case kEscSetDtr:
                case kEscClrDtr:
                    SetLines(s, fn == kEscSetDtr, s.rec.rts, handshake);
                    return true;
                case kEscSetRts:
                case kEscClrRts:
                    SetLines(s, s.rec.dtr, fn == kEscSetRts, handshake);
                    return true;
                default:
                    return Fail(PortErrorKind::Other, "unknown escape function");
            }
        });
    }

    bool SetBreak(bool on) override {
        return Op([&](SimDevice::State& s) {
            const std::uint64_t now = dev_->wire_->Now();
            if (on && !s.rec.breakOn) s.breakSince = now;
            if (!on && s.rec.breakOn) {
                ++s.rec.breaks;
                s.rec.lastBreakMs = (now - s.breakSince + kNsPerMs / 2) / kNsPerMs;
            }
            s.rec.breakOn = on;
            return true;
        });
    }

    bool GetModemStatus(ModemStatus& status) override {
        return Op([&](SimDevice::State& s) {
            if (s.noModemStatus) return Fail(PortErrorKind::Other, "no modem status here");
            status = {s.cts, s.dsr, s.dcd, s.ri};
            return true;
        });
    }

    bool WaitReadable(std::uint32_t ms) override {
        if (!dev_) return Fail(PortErrorKind::Other, "port not open");
        SimDevice::State& s = *dev_->st_;
        return WaitOn(*dev_->wire_, ms,
                      [&] { return s.lost || s.failReads != 0 || !s.rx.empty(); });
    }

    // Like a UART whose driver wakes the reader once the wanted bytes are in, or once the line
    // has gone quiet with fewer (a frame shorter than the reader expected).
    bool WaitForBytes(std::uint32_t count, std::uint32_t ms) override {
        if (!dev_) return Fail(PortErrorKind::Other, "port not open");
        SimDevice* d = dev_.get();
        SimDevice::Wire& w = *dev_->wire_;
        SimDevice::State& s = *dev_->st_;
        const std::size_t want = std::max<std::uint32_t>(1, count);
        const auto ready = [&] {
            return s.lost || s.failReads != 0 || s.rx.size() >= want ||
                   (!s.rx.empty() && FarEndQuiet(w, d));
        };
        // Sleep until the last wanted byte, or the far end's last one, is due: waking for each
        // byte on its way would cost more than the reader's work.
        const auto wake = [&](std::uint64_t now) {
            std::uint64_t next = s.scheduled.empty() ? kNever : s.scheduled.begin()->first;
            if (SimDevice* other = w.Other(d)) {
                const SimDevice::State& o = SimDeviceAccess::Get(other);
                const std::size_t missing = want - std::min(want, s.rx.size());
                const std::size_t k = std::min(std::max<std::size_t>(1, missing), o.out.size());
                if (k > 0) next = std::min(next, ByteDue(o, now, k));
            }
            return next;
        };
        return WaitOn(w, ms, ready, wake);
    }

    bool WaitWritable(std::uint32_t ms) override {
        if (!dev_) return Fail(PortErrorKind::Other, "port not open");
        SimDevice::State& s = *dev_->st_;
        return WaitOn(*dev_->wire_, ms, [&] { return s.lost || s.out.size() < s.Capacity(); });
    }

    PortErrorKind LastErrorKind() const override { return kind_; }
    std::string LastErrorMessage() const override { return message_; }

  private:
    bool Fail(PortErrorKind kind, std::string message) {
        kind_ = kind;
        message_ = std::move(message);
        return false;
    }

    // RTS driven by RTS/CTS handshaking is flow control, not a signal: its rises do not count.
    static void SetLines(SimDevice::State& s, bool dtr, bool rts, bool rtsHandshake) {
        if (dtr && !s.rec.dtr) ++s.rec.dtrRises;
        if (rts && !s.rec.rts && !rtsHandshake) ++s.rec.rtsRises;
        s.rec.dtr = dtr;
        s.rec.rts = rts;
    }

    bool Attach(const std::shared_ptr<SimDevice>& d, const std::string& name) {
        std::lock_guard<std::mutex> lock(d->wire_->mu);
        SimDevice::State& s = *d->st_;
        if (s.lost) return Fail(PortErrorKind::NotFound, "device removed: " + name);
        if (s.refuse != PortErrorKind::None) return Fail(s.refuse, "open refused: " + name);
        if (s.open) return Fail(PortErrorKind::Busy, "port in use: " + name);
        s.open = true;
        ++s.rec.opens;
        dev_ = d;
        return true;
    }

    // Runs f on the open device's state under its lock; fails when closed or unplugged.
    template <typename F>
    bool Op(F f) {
        if (!dev_) return Fail(PortErrorKind::Other, "port not open");
        std::lock_guard<std::mutex> lock(dev_->wire_->mu);
        SimDevice::State& s = *dev_->st_;
        if (s.lost) return Fail(PortErrorKind::DeviceLost, "device removed");
        Pump(*dev_->wire_, dev_->wire_->Now());
        const bool ok = f(s);
        Pump(*dev_->wire_, dev_->wire_->Now());  // output written at an unlimited rate leaves now
        return ok;
    }

    std::shared_ptr<SimPortRegistry::Table> table_;
    std::shared_ptr<SimDevice> dev_;
    PortErrorKind kind_ = PortErrorKind::None;
    std::string message_;
};

SimPortRegistry::SimPortRegistry() : table_(std::make_shared<Table>()) {}

void SimPortRegistry::Add(const std::string& name, std::shared_ptr<SimDevice> device) {
    std::lock_guard<std::mutex> lock(table_->mu);
    table_->byName[name] = std::move(device);
}

void SimPortRegistry::Remove(const std::string& name) {
    std::lock_guard<std::mutex> lock(table_->mu);
    table_->byName.erase(name);
}

std::shared_ptr<SimDevice> SimPortRegistry::Find(const std::string& name) const {
    std::lock_guard<std::mutex> lock(table_->mu);
    auto it = table_->byName.find(name);
    return it == table_->byName.end() ? nullptr : it->second;
}

std::unique_ptr<ComPortIo> SimPortRegistry::MakeIo() const {
    return std::make_unique<SimPortIo>(table_);
}

}  // namespace corvel
