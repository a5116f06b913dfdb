#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <vector>

// A private JACK server on the dummy backend for one test executable, run by
// scripts/jack-test-server.sh: a real, timer-paced audio device for programs
// started by the test. The script also stops the server should the test
// process die without stopping it.
//
// Test thread only.
class JackTestServer
{
public:
    // Starts the server with the script's options (such as --rate 48000) and
    // waits, bounded, until it answers.
    explicit JackTestServer(const QStringList& options = {});
    ~JackTestServer();
    JackTestServer(const JackTestServer&) = delete;
    JackTestServer& operator=(const JackTestServer&) = delete;

    bool isRunning() const { return !name_.isEmpty(); }
    QString name() const { return name_; }
    // Why the server did not start, for QSKIP or QFAIL.
    QString error() const { return error_; }
    // Points PortAudio's JACK host API at this server and keeps JACK from
    // starting a server of its own.
    void addTo(QProcessEnvironment& environment) const;
    // One second of a JACK port recorded into take (jack_rec), its first
    // channel as floats from half a second on, when attacks have settled;
    // empty when the recording failed.
    std::vector<float> record(const QString& port, const QString& take) const;

private:
    QString name_;
    QString error_;
};
