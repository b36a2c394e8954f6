#include "ui/qr_code.h"

#include <QPainter>

#ifdef VELMARIND_HAVE_QRENCODE
#include <qrencode.h>
#endif

namespace vm {
namespace {
// Readers need four light modules around the symbol to find it.
const int kQuietZoneModules = 4;
}  // namespace

bool QrCodeAvailable() {
#ifdef VELMARIND_HAVE_QRENCODE
  return true;
#else
  return false;
#endif
}

QImage MakeQrImage(const QByteArray& text, int moduleSize) {
#ifdef VELMARIND_HAVE_QRENCODE
  if (text.isEmpty() || moduleSize < 1) return {};
  // Level M survives a slightly blurred phone photo of a screen; version 0 lets the library pick
  // the smallest symbol that holds the text.
  QRcode* code = QRcode_encodeString8bit(text.constData(), 0, QR_ECLEVEL_M);
  if (!code) return {};
  const int modules = code->width + 2 * kQuietZoneModules;
  QImage image(modules * moduleSize, modules * moduleSize, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  for (int y = 0; y < code->width; ++y) {
    for (int x = 0; x < code->width; ++x) {
      if (code->data[y * code->width + x] & 1) {  // bit 0 marks a dark module
        painter.fillRect((x + kQuietZoneModules) * moduleSize, (y + kQuietZoneModules) * moduleSize,
                         moduleSize, moduleSize, Qt::black);
      }
    }
  }
  painter.end();
  QRcode_free(code);
  return image;
#else
  (void)text;
  (void)moduleSize;
  return {};
#endif
}

}  // namespace vm
