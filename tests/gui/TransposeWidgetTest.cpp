// The panel against the application's model and player: the model is driven
// through its slots, and what the buttons sent is read back by letting the
// player execute its command buffer on the test thread (no stream, no patch).

#include "TransposeWidget.h"
#include "Lattice.h"
#include "PdPlayer.h"
#include "PrimeToggleButton.h"
#include "TransposeButton.h"
#include "TuningLatticeApplication.h"

#include <QLabel>
#include <QtTest>

Q_DECLARE_METATYPE(QList<int>)

namespace {

const QColor prime19(153, 153, 0);

TuningLatticeApplication& app()
{
    return *TuningLatticeApplication::instance();
}

// Brings the model to the transposition made of steps, from 1/1.
void transposeModel(const QList<int>& steps)
{
    LatticeRatio total(1);
    app().lattice().onTransposed(total, 0);
    for (int step : steps)
        app().lattice().onTransposed(total *= *LatticePath(step).ratio(), step);
}

// What the player executes of the queued events, as "Transpose 5".
QStringList sentEvents()
{
    QStringList sent;
    QObject context;
    QObject::connect(
        &app().player(), &PdPlayer::transposed, &context,
        [&sent](const LatticeRatio&, int p) { sent << QString("Transpose %1").arg(p); });
    QObject::connect(&app().player(), &PdPlayer::primeEnabledToggled, &context,
                     [&sent](int p, bool) { sent << QString("PrimeToggle %1").arg(p); });
    app().player().processCommandBuffers();
    return sent;
}

// The widget's own painting, without any background, over magenta.
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
    void initTestCase();
    void init();
    void countsShowBesideTheArrowOfTheMove_data();
    void countsShowBesideTheArrowOfTheMove();
    void arrowRefusedByTheModelIsDisabledAndBlank_data();
    void arrowRefusedByTheModelIsDisabledAndBlank();
    void primeButtonsSwitchOnlyAboveThree_data();
    void primeButtonsSwitchOnlyAboveThree();
    void resetIsOfferedOnlyWhileTransposed();
};

void TransposeWidgetTest::initTestCase()
{
    QVERIFY(app().loadStyleSheet()); // the shipped look
    app().lattice().setDefaults();
    QVERIFY(app().player().init());
}

void TransposeWidgetTest::init()
{
    transposeModel({});
    app().lattice().onBaseFrequencyChanged(440.0f);
    sentEvents();
}

void TransposeWidgetTest::countsShowBesideTheArrowOfTheMove_data()
{
    QTest::addColumn<QList<int>>("steps");
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QColor>("arrow"); // invalid: the window's text colour
    QTest::newRow("+3 after 3, 3") << QList<int>{3, 3} << 3 << "+2" << QColor(81, 115, 182);
    QTest::newRow("-3 after 3, 3") << QList<int>{3, 3} << -3 << "" << QColor();
    QTest::newRow("+5 after -5") << QList<int>{-5} << 5 << "" << QColor();
    QTest::newRow("+2 after 2, 3, 2") << QList<int>{2, 3, 2} << 2 << "+2" << QColor(91, 91, 91);
    QTest::newRow("-19 darkened") << QList<int>{-19} << -19 << "-1" << prime19.darker(120);
}

void TransposeWidgetTest::countsShowBesideTheArrowOfTheMove()
{
    QFETCH(QList<int>, steps);
    QFETCH(int, step);
    QFETCH(QString, label);
    QFETCH(QColor, arrow);
    QLabel count(QStringLiteral("stale"));
    TransposeButton button(step, &count);
    button.setFixedSize(24, 24);
    button.ensurePolished();
    transposeModel(steps);

    QCOMPARE(count.text(), label);
    const QColor fill = arrow.isValid() ? arrow : button.palette().color(QPalette::WindowText);
    // Inside the triangle, and beside its point.
    const QImage painted = paintedAlone(button);
    QCOMPARE(painted.pixelColor(step > 0 ? 10 : 14, 12).name(), fill.name());
    QCOMPARE(painted.pixelColor(step > 0 ? 20 : 3, 12), QColor(Qt::magenta));
}

void TransposeWidgetTest::arrowRefusedByTheModelIsDisabledAndBlank_data()
{
    QTest::addColumn<float>("base");
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("+2 from 11 kHz passes 20 kHz") << 11000.0f << 2 << false;
    QTest::newRow("-2 from 40 Hz reaches 20 Hz") << 40.0f << -2 << true;
}

void TransposeWidgetTest::arrowRefusedByTheModelIsDisabledAndBlank()
{
    QFETCH(float, base);
    QFETCH(int, step);
    QFETCH(bool, allowed);
    QLabel count;
    TransposeButton button(step, &count);
    button.setFixedSize(24, 24);
    app().lattice().onBaseFrequencyChanged(base);

    QCOMPARE(button.isEnabled(), allowed);
    QImage blank(button.size(), QImage::Format_ARGB32);
    blank.fill(Qt::magenta);
    QCOMPARE(paintedAlone(button) == blank, !allowed);
    // An arrow that has not heard of the change yet asks the model on click.
    TransposeButton late(step, &count);
    late.click();
    QCOMPARE(sentEvents(),
             allowed ? QStringList{QString("Transpose %1").arg(step)} : QStringList{});
}

void TransposeWidgetTest::primeButtonsSwitchOnlyAboveThree_data()
{
    QTest::addColumn<int>("prime");
    QTest::addColumn<QColor>("color");
    QTest::newRow("3") << 3 << QColor(81, 115, 182);
    QTest::newRow("7") << 7 << QColor(40, 56, 208);
    QTest::newRow("19 darkened") << 19 << prime19.darker(120);
}

void TransposeWidgetTest::primeButtonsSwitchOnlyAboveThree()
{
    QFETCH(int, prime);
    QFETCH(QColor, color);
    PrimeToggleButton button(prime);
    button.ensurePolished();
    button.resize(button.sizeHint());
    // Left of the number, inside the border.
    const auto shown = [&button] { return button.grab().toImage().pixelColor(3, 10).name(); };
    const bool switchable = prime > 3;
    const QStringList toggle =
        switchable ? QStringList{QString("PrimeToggle %1").arg(prime)} : QStringList{};
    QCOMPARE(shown(), color.name());

    button.click();
    QCOMPARE(sentEvents(), toggle);
    QCOMPARE(button.isChecked(), false);
    QCOMPARE(shown(), (switchable ? color.darker(300) : color).name());
    button.click();
    QCOMPARE(sentEvents(), toggle);
    QCOMPARE(button.isChecked(), switchable);
    QCOMPARE(shown(), color.name());
}

void TransposeWidgetTest::resetIsOfferedOnlyWhileTransposed()
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

int main(int argc, char** argv)
{
    TuningLatticeApplication application(argc, argv);
    TransposeWidgetTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TransposeWidgetTest.moc"
