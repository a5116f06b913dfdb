#pragma once

#include "PdPlayer.h"

#include <vector>

// Renders `frames` interleaved stereo frames through the player in blocks
// of 256, as the audio callback would, on the calling thread.
inline std::vector<float> renderFrames(PdPlayer& player, int frames, bool muted = false)
{
    constexpr int blockFrames = 256;
    std::vector<float> out;
    out.reserve(std::size_t(2 * frames));
    std::vector<float> block(2 * blockFrames);
    for (int done = 0; done < frames; done += blockFrames) {
        player.processBlock(block.data(), blockFrames, muted);
        const int keep = std::min(blockFrames, frames - done);
        out.insert(out.end(), block.begin(), block.begin() + 2 * keep);
    }
    return out;
}
