#include "terminal/line_settings.h"

#include <cctype>

#include "terminal/settings_file.h"

namespace corvel {

namespace {

constexpr const char* kSection = "LINE";
constexpr const char* kParityLetters = "NOEMS";

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

std::optional<LineFormat> ParseLineFormat(std::string_view text) {
    if (text.size() < 3) return std::nullopt;
    LineFormat f;
    if (text[0] < '5' || text[0] > '8') return std::nullopt;
    f.dataBits = static_cast<TComPortDataBits>(text[0] - '5');
    const char p = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
    const std::string_view letters(kParityLetters);
    const auto at = letters.find(p);
    if (p == '\0' || at == std::string_view::npos) return std::nullopt;
    f.parity = static_cast<TComPortParity>(at);
    const std::string_view stop = text.substr(2);
    if (stop == "1")
        f.stopBits = sb1BITS;
    else if (stop == "1.5")
        f.stopBits = sb1HALFBITS;
    else if (stop == "2")
        f.stopBits = sb2BITS;
    else
        return std::nullopt;
    return f;
}

std::string LineFormatName(const LineFormat& f) {
    std::string s(1, static_cast<char>('5' + f.dataBits));
    s += f.parity <= ptSPACE ? kParityLetters[f.parity] : '?';
    s += f.stopBits == sb1BITS ? "1" : f.stopBits == sb1HALFBITS ? "1.5" : "2";
    return s;
}

std::optional<bool> ParseOnOff(std::string_view text) {
    const std::string t = Lower(text);
    if (t == "on" || t == "1" || t == "true" || t == "yes") return true;
    if (t == "off" || t == "0" || t == "false" || t == "no") return false;
    return std::nullopt;
}

void LoadLineSettings(const tIniFile& ini, LineSettings& s, std::vector<std::string>& problems) {
    auto bad = [&](const char* key, const std::string& value) {
        problems.push_back(std::string("Settings [LINE] ") + key + " = \"" + value +
                           "\" is not valid; using the default");
    };
    if (ini.ValueExists(kSection, "FORMAT")) {
        const std::string text = ini.ReadString(kSection, "FORMAT", "");
        if (const auto f = ParseLineFormat(text))
            s.format = *f;
        else
            bad("FORMAT", text);
    }
    s.xonXoff = ini.ReadBool(kSection, "XONXOFF", s.xonXoff);
    s.dtr = ini.ReadBool(kSection, "DTR", s.dtr);
    s.rts = ini.ReadBool(kSection, "RTS", s.rts);
    if (ini.ValueExists(kSection, "PULSE LINE")) {
        const std::string line = ini.ReadString(kSection, "PULSE LINE", "");
        if (Lower(line) == "dtr")
            s.pulseLine = TComPortLine::DTR;
        else if (Lower(line) == "rts")
            s.pulseLine = TComPortLine::RTS;
        else
            bad("PULSE LINE", line);
    }
    s.pulseActive = ini.ReadBool(kSection, "PULSE ACTIVE", s.pulseActive);
    auto ms = [&](const char* key, std::uint32_t& value) {
        const std::int32_t v = ini.ReadInteger(kSection, key, static_cast<std::int32_t>(value));
        if (v < static_cast<std::int32_t>(kMinLineActionMs) ||
            v > static_cast<std::int32_t>(kMaxLineActionMs))
            bad(key, std::to_string(v));
        else
            value = static_cast<std::uint32_t>(v);
    };
    ms("PULSE MS", s.pulseMs);
    ms("BREAK MS", s.breakMs);
}

void WriteLineSettings(tIniFile& ini, const LineSettings& s) {
    ini.Update([&] {
        ini.WriteString(kSection, "FORMAT", LineFormatName(s.format));
        ini.WriteBool(kSection, "XONXOFF", s.xonXoff);
        ini.WriteBool(kSection, "DTR", s.dtr);
        ini.WriteBool(kSection, "RTS", s.rts);
        ini.WriteString(kSection, "PULSE LINE", s.pulseLine == TComPortLine::DTR ? "DTR" : "RTS");
        ini.WriteBool(kSection, "PULSE ACTIVE", s.pulseActive);
        ini.WriteInteger(kSection, "PULSE MS", static_cast<std::int32_t>(s.pulseMs));
        ini.WriteInteger(kSection, "BREAK MS", static_cast<std::int32_t>(s.breakMs));
    });
}

}  // namespace corvel
