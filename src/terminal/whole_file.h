#pragma once
// Whole-file reads and crash-safe whole-file replacement, shared by the settings file and the
// command-list files. Paths are UTF-8.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "host/text_file.h"

namespace corvel {

// The whole content of a file. Throws FileError when the file cannot be opened or read, or when
// it is larger than maxBytes (nothing that large is one of our text files, and loading it would
// only stall the window).
std::string ReadWholeFile(const std::string& path, std::size_t maxBytes);

// Like ReadWholeFile, but a file that does not exist gives nullopt instead of an error.
std::optional<std::string> ReadFileIfExists(const std::string& path, std::size_t maxBytes);

// Replaces the file's content with bytes. The bytes go to a temporary file in the same folder,
// are flushed to the disk and then renamed over the old file, so a crash or a full disk leaves
// either the old or the new content, never a mix. When the folder does not let us create the
// temporary file but the file itself is writable, the file is rewritten in place (the only way
// left; not crash-safe). Throws FileError (the old file stays as it was) on failure.
void ReplaceFileContent(const std::string& path, std::string_view bytes);

// True when a new file can be created in folder (tried for real: permission bits say nothing
// for root or for read-only mounts).
bool FolderIsWritable(const std::string& folder);

}  // namespace corvel
