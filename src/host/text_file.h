#pragma once
// File errors carry the path and the operating system's message, so the window's error report
// can say exactly what failed.

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

}  // namespace corvel
