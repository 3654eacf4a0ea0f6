#include "terminal/capture.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "host/text_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace corvel {

namespace {

std::tm LocalTime(std::int64_t wallMs) {
    std::time_t seconds = static_cast<std::time_t>(wallMs / 1000);
    if (wallMs < 0 && wallMs % 1000 != 0) --seconds;
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &seconds);
#else
    localtime_r(&seconds, &tm);
#endif
    return tm;
}

// Opened without waiting in the open (a FIFO chosen as the file would block until some reader
// came), then blocking, since only the writer thread writes it.
std::FILE* OpenCaptureFile(const std::string& path, bool append) {
#ifdef _WIN32
    return _wfopen(PathFromUtf8(path).c_str(), append ? L"ab" : L"wb");
#else
    const int flags =
        O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return nullptr;
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    std::FILE* f = ::fdopen(fd, append ? "ab" : "wb");
    if (!f) {
        const int err = errno;
        ::close(fd);
        errno = err;
    }
    return f;
#endif
}

}  // namespace

std::int64_t SystemWallMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string CaptureFileName(const std::string& portName, std::int64_t wallMs) {
    std::string base = portName;
    const std::size_t slash = base.find_last_of("/\\");
    if (slash != std::string::npos) base.erase(0, slash + 1);
    for (char& c : base) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!ok) c = '_';
    }
    // A name of dots alone would climb out of the folder or hide the file.
    if (base.find_first_not_of('.') == std::string::npos) base = "port";
    const std::tm tm = LocalTime(wallMs);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d_%02d-%02d-%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return base + "-" + stamp + ".log";
}

std::string FormatWallTime(std::int64_t wallMs) {
    const std::tm tm = LocalTime(wallMs);
    const int ms = static_cast<int>(((wallMs % 1000) + 1000) % 1000);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return text;
}

CaptureWriter::CaptureWriter(Host& host, WallClock wall) : host_(host), wall_(std::move(wall)) {}

CaptureWriter::~CaptureWriter() {
    Stop();
}

bool CaptureWriter::Start(const CaptureOptions& options, std::string* error) {
    Stop();
    std::FILE* f = OpenCaptureFile(options.path, options.append);
    if (!f) {
        if (error) *error = options.path + ": " + std::strerror(errno);
        return false;
    }
    std::error_code ec;
    const auto size = options.append ? std::filesystem::file_size(PathFromUtf8(options.path), ec)
                                     : std::uintmax_t{0};
    options_ = options;
    startSize_ = ec ? 0 : size;
    fedBytes_ = 0;
    wallAtStart_ = wall_();
    hostAtStart_ = host_.NowMs();
    atLineStart_ = true;
    heldCr_ = false;
    {
        std::lock_guard lock(mutex_);
        file_ = f;
        pending_.clear();
        queuedTotal_ = writtenTotal_ = 0;
        stopping_ = failed_ = false;
        failure_.clear();
    }
    writer_ = std::thread([this] { WriterLoop(); });
    timer_ = host_.StartTimer(kFlushPeriodMs, [this] { CheckFailure(); });
    active_ = true;
    return true;
}

void CaptureWriter::Stop() {
    if (!active_) return;
    // A text line cut by the stop is still a line of the file.
    if (options_.form == CaptureForm::Text) {
        std::string tail;
        if (heldCr_) tail += '\r';
        if (!atLineStart_ || heldCr_) tail += '\n';
        if (!tail.empty()) {
            std::lock_guard lock(mutex_);
            pending_ += tail;
            queuedTotal_ += tail.size();
            fedBytes_ += tail.size();
        }
    }
    Close();
    std::string error;
    {
        std::lock_guard lock(mutex_);
        if (failed_) error = failure_;
    }
    if (!error.empty() && OnError) OnError(error);
}

void CaptureWriter::Close() {
    host_.StopTimer(timer_);
    timer_ = 0;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (writer_.joinable()) writer_.join();
    if (file_) std::fclose(file_);
    file_ = nullptr;
    active_ = false;
}

void CaptureWriter::Feed(const std::uint8_t* data, std::size_t size, std::uint64_t nowMs) {
    if (!active_ || size == 0) return;
    if (options_.form == CaptureForm::Text) {
        AppendText(data, size, nowMs);
        return;
    }
    bool tooMuch = false;
    {
        std::lock_guard lock(mutex_);
        tooMuch = pending_.size() + size > kMaxPendingBytes;
        if (!tooMuch) {
            const bool wasSmall = pending_.size() < kWakeBytes;
            pending_.append(reinterpret_cast<const char*>(data), size);
            queuedTotal_ += size;
            if (wasSmall && pending_.size() >= kWakeBytes) wake_.notify_one();
        } else if (!failed_) {
            failed_ = true;
            failure_ = options_.path + ": the disk does not keep up with the data received";
        }
    }
    if (!tooMuch) fedBytes_ += size;
}

void CaptureWriter::AppendText(const std::uint8_t* data, std::size_t size, std::uint64_t nowMs) {
    // Lines end at LF; a CR right before the LF goes with it, any other CR is kept as received.
    std::string out;
    out.reserve(size + 64);
    const auto lineStart = [&] {
        if (!atLineStart_) return;
        const std::int64_t wall = wallAtStart_ + static_cast<std::int64_t>(nowMs) -
                                  static_cast<std::int64_t>(hostAtStart_);
        out += '[';
        out += FormatWallTime(wall);
        out += "] ";
        atLineStart_ = false;
    };
    for (std::size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n') {
            lineStart();
            heldCr_ = false;
            out += '\n';
            atLineStart_ = true;
            continue;
        }
        if (heldCr_) {
            out += '\r';
            heldCr_ = false;
        }
        lineStart();
        if (c == '\r')
            heldCr_ = true;
        else
            out += c;
    }
    std::lock_guard lock(mutex_);
    if (pending_.size() + out.size() > kMaxPendingBytes) {
        if (!failed_) {
            failed_ = true;
            failure_ = options_.path + ": the disk does not keep up with the data received";
        }
        return;
    }
    pending_ += out;
    queuedTotal_ += out.size();
    fedBytes_ += out.size();
}

void CaptureWriter::WriterLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, std::chrono::milliseconds(kFlushPeriodMs), [this] {
            return stopping_ || syncWanted_ || pending_.size() >= kWakeBytes;
        });
        syncWanted_ = false;
        std::string chunk;
        chunk.swap(pending_);
        const std::uint64_t upTo = queuedTotal_;
        const bool last = stopping_;
        const bool failedBefore = failed_;
        lock.unlock();
        std::string error;
        if (!failedBefore && !chunk.empty()) {
            errno = 0;
            const bool ok = std::fwrite(chunk.data(), 1, chunk.size(), file_) == chunk.size() &&
                            std::fflush(file_) == 0;
            if (!ok) error = options_.path + ": " + std::strerror(errno ? errno : EIO);
        }
        lock.lock();
        if (!error.empty() && !failed_) {
            failed_ = true;
            failure_ = error;
        }
        writtenTotal_ = upTo;
        written_.notify_all();
        if (last) return;
    }
}

void CaptureWriter::Sync() {
    std::unique_lock lock(mutex_);
    if (!writer_.joinable()) return;
    const std::uint64_t target = queuedTotal_;
    syncWanted_ = true;
    wake_.notify_one();
    written_.wait(lock, [&] { return writtenTotal_ >= target || stopping_; });
}

void CaptureWriter::CheckFailure() {
    {
        std::lock_guard lock(mutex_);
        if (!failed_) return;
    }
    Stop();
}

}  // namespace corvel
