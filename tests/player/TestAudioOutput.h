#pragma once

#include "AudioOutput.h"
#include "PdPlayer.h"

#include <atomic>
#include <thread>
#include <vector>

// An audio output without a device: its "stream" is a thread calling processBlock() in a
// loop, or a stalled one whose callback never comes. Controlled from the test's thread.
class TestAudioOutput : public AudioOutput
{
    Q_OBJECT

public:
    explicit TestAudioOutput(PdPlayer* player) { init(256, 0, player); }
    ~TestAudioOutput() override { stopStream(); }

    bool init(int framesPerBuffer, int, PdPlayer* player) override
    {
        setFramesPerBuffer(PdPlayer::blockAlignedFrames(framesPerBuffer));
        setPlayer(player);
        return true;
    }
    void term() override { stopStream(); }
    QList<QString> devices() const override { return {QStringLiteral("Test: block loop")}; }
    void logDevices() const override {}
    bool selectDevice(int index) override
    {
        startStream();
        setSelectedDevice(std::max(index, 0));
        return true;
    }
    void mute() override
    {
        ++muteCalls_;
        muted_ = true;
    }
    void unmute() override { muted_ = false; }
    bool isStreamRunning() const override { return running_ || stalled_; }

    void startStream()
    {
        stopStream();
        running_ = true;
        thread_ = std::thread([this] {
            std::vector<float> buffer(std::size_t(2 * framesPerBuffer()));
            for (; running_; ++blocks_) {
                player()->processBlock(buffer.data(), framesPerBuffer(), muted_);
                std::this_thread::yield();
            }
        });
    }
    void stallStream()
    {
        stopStream();
        stalled_ = true;
    }
    void stopStream()
    {
        stalled_ = false;
        running_ = false;
        if (thread_.joinable())
            thread_.join();
    }

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
