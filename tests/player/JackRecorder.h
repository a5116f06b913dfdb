#pragma once

#include <QSemaphore>
#include <QString>
#include <atomic>
#include <jack/jack.h>
#include <vector>

// A JACK client that records what another client plays on two input ports.
// It joins the server named by JACK_DEFAULT_SERVER and never starts one.
// Driven and read on the test's thread; JACK's process thread records.
class JackRecorder
{
public:
    JackRecorder();
    ~JackRecorder();
    JackRecorder(const JackRecorder&) = delete;
    JackRecorder& operator=(const JackRecorder&) = delete;

    int sampleRate() const { return client_ ? int(jack_get_sample_rate(client_)) : 0; }
    // Connects two output ports (such as "PortAudio:out_0") to the inputs.
    bool connect(const QString& left, const QString& right);
    // Records the next `frames` frames; false if they did not arrive in time.
    bool record(int frames, int timeoutMs);
    const std::vector<float>& left() const { return left_; }
    const std::vector<float>& right() const { return right_; }

private:
    static int process(jack_nframes_t frames, void* self);

    jack_client_t* client_ = nullptr;
    jack_port_t* inputs_[2] = {nullptr, nullptr};
    std::vector<float> left_;
    std::vector<float> right_;
    std::atomic<bool> recording_{false};
    std::size_t recorded_ = 0; // process thread only while recording_
    QSemaphore done_;
};
