#pragma once

#include "LatticeNoteEvent.h"
#include "PdPlayer.h"
#include "ToneAnalysis.h"

#include <vector>

// Queues an event, or the toggle of the note at path, as the screen sends it.
inline void queue(PdPlayer& player, int type, float value)
{
    const LatticeEvent event(type, value);
    player.queueEventGui(&event);
}
inline void toggle(PdPlayer& player, const QString& path)
{
    const LatticeNoteEvent event(path);
    player.queueEventGui(&event);
}

// Interleaved stereo in blocks of 256, as the audio callback renders, on this thread.
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
inline std::vector<float> renderLeft(PdPlayer& player, int frames, bool muted = false)
{
    return ToneAnalysis::channel(renderFrames(player, frames, muted), 0);
}
