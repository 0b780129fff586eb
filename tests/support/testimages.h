#pragma once
// Pictures generated from code for attachment fixtures: a landscape scene (sky above, ground below,
// a large number and an arrow pointing up) so that a viewer, or a test, can tell which way is up.
// Drawn with shapes only, no fonts, so the pixels are the same on every machine.

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace trovane::testsupport::testimages {

// The scene upright, `size` pixels, showing `number` (0 … 999) in seven-segment digits. `number`
// also shifts the colours, so pictures in one conversation look different.
QImage picture(QSize size, int number);

// The pixels a camera stores for EXIF orientation 1, 3, 6 or 8 so that a viewer applying the
// orientation shows `upright`. For 6 and 8 the stored size is the transpose of the upright one.
QImage storedForOrientation(const QImage& upright, int orientation);

// JPEG bytes; with `exifOrientation` in 1 … 8 an APP1 Exif segment carrying that Orientation tag
// follows the JFIF header.
QByteArray jpeg(const QImage& stored, int exifOrientation = 0, int quality = 88);
QByteArray png(const QImage& image);
// HEIC bytes from libheif's HEVC encoder. Throws std::runtime_error when no encoder is available.
QByteArray heic(const QImage& image, int quality = 60);
// Decodes HEIC bytes back (for checks); a null image when they do not decode.
QImage decodeHeic(const QByteArray& bytes);

// True when the image shows the scene upright: a blue-dominant band at the top and a
// green-dominant band at the bottom. A picture shown rotated or upside down fails.
bool looksUpright(const QImage& image);

} // namespace trovane::testsupport::testimages
