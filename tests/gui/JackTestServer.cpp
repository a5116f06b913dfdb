#include "JackTestServer.h"

#include "ToneAnalysis.h"

#include <QtCore>
#include <cstring>

static QString serverScript()
{
    return qEnvironmentVariable("LATTICE_SOURCE_DIR") + "/scripts/jack-test-server.sh";
}

JackTestServer::JackTestServer()
{
    if (QStandardPaths::findExecutable("jackd").isEmpty()) {
        error_ = "jackd is not installed (Debian package jackd2)";
        return;
    }
    QProcess script;
    const QString owner = QString::number(QCoreApplication::applicationPid());
    script.start("bash", {serverScript(), "start", "--owner", owner});
    if (!script.waitForFinished(60000) || script.exitCode() != 0) {
        error_ = "the JACK test server did not start: " + script.readAllStandardError();
        return;
    }
    for (const QString& line : QString::fromUtf8(script.readAllStandardOutput()).split('\n'))
        if (line.startsWith("JACK_DEFAULT_SERVER="))
            name_ = line.section('=', 1);
    if (name_.isEmpty())
        error_ = "the JACK test server script named no server";
}

JackTestServer::~JackTestServer()
{
    if (isRunning())
        QProcess::execute("bash", {serverScript(), "stop", name_});
}

std::vector<double> JackTestServer::levels(const std::vector<double>& frequencies,
                                           const QString& port) const
{
    QTemporaryDir folder;
    const QString take = folder.filePath("take.wav");
    QProcess recorder, sox;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    addTo(environment);
    recorder.setProcessEnvironment(environment);
    recorder.start("jack_rec", {"-f", take, "-d", "1", port});
    if (recorder.waitForFinished(10000) && recorder.exitCode() == 0)
        sox.start("sox", {take, "-t", "f32", "-r", "44100", "-", "remix", "1", "trim", "0.5"});
    if (!sox.waitForFinished(10000) || sox.exitCode() != 0)
        qWarning("recording failed: %s%s", recorder.readAllStandardError().constData(),
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
