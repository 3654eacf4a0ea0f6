#pragma once
// File errors carry the path and the operating system's message, so the window's error report
// can say exactly what failed.

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvel {

class FileError : public std::runtime_error {
  public:
    FileError(const std::string& path, const std::string& what, int osError);
    const std::string& path() const { return path_; }
    int osError() const { return osError_; }

  private:
    std::string path_;
    int osError_;
};

// Throws FileError for the path with the message of errno.
[[noreturn]] void ThrowFileError(const std::string& path, const std::string& action);

// Writes one line per entry, each ended by CR LF, converted from UTF-8 to the 8-bit code page,
// replacing any earlier file. Throws FileError when the file cannot be written.
void WriteTextLines(const std::string& path, const std::vector<std::string>& linesUtf8);

// File names travel through the program as UTF-8 on Windows (where the file system speaks
// UTF-16) and as the file system's own bytes elsewhere; this is the path such a name means.
std::filesystem::path PathFromUtf8(const std::string& name);
std::string PathToUtf8(const std::filesystem::path& path);

// Opens a file without ever waiting in the open: a FIFO picked as the file would otherwise block
// the caller until some other program opened its far end. A file to read must be a regular file;
// a file to write may be a device. Null with errno set on failure.
std::FILE* OpenFileNoWait(const std::string& path, bool forWrite);

}  // namespace corvel
