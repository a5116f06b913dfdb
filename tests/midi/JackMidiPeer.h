#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

struct _jack_client;
struct _jack_port;

// A JACK client that plays a keyboard into the program and listens to what
// comes back: a MIDI output connected to the program's input port, a MIDI
// input fed by the program's output port, and an audio input fed by the
// program's first channel. Times are JACK frames, so that what it sends and
// what it hears share one clock. Test thread, except where it says.
class JackMidiPeer
{
public:
    struct Event
    {
        std::uint64_t frame = 0;
        std::vector<std::uint8_t> bytes;
    };

    // Opens the client on the server JACK_DEFAULT_SERVER names.
    JackMidiPeer();
    ~JackMidiPeer();
    JackMidiPeer(const JackMidiPeer&) = delete;
    JackMidiPeer& operator=(const JackMidiPeer&) = delete;

    bool isOpen() const { return client_ != nullptr; }
    QString error() const { return error_; }
    // Connects to the program's ports (with `keys`, ours to its input too;
    // with `synth`, its MIDI output to ours); false while any is missing.
    bool connectProgram(bool keys = true, bool synth = true);

    // Sent at the start of the next cycle; the frame it went out at is in
    // sent().
    void send(std::vector<std::uint8_t> bytes);
    std::vector<Event> sent() const;
    std::vector<Event> received() const;
    // The first frame at or after `from` whose audio was louder than
    // `threshold`, or 0 when none has come yet.
    std::uint64_t firstSoundAfter(std::uint64_t from, float threshold = 1e-4f) const;
    // The last audio heard, up to `frames` of it.
    std::vector<float> recentAudio(int frames) const;
    int sampleRate() const { return sampleRate_; }
    int bufferSize() const { return bufferSize_; }

private:
    static int process(std::uint32_t frames, void* peer);
    int onProcess(std::uint32_t frames);

    _jack_client* client_ = nullptr;
    _jack_port* midiOut_ = nullptr;
    _jack_port* midiIn_ = nullptr;
    _jack_port* audioIn_ = nullptr;
    QString error_;
    int sampleRate_ = 0;
    int bufferSize_ = 0;

    // Shared with the process thread; a test may take a lock in there.
    mutable std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> outgoing_;
    std::vector<Event> sent_;
    std::vector<Event> received_;
    // The last ten seconds of audio, and where it ends.
    std::vector<float> audio_;
    std::uint64_t audioEnd_ = 0;
};
