#include "host/text_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/codepage.h"

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

}  // namespace corvel
