#include "terminal/whole_file.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "host/text_file.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace corvel {
namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
std::FILE* OpenFile(const fs::path& path, const char* mode) {
    std::wstring wmode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(path.c_str(), wmode.c_str());
}
#endif

[[noreturn]] void Fail(const std::string& path, const std::string& action, int err) {
    errno = err;
    ThrowFileError(path, action);
}

// A symbolic link keeps pointing at the real file: the replacement goes where the link leads.
fs::path ResolveTarget(const fs::path& path) {
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        const fs::path real = fs::weakly_canonical(path, ec);
        if (!ec) return real;
    }
    return path;
}

#ifndef _WIN32
bool WriteAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes, flushes to the disk and closes; on failure errno holds the cause and fd is closed.
bool WriteSyncClose(int fd, std::string_view bytes) {
    bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const int err = errno;
    if (::close(fd) != 0 && ok) return false;
    errno = err;
    return ok;
}

void SyncFolder(const fs::path& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // best effort: the rename is already done
    ::close(fd);
}
#endif

fs::path TempPathFor(const fs::path& target, int attempt) {
    fs::path tmp = target;
    std::string name = "." + PathToUtf8(target.filename()) + ".tmp";
#ifdef _WIN32
    name += std::to_string(GetCurrentProcessId());
#else
    name += std::to_string(::getpid());
#endif
    name += "-" + std::to_string(attempt);
    tmp.replace_filename(PathFromUtf8(name));
    return tmp;
}

}  // namespace

std::optional<std::string> ReadFileIfExists(const std::string& path, std::size_t maxBytes) {
#ifdef _WIN32
    std::FILE* f = OpenFile(PathFromUtf8(path), "rb");
    if (!f) {
        if (errno == ENOENT) return std::nullopt;
        ThrowFileError(path, "Cannot open file");
    }
#else
    // Only regular files: opening a FIFO for reading would wait for a writer for ever, and a
    // device may never end. The open itself must not wait either, hence O_NONBLOCK.
    const int fd = ::open(PathFromUtf8(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        ThrowFileError(path, "Cannot open file");
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        Fail(path, "Not a regular file", err);
    }
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        const int err = errno;
        ::close(fd);
        Fail(path, "Cannot open file", err);
    }
#endif
    std::string data;
    char buf[64 * 1024];
    bool tooBig = false;
    for (;;) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, f);
        if (n == 0) break;
        if (data.size() + n > maxBytes) {
            tooBig = true;
            break;
        }
        data.append(buf, n);
    }
    const bool failed = std::ferror(f) != 0;
    const int err = errno;
    std::fclose(f);
    if (tooBig) Fail(path, "File too large to load", EFBIG);
    if (failed) Fail(path, "Cannot read file", err);
    return data;
}

std::string ReadWholeFile(const std::string& path, std::size_t maxBytes) {
    auto data = ReadFileIfExists(path, maxBytes);
    if (!data) Fail(path, "Cannot open file", ENOENT);
    return std::move(*data);
}

#ifndef _WIN32

void ReplaceFileContent(const std::string& path, std::string_view bytes) {
    const fs::path target = ResolveTarget(PathFromUtf8(path));
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed && S_ISDIR(old.st_mode)) Fail(path, "Cannot write file", EISDIR);
    const mode_t mode = existed ? (old.st_mode & 07777) : 0666;

    int fd = -1;
    fs::path tmp;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = TempPathFor(target, attempt);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        const int err = errno;
        // A folder we may not create files in, holding a file we may write: rewrite in place.
        if ((err == EACCES || err == EPERM) && existed && ::access(target.c_str(), W_OK) == 0) {
            const int direct = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (direct < 0 || !WriteSyncClose(direct, bytes))
                ThrowFileError(path, "Cannot write file");
            return;
        }
        Fail(path, "Cannot create file", err);
    }
    if (existed) {
        // The new file takes the old one's place: keep its permission bits (open() applied
        // the umask) and, where we may, its owner. Neither is worth failing the write for.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        }
        if (::fchmod(fd, mode) != 0) {
        }
    }
    if (!WriteSyncClose(fd, bytes)) {
        const int err = errno;
        ::unlink(tmp.c_str());
        Fail(path, "Cannot write file", err);
    }
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        Fail(path, "Cannot replace file", err);
    }
    SyncFolder(target.parent_path());
}

bool FolderIsWritable(const std::string& folder) {
    const fs::path dir = PathFromUtf8(folder.empty() ? std::string(".") : folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path probe =
            dir / (".corvel-probe" + std::to_string(::getpid()) + "-" + std::to_string(attempt));
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.c_str());
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

#else  // _WIN32

void ReplaceFileContent(const std::string& path, std::string_view bytes) {
    const fs::path target = ResolveTarget(PathFromUtf8(path));
    std::error_code ec;
    if (fs::is_directory(target, ec)) Fail(path, "Cannot write file", EISDIR);
    const fs::path tmp = TempPathFor(target, 0);
    std::FILE* f = OpenFile(tmp, "wb");
    if (!f) ThrowFileError(path, "Cannot create file");
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() &&
              std::fflush(f) == 0 && _commit(_fileno(f)) == 0;
    const int err = errno;
    if (std::fclose(f) != 0) ok = false;
    if (!ok) {
        fs::remove(tmp, ec);
        Fail(path, "Cannot write file", err ? err : EIO);
    }
    if (!MoveFileExW(tmp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        fs::remove(tmp, ec);
        Fail(path, "Cannot replace file", EACCES);
    }
}

bool FolderIsWritable(const std::string& folder) {
    const fs::path probe = PathFromUtf8(folder.empty() ? std::string(".") : folder) /
                           (".corvel-probe" + std::to_string(GetCurrentProcessId()));
    std::FILE* f = OpenFile(probe, "wb");
    if (!f) return false;
    std::fclose(f);
    std::error_code ec;
    fs::remove(probe, ec);
    return true;
}

#endif

}  // namespace corvel
