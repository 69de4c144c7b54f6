#include "windows/picture_files.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <atomic>
#include <cmath>

#include "imageio/bmp_writer.h"

namespace ps::ui {

namespace {

// The folder the converted files are kept in for the program's lifetime: the
// set's files must stay readable while the set is open.
const QString& ConversionFolder() {
  static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/polarsphere-XXXXXX"));
  static const QString path = dir.isValid() ? dir.path() : QString();
  return path;
}

// A new, empty subfolder of the conversion folder ("" when none can be made).
QString NewSubfolder() {
  static std::atomic<int> counter{0};
  const QString root = ConversionFolder();
  if (root.isEmpty()) return {};
  const QString sub = root + QStringLiteral("/") + QString::number(++counter);
  return QDir().mkpath(sub) ? sub : QString();
}

uint8_t Scale16(uint16_t v) { return static_cast<uint8_t>((v * 255u + 32767u) / 65535u); }

bool Is16Bit(QImage::Format f) {
  switch (f) {
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
      return true;
    default:
      return false;
  }
}

}  // namespace

DecodedPicture DecodePicture(const QString& path) {
  DecodedPicture out;
  QImageReader reader(path);
  reader.setAutoTransform(false);  // an orientation tag must not turn a mosaic
  out.format = reader.format().toUpper().toStdString();
  QImage image = reader.read();
  if (image.isNull()) {
    out.error = "Не удалось прочитать " + QFileInfo(path).fileName().toStdString() + ": " +
                reader.errorString().toStdString();
    return out;
  }
  out.width = image.width();
  out.height = image.height();
  out.sourceBits = Is16Bit(image.format()) ? 16 : 8;
  const size_t n = static_cast<size_t>(out.width) * out.height;
  out.greyImage.width = out.width;
  out.greyImage.height = out.height;
  if (image.format() == QImage::Format_Grayscale16) {
    out.greyImage.pixels.resize(n);
    for (int y = 0; y < out.height; ++y) {
      const auto* line = reinterpret_cast<const uint16_t*>(image.constScanLine(y));
      for (int x = 0; x < out.width; ++x) out.greyImage.pixels[static_cast<size_t>(y) * out.width + x] = Scale16(line[x]);
    }
    out.ok = true;
    return out;
  }
  if (image.format() == QImage::Format_Grayscale8) {
    out.greyImage.pixels.resize(n);
    for (int y = 0; y < out.height; ++y) {
      const uchar* line = image.constScanLine(y);
      std::copy(line, line + out.width, out.greyImage.pixels.begin() + static_cast<std::ptrdiff_t>(y) * out.width);
    }
    out.ok = true;
    return out;
  }
  // Colour (or grey stored as colour): 16-bit samples scaled, then 8-bit RGB.
  out.rgb.resize(n * 3);
  bool allGrey = true;
  if (out.sourceBits == 16) {
    const QImage deep = image.convertToFormat(QImage::Format_RGBX64);
    for (int y = 0; y < out.height; ++y) {
      const auto* line = reinterpret_cast<const QRgba64*>(deep.constScanLine(y));
      for (int x = 0; x < out.width; ++x) {
        uint8_t* p = &out.rgb[(static_cast<size_t>(y) * out.width + x) * 3];
        p[0] = Scale16(line[x].red());
        p[1] = Scale16(line[x].green());
        p[2] = Scale16(line[x].blue());
        allGrey = allGrey && p[0] == p[1] && p[1] == p[2];
      }
    }
  } else {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < out.height; ++y) {
      const uchar* line = rgb.constScanLine(y);
      uint8_t* p = &out.rgb[static_cast<size_t>(y) * out.width * 3];
      std::copy(line, line + static_cast<size_t>(out.width) * 3, p);
      for (int x = 0; x < out.width && allGrey; ++x) allGrey = p[3 * x] == p[3 * x + 1] && p[3 * x + 1] == p[3 * x + 2];
    }
  }
  if (allGrey) {
    out.greyImage.pixels.resize(n);
    for (size_t i = 0; i < n; ++i) out.greyImage.pixels[i] = out.rgb[i * 3];
    out.rgb.clear();
  } else {
    out.grey = false;
    out.greyImage = GreyImage{};
  }
  out.ok = true;
  return out;
}

