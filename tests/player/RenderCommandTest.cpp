#include "TestPatch.h"
#include "ToneAnalysis.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

// lattice-tool render, run as a separate process the way a user runs it.
class RenderCommandTest : public QObject
{
    Q_OBJECT

private slots:
    void rendersTheFifthOfTheShippedSine();
    void refusesBadInput_data();
    void refusesBadInput();

private:
    struct Run
    {
        int status;
        QString standardError;
    };
    Run render(const QStringList& arguments);
    // The samples of a 16-bit stereo 44.1 kHz WAV file, or nothing.
    static std::vector<float> readWav(const QString& path);

    QTemporaryDir dir;
};

RenderCommandTest::Run RenderCommandTest::render(const QStringList& arguments)
{
    QProcess tool;
    tool.start(QCoreApplication::applicationDirPath() + "/lattice-tool",
               QStringList{"render"} + arguments);
    if (!tool.waitForFinished(60000))
        return {-1, QString()};
    return {tool.exitCode(), QString::fromLocal8Bit(tool.readAllStandardError())};
}

std::vector<float> RenderCommandTest::readWav(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    if (bytes.size() < 44 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return {};
    std::vector<float> samples;
    bool formatOk = false;
    for (int at = 12; at + 8 <= bytes.size(); at += 8 + int(u32(at + 4))) {
        const QByteArray id = bytes.mid(at, 4);
        if (id == "fmt ")
            formatOk = u16(at + 8) == 1 && u16(at + 10) == 2 && u32(at + 12) == 44100 &&
                       u16(at + 22) == 16;
        if (id == "data" && formatOk)
            for (int i = at + 8; i + 2 <= at + 8 + int(u32(at + 4)); i += 2)
                samples.push_back(qFromLittleEndian<qint16>(bytes.constData() + i) / 32768.0f);
    }
    return samples;
}

void RenderCommandTest::rendersTheFifthOfTheShippedSine()
{
    const QString out = dir.filePath("fifth.wav");
    const Run run = render({"--voice", TestPatch::shippedFolder() + "/Sine.pd", "--play", "/3",
                            "--seconds", "1", "--out", out});
    QCOMPARE(run.status, 0);
    const std::vector<float> samples = readWav(out);
    QCOMPARE(int(samples.size()), 2 * 44100);
    const std::vector<float> left = ToneAnalysis::channel(samples, 0);
    const std::vector<float> steady(left.begin() + 22050, left.end());
    QVERIFY(ToneAnalysis::peakLevel(steady) > 0.01f);
    const double found = ToneAnalysis::dominantFrequency(steady, 44100, 100.0, 2000.0);
    QVERIFY2(std::fabs(found - 660.0) <= 0.5, qPrintable(QString::number(found)));
}

void RenderCommandTest::refusesBadInput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const QString sine = TestPatch::shippedFolder() + "/Sine.pd";
    const QString out = dir.filePath("bad.wav");
    QTest::newRow("missing voice")
        << QStringList{"--voice", "/nonexistent.pd", "--play", "/", "--out", out}
        << "voice patch \"/nonexistent.pd\" not found";
    QTest::newRow("invalid path") << QStringList{"--voice", sine, "--play", "/3,/4", "--out", out}
                                  << "invalid path \"/4\"";
    QTest::newRow("zero seconds") << QStringList{"--voice",   sine, "--play", "/",
                                                 "--seconds", "0",  "--out",  out}
                                  << "--seconds must be above 0";
    QTest::newRow("negative base")
        << QStringList{"--voice", sine, "--play", "/", "--base", "-1", "--out", out}
        << "--base must be above 0 Hz";
    QTest::newRow("unknown option")
        << QStringList{"--voice", sine, "--loud", "--out", out} << "unknown option \"--loud\"";
    QTest::newRow("no output") << QStringList{"--voice", sine, "--play", "/"}
                               << "--out FILE.wav is required";
}

void RenderCommandTest::refusesBadInput()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const Run run = render(arguments);
    QCOMPARE(run.status, 2);
    const QStringList lines = run.standardError.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().startsWith("lattice-tool: render: " + message),
             qPrintable(lines.first()));
    QVERIFY(!QFile::exists(dir.filePath("bad.wav")));
}

QTEST_GUILESS_MAIN(RenderCommandTest)
#include "RenderCommandTest.moc"
