#include "JackTestServer.h"

#include "ToneAnalysis.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstring>

static QString serverScript()
{
    return qEnvironmentVariable("LATTICE_SOURCE_DIR") +
           QStringLiteral("/scripts/jack-test-server.sh");
}

JackTestServer::JackTestServer(const QStringList& options)
{
    if (QStandardPaths::findExecutable(QStringLiteral("jackd")).isEmpty()) {
        error_ = QStringLiteral("jackd is not installed (Debian package jackd2)");
        return;
    }
    QProcess script;
    script.start(QStringLiteral("bash"),
                 QStringList{serverScript(), QStringLiteral("start"), QStringLiteral("--owner"),
                             QString::number(QCoreApplication::applicationPid())} +
                     options);
    if (!script.waitForFinished(60000) || script.exitCode() != 0) {
        error_ = QStringLiteral("the JACK test server did not start: ") +
                 QString::fromLocal8Bit(script.readAllStandardError());
        return;
    }
    for (const QString& line : QString::fromUtf8(script.readAllStandardOutput()).split('\n'))
        if (line.startsWith(QLatin1String("JACK_DEFAULT_SERVER=")))
            name_ = line.section('=', 1);
    if (name_.isEmpty())
        error_ = QStringLiteral("the JACK test server script named no server");
}

JackTestServer::~JackTestServer()
{
    if (isRunning())
        QProcess::execute(QStringLiteral("bash"), {serverScript(), QStringLiteral("stop"), name_});
}

void JackTestServer::addTo(QProcessEnvironment& environment) const
{
    environment.insert(QStringLiteral("JACK_DEFAULT_SERVER"), name_);
    environment.insert(QStringLiteral("JACK_NO_START_SERVER"), QStringLiteral("1"));
}

std::vector<double> JackTestServer::levels(const std::vector<double>& frequencies,
                                           const QString& port) const
{
    QTemporaryDir folder;
    const QString take = folder.filePath(QStringLiteral("take.wav"));
    QProcess recorder;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    addTo(environment);
    recorder.setProcessEnvironment(environment);
    recorder.start(QStringLiteral("jack_rec"), {"-f", take, "-d", "1", port});
    QProcess sox;
    if (recorder.waitForFinished(10000) && recorder.exitCode() == 0)
        sox.start(QStringLiteral("sox"),
                  {take, "-t", "f32", "-r", "44100", "-", "remix", "1", "trim", "0.5"});
    if (!sox.waitForFinished(10000) || sox.exitCode() != 0)
        qWarning("recording %s failed: %s%s", qPrintable(port),
                 recorder.readAllStandardError().constData(),
                 sox.readAllStandardError().constData());
    const QByteArray bytes = sox.readAllStandardOutput();
    std::vector<float> samples(std::size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    std::vector<double> result;
    for (double frequency : frequencies)
        result.push_back(samples.empty() ? 0.0
                                         : ToneAnalysis::magnitudeAt(samples, frequency, 44100));
    return result;
}

QByteArray JackTestServer::describe(const std::vector<double>& levels)
{
    QByteArray text = "levels";
    for (double level : levels)
        text += ' ' + QByteArray::number(level);
    return text;
}
