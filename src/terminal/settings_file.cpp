#include "terminal/settings_file.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "host/codepage.h"
#include "host/text_file.h"
#include "terminal/whole_file.h"

namespace corvel {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string Fold(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

enum class LineKind { Other, Section, Key };
struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::string_view value;
};

ParsedLine ParseLine(std::string_view line) {
    ParsedLine p;
    const std::string_view t = Trim(line);
    if (t.empty()) return p;
    if (t.front() == '[') {
        std::string_view name = t.substr(1);
        const std::size_t close = name.find(']');
        if (close != std::string_view::npos) name = name.substr(0, close);
        p.kind = LineKind::Section;
        p.name = Trim(name);
        return p;
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) return p;
    p.name = Trim(t.substr(0, eq));
    if (p.name.empty()) return p;
    p.kind = LineKind::Key;
    p.value = Trim(t.substr(eq + 1));
    return p;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

// Names and values must stay on their line.
std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    return s;
}

std::string_view UpToNul(std::string_view s) {
    const std::size_t nul = s.find('\0');
    return nul == std::string_view::npos ? s : s.substr(0, nul);
}

std::string CutCodePoints(std::string s, std::size_t maxChars) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
        if (count++ == maxChars) {
            s.resize(i);
            break;
        }
    }
    return s;
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

}  // namespace

std::optional<std::int32_t> ParseIniInteger(std::string_view text) {
    std::string_view s = Trim(text);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    bool hex = false;
    if (!s.empty() && s.front() == '$') {
        hex = true;
        s.remove_prefix(1);
    } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        hex = true;
        s.remove_prefix(2);
    }
    if (s.empty()) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : s) {
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        v = v * (hex ? 16 : 10) + digit;
        if (v > 0xFFFFFFFFull) return std::nullopt;
    }
    if (hex) {
        std::uint32_t bits = static_cast<std::uint32_t>(v);
        if (negative) bits = 0u - bits;
        return static_cast<std::int32_t>(bits);
    }
    if (negative) {
        if (v > 0x80000000ull) return std::nullopt;
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(v));
    }
    if (v > 0x7FFFFFFFull) return std::nullopt;
    return static_cast<std::int32_t>(v);
}

tIniFile::tIniFile(std::string pathUtf8) : path_(std::move(pathUtf8)) {}

tIniFile::Stamp tIniFile::CurrentStamp() const {
    Stamp s;
#ifndef _WIN32
    // One system call per read: this runs before every value the window loads.
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) return s;
    s.exists = true;
    s.size = static_cast<std::uintmax_t>(st.st_size);
    s.inode = static_cast<std::uintmax_t>(st.st_ino);
    s.time = fs::file_time_type(std::chrono::duration_cast<fs::file_time_type::duration>(
        std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
    return s;
#else
    std::error_code ec;
    const fs::path p = PathFromUtf8(path_);
    if (!fs::exists(p, ec) || ec) return s;
    s.exists = true;
    s.size = fs::file_size(p, ec);
    if (ec) s.size = 0;
    s.time = fs::last_write_time(p, ec);
    return s;
#endif
}

void tIniFile::Load(bool forWrite) const {
    const Stamp now = CurrentStamp();
    // A file we could not read is never rewritten from an empty memory copy: try it again.
    if (loaded_ && now == stamp_ && !(forWrite && unreadable_)) return;
    std::optional<std::string> data;
    try {
        data = ReadFileIfExists(path_, kMaxFileBytes);
    } catch (const FileError&) {
        if (forWrite) {
            loaded_ = false;
            throw;
        }
        data.reset();  // unreadable: every read gives its default
    }
    std::string_view text = data ? std::string_view(*data) : std::string_view();
    utf8_ = text.substr(0, kUtf8Bom.size()) == kUtf8Bom;
    if (utf8_) text.remove_prefix(kUtf8Bom.size());
    lines_ = SplitLines(text);
    stamp_ = now;
    unreadable_ = !data.has_value() && now.exists;
    loaded_ = true;
    Reindex();
}

void tIniFile::Refresh() const {
    // Inside Update the pending writes live only in memory: never reload over them.
    if (updateDepth_ > 0) return;
    Load(false);
}

void tIniFile::Reindex() const {
    index_.clear();
    SectionIndex* current = nullptr;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const ParsedLine p = ParseLine(lines_[i]);
        if (p.kind == LineKind::Section) {
            auto [it, fresh] = index_.try_emplace(Fold(p.name), SectionIndex{i, i, {}});
            // Keys of a repeated section are never read, as with the Windows functions.
            current = fresh ? &it->second : nullptr;
        } else if (current) {
            if (p.kind == LineKind::Key) {
                current->keys.try_emplace(Fold(p.name), i);
                current->lastKey = i;
            }
        }
    }
}

