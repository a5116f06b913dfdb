#include "JackRecorder.h"

#include <algorithm>

JackRecorder::JackRecorder()
{
    client_ = jack_client_open("lattice-recorder", JackNoStartServer, nullptr);
    if (!client_)
        return;
    for (int i = 0; i < 2; ++i)
        inputs_[i] = jack_port_register(client_, i == 0 ? "in_left" : "in_right",
                                        JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    if (!inputs_[0] || !inputs_[1] || jack_set_process_callback(client_, &process, this) != 0 ||
        jack_activate(client_) != 0) {
        jack_client_close(client_);
        client_ = nullptr;
    }
}

JackRecorder::~JackRecorder()
{
    if (client_)
        jack_client_close(client_);
}

bool JackRecorder::connect(const QString& left, const QString& right)
{
    return client_ &&
           jack_connect(client_, left.toUtf8().constData(), jack_port_name(inputs_[0])) == 0 &&
           jack_connect(client_, right.toUtf8().constData(), jack_port_name(inputs_[1])) == 0;
}

bool JackRecorder::record(int frames, int timeoutMs)
{
    if (!client_ || frames <= 0)
        return false;
    left_.assign(std::size_t(frames), 0.0f);
    right_.assign(std::size_t(frames), 0.0f);
    recorded_ = 0;
    recording_.store(true, std::memory_order_release);
    // The acquire load pairs with the process thread's release store, so the
    // samples are visible here (and to the thread sanitizer).
    if (done_.tryAcquire(1, timeoutMs))
        return !recording_.load(std::memory_order_acquire);
    recording_.store(false, std::memory_order_release);
    return false;
}

int JackRecorder::process(jack_nframes_t frames, void* self)
{
    auto* recorder = static_cast<JackRecorder*>(self);
    if (!recorder->recording_.load(std::memory_order_acquire))
        return 0;
    const std::size_t at = recorder->recorded_;
    const std::size_t count = std::min<std::size_t>(frames, recorder->left_.size() - at);
    std::vector<float>* channels[2] = {&recorder->left_, &recorder->right_};
    for (int i = 0; i < 2; ++i) {
        const auto* in =
            static_cast<const float*>(jack_port_get_buffer(recorder->inputs_[i], frames));
        std::copy(in, in + count, channels[i]->begin() + std::ptrdiff_t(at));
    }
    recorder->recorded_ += count;
    if (recorder->recorded_ == recorder->left_.size()) {
        recorder->recording_.store(false, std::memory_order_release);
        recorder->done_.release();
    }
    return 0;
}
