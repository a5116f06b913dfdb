#include "TestAudioOutput.h"

#include "PdPlayer.h"

#include <vector>

TestAudioOutput::TestAudioOutput(PdPlayer* player, int framesPerBuffer)
{
    init(framesPerBuffer, 0, player);
}

bool TestAudioOutput::init(int framesPerBuffer, int, PdPlayer* player)
{
    setFramesPerBuffer(PdPlayer::blockAlignedFrames(framesPerBuffer));
    setPlayer(player);
    return true;
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

void TestAudioOutput::startStream()
{
    stopStream();
    running_ = true;
    thread_ = std::thread([this] {
        std::vector<float> buffer(std::size_t(2 * framesPerBuffer()));
        while (running_) {
            player()->processBlock(buffer.data(), framesPerBuffer(), muted_);
            ++blocks_;
            std::this_thread::yield();
        }
    });
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
