#pragma once
// Helpers shared by the fuzz targets: a scratch folder per process, file helpers, and a check that
// aborts loudly (libFuzzer records the input) when an invariant is broken.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace corvel::fuzz {

using Bytes = std::vector<std::uint8_t>;

// Aborts with a message: a broken invariant is a finding, like a crash.
#define FUZZ_CHECK(cond)                                                                      \
    do {                                                                                      \
        if (!(cond)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)

// A folder of this process's own under the system's temporary folder, made once and reused for
// every input (file names stay the same, so no input leaves files behind), removed at exit.
inline const std::filesystem::path& ScratchDir() {
    static const std::filesystem::path dir = [] {
        std::filesystem::path p =
            std::filesystem::temp_directory_path() / ("corvel-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(p);
        // Gone at a normal exit; a crash keeps it next to the finding. The name is kept in a
        // plain buffer: the path object itself is destroyed before handlers registered earlier
        // than its construction finished.
        static char name[4096];
        std::snprintf(name, sizeof name, "%s", p.string().c_str());
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(name, ec);
        });
        return p;
    }();
    return dir;
}

inline std::string ScratchFile(const char* name) {
    return (ScratchDir() / name).string();
}

inline void WriteFileBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace corvel::fuzz
