#include "host/text_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/codepage.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace corvel {

FileError::FileError(const std::string& path, const std::string& what, int osError)
    : std::runtime_error(what), path_(path), osError_(osError) {}

void ThrowFileError(const std::string& path, const std::string& action) {
    const int err = errno;
    throw FileError(path, action + " \"" + path + "\": " + std::strerror(err), err);
}

void WriteTextLines(const std::string& path, const std::vector<std::string>& linesUtf8) {
    std::string data;
    for (const auto& l : linesUtf8) {
        data += Utf8ToAnsi(l);
        data += "\r\n";
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) ThrowFileError(path, "Cannot create file");
    const bool wrote = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    const int writeErr = errno;
    const bool closed = std::fclose(f) == 0;
    if (!wrote || !closed) {
        if (!wrote) errno = writeErr;
        ThrowFileError(path, "Cannot write file");
    }
}

std::filesystem::path PathFromUtf8(const std::string& name) {
#ifdef _WIN32
    // The narrow open functions would read the name in the ANSI code page: any character
    // outside it would name another file or none.
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
#else
    return std::filesystem::path(name);
#endif
}

std::string PathToUtf8(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
#else
    return path.string();
#endif
}

std::FILE* OpenFileNoWait(const std::string& path, bool forWrite) {
#ifdef _WIN32
    return _wfopen(PathFromUtf8(path).c_str(), forWrite ? L"wb" : L"rb");
#else
    const int flags = (forWrite ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return nullptr;
    struct stat st {};
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (!forWrite && !S_ISREG(st.st_mode))
        err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    std::FILE* f = nullptr;
    if (err == 0) {
        // Blocking from here on: a device takes its time, like a disk does.
        const int fl = ::fcntl(fd, F_GETFL);
        if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
        f = ::fdopen(fd, forWrite ? "wb" : "rb");
        if (!f) err = errno;
    }
    if (!f) {
        ::close(fd);
        errno = err;
    }
    return f;
#endif
}

}  // namespace corvel