std::string tIniFile::ToFileText(std::string_view utf8) const {
    const std::string_view s = UpToNul(utf8);
    return OneLine(utf8_ ? std::string(s) : Utf8ToAnsi(s));
}

std::string tIniFile::FromFileText(std::string_view text) const {
    return utf8_ ? EncodeUtf8(DecodeUtf8(text)) : AnsiToUtf8(text);
}

const std::string* tIniFile::FindValueLine(std::string_view section, std::string_view key) const {
    const auto sec = index_.find(Fold(ToFileText(section)));
    if (sec == index_.end()) return nullptr;
    const auto k = sec->second.keys.find(Fold(Trim(ToFileText(key))));
    if (k == sec->second.keys.end()) return nullptr;
    return &lines_[k->second];
}

std::optional<std::string> tIniFile::Lookup(std::string_view section, std::string_view key) const {
    const std::string* line = FindValueLine(section, key);
    if (!line) return std::nullopt;
    std::string_view v = ParseLine(*line).value;
    if (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front()) v = v.substr(1, v.size() - 2);
    // Only the part that survives the cut is converted: a value may be megabytes long.
    v = UpToNul(v).substr(0, utf8_ ? 4 * kMaxValueChars : kMaxValueChars);
    return CutCodePoints(FromFileText(v), kMaxValueChars);
}

std::string tIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
    Refresh();
    auto v = Lookup(section, key);
    return v ? std::move(*v) : std::string(defaultValue);
}

std::int32_t tIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t defaultValue) const {
    Refresh();
    const auto v = Lookup(section, key);
    if (!v) return defaultValue;
    return ParseIniInteger(*v).value_or(defaultValue);
}

bool tIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool tIniFile::SectionExists(std::string_view section) const {
    Refresh();
    return index_.count(Fold(ToFileText(section))) != 0;
}

bool tIniFile::ValueExists(std::string_view section, std::string_view key) const {
    Refresh();
    return FindValueLine(section, key) != nullptr;
}

void tIniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string sec = std::string(Trim(ToFileText(section)));
    const std::string name = std::string(Trim(ToFileText(key)));
    std::string val = ToFileText(value);
    // A value the reader would trim or unquote is quoted, so it reads back unchanged.
    if (!val.empty() && (IsBlank(val.front()) || IsBlank(val.back()) ||
                         (val.size() >= 2 && IsQuote(val.front()) && val.back() == val.front())))
        val = '"' + val + '"';

    const std::string line = name + "=" + val;
    const ParsedLine parsed = ParseLine(line);
    // Names a reader would see differently ("a=b" as a key, "x]y" as a section) are rare
    // enough to rebuild the index for; the usual case updates it in place, which keeps a
    // batch of writes to a large file linear.
    const bool plain = parsed.kind == LineKind::Key && Fold(parsed.name) == Fold(name) &&
                       ParseLine("[" + sec + "]").name == std::string_view(sec);

    const auto it = index_.find(Fold(sec));
    if (it == index_.end()) {
        const std::size_t header = lines_.size();
        lines_.push_back("[" + sec + "]");
        lines_.push_back(line);
        if (!plain) return Reindex();
        SectionIndex added{header, header + 1, {}};
        added.keys.emplace(Fold(name), header + 1);
        index_.emplace(Fold(sec), std::move(added));
        return;
    }
    const auto k = it->second.keys.find(Fold(name));
    if (k != it->second.keys.end()) {
        // Keep the key as the file spells it; only the value changes.
        const std::string existing(ParseLine(lines_[k->second]).name);
        lines_[k->second] = existing + "=" + val;
        return;
    }
    const std::size_t at = it->second.lastKey + 1;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), line);
    if (!plain) return Reindex();
    for (auto& [secName, si] : index_) {
        // Every line a section indexes lies between its header and its last key.
        if (si.lastKey < at) continue;
        if (si.header >= at) ++si.header;
        ++si.lastKey;
        for (auto& [keyName, keyLine] : si.keys)
            if (keyLine >= at) ++keyLine;
    }
    it->second.lastKey = at;
    it->second.keys.emplace(Fold(name), at);
}

