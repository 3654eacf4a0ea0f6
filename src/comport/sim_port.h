#pragma once
// An in-memory serial port for tests and for the virtual board. A SimDevice is the hardware: a
// receive queue, an output queue that drains onto the wire at a settable rate, modem lines and
// records of everything the driver asked of it. SimPortRegistry names devices so a ComPortIo it
// makes can open them by name, like a real port.
//
// Two devices made by MakePair are wired to each other: bytes leaving one's output queue arrive
// in the other's receive queue. With a drain rate, each byte becomes readable when its last bit
// would have arrived, to the nanosecond on the steady clock, not on a millisecond tick. They share
// one mutex and condition variable, so the far end can run on its own thread. A lone device's far
// end is the Remote* calls.
//
// Time: by default the steady clock, and waits block on the condition variable. After UseHost
// with a FakeHost, waits never block: they move the fake clock forward instead (which also fires
// the host's due timers), so time-outs in tests are instant. Fake time is single-threaded.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "comport/comport_io.h"

namespace corvel {

class FakeHost;

class SimDevice {
  public:
    struct Records {
        std::vector<LineSettingsRecord> settings;
        std::vector<std::uint32_t> purges;
        std::vector<std::uint32_t> escapes;
        std::vector<std::int32_t> writes;  // accepted count of each Write call
        std::vector<std::pair<std::uint32_t, std::uint32_t>> queueSizes;
        int timeoutsSet = 0;
        int opens = 0;
        int closes = 0;
        bool dtr = false;
        bool rts = false;
        // Times DTR, respectively RTS (while not driven by RTS/CTS), went from off to on.
        std::uint32_t dtrRises = 0;
        std::uint32_t rtsRises = 0;
        bool breakOn = false;
        std::uint32_t breaks = 0;       // BREAKs ended
        std::uint64_t lastBreakMs = 0;  // length of the last one, on the device's clock
    };

    static std::shared_ptr<SimDevice> Make();
    static std::pair<std::shared_ptr<SimDevice>, std::shared_ptr<SimDevice>> MakePair();

    // Runs the device (and its pair) on the host's fake clock.
    void UseHost(FakeHost& host);

    // --- The far end: what the other side of the cable does ---
    void RemoteWrite(std::string_view bytes);
    void RemoteWrite(const std::uint8_t* data, std::size_t size);
    // The bytes arrive delayMs from now on the device's clock.
    void ScheduleRemoteWrite(std::uint64_t delayMs, std::string_view bytes);
    // Bytes that left this device's output queue (lone devices only; a pair passes them over).
    std::string RemoteRead(std::size_t maxBytes = static_cast<std::size_t>(-1));
    std::size_t RemoteAvailable();
    // Waits up to ms until at least n bytes can be RemoteRead.
    bool RemoteWait(std::size_t n, std::uint32_t ms);
    // The far end's RTS, seen here as CTS: false holds off output when CTS flow control is on.
    void SetCts(bool on);
    // All four modem inputs the port reports (CTS as SetCts).
    void SetModemInputs(const ModemStatus& lines);
    ModemStatus ModemInputs();
    // Like a device without modem-status support (a pseudo-terminal).
    void SetNoModemStatus(bool on);

    // --- Behaviour ---
    void SetDrainRate(std::uint32_t bytesPerMs);  // 0: the output queue empties at once
    void SetOutCapacity(std::uint32_t bytes);     // 0: the output size given to SetupQueues
    // Like a pseudo-terminal: the output-queue count always reads 0, even when writes take nothing.
    void SetReportEmptyOutQueue(bool on);

    // --- Faults ---
    void FailReads(int count);            // the next count reads fail (kind Other); -1 for ever
    void Unplug();                        // every later operation fails with DeviceLost
    void RefuseOpen(PortErrorKind kind);  // PortErrorKind::None accepts opens again
    // Settings writes are recorded but fail, as a device refusing the format would.
    void RefuseSettings(bool on);

    // --- Inspection ---
    // Records keep the most recent writes only (a long-running device would otherwise grow).
    static constexpr std::size_t kMaxWriteRecords = 4096;
    Records GetRecords();
    // The line as the driver last set it, without copying the records: for a far end that
    // follows the baud rate and flow control while it runs.
    struct LineState {
        bool configured = false;
        LineSettingsRecord settings{};
        std::uint32_t inQueue = 0;
        std::uint32_t outQueue = 0;
        bool dtr = false;
        bool rts = false;
        std::uint32_t dtrRises = 0;
        std::uint32_t rtsRises = 0;
        std::uint32_t breaks = 0;
        std::uint64_t lastBreakMs = 0;
    };
    LineState CurrentLine();
    bool IsOpen();
    std::size_t RxQueued();
    std::size_t OutQueued();
    ComHandleValue Id() const { return id_; }

    struct Wire;
    struct State;
    SimDevice();
    ~SimDevice();

  private:
    friend class SimPortIo;
    friend struct SimDeviceAccess;
    std::shared_ptr<Wire> wire_;
    std::unique_ptr<State> st_;
    ComHandleValue id_;
};

class SimPortRegistry {
  public:
    SimPortRegistry();
    void Add(const std::string& name, std::shared_ptr<SimDevice> device);
    void Remove(const std::string& name);
    std::shared_ptr<SimDevice> Find(const std::string& name) const;
    // A port layer that opens the devices registered here by name.
    std::unique_ptr<ComPortIo> MakeIo() const;

    struct Table;

  private:
    std::shared_ptr<Table> table_;
};

}  // namespace corvel
