#include "stagemodel.h"

#include <QRandomGenerator>
#include <QTest>

#include "bytes.h"

using namespace ombrix;
using probe::hex;

namespace {

StageProgramme uniform(int time, SpeedCode speed)
{
    StageProgramme p;
    for (auto &function : p)
        for (auto &stage : function)
            stage = {std::uint8_t(time), speed};
    return p;
}

} // namespace

class TestStageModel : public QObject
{
    Q_OBJECT
private slots:
    void writeFrame_data();
    void writeFrame();
    void writeFrameXorsToMarker();
    void paramReply_data();
    void paramReply();
    void shortReplyGivesNothing();
    void replyReadsBackWhatWasWritten();
};

void TestStageModel::writeFrame_data()
{
    QTest::addColumn<StageProgramme>("programme");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("defaults") << StageDefaults
        << hex("02 16 5A 05 14 08 1E 05 0A 0A 0A 0A 0A 01 03 00 02 01 01 03 00 02 01 1C");

    StageProgramme highStage3 = StageDefaults;
    highStage3[1][2].speed = SpeedHigh;
    QTest::newRow("function 2 stage 3 high") << highStage3
        << hex("02 16 5A 05 14 08 1E 05 0A 0A 0A 0A 0A 01 03 00 02 01 01 03 03 02 01 1F");

    StageProgramme runs;
    for (int k = 0; k < StageCount; ++k) {
        runs[0][k] = {std::uint8_t(k + 1), SpeedHigh};
        runs[1][k] = {std::uint8_t(k + 6), SpeedPause};
    }
    QTest::newRow("times in one run") << runs
        << hex("02 16 5A 01 02 03 04 05 06 07 08 09 0A 03 03 03 03 03 00 00 00 00 00 1C");
    QTest::newRow("all zero, all pause") << uniform(0, SpeedPause)
        << hex("02 16 5A 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 14");
    QTest::newRow("all 255, all high") << uniform(255, SpeedHigh)
        << hex("02 16 5A FF FF FF FF FF FF FF FF FF FF 03 03 03 03 03 03 03 03 03 03 14");
}

void TestStageModel::writeFrame()
{
    QFETCH(StageProgramme, programme);
    QFETCH(QByteArray, wire);
    QCOMPARE(WriteFrame(programme).toHex(' '), wire.toHex(' '));
}

void TestStageModel::writeFrameXorsToMarker()
{
    auto *rng = QRandomGenerator::global();
    for (int round = 0; round < 2000; ++round) {
        StageProgramme p;
        for (auto &function : p)
            for (auto &stage : function)
                stage = {std::uint8_t(rng->bounded(256)), std::uint8_t(rng->bounded(4))};
        const QByteArray frame = WriteFrame(p);
        QCOMPARE(frame.size(), 24);
        QCOMPARE(probe::xorAll(frame), (unsigned char)0x5A);
    }
}

void TestStageModel::paramReply_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QList<int>>("times");
    QTest::addColumn<QList<int>>("speeds"); // -1: left as it was

    const QList<int> defaultTimes = {5, 20, 8, 30, 5, 10, 10, 10, 10, 10};
    const QList<int> defaultSpeeds = {1, 3, 0, 2, 1, 1, 3, 0, 2, 1};
    const char *body = "05 14 08 1E 05 0A 0A 0A 0A 0A 01 03 00 02 01 01 03 00 02 01";
    QTest::newRow("23 bytes") << hex(QByteArray("03 16 5A ").append(body)) << defaultTimes << defaultSpeeds;
    QTest::newRow("bytes 1 and 2 anything") << hex(QByteArray("03 00 00 ").append(body)) << defaultTimes << defaultSpeeds;
    QTest::newRow("24 bytes, bad check") << hex(QByteArray("03 16 5A ").append(body).append(" 77")) << defaultTimes << defaultSpeeds;
    QTest::newRow("longer") << hex(QByteArray("03 16 5A ").append(body).append(" 01 02 03 04")) << defaultTimes << defaultSpeeds;
    QTest::newRow("ends of range")
        << hex("03 16 5A 00 FF 00 FF 00 FF 00 FF 00 FF 00 01 02 03 00 01 02 03 00 01")
        << QList<int>{0, 255, 0, 255, 0, 255, 0, 255, 0, 255} << QList<int>{0, 1, 2, 3, 0, 1, 2, 3, 0, 1};
    QTest::newRow("speed bytes 4 and up")
        << hex("03 16 5A 05 14 08 1E 05 0A 0A 0A 0A 0A 04 03 FF 02 01 01 80 00 05 01")
        << defaultTimes << QList<int>{-1, 3, -1, 2, 1, 1, -1, 0, -1, 1};
}

void TestStageModel::paramReply()
{
    QFETCH(QByteArray, block);
    QFETCH(QList<int>, times);
    QFETCH(QList<int>, speeds);

    const std::optional<ParamValues> v = ParamReply(block);
    QVERIFY(v);
    for (int f = 0; f < FunctionCount; ++f) {
        for (int k = 0; k < StageCount; ++k) {
            QCOMPARE(int(v->time[f][k]), times[5 * f + k]);
            const auto speed = v->speed[f][k];
            QCOMPARE(speed ? int(*speed) : -1, speeds[5 * f + k]);
        }
    }
}

void TestStageModel::shortReplyGivesNothing()
{
    // Op, length, marker, ten times and ten speeds; the check byte may be missing.
    constexpr int Shortest = 23;
    const QByteArray full = WriteFrame(StageDefaults);
    for (int size = 0; size < Shortest; ++size)
        QVERIFY2(!ParamReply(full.left(size)), qPrintable(QString::number(size)));
    QVERIFY(ParamReply(full.left(Shortest)));
}

void TestStageModel::replyReadsBackWhatWasWritten()
{
    // A setter that answers a read with the frame it was written, op aside,
    // gives the window back exactly what it wrote.
    auto *rng = QRandomGenerator::global();
    for (int round = 0; round < 500; ++round) {
        StageProgramme p;
        for (auto &function : p)
            for (auto &stage : function)
                stage = {std::uint8_t(rng->bounded(256)), std::uint8_t(rng->bounded(4))};
        QByteArray reply = WriteFrame(p);
        reply[0] = 3;
        const auto v = ParamReply(reply);
        QVERIFY(v);
        for (int f = 0; f < FunctionCount; ++f)
            for (int k = 0; k < StageCount; ++k) {
                QCOMPARE(v->time[f][k], p[f][k].time);
                QCOMPARE(v->speed[f][k], std::optional<std::uint8_t>(p[f][k].speed));
            }
    }
}

QTEST_GUILESS_MAIN(TestStageModel)
#include "tst_stagemodel.moc"