void tIniFile::Store() {
    std::string text;
    if (utf8_) text = kUtf8Bom;
    std::size_t total = text.size();
    for (const auto& l : lines_) total += l.size() + 2;
    text.reserve(total);
    for (const auto& l : lines_) {
        text += l;
        text += "\r\n";
    }
    try {
        ReplaceFileContent(path_, text);
    } catch (...) {
        loaded_ = false;  // memory holds what the disk does not: read the disk again
        throw;
    }
    stamp_ = CurrentStamp();
}

void tIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    if (updateDepth_ > 0) {
        Set(section, key, value);
        dirty_ = true;
        return;
    }
    Load(true);
    Set(section, key, value);
    Store();
}

void tIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void tIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void tIniFile::Update(const std::function<void()>& fn) {
    if (updateDepth_ == 0) {
        Load(true);
        dirty_ = false;
    }
    ++updateDepth_;
    try {
        fn();
    } catch (...) {
        if (--updateDepth_ == 0) {
            loaded_ = false;
            dirty_ = false;
        }
        throw;
    }
    if (--updateDepth_ == 0 && dirty_) {
        dirty_ = false;
        Store();
    }
}

namespace {

bool FileIsWritable(const fs::path& path) {
#ifdef _WIN32
    std::FILE* f = _wfopen(path.c_str(), L"r+b");
#else
    std::FILE* f = std::fopen(path.c_str(), "r+b");
#endif
    if (!f) return false;
    std::fclose(f);
    return true;
}

}  // namespace

SettingsLocation ChooseSettingsLocation(const std::string& executableFolder,
                                        const std::string& userConfigFolder) {
    const fs::path exeFile = PathFromUtf8(executableFolder) / kSettingsFileName;
    std::error_code ec;
    const bool exeFileExists = fs::is_regular_file(exeFile, ec);
    if (FolderIsWritable(executableFolder))
        return {PathToUtf8(exeFile), true, "the program folder is writable"};
    if (exeFileExists && FileIsWritable(exeFile))
        return {PathToUtf8(exeFile), true, "the settings file in the program folder is writable"};
    if (userConfigFolder.empty())
        return {PathToUtf8(exeFile), true,
                "the program folder is not writable and there is no per-user folder"};

    const fs::path userDir = PathFromUtf8(userConfigFolder);
    const fs::path userFile = userDir / kSettingsFileName;
    fs::create_directories(userDir, ec);
    if (ec)
        return {PathToUtf8(userFile), false,
                "the program folder is not writable; cannot create the per-user folder (" +
                    ec.message() + ")"};
    std::string reason = "the program folder is not writable";
    if (exeFileExists && !fs::exists(userFile, ec)) {
        try {
            ReplaceFileContent(PathToUtf8(userFile),
                               ReadWholeFile(PathToUtf8(exeFile), tIniFile::kMaxFileBytes));
            reason += "; settings copied from the program folder";
        } catch (const FileError& e) {
            reason += std::string("; cannot copy the program folder's settings: ") + e.what();
        }
    }
    return {PathToUtf8(userFile), false, reason};
}

std::string DefaultUserConfigFolder() {
#ifdef _WIN32
    if (const char* appData = std::getenv("APPDATA"); appData && *appData)
        return PathToUtf8(fs::path(appData) / "Corvel");
    return {};
#else
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return (fs::path(xdg) / "corvel").string();
    if (const char* home = std::getenv("HOME"); home && *home)
        return (fs::path(home) / ".config" / "corvel").string();
    return {};
#endif
}

}  // namespace corvel
