#include "TestPatch.h"
#include "ToneAnalysis.h"
#include "ToolRun.h"

#include <QtTest>

// lattice-tool render, run as a separate process the way a user runs it.
class RenderCommandTest : public QObject
{
    Q_OBJECT

private slots:
    void rendersTheFifthOfTheShippedSine()
    {
        const QString out = dir.filePath("fifth.wav");
        const ToolRun run = runTool({"render", "--voice", TestPatch::shippedFolder() + "/Sine.pd",
                                     "--play", "/3", "--seconds", "1", "--out", out});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        const std::vector<float> samples = readWav(out);
        QCOMPARE(int(samples.size()), 2 * 44100);
        const std::vector<float> left = ToneAnalysis::channel(samples, 0);
        const std::vector<float> steady(left.begin() + 22050, left.end());
        QVERIFY(ToneAnalysis::peakLevel(steady) > 0.01f);
        const double found = ToneAnalysis::dominantFrequency(steady, 44100, 100.0, 2000.0);
        QVERIFY2(std::fabs(found - 660.0) <= 0.5, qPrintable(QString::number(found)));
    }

    // One line on standard error, exit status 2, and no file written.
    void refusesBadInput()
    {
        const QString sine = TestPatch::shippedFolder() + "/Sine.pd", out = dir.filePath("bad.wav");
        for (const auto& [arguments, message] :
             std::initializer_list<std::pair<QStringList, QString>>{
                 {{"--voice", "/nonexistent.pd", "--play", "/", "--out", out},
                  "voice patch \"/nonexistent.pd\" not found"},
                 {{"--voice", sine, "--play", "/3,/4", "--out", out}, "invalid path \"/4\""},
                 {{"--voice", sine, "--play", "/", "--seconds", "0", "--out", out},
                  "--seconds must be above 0"},
                 {{"--voice", sine, "--play", "/"}, "--out FILE.wav is required"}}) {
            const ToolRun run = runTool(QStringList{"render"} + arguments);
            const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
            QVERIFY2(run.exitCode == 2 && lines.size() == 1 &&
                         lines.first().startsWith("lattice-tool: render: " + message),
                     qPrintable(QString::number(run.exitCode) + ' ' + run.err));
            QVERIFY(!QFile::exists(out));
        }
    }

private:
    // The samples of a 16-bit stereo 44.1 kHz WAV with the plain 44-byte header, or nothing.
    static std::vector<float> readWav(const QString& path)
    {
        QFile file(path);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
        const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
        std::vector<float> samples;
        if (bytes.size() < 44 || !bytes.startsWith("RIFF") || bytes.mid(8, 8) != "WAVEfmt " ||
            u16(20) != 1 || u16(22) != 2 || u32(24) != 44100 || u16(34) != 16 ||
            bytes.mid(36, 4) != "data" || u32(40) != quint32(bytes.size() - 44))
            return samples;
        for (int at = 44; at + 2 <= bytes.size(); at += 2)
            samples.push_back(qFromLittleEndian<qint16>(bytes.constData() + at) / 32768.0f);
        return samples;
    }

    QTemporaryDir dir;
};

QTEST_GUILESS_MAIN(RenderCommandTest)
#include "RenderCommandTest.moc"
