#include "plot/plot_settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "terminal/settings_file.h"

namespace corvel {

namespace {

constexpr const char* kSection = "PLOT";

double ReadDouble(const tIniFile& ini, const char* key, double fallback) {
    double v = 0;
    return ParsePlotNumber(ini.ReadString(kSection, key, ""), v) ? v : fallback;
}

std::string NumberText(double v) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

}  // namespace

PlotSettings LoadPlotSettings(const tIniFile& ini) {
    PlotSettings s;
    s.shown = ini.ReadBool(kSection, "SHOWN", s.shown);
    s.choice.axis = ini.ReadInteger(kSection, "AXIS", 0) == 1 ? PlotAxis::Time : PlotAxis::Samples;
    const std::int32_t samples =
        ini.ReadInteger(kSection, "SAMPLES", static_cast<std::int32_t>(s.choice.samples));
    s.choice.samples = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(samples, PlotSettings::kMinSamples, PlotSettings::kMaxSamples));
    const std::int32_t seconds =
        ini.ReadInteger(kSection, "SECONDS", static_cast<std::int32_t>(s.choice.seconds));
    s.choice.seconds =
        static_cast<std::uint32_t>(std::clamp<std::int64_t>(seconds, 1, PlotSettings::kMaxSeconds));
    s.choice.autoY = ini.ReadBool(kSection, "AUTO Y", s.choice.autoY);
    s.choice.yMin = ReadDouble(ini, "Y MIN", s.choice.yMin);
    s.choice.yMax = ReadDouble(ini, "Y MAX", s.choice.yMax);
    const std::string hidden = ini.ReadString(kSection, "HIDDEN", "");
    for (std::size_t at = 0; at <= hidden.size();) {
        const std::size_t comma = std::min(hidden.find(',', at), hidden.size());
        if (comma > at && s.hidden.size() < 64) s.hidden.push_back(hidden.substr(at, comma - at));
        at = comma + 1;
    }
    s.geometry = ini.ReadString(kSection, "GEOMETRY", "");
    return s;
}

void WritePlotSettings(tIniFile& ini, const PlotSettings& s) {
    ini.WriteBool(kSection, "SHOWN", s.shown);
    ini.WriteInteger(kSection, "AXIS", s.choice.axis == PlotAxis::Time ? 1 : 0);
    ini.WriteInteger(kSection, "SAMPLES", static_cast<std::int32_t>(s.choice.samples));
    ini.WriteInteger(kSection, "SECONDS", static_cast<std::int32_t>(s.choice.seconds));
    ini.WriteBool(kSection, "AUTO Y", s.choice.autoY);
    ini.WriteString(kSection, "Y MIN", NumberText(s.choice.yMin));
    ini.WriteString(kSection, "Y MAX", NumberText(s.choice.yMax));
    std::string hidden;
    for (const std::string& name : s.hidden) {
        if (!hidden.empty()) hidden += ',';
        hidden += name;
    }
    ini.WriteString(kSection, "HIDDEN", hidden);
    ini.WriteString(kSection, "GEOMETRY", s.geometry);
}

}  // namespace corvel
