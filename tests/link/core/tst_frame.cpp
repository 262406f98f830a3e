#include "frame.h"
#include "reply.h"

#include <QRandomGenerator>
#include <QTest>

#include "bytes.h"

using namespace ombrix;
using probe::hex;

class TestFrame : public QObject
{
    Q_OBJECT
private slots:
    void commandFrames_data();
    void commandFrames();
    void everyFrameXorsToMarker();
    void versionText_data();
    void versionText();
};

void TestFrame::commandFrames_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("read version") << int(OpVersion) << hex("00035a0003");
    QTest::newRow("infrared test") << int(OpIrTest) << hex("01035a0002");
    QTest::newRow("read values") << int(OpRead) << hex("03035a0000");
}

void TestFrame::commandFrames()
{
    QFETCH(int, op);
    QFETCH(QByteArray, wire);
    QCOMPARE(CommandFrame(FrameOp(op)), wire);
}

void TestFrame::everyFrameXorsToMarker()
{
    // Whatever the op and payload, the length byte counts what follows it and
    // the XOR of the whole frame, check byte included, is the marker.
    auto *rng = QRandomGenerator::global();
    for (int round = 0; round < 2000; ++round) {
        QByteArray payload(int(rng->bounded(0, 40)), Qt::Uninitialized);
        for (char &b : payload)
            b = char(rng->bounded(256));
        const FrameOp op = FrameOp(rng->bounded(4));
        const QByteArray frame = buildFrame(op, payload);
        QCOMPARE(frame.size(), payload.size() + 4);
        QCOMPARE(quint8(frame[0]), quint8(op));
        QCOMPARE(quint8(frame[1]), quint8(frame.size() - 2));
        QCOMPARE(quint8(frame[2]), quint8(0x5A));
        QCOMPARE(probe::xorAll(frame), (unsigned char)0x5A);
    }
}

void TestFrame::versionText_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("text");

    QTest::newRow("00 alone") << hex("00") << 1 << QString();
    QTest::newRow("ABC") << hex("00414243") << 4 << QString("ABC");
    QTest::newRow("bytes beyond n") << hex("0041424344") << 3 << QString("AB");
    QTest::newRow("nothing stripped") << hex("0020560d0a0031") << 7 << QString::fromLatin1(" V\r\n\0" "1", 6);
    QTest::newRow("high bytes one by one") << hex("00a4e5ff80") << 5 << QString::fromUtf8("\u00a4\u00e5\u00ff\u0080");
    QTest::newRow("count larger than block") << hex("004142") << 9 << QString("AB");
    QTest::newRow("no count") << hex("004142") << 0 << QString();
}

void TestFrame::versionText()
{
    QFETCH(QByteArray, block);
    QFETCH(int, n);
    QFETCH(QString, text);
    QCOMPARE(ombrix::versionText(block, n), text);
}

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
