#pragma once
// The plot's choices in the settings file, section [PLOT]: read at start, written at exit.
// Values out of range (a hand-edited file) are brought back into range, never refused.

#include <string>

#include "plot/plot_model.h"

namespace corvel {

class tIniFile;

struct PlotSettings {
    bool shown = false;
    PlotWindowChoice choice;
    std::vector<std::string> hidden;  // series names the user switched off
    std::string geometry;             // the plot window's place, the toolkit's record as hex

    static constexpr std::uint32_t kMaxSamples = PlotModel::kDefaultCapacity;
    static constexpr std::uint32_t kMinSamples = 10;
    static constexpr std::uint32_t kMaxSeconds = 3600;

    bool operator==(const PlotSettings&) const = default;
};

PlotSettings LoadPlotSettings(const tIniFile& ini);
void WritePlotSettings(tIniFile& ini, const PlotSettings& s);

}  // namespace corvel