bool IsConvertiblePhoto(const QString& name) {
  const QString suffix = QFileInfo(name).suffix().toLower();
  return suffix == QStringLiteral("png") || suffix == QStringLiteral("tif") || suffix == QStringLiteral("tiff");
}

QStringList FrameNameFilters() {
  return {QStringLiteral("*.png"), QStringLiteral("*.tif"), QStringLiteral("*.tiff"), QStringLiteral("*.bmp")};
}

QString ConvertPhotoToBmp(const QString& path, std::string* whatRead, std::string* error) {
  const DecodedPicture picture = DecodePicture(path);
  if (!picture.ok) {
    *error = picture.error;
    return {};
  }
  std::vector<uint8_t> bytes;
  std::string kind;
  if (picture.grey) {
    bytes = EncodeGreyBmp(picture.greyImage, 8);
    kind = "оттенки серого, сохранено как 8-битный BMP";
  } else {
    RgbImage rgb;
    rgb.width = picture.width;
    rgb.height = picture.height;
    rgb.rgb = picture.rgb;
    bytes = EncodeBmp24(rgb);
    kind = "цветное, сохранено как 24-битный BMP";
  }
  *whatRead = "Прочитан файл " + picture.format + ": " + std::to_string(picture.width) + " x " +
              std::to_string(picture.height) + ", " + std::to_string(picture.sourceBits) + " бит на канал" +
              (picture.sourceBits == 16 ? " (приведено к 8 битам)" : "") + ", " + kind + ".";
  const QString folder = NewSubfolder();
  if (folder.isEmpty()) {
    *error = "Не удалось создать временную папку для преобразованного снимка.";
    return {};
  }
  const QString target = folder + QStringLiteral("/") + QFileInfo(path).completeBaseName() + QStringLiteral(".bmp");
  std::string writeError;
  if (!WriteFileBytes(target.toStdString(), bytes, &writeError)) {
    *error = "Не удалось сохранить преобразованный снимок: " + writeError;
    return {};
  }
  return target;
}

std::vector<std::string> SplitFrameToFiles(const QString& path, const MosaicPattern& pattern, std::string* error) {
  const DecodedPicture picture = DecodePicture(path);
  if (!picture.ok) {
    *error = picture.error;
    return {};
  }
  if (!picture.grey) {
    *error = "Кадр " + QFileInfo(path).fileName().toStdString() +
             " цветной; кадр поляризационной камеры должен быть в оттенках серого.";
    return {};
  }
  if (picture.width < 2 || picture.height < 2) {
    *error = "Кадр " + QFileInfo(path).fileName().toStdString() + " меньше одного блока 2 x 2.";
    return {};
  }
  const PolarizationSet set = SplitMosaic(picture.greyImage.pixels.data(), picture.width, picture.height,
                                          static_cast<size_t>(picture.width), pattern);
  const QString folder = NewSubfolder();
  if (folder.isEmpty()) {
    *error = "Не удалось создать временную папку для снимков кадра.";
    return {};
  }
  std::vector<std::string> paths;
  for (int slot = 1; slot <= 4; ++slot) {
    const std::string file = (folder + QStringLiteral("/")).toStdString() + SubImageFileName(slot);
    std::string writeError;
    if (!WriteFileBytes(file, EncodeGreyBmp(set[static_cast<size_t>(slot - 1)], 8), &writeError)) {
      *error = "Не удалось сохранить снимки кадра: " + writeError;
      return {};
    }
    paths.push_back(file);
  }
  return paths;
}

}  // namespace ps::ui
