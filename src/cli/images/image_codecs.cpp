// The image codecs module: Qt's image readers and writers behind ImageCodecs.
#include "cli/images/image_codecs.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

namespace ps::cli {
namespace {

bool EncodePng(const uint8_t* rgb, int width, int height, int stride, std::string* png, std::string* error) {
  const QImage view(rgb, width, height, stride, QImage::Format_RGB888);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!view.save(&buffer, "PNG")) {
    *error = "cannot encode the picture as PNG";
    return false;
  }
  png->assign(bytes.constData(), static_cast<size_t>(bytes.size()));
  return true;
}

bool DecodeGrey(const std::string& bytes, const std::string& name, int* width, int* height,
                std::vector<uint8_t>* pixels, std::string* error) {
  QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  reader.setAutoTransform(false);  // an orientation tag must not rotate the mosaic layout
  QImage image = reader.read();
  if (image.isNull()) {
    *error = "cannot read " + name + ": " + reader.errorString().toStdString();
    return false;
  }
  switch (image.format()) {
    case QImage::Format_Grayscale8:
      break;
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_RGB30:
    case QImage::Format_BGR30:
    case QImage::Format_A2RGB30_Premultiplied:
    case QImage::Format_A2BGR30_Premultiplied:
      *error = name + " has more than 8 bits per sample; convert the frame to 8-bit grey first";
      return false;
    default: {
      // A colour frame is accepted only when every pixel is grey (a frame saved
      // through a colour format); a colour picture is refused, not converted.
      const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
      for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
          const QRgb p = line[x];
          if (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p)) {
            *error = name + " is a colour picture (pixel " + std::to_string(x) + ", " + std::to_string(y) +
                     " is not grey); a raw mosaic frame is grey";
            return false;
          }
        }
      }
      image = rgb.convertToFormat(QImage::Format_Grayscale8);
    }
  }
  *width = image.width();
  *height = image.height();
  pixels->resize(static_cast<size_t>(*width) * *height);
  for (int y = 0; y < *height; ++y) {
    const uchar* line = image.constScanLine(y);
    std::copy(line, line + *width, pixels->begin() + static_cast<std::ptrdiff_t>(y) * *width);
  }
  return true;
}

const ImageCodecs kCodecs{EncodePng, DecodeGrey};

}  // namespace

extern "C" __attribute__((visibility("default"))) const ImageCodecs* polarsphere_image_codecs() { return &kCodecs; }

}  // namespace ps::cli
