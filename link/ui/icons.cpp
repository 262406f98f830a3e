#include "icons.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QResource>

#include <algorithm>
#include <iterator>
#include <memory>

namespace ombrix {

namespace {

// One image of the file that QIcon(fileName) would keep: the deepest of
// its size, at the place of the first image of that size.
struct IcoImage
{
    int index = 0; // in the file's directory
    QSize size;
    int depth = 0; // the directory's bit count, as Qt's reader reports it
    // Where and how its pixels are stored.
    quint32 offset = 0;
    quint32 length = 0;
    int bits = 0; // 0 for a PNG image
    int colours = 0;
};

class IcoFile
{
public:
    explicit IcoFile(QByteArray data);

    bool isEmpty() const { return m_images.isEmpty(); }
    const QList<IcoImage> &images() const { return m_images; }
    // The image QIcon picks for `size`, or null when there is none left.
    const IcoImage *bestFor(const QSize &size) const;
    // The image alone as an icon of its own, so that Qt's own pixmap engine
    // scales and greys it; null when it cannot be decoded after all.
    QIcon iconOf(const IcoImage &image);
    // Forgets an image that cannot be decoded, as QIcon drops a broken one.
    void drop(const IcoImage *image);

private:
    QImage decode(const IcoImage &image) const;

    QByteArray m_data;
    QList<IcoImage> m_images;
    QHash<int, QIcon> m_decoded; // by directory index
};

constexpr qsizetype DirHeader = 6, EntrySize = 16, InfoHeader = 40;

quint32 le16(const QByteArray &d, qsizetype at)
{
    return quint8(d[at]) | quint8(d[at + 1]) << 8;
}

quint32 le32(const QByteArray &d, qsizetype at)
{
    return le16(d, at) | le16(d, at + 2) << 16;
}

quint32 be32(const QByteArray &d, qsizetype at)
{
    return quint32(quint8(d[at])) << 24 | quint8(d[at + 1]) << 16 | quint8(d[at + 2]) << 8 | quint8(d[at + 3]);
}

bool fits(const QByteArray &d, quint64 at, quint64 length)
{
    return at <= quint64(d.size()) && length <= quint64(d.size()) - at;
}

qsizetype maskLine(int width)
{
    return (qsizetype(width) + 31) / 32 * 4;
}

qsizetype pixelLine(int width, int bits)
{
    switch (bits) {
    case 1: return maskLine(width);
    case 4: return (qsizetype(width) + 7) / 8 * 4;
    case 8: return (qsizetype(width) + 3) / 4 * 4;
    default: return (qsizetype(width) * bits + 31) / 32 * 4;
    }
}

// Directory entry `i` as Qt's .ico reader decodes it; an invalid size where
// that reader gives no image. Everything it would read has to lie inside
// the file.
IcoImage entry(const QByteArray &d, int i)
{
    IcoImage im;
    const qsizetype at = DirHeader + i * EntrySize;
    if (!fits(d, at, EntrySize))
        return im;
    im.index = i;
    im.depth = int(le16(d, at + 6));
    const int dirWidth = quint8(d[at]), dirHeight = quint8(d[at + 1]);
    im.length = le32(d, at + 8);
    im.offset = le32(d, at + 12);
    if (!fits(d, im.offset, im.length))
        return im;

    static const char pngMagic[] = "\x89PNG\r\n\x1a\n";
    if (fits(d, im.offset, 8) && d.mid(im.offset, 8) == QByteArray::fromRawData(pngMagic, 8)) {
        // The header chunk comes first: its width and height.
        if (im.length < 24 || d.mid(im.offset + 12, 4) != "IHDR")
            return im;
        const quint32 w = be32(d, im.offset + 16), h = be32(d, im.offset + 20);
        if (w > 0 && h > 0 && w <= 0x7fffffff && h <= 0x7fffffff)
            im.size = QSize(int(w), int(h));
        return im;
    }

    if (!fits(d, im.offset, InfoHeader))
        return im;
    const quint32 infoWidth = le32(d, im.offset + 4), infoHeight = le32(d, im.offset + 8);
    const quint32 infoBits = le16(d, im.offset + 14), infoColours = le32(d, im.offset + 32);
    const quint32 bits = infoBits ? infoBits : quint32(im.depth);
    // 16-bit pictures are not read; 1 to 8 bits come with a colour table.
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return im;
    const quint64 colours = bits >= 24 ? 0 : (infoColours ? infoColours : 1u << bits);
    const quint64 w = dirWidth ? dirWidth : infoWidth;
    const quint64 h = dirHeight ? dirHeight : infoHeight / 2;
    if (colours > 256 || w == 0 || h == 0 || w > 256 || h > 256)
        return im;
    const quint64 length = InfoHeader + colours * 4 + h * pixelLine(int(w), int(bits))
        + (bits >= 24 ? 0 : h * maskLine(int(w)));
    if (!fits(d, im.offset, length))
        return im;
    im.bits = int(bits);
    im.colours = int(colours);
    im.size = QSize(int(w), int(h));
    return im;
}

IcoFile::IcoFile(QByteArray data)
    : m_data(std::move(data))
{
    if (m_data.size() < DirHeader || le16(m_data, 0) != 0 || (le16(m_data, 2) != 1 && le16(m_data, 2) != 2))
        return;
    const int count = int(le16(m_data, 4));
    // Qt passes over an image it cannot read.
    for (int i = 0; i < count; ++i) {
        const IcoImage im = entry(m_data, i);
        if (!im.size.isValid())
            continue;
        auto same = std::find_if(m_images.begin(), m_images.end(), [&](const IcoImage &o) { return o.size == im.size; });
        if (same == m_images.end())
            m_images.append(im);
        else if (im.depth > same->depth)
            *same = im;
    }
}

QImage IcoFile::decode(const IcoImage &im) const
{
    // The two kinds of image these files hold are read here the way Qt's
    // .ico reader reads them, which saves loading the image plugins: 32-bit
    // with alpha, and 8-bit with a colour table and a mask. Rows run bottom
    // up; bounds were checked with the directory.
    const int w = im.size.width(), h = im.size.height();
    const char *p = m_data.constData() + im.offset + InfoHeader;
    if (im.bits == 32) {
        QImage image(im.size, QImage::Format_ARGB32);
        if (image.isNull())
            return {};
        for (int y = h - 1; y >= 0; --y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < w; ++x, p += 4)
                line[x] = qRgba(quint8(p[2]), quint8(p[1]), quint8(p[0]), quint8(p[3]));
        }
        return std::move(image).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    if (im.bits == 8) {
        // Qt's reader makes a colour-table image and lays the mask over it
        // as alpha: each pixel ends up either its colour, opaque, or fully
        // transparent. Made in one pass here. Indices past the table are
        // transparent, as Qt converts them.
        QRgb table[256];
        std::fill(std::begin(table), std::end(table), QRgb(0));
        for (int i = 0; i < im.colours; ++i, p += 4)
            table[i] = qRgb(quint8(p[2]), quint8(p[1]), quint8(p[0]));
        const char *mask = p + h * pixelLine(w, 8);
        QImage image(im.size, QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            return {};
        for (int y = h - 1; y >= 0; --y, p += pixelLine(w, 8), mask += maskLine(w)) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < w; ++x)
                line[x] = (quint8(mask[x >> 3]) >> (7 - (x & 7))) & 1 ? 0 : table[quint8(p[x])];
        }
        return image;
    }
    // A PNG image is handed on whole, as Qt's reader does.
    if (im.bits == 0)
        return QImage::fromData(QByteArray::fromRawData(m_data.constData() + im.offset, im.length), "png");
    // The other depths: through Qt's own reader.
    QBuffer buffer;
    buffer.setData(m_data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    return reader.jumpToImage(im.index) ? reader.read() : QImage();
}

qint64 area(const QSize &s)
{
    return qint64(s.width()) * s.height();
}

const IcoImage *IcoFile::bestFor(const QSize &size) const
{
    // Qt's choice: the smallest image at least as large as asked for, else
    // the largest; on a tie the later one.
    const qint64 wanted = area(size);
    const IcoImage *best = nullptr;
    for (const IcoImage &im : m_images) {
        if (!best) {
            best = &im;
            continue;
        }
        const qint64 a = area(im.size), b = area(best->size);
        const qint64 pick = qMin(a, b) >= wanted ? qMin(a, b) : qMax(a, b);
        if (pick == a)
            best = &im;
    }
    return best;
}

QIcon IcoFile::iconOf(const IcoImage &image)
{
    auto known = m_decoded.constFind(image.index);
    if (known != m_decoded.constEnd())
        return *known;
    QIcon icon;
    const QImage decoded = decode(image);
    if (!decoded.isNull()) {
        // QIcon turns each image into a pixmap this way.
        QPixmap pixmap;
        pixmap.convertFromImage(decoded);
        icon.addPixmap(pixmap);
    }
    m_decoded.insert(image.index, icon);
    return icon;
}

void IcoFile::drop(const IcoImage *image)
{
    m_images.removeIf([image](const IcoImage &im) { return &im == image; });
}

class IcoEngine : public QIconEngine
{
public:
    explicit IcoEngine(std::shared_ptr<IcoFile> file)
        : m_file(std::move(file))
    {
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        while (const IcoImage *image = m_file->bestFor(size)) {
            const QIcon single = m_file->iconOf(*image);
            if (!single.isNull())
                return single.pixmap(size, 1.0, mode, state);
            m_file->drop(image);
        }
        return {};
    }

