#include "icons.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace ombrix;

namespace {

const char *const Assets[] = {":/program.ico", ":/version.ico", ":/test.ico", ":/read.ico", ":/clear.ico", ":/write.ico"};

QByteArray contents(const QString &fileName)
{
    QFile f(fileName);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// One image of a hand-made .ico: what its directory entry says and the
// bytes it points at.
struct Part
{
    int width = 0, height = 0; // 0 stands for 256 or "see the image"
    int bits = 0;
    QByteArray bytes;
    quint32 offset = 0; // 0: right after the previous image
    quint32 length = 0; // 0: the size of `bytes`
};

QByteArray ico(const QList<Part> &parts, int type = 1, int reserved = 0)
{
    QByteArray head(6 + 16 * parts.size(), '\0');
    qToLittleEndian<quint16>(reserved, head.data());
    qToLittleEndian<quint16>(type, head.data() + 2);
    qToLittleEndian<quint16>(parts.size(), head.data() + 4);
    QByteArray body;
    for (int i = 0; i < parts.size(); ++i) {
        const Part &p = parts[i];
        char *e = head.data() + 6 + 16 * i;
        e[0] = char(p.width);
        e[1] = char(p.height);
        qToLittleEndian<quint16>(1, e + 4);
        qToLittleEndian<quint16>(p.bits, e + 6);
        qToLittleEndian<quint32>(p.length ? p.length : p.bytes.size(), e + 8);
        qToLittleEndian<quint32>(p.offset ? p.offset : head.size() + body.size(), e + 12);
        body += p.bytes;
    }
    return head + body;
}

// Image `index` of an asset, as a part of a hand-made file.
Part partOf(const char *asset, int index)
{
    const QByteArray file = contents(QString::fromLatin1(asset));
    const char *e = file.constData() + 6 + 16 * index;
    Part p;
    p.width = quint8(e[0]);
    p.height = quint8(e[1]);
    p.bits = qFromLittleEndian<quint16>(e + 6);
    p.bytes = file.mid(qFromLittleEndian<quint32>(e + 12), qFromLittleEndian<quint32>(e + 8));
    return p;
}

// Changes a 32-bit little-endian field of the image's own header.
Part withHeaderField(Part p, int at, quint32 value, int size = 4)
{
    if (size == 2)
        qToLittleEndian<quint16>(value, p.bytes.data() + at);
    else
        qToLittleEndian<quint32>(value, p.bytes.data() + at);
    return p;
}

// A 32 x 32 image, 32- or 24-bit, all one colour.
Part solid32(QRgb colour, int bits = 32)
{
    QByteArray bytes(40, '\0');
    qToLittleEndian<quint32>(40, bytes.data());
    qToLittleEndian<quint32>(32, bytes.data() + 4);
    qToLittleEndian<quint32>(64, bytes.data() + 8);
    qToLittleEndian<quint16>(1, bytes.data() + 12);
    qToLittleEndian<quint16>(bits, bytes.data() + 14);
    const char pixel[] = {char(qBlue(colour)), char(qGreen(colour)), char(qRed(colour)), char(qAlpha(colour))};
    for (int i = 0; i < 32 * 32; ++i)
        bytes.append(pixel, bits / 8);
    bytes += QByteArray(32 * 4, '\0');
    return {32, 32, bits, bytes};
}

QImage painted(const QIcon &icon, const QSize &size, qreal dpr, QIcon::Mode mode)
{
    QImage image(size * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    icon.paint(&p, QRect(QPoint(), size), Qt::AlignCenter, mode);
    return image;
}

} // namespace

class TestIcons : public QObject
{
    Q_OBJECT
private slots:
    void pixmapsAsQIcon_data();
    void pixmapsAsQIcon();
    void sizesAsQIcon_data();
    void sizesAsQIcon();
    void madeFilesAsQIcon_data();
    void madeFilesAsQIcon();
    void brokenPngPassedOverAsQIcon();
    void cleanupTestCase() { m_reference.clear(); }

private:
    // Qt's own icon of a file, made once per file: it decodes every image.
    QIcon reference(const QString &fileName)
    {
        auto it = m_reference.find(fileName);
        if (it == m_reference.end())
            it = m_reference.insert(fileName, QIcon(fileName));
        return *it;
    }

    QHash<QString, QIcon> m_reference;
};

void TestIcons::pixmapsAsQIcon_data()
{
    QTest::addColumn<QString>("asset");
    QTest::addColumn<int>("extent");
    QTest::addColumn<qreal>("dpr");
    QTest::addColumn<int>("mode");

    // The button picture and the sizes a window system asks a window icon
    // for: small and big at every common DPI, and every size of the file.
    const int extents[] = {16, 20, 24, 32, 40, 48, 64, 72, 96, 128, 256};
    for (const char *asset : Assets) {
        for (int mode : {int(QIcon::Normal), int(QIcon::Disabled)}) {
            const char *modeName = mode == QIcon::Normal ? "normal" : "disabled";
            for (int extent : extents)
                QTest::addRow("%s %d %s", asset, extent, modeName) << QString::fromLatin1(asset) << extent << 1.0 << mode;
            for (qreal dpr : {1.25, 1.5, 2.0})
                for (int extent : {16, 32})
                    QTest::addRow("%s %d at %.2f %s", asset, extent, dpr, modeName)
                        << QString::fromLatin1(asset) << extent << dpr << mode;
        }
    }
}

void TestIcons::pixmapsAsQIcon()
{
    QFETCH(QString, asset);
    QFETCH(int, extent);
    QFETCH(qreal, dpr);
    QFETCH(int, mode);

    const QIcon ours = icoIcon(asset);
    const QIcon qts = reference(asset);
    const QSize size(extent, extent);
    const QPixmap got = ours.pixmap(size, dpr, QIcon::Mode(mode));
    const QPixmap want = qts.pixmap(size, dpr, QIcon::Mode(mode));
    QVERIFY(!want.isNull());
    QCOMPARE(got.devicePixelRatio(), want.devicePixelRatio());
    QCOMPARE(got.toImage(), want.toImage());
    QCOMPARE(painted(ours, size, dpr, QIcon::Mode(mode)), painted(qts, size, dpr, QIcon::Mode(mode)));
}

void TestIcons::sizesAsQIcon_data()
{
    QTest::addColumn<QString>("asset");
    for (const char *asset : Assets)
        QTest::newRow(asset) << QString::fromLatin1(asset);
}

void TestIcons::sizesAsQIcon()
{
    QFETCH(QString, asset);

    const QIcon ours = icoIcon(asset);
    const QIcon qts = reference(asset);
    QCOMPARE(ours.isNull(), false);
    // X11 is given every size there is, and only the normal ones exist.
    QCOMPARE(ours.availableSizes(), qts.availableSizes());
    QCOMPARE(ours.availableSizes(QIcon::Disabled), qts.availableSizes(QIcon::Disabled));
    QCOMPARE(ours.availableSizes(QIcon::Normal, QIcon::On), qts.availableSizes(QIcon::Normal, QIcon::On));
    for (const QSize &asked : {QSize(1, 1), QSize(16, 16), QSize(30, 30), QSize(40, 20), QSize(20, 40), QSize(300, 300)})
        QCOMPARE(ours.actualSize(asked), qts.actualSize(asked));
}

void TestIcons::madeFilesAsQIcon_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("empty");

    const Part small = partOf(":/program.ico", 0); // 16 px, 32-bit
    const Part paletted = partOf(":/program.ico", 2); // 32 px, 8-bit and mask
    const Part medium = partOf(":/program.ico", 3); // 48 px, 32-bit
    const Part png = partOf(":/program.ico", 8); // 256 px
    const QByteArray good = ico({small, paletted});
    Part pastEnd = medium;
    pastEnd.offset = 1u << 30;
    Part tooLong = medium;
    tooLong.length = 1u << 30;
    Part sizeInHeader = small;
    sizeInHeader.width = sizeInHeader.height = 0;
    Part wide = sizeInHeader;
    wide = withHeaderField(wide, 4, 300);

    QTest::newRow("8-bit with mask") << ico({paletted}) << false;
    QTest::newRow("PNG") << ico({png}) << false;
    QTest::newRow("size from the image header") << ico({sizeInHeader}) << false;
    QTest::newRow("deeper image of a size wins") << ico({paletted, solid32(qRgba(200, 0, 0, 255))}) << false;
    QTest::newRow("deeper image of a size wins, first") << ico({solid32(qRgba(0, 0, 200, 128)), paletted}) << false;
    QTest::newRow("first of equal depth stays")
        << ico({solid32(qRgba(200, 0, 0, 255)), solid32(qRgba(0, 200, 0, 255))}) << false;
    QTest::newRow("24-bit") << ico({small, solid32(qRgb(10, 20, 30), 24)}) << false;
    QTest::newRow("short colour table") << ico({withHeaderField(paletted, 32, 16)}) << false;
    QTest::newRow("cursor file") << ico({small, paletted}, 2) << false;
    QTest::newRow("unreadable image passed over") << ico({small, pastEnd, medium}) << false;
    QTest::newRow("16-bit image passed over") << ico({small, withHeaderField(medium, 14, 16, 2), medium}) << false;

    QTest::newRow("empty file") << QByteArray() << true;
    QTest::newRow("header cut short") << good.left(4) << true;
    QTest::newRow("directory cut short") << good.left(6 + 10) << true;
    QTest::newRow("reserved field set") << ico({small}, 1, 7) << true;
    QTest::newRow("not an icon type") << ico({small}, 3) << true;
    QTest::newRow("no images") << ico({}) << true;
    QTest::newRow("image past the end") << ico({pastEnd}) << true;
    QTest::newRow("image longer than the file") << ico({tooLong}) << true;
    Part cut = paletted; // the directory's length is not what bounds the reading
    cut.bytes.truncate(40 + 256 * 4 + 100);
    cut.length = 40;
    QTest::newRow("pixels cut short") << ico({cut}) << true;
    QTest::newRow("wider than 256") << ico({wide}) << true;
    QTest::newRow("colour table over 256") << ico({withHeaderField(paletted, 32, 300)}) << true;
    QTest::newRow("16-bit") << ico({withHeaderField(small, 14, 16, 2)}) << true;
    QTest::newRow("PNG signature alone") << ico({{0, 0, 32, png.bytes.left(8)}}) << true;
}

void TestIcons::madeFilesAsQIcon()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, empty);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("made.ico"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(out.write(file), file.size());
    out.close();

    const QIcon ours = icoIcon(path);
    const QIcon qts(path);
    QCOMPARE(ours.isNull(), empty);
    QCOMPARE(ours.availableSizes(), qts.availableSizes());
    for (int extent : {16, 32, 48, 256}) {
        for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled}) {
            const QPixmap got = ours.pixmap(extent, mode);
            QCOMPARE(got.isNull(), empty);
            QCOMPARE(got.toImage(), qts.pixmap(extent, mode).toImage());
        }
    }
}

void TestIcons::brokenPngPassedOverAsQIcon()
{
    // Only decoding tells that the picture behind a sound PNG header is
    // broken; from then on the image is gone, as it is from Qt's icon.
    Part png = partOf(":/program.ico", 8);
    png.bytes.truncate(60);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("made.ico"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(ico({partOf(":/program.ico", 0), png}));
    out.close();

    const QIcon ours = icoIcon(path);
    const QIcon qts(path);
    for (int extent : {256, 16, 32})
        QCOMPARE(ours.pixmap(extent).toImage(), qts.pixmap(extent).toImage());
    QCOMPARE(ours.availableSizes(), qts.availableSizes());
}

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
