#pragma once

#include "AudioOutput.h"

#include <atomic>
#include <thread>

// An audio output without a device: its "stream" is a thread that calls
// PdPlayer::processBlock() in a loop, as a device callback would. It can also
// pretend to run a stream whose callback never comes (stalled). Controlled
// from the test's thread.
class TestAudioOutput : public AudioOutput
{
    Q_OBJECT

public:
    explicit TestAudioOutput(PdPlayer* player, int framesPerBuffer = 256);
    ~TestAudioOutput() override { stopStream(); }

    bool init(int framesPerBuffer, int device, PdPlayer* player) override;
    void term() override { stopStream(); }
    QList<QString> devices() const override { return {QStringLiteral("Test: block loop")}; }
    void logDevices() const override {}
    bool selectDevice(int index) override;
    void mute() override;
    void unmute() override { muted_ = false; }
    bool isStreamRunning() const override { return running_ || stalled_; }

    void startStream();
    void stallStream();
    void stopStream();

    long long blocks() const { return blocks_; } // rendered so far
    int muteCalls() const { return muteCalls_; }
    bool isMuted() const { return muted_; }

private:
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stalled_{false};
    std::atomic<bool> muted_{false};
    std::atomic<long long> blocks_{0};
    int muteCalls_ = 0;
};
