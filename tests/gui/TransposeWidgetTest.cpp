// The transpose and prime panel: the model is driven through its slots, and
// what the buttons sent is read back by running the player's command buffer.

#include "TransposeWidget.h"
#include "Lattice.h"
#include "LayoutConstants.h"
#include "PdPlayer.h"
#include "PrimeToggleButton.h"
#include "TransposeButton.h"
#include "TuningLatticeApplication.h"

#include <QLabel>
#include <QtTest>

namespace {

Lattice& model()
{
    return TuningLatticeApplication::instance()->lattice();
}

// A prime's colour on the panel; 19 is darkened to stand out from the dark
// background.
QString panelColor(int prime)
{
    const QColor color = model().colorForPrime(prime);
    return (prime == 19 ? color.darker(120) : color).name();
}

// Brings the model to the transposition made of steps, from 1/1.
void transposeModel(const QList<int>& steps)
{
    LatticeRatio total(1);
    model().onTransposed(total, 0);
    for (int step : steps)
        model().onTransposed(total *= *LatticePath(step).ratio(), step);
}

// What the player executes of the queued events, as "Transpose 5".
QStringList sentEvents()
{
    QStringList sent;
    QObject context;
    PdPlayer* player = &TuningLatticeApplication::instance()->player();
    QObject::connect(player, &PdPlayer::transposed, &context, [&sent](const LatticeRatio&, int p) {
        sent << QString("Transpose %1").arg(p);
    });
    QObject::connect(player, &PdPlayer::primeEnabledToggled, &context,
                     [&sent](int p, bool) { sent << QString("PrimeToggle %1").arg(p); });
    player->processCommandBuffers();
    return sent;
}

// The colour the widget alone paints at (x, y), over magenta.
QString paintedAt(QWidget& widget, int x, int y)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::magenta);
    widget.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image.pixelColor(x, y).name();
}

} // namespace

class TransposeWidgetTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(TuningLatticeApplication::instance()->loadStyleSheet()); // the shipped look
        model().setDefaults();
        QVERIFY(TuningLatticeApplication::instance()->player().init());
    }

    void init()
    {
        transposeModel({});
        sentEvents();
    }

    void arrowShowsItsCountAndRefusals_data()
    {
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("arrowPrime"); // whose colour fills the arrow, 0 none, -1 refused
        QTest::newRow("+3 after 3, 2, 3") << QList<int>{3, 2, 3} << 3 << "+2" << 3;
        QTest::newRow("-3 after 3, 3") << QList<int>{3, 3} << -3 << "" << 0;
        QTest::newRow("+5 after -5") << QList<int>{-5} << 5 << "" << 0;
        QTest::newRow("-19 after -19") << QList<int>{-19} << -19 << "-1" << 19;
        // 14080 Hz: one more octave passes 20 kHz.
        QTest::newRow("+2 after five") << QList<int>{2, 2, 2, 2, 2} << 2 << "+5" << -1;
    }

    // A refused arrow is disabled and paints nothing; an arrow that has not heard
    // of the change yet still asks the model on click.
    void arrowShowsItsCountAndRefusals()
    {
        QFETCH(QList<int>, steps);
        QFETCH(int, step);
        QFETCH(QString, label);
        QFETCH(int, arrowPrime);
        QLabel count(QStringLiteral("stale"));
        TransposeButton button(step, &count);
        button.setFixedSize(24, 24);
        button.ensurePolished();
        transposeModel(steps);

        const bool allowed = arrowPrime >= 0;
        QCOMPARE(count.text(), label);
        QCOMPARE(button.isEnabled(), allowed);
        // Inside the triangle, and beside its point.
        const QString fill = arrowPrime > 0 ? panelColor(arrowPrime)
                                            : button.palette().color(QPalette::WindowText).name();
        QCOMPARE(paintedAt(button, step > 0 ? 10 : 14, 12), allowed ? fill : "#ff00ff");
        QCOMPARE(paintedAt(button, step > 0 ? 20 : 3, 12), "#ff00ff");
        TransposeButton late(step, &count);
        late.click();
        QCOMPARE(sentEvents(),
                 allowed ? QStringList{QString("Transpose %1").arg(step)} : QStringList{});
    }

    // 3 and lower stay on and send nothing; the others switch and dim.
    void primeButtonsSwitchOnlyAboveThree()
    {
        for (const int prime : {3, 19}) {
            PrimeToggleButton button(prime);
            button.ensurePolished();
            button.resize(button.sizeHint());
            const QString color = panelColor(prime);
            const bool switchable = prime > 3;
            const auto shown = [&button] {
                return button.grab().toImage().pixelColor(3, 10).name();
            };
            QCOMPARE(shown(), color); // left of the number, inside the border
            for (const bool on : {false, true}) {
                button.click();
                QCOMPARE(sentEvents(), switchable ? QStringList{"PrimeToggle 19"} : QStringList{});
                QCOMPARE(button.isChecked(), switchable && on);
                QCOMPARE(shown(), switchable && !on
                                      ? QColor(color).darker(PRIME_DISABLED_DIM_FACTOR).name()
                                      : color);
            }
        }
    }

    void resetIsOfferedOnlyWhileTransposed()
    {
        TransposeWidget panel;
        panel.setupButtons(Qt::Vertical);
        auto* reset = panel.findChild<PrimeToggleButton*>(QStringLiteral("resetButton"));
        QVERIFY(reset && !reset->isEnabled());
        transposeModel({5});
        QVERIFY(reset->isEnabled());
        reset->click();
        QCOMPARE(sentEvents(), QStringList{"Transpose 0"});
        transposeModel({});
        QVERIFY(!reset->isEnabled());
    }
};

int main(int argc, char** argv)
{
    TuningLatticeApplication application(argc, argv);
    TransposeWidgetTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TransposeWidgetTest.moc"
