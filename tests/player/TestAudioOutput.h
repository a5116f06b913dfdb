#pragma once

#include "AudioOutput.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// An audio output without a device: its "stream" is a thread that calls
// PdPlayer::processBlock() in a loop, as a device callback would. It can
// also pretend to run a stream whose callback never comes (stalled), to
// test what waits on the audio thread.
//
// Threads: controlled from the test's thread; the stream thread only calls
// processBlock() and counts blocks.
class TestAudioOutput : public AudioOutput
{
    Q_OBJECT

public:
    explicit TestAudioOutput(PdPlayer* player, int framesPerBuffer = 256);
    ~TestAudioOutput() override;

    bool init(int framesPerBuffer, int device, PdPlayer* player) override;
    void term() override { stopStream(); }
    QList<QString> devices() const override;
    void logDevices() const override {}
    bool selectDevice(int index) override;
    void mute() override;
    void unmute() override;
    bool isStreamRunning() const override;

    void startStream();
    // Reports a running stream whose callback is never called.
    void stallStream();
    void stopStream();
    // Waits until `count` more blocks have been rendered.
    bool waitForBlocks(int count, int timeoutMs = 5000);

    int muteCalls() const { return muteCalls_; }
    bool isMuted() const { return muted_; }
    // Largest sample of the blocks rendered while muted.
    float loudestMutedSample() const { return loudestMuted_.load(); }

private:
    void run();

    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stalled_{false};
    std::atomic<bool> muted_{false};
    std::atomic<float> loudestMuted_{0.0f};
    int muteCalls_ = 0;
    std::mutex blocksMutex_;
    std::condition_variable blocksRendered_;
    long long blocks_ = 0;
};
