// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/night_products.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include <QBuffer>
#include <QFont>
#include <QImageReader>
#include <QPainter>

#include "display/picture_surface.h"
#include "base/regular_file.h"

namespace {

constexpr int kBandHeight = 28;

int HourOf(const std::string& name) { return std::stoi(name.substr(0, 2)); }

bool Cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

double Median(std::vector<double> values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// The median grey of every 4th pixel of every 4th row.
int MedianGrey(const QImage& image) {
  std::vector<double> greys;
  for (int y = 0; y < image.height(); y += 4)
    for (int x = 0; x < image.width(); x += 4) greys.push_back(qGray(image.pixel(x, y)));
  return greys.empty() ? 0 : static_cast<int>(Median(std::move(greys)));
}

}  // namespace

bool IsWholeJpeg(const std::string& bytes) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const size_t n = bytes.size();
  return n >= 4 && byte(0) == 0xFF && byte(1) == 0xD8 && byte(n - 2) == 0xFF && byte(n - 1) == 0xD9;
}

namespace {

// Read without blocking and only from a regular file: a FIFO put in a night's folder must not
// hold the reviewer (and with it the station's stop) for ever.
bool ReadWholeJpeg(const std::string& path, std::string& bytes) {
  return ReadRegularFile(path, size_t{64} << 20, bytes).ok && IsWholeJpeg(bytes);
}

}  // namespace

