#pragma once

#include <QProcessEnvironment>
#include <QString>

// A private JACK server on the dummy backend for one test executable, run by
// scripts/jack-test-server.sh: a real, timer-paced audio device for programs
// started by the test. The script also stops the server should the test
// process die without stopping it.
//
// Test thread only.
class JackTestServer
{
public:
    // Starts the server and waits, bounded, until it answers.
    JackTestServer();
    ~JackTestServer();
    JackTestServer(const JackTestServer&) = delete;
    JackTestServer& operator=(const JackTestServer&) = delete;

    bool isRunning() const { return !name_.isEmpty(); }
    // Why the server did not start, for QSKIP or QFAIL.
    QString error() const { return error_; }
    // Points PortAudio's JACK host API at this server and keeps JACK from
    // starting a server of its own.
    void addTo(QProcessEnvironment& environment) const;

private:
    QString name_;
    QString error_;
};
