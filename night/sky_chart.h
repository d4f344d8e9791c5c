// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The night's chart (chart.png): stars, sky brightness and the clear share over the night, one
// panel each, drawn like the keogram: white on black, with the hours along the bottom and the
// night's date, so that a visitor sees at a glance when it was clear and how dark it got.

#include <vector>

#include <QDate>
#include <QImage>

#include "night/sky_log.h"

inline constexpr const char* kSkyChartName = "chart.png";

/// The chart of `lines` (in time order) of the night `night`, `width` pixels wide; null without
/// lines. Brightness is in mag/arcsec^2 where the lines have it, else the
/// background per second, else the background; a brighter sky is drawn higher either way.
QImage MakeSkyChart(const std::vector<SkyLogLine>& lines, const QDate& night, int width = 1200);
