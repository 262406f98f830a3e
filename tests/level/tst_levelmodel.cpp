#include "levelmodel.h"

#include <QTest>

#include "bytes.h"

using namespace ombrix;

class TestLevelModel : public QObject
{
    Q_OBJECT
private slots:
    void frame_data();
    void frame();
    void frameXorsToMarker();
    void reply_data();
    void reply();
};

void TestLevelModel::frame_data()
{
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("stop");
    QTest::addColumn<int>("low");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("defaults") << 10 << 2 << 10 << QByteArray::fromHex("02055a0a020a05");
    QTest::newRow("zeros") << 0 << 0 << 0 << QByteArray::fromHex("02055a00000007");
    QTest::newRow("255 0 255") << 255 << 0 << 255 << QByteArray::fromHex("02055aff00ff07");
    QTest::newRow("30 5 60") << 30 << 5 << 60 << QByteArray::fromHex("02055a1e053c20");
    QTest::newRow("all 255") << 255 << 255 << 255 << QByteArray::fromHex("02055affffff f8");
}

void TestLevelModel::frame()
{
    QFETCH(int, high);
    QFETCH(int, stop);
    QFETCH(int, low);
    QFETCH(QByteArray, wire);
    QCOMPARE(LevelFrame({std::uint8_t(high), std::uint8_t(stop), std::uint8_t(low)}).toHex(' '), wire.toHex(' '));
}

void TestLevelModel::frameXorsToMarker()
{
    for (int h = 0; h < 256; h += 5)
        for (int s = 0; s < 256; s += 7)
            for (int l = 0; l < 256; l += 11) {
                const QByteArray f = LevelFrame({std::uint8_t(h), std::uint8_t(s), std::uint8_t(l)});
                QCOMPARE(f.size(), 7);
                QCOMPARE(probe::xorAll(f), (unsigned char)0x5A);
            }
}

void TestLevelModel::reply_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("stop");
    QTest::addColumn<int>("low");

    QTest::newRow("whole") << QByteArray::fromHex("03055a14051e09") << true << 20 << 5 << 30;
    QTest::newRow("bytes 1 and 2 anything") << QByteArray::fromHex("030000140 51e") << true << 20 << 5 << 30;
    QTest::newRow("wrong check") << QByteArray::fromHex("03055a14051e77") << true << 20 << 5 << 30;
    QTest::newRow("more after") << QByteArray::fromHex("03055a14051e090102") << true << 20 << 5 << 30;
    QTest::newRow("ends") << QByteArray::fromHex("03055aff00ff") << true << 255 << 0 << 255;
    for (int size = 0; size < 6; ++size)
        QTest::addRow("%d bytes", size) << QByteArray::fromHex("03055a14051e").left(size) << false << 0 << 0 << 0;
}

void TestLevelModel::reply()
{
    QFETCH(QByteArray, block);
    QFETCH(bool, applied);
    QFETCH(int, high);
    QFETCH(int, stop);
    QFETCH(int, low);
    const auto r = LevelReply(block);
    QCOMPARE(bool(r), applied);
    if (r) {
        QCOMPARE(int(r->HighSeconds), high);
        QCOMPARE(int(r->StopSeconds), stop);
        QCOMPARE(int(r->LowSeconds), low);
    }
}

QTEST_GUILESS_MAIN(TestLevelModel)
#include "tst_levelmodel.moc"
