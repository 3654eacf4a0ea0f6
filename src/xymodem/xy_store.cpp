// Block 0's fields, received names, and the files on disk.

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "host/text_file.h"
#include "xymodem/xymodem.h"

namespace corvel {

namespace {

constexpr std::size_t kFileBuffer = std::size_t{1} << 16;

class DiskReader : public XyReader {
  public:
    DiskReader(std::FILE* f, std::string path) : f_(f), path_(std::move(path)), buf_(kFileBuffer) {
        std::setvbuf(f_, buf_.data(), _IOFBF, buf_.size());
    }
    ~DiskReader() override { std::fclose(f_); }
    std::size_t Read(std::uint8_t* to, std::size_t n) override {
        const std::size_t got = std::fread(to, 1, n, f_);
        if (got < n && std::ferror(f_)) ThrowFileError(path_, "Cannot read file");
        return got;
    }

  private:
    std::FILE* f_;
    std::string path_;
    std::vector<char> buf_;
};

class DiskWriter : public XyWriter {
  public:
    DiskWriter(std::FILE* f, std::string path) : f_(f), path_(std::move(path)), buf_(kFileBuffer) {
        std::setvbuf(f_, buf_.data(), _IOFBF, buf_.size());
    }
    ~DiskWriter() override {
        if (f_) std::fclose(f_);
    }
    bool Write(const std::uint8_t* data, std::size_t n) override {
        if (n && std::fwrite(data, 1, n, f_) != n) ThrowFileError(path_, "Cannot write file");
        return true;
    }
    void Close(std::int64_t mtime) override {
        std::FILE* f = std::exchange(f_, nullptr);
        if (!f) return;
        if (std::fclose(f) != 0) ThrowFileError(path_, "Cannot write file");
        if (mtime <= 0) return;
        namespace fs = std::filesystem;
        const auto sys = std::chrono::system_clock::time_point(std::chrono::seconds(mtime));
        std::error_code ec;  // a file system without times keeps the file all the same
        fs::last_write_time(PathFromUtf8(path_), fs::file_time_type::clock::from_sys(sys), ec);
    }

  private:
    std::FILE* f_;
    std::string path_;
    std::vector<char> buf_;
};

class DiskStore : public XyStore {
  public:
    std::unique_ptr<XyReader> OpenRead(const std::string& path, XyFileInfo& info) override {
        namespace fs = std::filesystem;
        std::FILE* f = OpenFileNoWait(path, false);
        if (!f) ThrowFileError(path, "Cannot open file");
        auto reader = std::make_unique<DiskReader>(f, path);
        const fs::path p = PathFromUtf8(path);
        std::error_code ec;
        info.name = PathToUtf8(p.filename());
        info.size = fs::file_size(p, ec);
        if (ec)
            throw FileError(path, "Cannot get the size of file \"" + path + "\": " + ec.message(),
                            ec.value());
        info.hasSize = true;
        const auto t = fs::last_write_time(p, ec);
        info.mtime = ec ? 0
                        : std::chrono::duration_cast<std::chrono::seconds>(
                              fs::file_time_type::clock::to_sys(t).time_since_epoch())
                              .count();
        if (info.mtime < 0) info.mtime = 0;
        return reader;
    }
    std::unique_ptr<XyWriter> Create(const std::string& path) override {
        std::FILE* f = OpenFileNoWait(path, true);
        if (!f) ThrowFileError(path, "Cannot create file");
        return std::make_unique<DiskWriter>(f, path);
    }
    std::string Join(const std::string& folder, const std::string& name) override {
        if (folder.empty()) return name;
        return PathToUtf8(PathFromUtf8(folder) / PathFromUtf8(name));
    }
};

}  // namespace

XyStore& XyDiskStore() {
    static DiskStore store;
    return store;
}

bool XySafeName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        // A separator of either system or a drive letter's colon would put the file elsewhere.
        if (u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':') return false;
    }
    return true;
}

std::vector<std::uint8_t> XyHeaderBlock(const XyFileInfo& info) {
    std::vector<std::uint8_t> out(info.name.begin(), info.name.end());
    out.push_back(0);
    if (!info.name.empty()) {
        char fields[64];
        const int n = std::snprintf(
            fields, sizeof fields, "%llu %llo", static_cast<unsigned long long>(info.size),
            static_cast<unsigned long long>(info.mtime > 0 ? info.mtime : 0));
        out.insert(out.end(), fields, fields + n);
        out.push_back(0);
    }
    out.resize(out.size() <= 128 ? 128 : 1024, 0);
    return out;
}

bool XyParseHeader(const std::uint8_t* data, std::size_t n, XyFileInfo& out) {
    out = {};
    const void* nul = std::memchr(data, 0, n);
    if (!nul) return false;
    const std::size_t nameLen =
        static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data);
    out.name.assign(reinterpret_cast<const char*>(data), nameLen);
    if (out.name.empty()) return true;
    std::size_t i = nameLen + 1;
    const auto number = [&](unsigned base, std::uint64_t& v) {
        while (i < n && data[i] == ' ') ++i;
        std::size_t digits = 0;
        v = 0;
        while (i < n && data[i] >= '0' && data[i] < '0' + base) {
            const std::uint64_t next = v * base + (data[i] - '0');
            if (next / base != v) return false;  // overflow
            v = next;
            ++i;
            ++digits;
        }
        return digits > 0;
    };
    std::uint64_t size = 0;
    if (!number(10, size)) {
        // No size: the sender left it out, which is allowed; anything else is not a header.
        return i >= n || data[i] == 0;
    }
    out.size = size;
    out.hasSize = true;
    std::uint64_t mtime = 0;
    if (number(8, mtime) && mtime < (std::uint64_t{1} << 40))
        out.mtime = static_cast<std::int64_t>(mtime);
    return true;
}

std::uint16_t XyCrc16(const std::uint8_t* data, std::size_t n) {
    static const auto table = [] {
        std::array<std::uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            std::uint16_t c = static_cast<std::uint16_t>(i << 8);
            for (int b = 0; b < 8; ++b)
                c = static_cast<std::uint16_t>(c & 0x8000 ? (c << 1) ^ 0x1021 : c << 1);
            t[i] = c;
        }
        return t;
    }();
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < n; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

}  // namespace corvel
