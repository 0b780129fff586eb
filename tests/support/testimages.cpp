#include "testimages.h"

#include <QBuffer>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTransform>

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>

namespace trovane::testsupport::testimages {

namespace {

// Seven-segment masks, bit 0 = top, then top-right, bottom-right, bottom, bottom-left, top-left,
// middle.
constexpr int segmentMasks[10] = {0x3f, 0x06, 0x5b, 0x4f, 0x66, 0x6d, 0x7d, 0x07, 0x7f, 0x6f};

void drawDigit(QPainterPath& path, int digit, QRectF box)
{
    const qreal t = box.width() * 0.18; // segment thickness
    const qreal w = box.width(), h = box.height();
    const qreal x = box.left(), y = box.top();
    const qreal half = h / 2;
    const QRectF segments[7] = {
        {x + t, y, w - 2 * t, t},                           // top
        {x + w - t, y + t, t, half - 1.5 * t},              // top-right
        {x + w - t, y + half + 0.5 * t, t, half - 1.5 * t}, // bottom-right
        {x + t, y + h - t, w - 2 * t, t},                   // bottom
        {x, y + half + 0.5 * t, t, half - 1.5 * t},         // bottom-left
        {x, y + t, t, half - 1.5 * t},                      // top-left
        {x + t, y + half - 0.5 * t, w - 2 * t, t},          // middle
    };
    for (int s = 0; s < 7; ++s) {
        if (segmentMasks[digit] & (1 << s))
            path.addRoundedRect(segments[s].adjusted(1, 1, -1, -1), t / 3, t / 3);
    }
}

QColor shifted(QColor colour, int number)
{
    // A small hue walk per picture number; saturation and value stay, so sky stays blue-ish.
    int h, s, v, a;
    colour.getHsv(&h, &s, &v, &a);
    return QColor::fromHsv((h + (number * 7) % 30 + 360 - 15) % 360, s, v, a);
}

void ensureHeifInit()
{
#if LIBHEIF_HAVE_VERSION(1, 13, 0)
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
#endif
}

void check(const heif_error& error, const char* what)
{
    if (error.code != heif_error_Ok)
        throw std::runtime_error(std::string(what) + ": " +
                                 (error.message ? error.message : "libheif error"));
}

} // namespace

QImage picture(QSize size, int number)
{
    number = std::clamp(number, 0, 999);
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black); // antialiased edges blend with what is there: never leave it uninitialised
    const qreal w = size.width(), h = size.height();
    const qreal horizon = h * 0.62;

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, horizon);
    sky.setColorAt(0, shifted(QColor(40, 90, 200), number));
    sky.setColorAt(1, shifted(QColor(150, 200, 245), number));
    painter.fillRect(QRectF(0, 0, w, horizon), sky);

    QRadialGradient sun(QPointF(w * 0.8, h * 0.22), h * 0.12);
    sun.setColorAt(0, QColor(255, 250, 210));
    sun.setColorAt(0.7, QColor(255, 215, 90));
    sun.setColorAt(1, QColor(255, 215, 90, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(sun);
    painter.drawEllipse(QPointF(w * 0.8, h * 0.22), h * 0.12, h * 0.12);

    // Hills behind the horizon, then the ground.
    QPainterPath hills;
    hills.moveTo(0, horizon);
    for (int i = 0; i <= 8; ++i) {
        const qreal x = w * i / 8.0;
        const qreal peak = horizon - h * (0.06 + 0.05 * ((i * 37 + number * 11) % 5) / 4.0);
        hills.quadTo(x - w / 16.0, peak, x, horizon - h * 0.02);
    }
    hills.lineTo(w, horizon);
    hills.closeSubpath();
    painter.setBrush(shifted(QColor(70, 130, 80), number));
    painter.drawPath(hills);

    QLinearGradient ground(0, horizon, 0, h);
    ground.setColorAt(0, shifted(QColor(90, 170, 70), number));
    ground.setColorAt(1, shifted(QColor(40, 110, 40), number));
    painter.fillRect(QRectF(0, horizon, w, h - horizon), ground);

    // A tree on the left so left and right differ too.
    painter.setBrush(QColor(100, 70, 40));
    painter.drawRect(QRectF(w * 0.12, horizon - h * 0.05, w * 0.025, h * 0.16));
    painter.setBrush(QColor(30, 100, 45));
    painter.drawEllipse(QPointF(w * 0.1325, horizon - h * 0.1), w * 0.06, h * 0.09);

    // The arrow: pointing to the top edge.
    const qreal ax = w * 0.5, aw = std::min(w, h) * 0.09;
    QPolygonF arrow;
    arrow << QPointF(ax, h * 0.04) << QPointF(ax + aw, h * 0.04 + aw) << QPointF(ax + aw * 0.4, h * 0.04 + aw)
          << QPointF(ax + aw * 0.4, h * 0.04 + aw * 2.2) << QPointF(ax - aw * 0.4, h * 0.04 + aw * 2.2)
          << QPointF(ax - aw * 0.4, h * 0.04 + aw) << QPointF(ax - aw, h * 0.04 + aw);
    painter.setPen(QPen(QColor(60, 40, 0), std::max(2.0, aw / 10)));
    painter.setBrush(QColor(255, 200, 40));
    painter.drawPolygon(arrow);

    // The number, centred a little below the middle.
    const QString digits = QString::number(number);
    const qreal digitHeight = h * 0.36, digitWidth = digitHeight * 0.55, gap = digitWidth * 0.25;
    const qreal total = digits.size() * digitWidth + (digits.size() - 1) * gap;
    QPainterPath path;
    for (int i = 0; i < digits.size(); ++i) {
        const QRectF box((w - total) / 2 + i * (digitWidth + gap), h * 0.34, digitWidth, digitHeight);
        drawDigit(path, digits.at(i).digitValue(), box);
    }
    painter.setPen(QPen(QColor(20, 20, 30), std::max(2.0, digitHeight / 60)));
    painter.setBrush(QColor(255, 255, 255));
    painter.drawPath(path);
    painter.end();
    return image;
}

QImage storedForOrientation(const QImage& upright, int orientation)
{
    // The viewer turns 6 clockwise and 8 anticlockwise, so the camera stored the opposite turn.
    switch (orientation) {
    case 3:
        return upright.transformed(QTransform().rotate(180));
    case 6:
        return upright.transformed(QTransform().rotate(-90));
    case 8:
        return upright.transformed(QTransform().rotate(90));
    default:
        return upright;
    }
}

QByteArray jpeg(const QImage& stored, int exifOrientation, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(stored))
        throw std::runtime_error("JPEG encoding failed: " + writer.errorString().toStdString());
    buffer.close();
    if (exifOrientation < 1 || exifOrientation > 8)
        return bytes;

    // "Exif\0\0", a big-endian TIFF header, IFD0 with the one Orientation (0x0112, SHORT) entry.
    QByteArray exif("Exif\0\0MM\0\x2a\0\0\0\x08", 14);
    const unsigned char entry[] = {0x00, 0x01, // one entry
                                   0x01, 0x12,
                                   0x00, 0x03,
                                   0x00, 0x00,
                                   0x00, 0x01, // tag, SHORT, 1
                                   0x00, static_cast<unsigned char>(exifOrientation),
                                   0x00, 0x00,
                                   0x00, 0x00,
                                   0x00, 0x00}; // no next IFD
    exif.append(reinterpret_cast<const char*>(entry), sizeof entry);
    QByteArray segment("\xff\xe1", 2);
    const int length = static_cast<int>(exif.size()) + 2;
    segment.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xff)).append(exif);

    // JFIF wants its APP0 straight after SOI; the Exif segment goes right after it.
    qsizetype at = 2;
    if (bytes.size() > 6 && static_cast<unsigned char>(bytes[2]) == 0xff &&
        static_cast<unsigned char>(bytes[3]) == 0xe0)
        at = 4 + ((static_cast<unsigned char>(bytes[4]) << 8) | static_cast<unsigned char>(bytes[5]));
    bytes.insert(at, segment);
    return bytes;
}

