#pragma once
// Capture to file: every received chunk is copied into a file, either raw (the bytes exactly as
// they arrived) or as text (one line per received line, each led by the time its first byte
// arrived).
//
// The receive path must never wait for the disk, so Feed only appends to a buffer in memory; a
// writer thread of its own moves the buffer to the file at least every kFlushPeriodMs and flushes
// it to the operating system, so a killed process loses at most that much. A write that fails
// (full disk, file gone) stops the capture; the failure is reported once, on the UI thread, by a
// host timer, never from inside Feed.

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "host/host.h"

namespace corvel {

enum class CaptureForm { Raw, Text };

struct CaptureOptions {
    std::string path;  // UTF-8 (see PathFromUtf8)
    CaptureForm form = CaptureForm::Raw;
    bool append = false;  // false: an existing file is replaced
};

// Milliseconds since 1970-01-01 UTC.
using WallClock = std::function<std::int64_t()>;
std::int64_t SystemWallMs();

// "ttyUSB0-2026-12-09_14-03-22.log": the port's last path element with every character other
// than letters, digits, '.', '-' and '_' made '_', then the local date and time of wallMs.
std::string CaptureFileName(const std::string& portName, std::int64_t wallMs);
// "2026-12-09 14:03:22.123", local time.
std::string FormatWallTime(std::int64_t wallMs);

class CaptureWriter {
  public:
    static constexpr std::uint32_t kFlushPeriodMs = 100;
    // More than this waiting for the disk means the disk cannot keep up: the capture stops
    // with an error rather than eat the machine's memory.
    static constexpr std::size_t kMaxPendingBytes = 64u * 1024 * 1024;
    // A buffer this full is written at once rather than at the next period.
    static constexpr std::size_t kWakeBytes = 1u << 20;

    explicit CaptureWriter(Host& host, WallClock wall = SystemWallMs);
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Opens the file; a running capture is stopped first. False, with the reason in *error,
    // when the file cannot be opened for writing.
    bool Start(const CaptureOptions& options, std::string* error);
    // Writes what is buffered, closes the file. Nothing happens when no capture runs.
    void Stop();
    bool Active() const { return active_; }
    const CaptureOptions& Options() const { return options_; }

    // The chunk as the driver read it, nowMs on the host clock when it was read.
    void Feed(const std::uint8_t* data, std::size_t size, std::uint64_t nowMs);

    // Bytes of the file: what it held before an append plus everything fed since.
    std::uint64_t Size() const { return startSize_ + fedBytes_; }

    // Waits until everything fed so far has been handed to the operating system (or failed).
    // The UI never needs it; Stop and tests do.
    void Sync();

    // Called on the UI thread (from a host timer) when writing failed; the capture has stopped.
    std::function<void(const std::string& error)> OnError;

  private:
    void WriterLoop();
    void AppendText(const std::uint8_t* data, std::size_t size, std::uint64_t nowMs);
    void CheckFailure();
    void Close();

    Host& host_;
    WallClock wall_;
    CaptureOptions options_;
    bool active_ = false;
    std::uint64_t startSize_ = 0;
    std::uint64_t fedBytes_ = 0;
    Host::TimerId timer_ = 0;
    // Text form: the wall clock at Start against the host clock at Start, so every line's time
    // comes from the host clock reading of its chunk.
    std::int64_t wallAtStart_ = 0;
    std::uint64_t hostAtStart_ = 0;
    bool atLineStart_ = true;
    bool heldCr_ = false;

    // Shared with the writer thread.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::string pending_;
    std::uint64_t queuedTotal_ = 0;   // bytes ever put into pending_
    std::uint64_t writtenTotal_ = 0;  // bytes the writer has finished with
    bool stopping_ = false;
    bool syncWanted_ = false;
    bool failed_ = false;
    std::string failure_;
    std::FILE* file_ = nullptr;
    std::thread writer_;
};

}  // namespace corvel
