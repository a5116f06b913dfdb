#include "TestAudioOutput.h"

#include "PdPlayer.h"

#include <chrono>
#include <cmath>
#include <vector>

TestAudioOutput::TestAudioOutput(PdPlayer* player, int framesPerBuffer)
{
    init(framesPerBuffer, 0, player);
}

TestAudioOutput::~TestAudioOutput()
{
    stopStream();
}

bool TestAudioOutput::init(int framesPerBuffer, int, PdPlayer* player)
{
    setFramesPerBuffer(PdPlayer::blockAlignedFrames(framesPerBuffer));
    setPlayer(player);
    return true;
}

QList<QString> TestAudioOutput::devices() const
{
    return {QStringLiteral("Test: block loop")};
}

bool TestAudioOutput::selectDevice(int index)
{
    startStream();
    setSelectedDevice(index < 0 ? 0 : index);
    return true;
}

void TestAudioOutput::mute()
{
    ++muteCalls_;
    muted_ = true;
}

void TestAudioOutput::unmute()
{
    muted_ = false;
}

bool TestAudioOutput::isStreamRunning() const
{
    return running_ || stalled_;
}

void TestAudioOutput::startStream()
{
    stopStream();
    running_ = true;
    thread_ = std::thread(&TestAudioOutput::run, this);
}

void TestAudioOutput::stallStream()
{
    stopStream();
    stalled_ = true;
}

void TestAudioOutput::stopStream()
{
    stalled_ = false;
    running_ = false;
    if (thread_.joinable())
        thread_.join();
}

bool TestAudioOutput::waitForBlocks(int count, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(blocksMutex_);
    const long long target = blocks_ + count;
    return blocksRendered_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return blocks_ >= target; });
}

void TestAudioOutput::run()
{
    std::vector<float> buffer(std::size_t(2 * framesPerBuffer()));
    while (running_) {
        const bool muted = muted_;
        player()->processBlock(buffer.data(), framesPerBuffer(), muted);
        if (muted) {
            float loudest = loudestMuted_;
            for (float sample : buffer)
                loudest = std::max(loudest, std::fabs(sample));
            loudestMuted_ = loudest;
        }
        {
            std::lock_guard<std::mutex> lock(blocksMutex_);
            ++blocks_;
        }
        blocksRendered_.notify_all();
        std::this_thread::yield();
    }
}
