#pragma once

#include "PdPlayer.h"
#include "PlayerMetaTypes.h"
#include "TestPatch.h"

#include <memory>

// A player with libpd set up for 44.1 kHz stereo and, unless asked otherwise,
// the tests' own patch open directly (no stream runs). Test classes call
// start() and stop() around each test.
struct PlayerFixture
{
    bool start(bool openPatch = true)
    {
        registerPlayerMetaTypes();
        patch = std::make_unique<TestPatch>();
        player = std::make_unique<PdPlayer>();
        if (!patch->isValid() || !player->init())
            return false;
        player->initAudio(2, 44100);
        return !openPatch || player->loadPatch(patch->mainPatch());
    }

    void stop()
    {
        if (player)
            player->term();
        player.reset();
        patch.reset();
    }

    std::unique_ptr<TestPatch> patch;
    std::unique_ptr<PdPlayer> player;
};
