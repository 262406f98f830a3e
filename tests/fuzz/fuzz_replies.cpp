// Received blocks of 0 to 64 bytes through the reply decoders and through
// the whole receive path of both windows.
//
// Input: byte 0 is the n handed to versionText; byte 1, when its top bit is
// set, first types one of a few texts into one time box (bit 6: which
// window, bits 4-5: which text, bits 0-3: which box), so boxes that do not
// match their bar are in play too; the rest is the block.
//
// The windows live for the whole run, so each input starts from whatever
// the inputs before it left; every check compares with the state just
// before the block.

#include "fakeserial.h"
#include "frame.h"
#include "frmombrixlevel.h"
#include "frmombrixstage.h"
#include "levelmodel.h"
#include "lookup.h"
#include "reply.h"
#include "stagemodel.h"

#include "controls.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace ombrix;

namespace {

constexpr size_t MaxBlock = 64;

[[noreturn]] void fail(const char *what, const QByteArray &block)
{
    std::fprintf(stderr, "%s; block %s\n", what, block.toHex(' ').constData());
    std::abort();
}

#define CHECK(cond, what) \
    do { \
        if (!(cond)) \
            fail(what, block); \
    } while (0)

std::uint8_t at(const QByteArray &b, int i)
{
    return std::uint8_t(b[i]);
}

// The bytes the decoders promise never to read, all changed.
QByteArray withUnreadChanged(const QByteArray &block, int firstUnreadTail)
{
    QByteArray other = block;
    for (int i = 0; i < other.size(); ++i)
        if (i == 1 || i == 2 || i >= firstUnreadTail)
            other[i] = char(~at(other, i));
    return other;
}

void checkDecoders(const QByteArray &block, int n)
{
    // versionText: bytes 1 to n-1, each one character of the same code.
    const QString version = versionText(block, n);
    const qint64 end = std::min<qint64>(std::max(n, 0), block.size());
    CHECK(version.size() == std::max<qint64>(end - 1, 0), "versionText length");
    for (qsizetype i = 0; i < version.size(); ++i)
        CHECK(version[i].unicode() == at(block, int(i) + 1), "versionText character");

    const std::optional<ParamValues> param = ParamReply(block);
    CHECK(param.has_value() == (block.size() >= 23), "ParamReply length rule");
    if (param) {
        for (int f = 0; f < 2; ++f) {
            for (int k = 0; k < 5; ++k) {
                CHECK(param->time[f][k] == at(block, 3 + 5 * f + k), "ParamReply time");
                const std::uint8_t code = at(block, 13 + 5 * f + k);
                CHECK(param->speed[f][k].has_value() == (code <= 3), "ParamReply speed presence");
                CHECK(!param->speed[f][k] || *param->speed[f][k] == code, "ParamReply speed");
            }
        }
        const std::optional<ParamValues> again = ParamReply(withUnreadChanged(block, 23));
        CHECK(again && again->time == param->time && again->speed == param->speed,
              "ParamReply read a byte outside 3..22");
    }

    const std::optional<LevelRecord> level = LevelReply(block);
    CHECK(level.has_value() == (block.size() >= 6), "LevelReply length rule");
    if (level) {
        CHECK(level->HighSeconds == at(block, 3) && level->StopSeconds == at(block, 4)
                  && level->LowSeconds == at(block, 5),
              "LevelReply values");
        CHECK(LevelReply(withUnreadChanged(block, 6)) == level, "LevelReply read a byte outside 3..5");
    }
}

// One window as the checks see it: its time pairs, its speed options in
// groups of four (top to bottom codes 3, 2, 1, 0) and its version label.
struct Probe
{
    SetterWindow *window = nullptr;
    FakeSerial *serial = nullptr;
    std::vector<QLineEdit *> boxes;
    std::vector<VScrollBar *> bars;
    std::vector<std::vector<QRadioButton *>> speedGroups;
    QLabel *version = nullptr;
    int replyMinLength = 0;
    // Byte of each bar's time and of each speed group's code in a reply.
    std::vector<int> timeByte;
    std::vector<int> speedByte;

    struct State
    {
        std::vector<int> bars;
        std::vector<QString> boxes;
        std::vector<int> speeds; // checked option of each group, -1 for none
        QString version;

        bool operator==(const State &o) const
        {
            return bars == o.bars && boxes == o.boxes && speeds == o.speeds && version == o.version;
        }
    };

    State state() const
    {
        State s;
        for (VScrollBar *bar : bars)
            s.bars.push_back(bar->Value());
        for (QLineEdit *box : boxes)
            s.boxes.push_back(box->text());
        for (const auto &group : speedGroups) {
            int checked = -1;
            for (int j = 0; j < int(group.size()); ++j)
                if (group[j]->isChecked())
                    checked = j;
            s.speeds.push_back(checked);
        }
        s.version = version->text();
        return s;
    }

