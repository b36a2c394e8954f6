// The base URL as a QR code, so that a phone can open the share by scanning the screen.
#pragma once

#include <QImage>
#include <QByteArray>

namespace vm {

// Whether this build can draw QR codes (libqrencode was found).
bool QrCodeAvailable();
// A QR code of text, moduleSize pixels per module, with the 4-module quiet zone that readers
// need; a null image when the text cannot be encoded or the build has no QR support.
QImage MakeQrImage(const QByteArray& text, int moduleSize);

}  // namespace vm