    // Every image has scale 1, so the scale never changes the choice.
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal) override
    {
        return pixmap(size, mode, state);
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        const IcoImage *image = m_file->bestFor(size);
        if (!image)
            return {};
        QSize actual = image->size;
        if (actual.width() > size.width() || actual.height() > size.height())
            actual.scale(size, Qt::KeepAspectRatio);
        return actual;
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const QPaintDevice *device = painter->device();
        const qreal dpr = device ? device->devicePixelRatio() : qApp->devicePixelRatio();
        painter->drawPixmap(rect, scaledPixmap(rect.size() * dpr, mode, state, dpr));
    }

    // The file's images are all normal, off ones.
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        QList<QSize> sizes;
        if (mode == QIcon::Normal && state == QIcon::Off)
            for (const IcoImage &im : m_file->images())
                sizes.append(im.size);
        return sizes;
    }

    bool isNull() override { return m_file->isEmpty(); }
    QString key() const override { return QStringLiteral("ombrix.ico"); }
    QIconEngine *clone() const override { return new IcoEngine(m_file); }

private:
    std::shared_ptr<IcoFile> m_file;
};

QByteArray contents(const QString &fileName)
{
    // Straight from the program's resources: no copy unless compressed.
    if (fileName.startsWith(u':')) {
        const QResource resource(fileName);
        if (resource.isValid())
            return resource.uncompressedData();
    }
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QIcon icoIcon(const QString &fileName)
{
    auto file = std::make_shared<IcoFile>(contents(fileName));
    if (file->isEmpty())
        return QIcon();
    return QIcon(new IcoEngine(std::move(file)));
}

} // namespace ombrix
