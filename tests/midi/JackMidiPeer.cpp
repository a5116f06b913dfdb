#include "JackMidiPeer.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <cmath>

JackMidiPeer::JackMidiPeer()
{
    jack_status_t status{};
    client_ = jack_client_open("lattice-test-peer", JackNoStartServer, &status);
    if (!client_) {
        error_ = QString("no JACK server (status 0x%1)").arg(int(status), 0, 16);
        return;
    }
    midiOut_ = jack_port_register(client_, "keys", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    midiIn_ = jack_port_register(client_, "synth", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    audioIn_ = jack_port_register(client_, "ear", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    sampleRate_ = int(jack_get_sample_rate(client_));
    bufferSize_ = int(jack_get_buffer_size(client_));
    audio_.assign(std::size_t(sampleRate_) * 10, 0.0f);
    jack_set_process_callback(client_, &JackMidiPeer::process, this);
    if (!midiOut_ || !midiIn_ || !audioIn_ || jack_activate(client_) != 0) {
        error_ = "could not register or activate the peer's ports";
        jack_client_close(client_);
        client_ = nullptr;
    }
}

JackMidiPeer::~JackMidiPeer()
{
    if (client_) {
        jack_deactivate(client_);
        jack_client_close(client_);
    }
}

bool JackMidiPeer::connectProgram(bool keys, bool synth)
{
    const auto join = [this](const char* from, const char* to) {
        const int result = jack_connect(client_, from, to);
        return result == 0 || result == EEXIST;
    };
    const std::string self = jack_get_client_name(client_);
    return (!keys || join((self + ":keys").c_str(), "Tuning Lattice:Tuning Lattice")) &&
           (!synth || join("Tuning Lattice out:Tuning Lattice out", (self + ":synth").c_str())) &&
           join("PortAudio:out_0", (self + ":ear").c_str());
}

void JackMidiPeer::send(std::vector<std::uint8_t> bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    outgoing_.push_back(std::move(bytes));
}

std::vector<JackMidiPeer::Event> JackMidiPeer::sent() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
}

std::vector<JackMidiPeer::Event> JackMidiPeer::received() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::uint64_t JackMidiPeer::firstSoundAfter(std::uint64_t from, float threshold) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t start =
        std::max(from, audioEnd_ - std::min<std::uint64_t>(audioEnd_, audio_.size()));
    for (std::uint64_t frame = start; frame < audioEnd_; ++frame)
        if (std::fabs(audio_[frame % audio_.size()]) > threshold)
            return frame;
    return 0;
}

std::vector<float> JackMidiPeer::recentAudio(int frames) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t count =
        std::min<std::uint64_t>({std::uint64_t(frames), audioEnd_, audio_.size()});
    std::vector<float> samples;
    samples.reserve(count);
    for (std::uint64_t frame = audioEnd_ - count; frame < audioEnd_; ++frame)
        samples.push_back(audio_[frame % audio_.size()]);
    return samples;
}

int JackMidiPeer::process(std::uint32_t frames, void* peer)
{
    return static_cast<JackMidiPeer*>(peer)->onProcess(frames);
}

int JackMidiPeer::onProcess(std::uint32_t frames)
{
    const std::uint64_t cycleStart = jack_last_frame_time(client_);
    std::lock_guard<std::mutex> lock(mutex_);
    void* out = jack_port_get_buffer(midiOut_, frames);
    jack_midi_clear_buffer(out);
    for (const std::vector<std::uint8_t>& bytes : outgoing_) {
        if (jack_midi_event_write(out, 0, bytes.data(), bytes.size()) == 0)
            sent_.push_back({cycleStart, bytes});
    }
    outgoing_.clear();

    void* in = jack_port_get_buffer(midiIn_, frames);
    const std::uint32_t count = jack_midi_get_event_count(in);
    for (std::uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, in, i) == 0)
            received_.push_back(
                {cycleStart + event.time,
                 std::vector<std::uint8_t>(event.buffer, event.buffer + event.size)});
    }

    const auto* samples = static_cast<const float*>(jack_port_get_buffer(audioIn_, frames));
    for (std::uint32_t i = 0; i < frames; ++i)
        audio_[(cycleStart + i) % audio_.size()] = samples[i];
    audioEnd_ = cycleStart + frames;
    return 0;
}
