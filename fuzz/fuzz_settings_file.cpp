// The settings-file reader fed an arbitrary file, then one write into it.
//
// Checked: reads never fail or throw, values are cut at the documented length, the reading is
// stable (a second object reads the same), a write of one key reads back as written, leaves
// every other value that was readable before exactly as it was, and survives a fresh parse.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "terminal/settings_file.h"

using namespace corvel;
using namespace corvel::fuzz;

namespace {

// Names the real file uses, plus short ones that the fuzzer easily reaches.
const std::vector<std::pair<std::string, std::string>> kKeys = {
    {"UART", "PORT"},
    {"UART", "BAUDRATE"},
    {"KMODEM", "TIMEROUT"},
    {"KMODEM", "PACKAGE_SIZE"},
    {"MEM RX FONT", "Name"},
    {"COLOR", "REPORT ERROR"},
    {"S", "k"},
    {"s", "K"},
    {"A", "a"},
    {"A", "b"},
    {"B", "a"},
    {"B", "key two"},
};

const char* const kValues[] = {"42", "a=b;c", "[X]", "v w", " padded ", "line\r\nbreak", ""};

struct Reading {
    std::vector<std::string> strings;
    std::vector<std::int32_t> ints;
    std::vector<bool> sections;
    bool operator==(const Reading&) const = default;
};

Reading ReadAll(const tIniFile& ini) {
    Reading r;
    for (const auto& [section, key] : kKeys) {
        std::string v = ini.ReadString(section, key,
                                       "\x01"
                                       "default");
        FUZZ_CHECK(v.size() <= 4 * tIniFile::kMaxValueChars);  // UTF-8 of 2047 characters
        r.strings.push_back(std::move(v));
        r.ints.push_back(ini.ReadInteger(section, key, -77));
        r.sections.push_back(ini.SectionExists(section));
    }
    return r;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// What a value reads back as after a write into an empty file: the reference for every other
// file.
std::string CleanRoundTrip(const std::string& section, const std::string& key,
                           const std::string& value) {
    static std::map<std::string, std::string> known;
    const std::string id = section + '\n' + key + '\n' + value;
    if (auto it = known.find(id); it != known.end()) return it->second;
    const std::string path = ScratchFile("clean.ini");
    WriteFileBytes(path, "");
    tIniFile ini(path);
    ini.WriteString(section, key, value);
    return known[id] = ini.ReadString(section, key,
                                      "\x01"
                                      "default");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The last byte picks the key written and its value; the rest is the file.
    if (size < 1) return 0;
    const std::uint8_t pick = data[size - 1];
    const std::string_view text(reinterpret_cast<const char*>(data), size - 1);
    const std::string path = ScratchFile("settings.ini");
    WriteFileBytes(path, text);

    try {
        tIniFile ini(path);
        const Reading before = ReadAll(ini);
        tIniFile again(path);
        FUZZ_CHECK(ReadAll(again) == before);

        const auto& [section, key] = kKeys[pick % kKeys.size()];
        const std::string value = kValues[(pick / kKeys.size()) % std::size(kValues)];
        ini.WriteString(section, key, value);

        const Reading after = ReadAll(ini);
        tIniFile fresh(path);
        FUZZ_CHECK(ReadAll(fresh) == after);
        const std::string expected = CleanRoundTrip(section, key, value);
        for (std::size_t i = 0; i < kKeys.size(); ++i) {
            if (SameName(kKeys[i].first, section))
                FUZZ_CHECK(after.sections[i]);
            else
                FUZZ_CHECK(after.sections[i] == before.sections[i]);
            if (SameName(kKeys[i].first, section) && SameName(kKeys[i].second, key)) {
                FUZZ_CHECK(after.strings[i] == expected);
            } else {
                FUZZ_CHECK(after.strings[i] == before.strings[i]);
                FUZZ_CHECK(after.ints[i] == before.ints[i]);
            }
        }
    } catch (...) {
        FUZZ_CHECK(!"reading or writing a settings file in a writable folder threw");
    }
    return 0;
}
