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
// background. Prime 0 stands for the window's text colour.
QColor panelColor(int prime, const QWidget& widget)
{
    if (prime == 0)
        return widget.palette().color(QPalette::WindowText);
    return prime == 19 ? model().colorForPrime(19).darker(120) : model().colorForPrime(prime);
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

// The widget's own painting over magenta.
QImage paintedAlone(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::magenta);
    widget.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
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
        model().onBaseFrequencyChanged(440.0f);
        sentEvents();
    }

    void arrowShowsItsCountAndRefusals_data()
    {
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<float>("base");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("arrowPrime"); // whose colour fills the arrow, 0 none, -1 refused
        QTest::newRow("+3 after 3, 2, 3") << QList<int>{3, 2, 3} << 440.0f << 3 << "+2" << 3;
        QTest::newRow("-3 after 3, 3") << QList<int>{3, 3} << 440.0f << -3 << "" << 0;
        QTest::newRow("+5 after -5") << QList<int>{-5} << 440.0f << 5 << "" << 0;
        QTest::newRow("-19 after -19") << QList<int>{-19} << 440.0f << -19 << "-1" << 19;
        QTest::newRow("+2 from 11 kHz passes 20 kHz") << QList<int>{} << 11000.0f << 2 << "" << -1;
        QTest::newRow("-2 from 40 Hz reaches 20 Hz") << QList<int>{} << 40.0f << -2 << "" << 0;
    }

    // A refused arrow is disabled and paints nothing; an arrow that has not heard
    // of the change yet still asks the model on click.
    void arrowShowsItsCountAndRefusals()
    {
        QFETCH(QList<int>, steps);
        QFETCH(float, base);
        QFETCH(int, step);
        QFETCH(QString, label);
        QFETCH(int, arrowPrime);
        QLabel count(QStringLiteral("stale"));
        TransposeButton button(step, &count);
        button.setFixedSize(24, 24);
        button.ensurePolished();
        model().onBaseFrequencyChanged(base);
        transposeModel(steps);

        const bool allowed = arrowPrime >= 0;
        QCOMPARE(count.text(), label);
        QCOMPARE(button.isEnabled(), allowed);
        const QImage painted = paintedAlone(button);
        QImage blank(button.size(), QImage::Format_ARGB32);
        blank.fill(Qt::magenta);
        QCOMPARE(painted == blank, !allowed);
        if (allowed) { // inside the triangle, and beside its point
            QCOMPARE(painted.pixelColor(step > 0 ? 10 : 14, 12).name(),
                     panelColor(arrowPrime, button).name());
            QCOMPARE(painted.pixelColor(step > 0 ? 20 : 3, 12), QColor(Qt::magenta));
        }
        TransposeButton late(step, &count);
        late.click();
        QCOMPARE(sentEvents(),
                 allowed ? QStringList{QString("Transpose %1").arg(step)} : QStringList{});
    }

    void primeButtonsSwitchOnlyAboveThree_data()
    {
        QTest::addColumn<int>("prime");
        QTest::newRow("3") << 3;
        QTest::newRow("7") << 7;
        QTest::newRow("19") << 19;
    }

    void primeButtonsSwitchOnlyAboveThree()
    {
        QFETCH(int, prime);
        PrimeToggleButton button(prime);
        button.ensurePolished();
        button.resize(button.sizeHint());
        const QColor color = panelColor(prime, button);
        // Left of the number, inside the border.
        const auto shown = [&button] { return button.grab().toImage().pixelColor(3, 10).name(); };
        const bool switchable = prime > 3;
        const QStringList toggle =
            switchable ? QStringList{QString("PrimeToggle %1").arg(prime)} : QStringList{};
        QCOMPARE(shown(), color.name());

        for (const bool on : {false, true}) {
            button.click();
            QCOMPARE(sentEvents(), toggle);
            QCOMPARE(button.isChecked(), switchable && on);
            QCOMPARE(shown(),
                     (switchable && !on ? color.darker(PRIME_DISABLED_DIM_FACTOR) : color).name());
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
