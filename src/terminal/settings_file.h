#pragma once
// The settings file: an INI file read and written one value at a time, with the behaviour of the
// Windows private-profile functions on every platform.
//
//  - section and key names match without regard to (ASCII) case; the first of duplicated
//    sections or keys is the one read and written;
//  - every write reaches the disk at once, as an atomic replacement of the whole file (see
//    ReplaceFileContent), so a crash never leaves half a file; a failed write throws FileError
//    and leaves the old file as it was;
//  - reads are served from the parsed file, which is parsed again only when the file on disk
//    changed (size or time stamp), so the ~60 reads at start cost one parse;
//  - a missing file, section or key gives the default; a value read is cut at 2047 characters;
//  - unknown sections, keys, comments and their order survive writes; a new key goes after the
//    last key of its section, a new section at the end of the file; lines end in CR LF;
//  - the file text is the 8-bit code page (or UTF-8 when the file starts with a UTF-8
//    byte-order mark); the strings of this interface are UTF-8.
//
// Values are trimmed of surrounding blanks when read and one pair of matching quotes around
// them is removed (as the Windows functions do). So that a string keeps its leading or trailing
// blanks, WriteString quotes such values; line breaks inside a value are written as blanks,
// since they would otherwise end the line and inject keys.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvel {

// An integer as the settings file and the settings dialog read it: optional blanks, an optional
// sign, then decimal digits, or hexadecimal digits after "0x", "0X" or "$". Decimal must fit
// 32 signed bits; hexadecimal may use all 32 bits and is taken as their two's complement
// ("0xFF000005" is -16777211). Anything else (empty text, trailing junk, overflow) is not a
// number: nullopt.
std::optional<std::int32_t> ParseIniInteger(std::string_view text);

class tIniFile {
  public:
    static constexpr std::size_t kMaxValueChars = 2047;
    // Larger files are not parsed (reads give defaults, writes throw): a settings file that big
    // is not ours, and we must not rewrite what we could not read.
    static constexpr std::size_t kMaxFileBytes = 64u * 1024 * 1024;

    explicit tIniFile(std::string pathUtf8);

    const std::string& FileName() const { return path_; }

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t defaultValue) const;
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;

    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

    // Runs writes as one replacement of the file: the writes made inside fn are collected and
    // stored together when it returns (one disk flush instead of one per key). If fn or the
    // store throws, none of them reach the file. Nested calls join the outer one.
    void Update(const std::function<void()>& fn);

  private:
    struct Stamp {
        bool exists = false;
        std::uintmax_t size = 0;
        std::uintmax_t inode = 0;  // a replacement by rename shows here even within one tick
        std::filesystem::file_time_type time{};
        bool operator==(const Stamp&) const = default;
    };
    struct SectionIndex {
        std::size_t header;                                 // line of the "[name]" header
        std::size_t lastKey;                                // line after which a new key goes
        std::unordered_map<std::string, std::size_t> keys;  // folded name -> line (first wins)
    };

    Stamp CurrentStamp() const;
    void Load(bool forWrite) const;
    void Refresh() const;
    void Reindex() const;
    const std::string* FindValueLine(std::string_view section, std::string_view key) const;
    std::optional<std::string> Lookup(std::string_view section, std::string_view key) const;
    void Set(std::string_view section, std::string_view key, std::string_view value);
    void Store();
    std::string ToFileText(std::string_view utf8) const;
    std::string FromFileText(std::string_view text) const;

    std::string path_;
    mutable bool loaded_ = false;
    mutable bool unreadable_ = false;  // the file exists but could not be read
    mutable Stamp stamp_;
    mutable bool utf8_ = false;               // the file began with a UTF-8 byte-order mark
    mutable std::vector<std::string> lines_;  // raw file lines without their ends
    mutable std::unordered_map<std::string, SectionIndex> index_;
    int updateDepth_ = 0;
    bool dirty_ = false;
};

// Where the settings file lives. The executable's folder is used when it lets us write the
// file (a portable install); otherwise the per-user configuration folder, created when needed.
// When the per-user file is new and the executable's folder holds a settings file, its content
// is copied, so a read-only install keeps its shipped settings.
struct SettingsLocation {
    std::string path;         // full path of "tool_terminal.ini"
    bool inExecutableFolder;  // false: the per-user folder
    std::string reason;       // one line for the log window
};
inline constexpr const char* kSettingsFileName = "tool_terminal.ini";
SettingsLocation ChooseSettingsLocation(const std::string& executableFolder,
                                        const std::string& userConfigFolder);
// The per-user configuration folder of this platform: %APPDATA%\Corvel on Windows,
// $XDG_CONFIG_HOME/corvel or ~/.config/corvel elsewhere; empty when none can be found.
std::string DefaultUserConfigFolder();

}  // namespace corvel
