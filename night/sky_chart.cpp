// SPDX-License-Identifier: GPL-3.0-or-later
#include "night/sky_chart.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

#include <QPainter>
#include <QPainterPath>

#include "display/picture_surface.h"

namespace {

constexpr int kPanelHeight = 160;
constexpr int kGap = 10;
constexpr int kLeft = 70;    // room for the panel's scale
constexpr int kBand = 28;    // the hours
constexpr int kTitle = 24;   // the panel's name above it

struct Series {
  QString name;
  std::function<std::optional<double>(const SkyLogLine&)> value;
  bool downwards = false;  // a magnitude: larger is darker, drawn higher
  std::optional<double> fixed_low, fixed_high;
};

QString Number(double value, double span) {
  return QString::number(value, 'f', span >= 20 ? 0 : span >= 2 ? 1 : 2);
}

}  // namespace

QImage MakeSkyChart(const std::vector<SkyLogLine>& lines, const QDate& night, int width) {
  if (lines.empty() || width < 200) return {};
  const bool has_sqm = std::any_of(lines.begin(), lines.end(), [](const SkyLogLine& l) { return l.sqm.has_value(); });
  const bool has_rate =
      std::any_of(lines.begin(), lines.end(), [](const SkyLogLine& l) { return l.background_per_s.has_value(); });
  std::vector<Series> series = {
      {QStringLiteral("Stars"), [](const SkyLogLine& l) { return l.stars; }, false, 0.0, std::nullopt},
      has_sqm    ? Series{QStringLiteral("Sky brightness (mag/arcsec\u00B2)"), [](const SkyLogLine& l) { return l.sqm; }, true,
                       std::nullopt, std::nullopt}
      : has_rate ? Series{QStringLiteral("Sky background per second"), [](const SkyLogLine& l) { return l.background_per_s; },
                          false, std::nullopt, std::nullopt}
                 : Series{QStringLiteral("Sky background"), [](const SkyLogLine& l) { return l.background; }, false,
                          std::nullopt, std::nullopt},
      {QStringLiteral("Clear sky (%)"), [](const SkyLogLine& l) { return l.clear ? std::optional(*l.clear * 100) : std::nullopt; },
       false, 0.0, 100.0},
  };
  const int panels = static_cast<int>(series.size());
  const int height = panels * (kTitle + kPanelHeight + kGap) + kBand;
  QImage chart(width, height, QImage::Format_RGB32);
  chart.fill(Qt::black);
  QPainter painter(&chart);
  painter.setRenderHint(QPainter::Antialiasing);
  QFont font = PictureSurface::LetteringFont(316);
  font.setPixelSize(14);
  painter.setFont(font);

  const qint64 first = lines.front().time.toSecsSinceEpoch();
  const qint64 last = std::max(lines.back().time.toSecsSinceEpoch(), first + 60);
  const int plot_width = width - kLeft - 10;
  const auto x_of = [&](const QDateTime& t) {
    return kLeft + static_cast<double>(t.toSecsSinceEpoch() - first) / static_cast<double>(last - first) * plot_width;
  };

  for (int p = 0; p < panels; ++p) {
    const Series& s = series[static_cast<size_t>(p)];
    const int top = p * (kTitle + kPanelHeight + kGap) + kTitle;
    painter.setPen(QColor(60, 60, 60));
    painter.drawRect(kLeft, top, plot_width, kPanelHeight);
    painter.setPen(Qt::white);
    painter.drawText(QPointF(kLeft, top - 6), s.name);
    std::optional<double> low = s.fixed_low, high = s.fixed_high;
    double seen_low = INFINITY, seen_high = -INFINITY;
    for (const SkyLogLine& line : lines)
      if (const std::optional<double> v = s.value(line)) seen_low = std::min(seen_low, *v), seen_high = std::max(seen_high, *v);
    if (!std::isfinite(seen_low)) {
      painter.drawText(QPointF(kLeft + 10, top + kPanelHeight / 2.0), QStringLiteral("no values"));
      continue;
    }
    // A margin above and below what was seen, so that a steady value is not hidden in the frame.
    const double margin = std::max((seen_high - seen_low) * 0.08, 0.05 * std::max(1.0, std::fabs(seen_high)));
    if (!low) low = seen_low - margin;
    if (!high) high = seen_high + margin;
    if (*high <= *low) high = *low + 1;
    const auto y_of = [&](double v) {
      const double share = (v - *low) / (*high - *low);
      return top + kPanelHeight - (s.downwards ? 1 - share : share) * kPanelHeight;
    };
    painter.setPen(QColor(170, 170, 170));
    const double span = *high - *low;
    painter.drawText(QRectF(0, top - 8, kLeft - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                     Number(s.downwards ? *low : *high, span));
    painter.drawText(QRectF(0, top + kPanelHeight - 8, kLeft - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                     Number(s.downwards ? *high : *low, span));
    // The line breaks where a frame had no values, or where pictures were not kept for a while.
    QPainterPath path;
    bool open = false;
    qint64 previous = first;
    for (const SkyLogLine& line : lines) {
      const std::optional<double> v = s.value(line);
      const qint64 t = line.time.toSecsSinceEpoch();
      if (!v || t - previous > 30 * 60) open = false;
      previous = t;
      if (!v) continue;
      const QPointF point(x_of(line.time), y_of(*v));
      if (open) path.lineTo(point);
      else path.moveTo(point), path.lineTo(point + QPointF(0.5, 0));
      open = true;
    }
    painter.setPen(QPen(QColor(255, 255, 255), 1.5));
    painter.drawPath(path);
  }

  // The hours along the bottom, as on the keogram, with a faint line through the panels.
  const int band_top = height - kBand;
  const QString date = night.toString(QStringLiteral("yyyy-MM-dd"));
  const double date_left = width - painter.fontMetrics().horizontalAdvance(date) - 6;
  QDateTime hour = lines.front().time;
  hour.setTime(QTime(hour.time().hour(), 0));
  for (hour = hour.addSecs(3600); hour.toSecsSinceEpoch() <= last; hour = hour.addSecs(3600)) {
    const double x = x_of(hour);
    painter.setPen(QColor(45, 45, 45));
    for (int p = 0; p < panels; ++p) {
      const int top = p * (kTitle + kPanelHeight + kGap) + kTitle;
      painter.drawLine(QPointF(x, top + 1), QPointF(x, top + kPanelHeight - 1));
    }
    painter.setPen(Qt::white);
    painter.drawLine(QPointF(x, band_top), QPointF(x, band_top + 6));
    if (x + 24 < date_left) painter.drawText(QPointF(x + 2, band_top + 20), hour.toString(QStringLiteral("HH")));
  }
  painter.setPen(Qt::white);
  painter.drawText(QPointF(date_left, band_top + 20), date);
  return chart;
}
