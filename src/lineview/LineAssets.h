// The page's script and style and the chart library, built into the program (the page needs
// no internet: a factory's network is often closed).
#pragma once

#include <string_view>

namespace korvel {

struct LineAsset {
  std::string_view name;  // as served under /assets/
  std::string_view type;  // Content-Type
  std::string_view bytes;
};

// line.js, line.css, chart.umd.min.js, chart.js-LICENSE.md; null for any other name.
const LineAsset* FindLineAsset(std::string_view name);

// The chart library's version, as its file says.
extern const char* const kChartJsVersion;

}  // namespace korvel