    void feed(const QByteArray &block)
    {
        const State before = state();
        serial->buffer = block;
        window->TmrRx_Timer();
        const State after = state();

        CHECK(serial->buffer.isEmpty(), "the block was not taken");
        for (size_t i = 0; i < bars.size(); ++i) {
            const bool follows = after.boxes[i] == QString::number(after.bars[i]);
            const bool untouched = after.boxes[i] == before.boxes[i] && after.bars[i] == before.bars[i];
            CHECK(follows || untouched, "a time box neither shows its bar nor was left alone");
        }

        const int op = block.isEmpty() ? -1 : at(block, 0);
        if (op == OpVersion) {
            QString expected;
            for (int i = 1; i < block.size(); ++i)
                expected += QChar(char16_t(at(block, i)));
            CHECK(after.version == expected, "version label");
            State rest = after;
            rest.version = before.version;
            CHECK(rest == before, "a version reply changed more than the label");
        } else if (op == OpRead && block.size() >= replyMinLength) {
            CHECK(after.version == before.version, "a parameter reply changed the version label");
            for (size_t i = 0; i < bars.size(); ++i)
                CHECK(after.bars[i] == at(block, timeByte[i]), "a bar is not the reply's time");
            for (size_t g = 0; g < speedGroups.size(); ++g) {
                const int code = at(block, speedByte[g]);
                if (code <= 3)
                    CHECK(after.speeds[g] == 3 - code, "a speed is not the reply's");
                else
                    CHECK(after.speeds[g] == before.speeds[g], "a speed byte of 4 or more moved a speed");
            }
        } else {
            CHECK(after == before, "an empty, short or foreign block changed the window");
        }
    }

    void type(int box, const QString &text) { boxes[size_t(box) % boxes.size()]->setText(text); }
};

Probe *stage = nullptr;
Probe *level = nullptr;

std::unique_ptr<SerialControl> openFake(FakeSerial *&serial)
{
    auto fake = std::make_unique<FakeSerial>();
    fake->present = {1};
    fake->setPortOpen(true);
    serial = fake.get();
    return fake;
}

Probe *makeStage()
{
    auto *p = new Probe;
    auto *w = new FrmOmbrixStage(openFake(p->serial));
    p->window = w;
    p->version = probe::control<QLabel>(w, QStringLiteral("LblVersion"));
    p->replyMinLength = 23;
    for (int f = 0; f < 2; ++f) {
        for (int k = 1; k <= 5; ++k) {
            p->boxes.push_back(probe::control<QLineEdit>(w, QStringLiteral("TextStep%1(%2)").arg(k).arg(f)));
            p->bars.push_back(probe::control<VScrollBar>(w, QStringLiteral("VsStep%1(%2)").arg(k).arg(f)));
            p->timeByte.push_back(3 + 5 * f + (k - 1));
            std::vector<QRadioButton *> group;
            for (int j = 0; j < 4; ++j)
                group.push_back(probe::control<QRadioButton>(w, QStringLiteral("OptStep%1(%2)").arg(k).arg(4 * f + j)));
            p->speedGroups.push_back(group);
            p->speedByte.push_back(13 + 5 * f + (k - 1));
        }
    }
    return p;
}

Probe *makeLevel()
{
    auto *p = new Probe;
    auto *w = new FrmOmbrixLevel(openFake(p->serial));
    p->window = w;
    p->version = probe::control<QLabel>(w, QStringLiteral("LblVersion"));
    p->replyMinLength = 6;
    const char *const pairs[] = {"Hi", "Stop", "Lo"};
    for (int i = 0; i < 3; ++i) {
        p->boxes.push_back(probe::control<QLineEdit>(w, QStringLiteral("Text%1").arg(QLatin1String(pairs[i]))));
        p->bars.push_back(probe::control<VScrollBar>(w, QStringLiteral("Vs%1").arg(QLatin1String(pairs[i]))));
        p->timeByte.push_back(3 + i);
    }
    return p;
}

void checkBuilt(const Probe *p)
{
    bool ok = p->version && p->serial->isOpen();
    for (size_t i = 0; i < p->bars.size(); ++i)
        ok = ok && p->boxes[i] && p->bars[i];
    for (const auto &group : p->speedGroups)
        for (QRadioButton *o : group)
            ok = ok && o;
    if (!ok) {
        std::fprintf(stderr, "a control the fuzzer needs is missing\n");
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Qt takes out the arguments it knows; libFuzzer's own stay untouched.
    static int qtArgc = 1;
    static char *qtArgv[] = {(*argv)[0], nullptr};
    (void)argc;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(qtArgc, qtArgv); // lives for the whole run
    stage = makeStage();
    level = makeLevel();
    checkBuilt(stage);
    checkBuilt(level);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    if (size < 2 || size > 2 + MaxBlock)
        return 0;
    const int n = data[0] == 0x80 ? INT_MIN : data[0] == 0x7F ? INT_MAX : int(std::int8_t(data[0]));
    const QByteArray block(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));

    checkDecoders(block, n);

    if (data[1] & 0x80) {
        static const QString texts[] = {QStringLiteral("300"), QStringLiteral("x"), QString(),
                                        QStringLiteral(" 7 ")};
        Probe *p = data[1] & 0x40 ? level : stage;
        p->type(data[1] & 0x0F, texts[(data[1] >> 4) & 3]);
    }
    stage->feed(block);
    level->feed(block);
    QCoreApplication::sendPostedEvents();
    return 0;
}
