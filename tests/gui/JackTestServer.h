#pragma once

#include <QProcessEnvironment>
#include <vector>

// A private JACK server on the dummy backend, run by scripts/jack-test-server.sh,
// which also stops it should the test process die first. Test thread only.
class JackTestServer
{
public:
    JackTestServer(); // bounded
    ~JackTestServer();
    JackTestServer(const JackTestServer&) = delete;
    JackTestServer& operator=(const JackTestServer&) = delete;

    bool isRunning() const { return !name_.isEmpty(); }
    QString name() const { return name_; }
    QString error() const { return error_; } // why it did not start
    // Points PortAudio's JACK host API at this server, and only this one.
    void addTo(QProcessEnvironment& environment) const
    {
        environment.insert("JACK_DEFAULT_SERVER", name_);
        environment.insert("JACK_NO_START_SERVER", "1");
    }
    // The magnitudes of frequencies in what port plays from half a second to a
    // second on, when attacks have settled; zeros (and a warning why) when the
    // recording failed.
    std::vector<double> levels(const std::vector<double>& frequencies,
                               const QString& port = "PortAudio:out_0") const;

private:
    QString name_;
    QString error_;
};