QImage LoadPicture(const std::string& path, QSize size, bool keep_aspect) {
  std::string bytes;
  if (!ReadWholeJpeg(path, bytes)) return {};
  QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  QImageReader reader(&buffer, "jpeg");
  if (keep_aspect && size.isValid() && reader.size().isValid())
    size = reader.size().scaled(size, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
  if (size.isValid() && reader.size().isValid() && reader.size() != size) reader.setScaledSize(size);
  QImage image = reader.read();
  if (image.isNull()) return image;
  if (size.isValid() && image.size() != size) image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return image.convertToFormat(QImage::Format_RGB32);
}

QSize WholePictureSize(const std::string& path) {
  std::string bytes;
  if (!ReadWholeJpeg(path, bytes)) return {};
  QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  QImageReader reader(&buffer, "jpeg");
  const QSize size = reader.size();
  return size.isValid() && !size.isEmpty() ? size : QSize();
}

QImage LoadPlainPicture(const std::string& folder, const std::string& name, QSize size) {
  const std::string stem = name.substr(0, name.size() - 4);
  QImage image = LoadPicture(folder + "/." + stem + ".plain.jpg", size);
  return image.isNull() ? LoadPicture(folder + "/" + name, size) : image;
}

QImage MakeKeogram(const std::string& folder, const std::vector<NightPicture>& pictures, const QDate& night,
                   QSize size, const std::atomic<bool>* cancel) {
  if (pictures.empty() || !size.isValid() || size.isEmpty()) return {};
  const int height = size.height(), width = size.width();
  const int count = static_cast<int>(pictures.size());
  const int repeat = std::max(1, (width + count - 1) / count);
  // JPEG holds at most 65,535 columns: a night of more pictures (one every second) shares them.
  constexpr int kMostColumns = 65500;
  const int columns = static_cast<int>(std::min<int64_t>(int64_t{count} * repeat, kMostColumns));
  const auto first_column = [&](int i) { return static_cast<int>(int64_t{i} * columns / (int64_t{count} * repeat) * repeat); };
  QImage keogram(columns, height + kBandHeight, QImage::Format_RGB32);
  keogram.fill(Qt::black);
  QPainter painter(&keogram);
  QFont font = PictureSurface::LetteringFont(316);
  font.setPixelSize(kBandHeight - 12);
  painter.setFont(font);
  painter.setPen(Qt::white);
  for (int i = 0; i < count; ++i) {
    if (Cancelled(cancel)) return {};
    const QImage image = LoadPlainPicture(folder, pictures[static_cast<size_t>(i)].name, size);
    // One picture's middle column, a picture pixel each row; a picture that cannot be read leaves
    // its columns black.
    if (!image.isNull()) {
      const int middle = image.width() / 2;
      for (int y = 0; y < height; ++y) {
        const QRgb colour = image.pixel(middle, y);
        for (int r = 0; r < repeat; ++r) keogram.setPixel(std::min(first_column(i) + r, columns - 1), y, colour);
      }
    }
    // A tick and the hour where a new hour begins.
    const std::string& name = pictures[static_cast<size_t>(i)].name;
    const bool new_hour = i == 0 ? name.compare(2, 4, "0000") == 0
                                 : HourOf(name) != HourOf(pictures[static_cast<size_t>(i) - 1].name);
    if (new_hour) {
      const int x = first_column(i);
      painter.drawLine(x, height, x, height + 6);
      painter.drawText(QPointF(x + 2, height + kBandHeight - 5), QString::fromStdString(name.substr(0, 2)));
    }
  }
  const QString date = night.toString(QStringLiteral("yyyy-MM-dd"));
  const int date_width = painter.fontMetrics().horizontalAdvance(date);
  painter.drawText(QPointF(std::max(0, keogram.width() - date_width - 4), height + kBandHeight - 5), date);
  return keogram;
}

std::vector<std::pair<std::string, std::string>> BrightPictures(const std::vector<NightPicture>& pictures) {
  std::vector<double> backgrounds;
  for (const NightPicture& picture : pictures)
    if (picture.background) backgrounds.push_back(*picture.background);
  if (backgrounds.empty()) return {};
  std::sort(backgrounds.begin(), backgrounds.end());
  const double darkest = backgrounds.front();
  // The spread of the darker half: the night's own noise from picture to picture.
  const std::vector<double> darker(backgrounds.begin(), backgrounds.begin() + static_cast<std::ptrdiff_t>((backgrounds.size() + 1) / 2));
  const double centre = Median(darker);
  std::vector<double> deviations;
  for (const double value : darker) deviations.push_back(std::fabs(value - centre));
  const double spread = 1.4826 * Median(deviations);
  const double limit = darkest + std::max(0.15 * std::fabs(darkest), 3 * spread);
  std::vector<std::pair<std::string, std::string>> bright;
  for (const NightPicture& picture : pictures)
    if (picture.background && *picture.background > limit)
      bright.emplace_back(picture.name, "sky background " + std::to_string(std::lround(*picture.background)) +
                                            " above the night's darkest " + std::to_string(std::lround(darkest)) +
                                            " by more than " + std::to_string(std::lround(limit - darkest)));
  return bright;
}

QImage MakeStarTrails(const std::string& folder, const std::vector<NightPicture>& pictures,
                      std::vector<std::pair<std::string, std::string>>& left_out, bool& only_darkest, QSize size,
                      const std::atomic<bool>* cancel) {
  const auto is_left_out = [&](const std::string& name) {
    return std::any_of(left_out.begin(), left_out.end(), [&](const auto& entry) { return entry.first == name; });
  };
  std::vector<const NightPicture*> stacked;
  for (const NightPicture& picture : pictures)
    if (!is_left_out(picture.name)) stacked.push_back(&picture);
  only_darkest = stacked.empty();
  if (stacked.empty() && !pictures.empty()) {
    // No dark picture at all: the darkest alone, and the caller says so.
    stacked.push_back(&*std::min_element(pictures.begin(), pictures.end(), [](const auto& a, const auto& b) {
      const double none = std::numeric_limits<double>::infinity();
      return a.background.value_or(none) < b.background.value_or(none);
    }));
  }
  QImage trails, darkest;
  int darkest_grey = 256;
  for (const NightPicture* picture : stacked) {
    if (Cancelled(cancel)) return {};
    const QImage image = LoadPlainPicture(folder, picture->name, size);
    if (image.isNull()) {
      left_out.emplace_back(picture->name, "cannot be read");
      continue;
    }
    if (const int grey = MedianGrey(image); grey >= 160 && !only_darkest) {
      left_out.emplace_back(picture->name, "washed out: median grey " + std::to_string(grey));
      if (grey < darkest_grey) darkest_grey = grey, darkest = image;
      continue;
    }
    if (trails.isNull()) {
      trails = image;
      continue;
    }
    for (int y = 0; y < trails.height(); ++y) {
      auto* out = reinterpret_cast<QRgb*>(trails.scanLine(y));
      const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      for (int x = 0; x < trails.width(); ++x)
        out[x] = qRgb(std::max(qRed(out[x]), qRed(in[x])), std::max(qGreen(out[x]), qGreen(in[x])),
                      std::max(qBlue(out[x]), qBlue(in[x])));
    }
  }
  if (trails.isNull() && !darkest.isNull()) {
    only_darkest = true;  // every picture washed out: the least of them, and the caller says so
    return darkest;
  }
  return trails;
}

QSize TimelapseSize(QSize size, QSize bound) {
  if (size.isEmpty() || bound.isEmpty()) return {};
  if (size.width() > bound.width() || size.height() > bound.height()) size = size.scaled(bound, Qt::KeepAspectRatio);
  const QSize even(size.width() & ~1, size.height() & ~1);
  return even.width() >= 2 && even.height() >= 2 ? even : QSize();
}

double RawBackground(const FrameStore& store) {
  const FrameExtent extent = WalkableExtent(store);
  std::vector<double> sample;
  for (int y = 0; y < extent.height; y += 16)
    for (int x = 0; x < extent.width; x += 16) sample.push_back(store.Pixel(x, y));
  return sample.empty() ? 0 : Median(std::move(sample));
}
