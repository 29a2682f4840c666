// Decodes a JPEG image in memory with libjpeg.
#pragma once

#include <QByteArray>
#include <QImage>

namespace notavox {

// A null image when the data is not a JPEG image libjpeg can decode.
QImage decodeJpeg(const QByteArray& data);

}  // namespace notavox
