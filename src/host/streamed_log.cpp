#include "host/streamed_log.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "host/codepage.h"
#include "host/text_file.h"

namespace corvel {

namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 16;

void Remove(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(PathFromUtf8(path), ec);
}

}  // namespace

StreamedLog::~StreamedLog() {
    Abandon();
}

void StreamedLog::Begin(const std::string& finalPath) {
    Abandon();
    Open(finalPath);
}

void StreamedLog::Open(const std::string& finalPath) {
    active_ = true;
    final_ = finalPath;
    temp_ = finalPath + ".tmp";
    count_ = 0;
    last_.clear();
    error_.clear();
    errorPath_.clear();
    errorCode_ = 0;
    f_ = OpenFileNoWait(temp_, true);
    if (!f_) {
        Fail(temp_, "Cannot create file", errno);
        return;
    }
    std::setvbuf(f_, nullptr, _IOFBF, kBufferSize);
}

void StreamedLog::Fail(const std::string& path, const std::string& action, int err) {
    if (!error_.empty()) return;
    errorPath_ = path;
    errorCode_ = err;
    error_ = action + " \"" + path + "\": " + std::strerror(err);
}

void StreamedLog::Add(const std::string& lineUtf8) {
    if (!active_) return;
    ++count_;
    last_ = lineUtf8;
    if (!f_) return;
    const std::string line = Utf8ToAnsi(lineUtf8);
    if (std::fwrite(line.data(), 1, line.size(), f_) != line.size() ||
        std::fwrite("\r\n", 1, 2, f_) != 2) {
        Fail(temp_, "Cannot write file", errno);
        Close();
    }
}

void StreamedLog::Add(const std::string& lineUtf8, const std::string& finalPathIfNew) {
    if (!active_) Open(finalPathIfNew);
    Add(lineUtf8);
}

void StreamedLog::Close() {
    if (!f_) return;
    std::FILE* f = f_;
    f_ = nullptr;
    if (std::fclose(f) != 0) Fail(temp_, "Cannot write file", errno);
}

void StreamedLog::Finish() {
    if (!active_) return;
    Close();
    active_ = false;
    if (error_.empty()) {
        std::error_code ec;
        std::filesystem::rename(PathFromUtf8(temp_), PathFromUtf8(final_), ec);
        if (ec) Fail(final_, "Cannot write file", ec.value());
    }
    if (error_.empty()) return;
    Remove(temp_);
    throw FileError(errorPath_, error_, errorCode_);
}

void StreamedLog::Publish(const std::string& finalPath) {
    if (!active_) Open(finalPath);
    if (f_ && std::fflush(f_) != 0) {
        Fail(temp_, "Cannot write file", errno);
        Close();
    }
    if (!error_.empty()) {
        // The failure is reported once; later lines get a fresh start.
        const FileError e(errorPath_, error_, errorCode_);
        const std::uint64_t kept = count_;
        const std::string last = last_;
        Abandon();
        Open(final_);
        count_ = kept;
        last_ = last;
        throw e;
    }
    const std::string next = finalPath + ".new";
    std::error_code ec;
    std::filesystem::copy_file(PathFromUtf8(temp_), PathFromUtf8(next),
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (!ec) std::filesystem::rename(PathFromUtf8(next), PathFromUtf8(finalPath), ec);
    if (ec) {
        Remove(next);
        throw FileError(finalPath, "Cannot write file \"" + finalPath + "\": " + ec.message(),
                        ec.value());
    }
}

void StreamedLog::Abandon() {
    if (!active_) return;
    Close();
    active_ = false;
    Remove(temp_);
}

}  // namespace corvel