QByteArray png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        throw std::runtime_error("PNG encoding failed: " + writer.errorString().toStdString());
    return bytes;
}

QByteArray heic(const QImage& source, int quality)
{
    ensureHeifInit();
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    const int width = image.width(), height = image.height();

    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* frame = nullptr;
    QByteArray out;
    try {
        check(heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder),
              "no HEVC encoder");
        check(heif_encoder_set_lossy_quality(encoder, quality), "encoder quality");
        // x265 otherwise prints its banner and statistics on stderr.
        heif_encoder_set_logging_level(encoder, 0);
        check(heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &frame),
              "heif image");
        check(heif_image_add_plane(frame, heif_channel_interleaved, width, height, 8), "heif plane");
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(frame, heif_channel_interleaved, &stride);
        for (int y = 0; y < height; ++y)
            std::memcpy(plane + static_cast<qsizetype>(y) * stride, image.constScanLine(y),
                        static_cast<size_t>(width) * 3);
        check(heif_context_encode_image(context, frame, encoder, nullptr, nullptr), "HEVC encoding");

        heif_writer writer{};
        writer.writer_api_version = 1;
        writer.write = [](heif_context*, const void* data, size_t size, void* userdata) {
            static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data),
                                                       static_cast<qsizetype>(size));
            return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
        };
        check(heif_context_write(context, &writer, &out), "HEIF writing");
    } catch (...) {
        heif_image_release(frame);
        if (encoder)
            heif_encoder_release(encoder);
        heif_context_free(context);
        throw;
    }
    heif_image_release(frame);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return out;
}

QImage decodeHeic(const QByteArray& bytes)
{
    ensureHeifInit();
    heif_context* context = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* decoded = nullptr;
    QImage result;
    if (heif_context_read_from_memory_without_copy(context, bytes.constData(),
                                                   static_cast<size_t>(bytes.size()), nullptr)
                .code == heif_error_Ok &&
        heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok &&
        heif_decode_image(handle, &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code ==
            heif_error_Ok) {
        int stride = 0;
        const uint8_t* plane = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
        const int width = heif_image_get_width(decoded, heif_channel_interleaved);
        const int height = heif_image_get_height(decoded, heif_channel_interleaved);
        result = QImage(plane, width, height, stride, QImage::Format_RGB888).copy();
    }
    heif_image_release(decoded);
    heif_image_handle_release(handle);
    heif_context_free(context);
    return result;
}

bool looksUpright(const QImage& source)
{
    if (source.isNull())
        return false;
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    // Average a band along the left third of the top and bottom edges (clear of arrow and sun).
    auto average = [&](qreal top, qreal bottom) {
        qint64 r = 0, g = 0, b = 0, n = 0;
        for (int y = int(image.height() * top); y < int(image.height() * bottom); ++y) {
            for (int x = int(image.width() * 0.25); x < int(image.width() * 0.4); ++x) {
                const QRgb p = image.pixel(x, y);
                r += qRed(p), g += qGreen(p), b += qBlue(p), ++n;
            }
        }
        return n ? QColor(int(r / n), int(g / n), int(b / n)) : QColor();
    };
    const QColor top = average(0.02, 0.12), bottom = average(0.88, 0.98);
    return top.blue() > top.red() + 30 && top.blue() > top.green() + 10 &&
           bottom.green() > bottom.red() + 30 && bottom.green() > bottom.blue() + 30;
}

} // namespace trovane::testsupport::testimages
