#include "JackTestServer.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <cstring>

namespace {

QString serverScript()
{
    return qEnvironmentVariable("LATTICE_SOURCE_DIR") +
           QStringLiteral("/scripts/jack-test-server.sh");
}

} // namespace

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
    const QStringList lines = QString::fromUtf8(script.readAllStandardOutput()).split('\n');
    for (const QString& line : lines)
        if (line.startsWith(QLatin1String("JACK_DEFAULT_SERVER=")))
            name_ = line.section('=', 1);
    if (name_.isEmpty())
        error_ = QStringLiteral("the JACK test server script named no server");
}

JackTestServer::~JackTestServer()
{
    if (!isRunning())
        return;
    QProcess::execute(QStringLiteral("bash"), {serverScript(), QStringLiteral("stop"), name_});
}

void JackTestServer::addTo(QProcessEnvironment& environment) const
{
    environment.insert(QStringLiteral("JACK_DEFAULT_SERVER"), name_);
    environment.insert(QStringLiteral("JACK_NO_START_SERVER"), QStringLiteral("1"));
}

std::vector<float> JackTestServer::record(const QString& port, const QString& take) const
{
    QProcess recorder;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    addTo(environment);
    recorder.setProcessEnvironment(environment);
    recorder.start(QStringLiteral("jack_rec"), {"-f", take, "-d", "1", port});
    if (!recorder.waitForFinished(10000) || recorder.exitCode() != 0)
        return {};
    QProcess sox;
    sox.start(QStringLiteral("sox"), {take, "-t", "f32", "-", "remix", "1", "trim", "0.5"});
    sox.waitForFinished(10000);
    const QByteArray bytes = sox.readAllStandardOutput();
    std::vector<float> samples(std::size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}
