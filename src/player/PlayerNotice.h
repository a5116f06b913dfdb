#pragma once

#include "LatticePath.h"
#include "LatticeRatio.h"

#include <cstdint>

// What the audio thread tells the rest of the program: a state change that
// becomes one of PdPlayer's signals, or a rare warning whose record is
// written on the receiving thread. A small fixed record, so that it can
// travel through a ring without the audio thread allocating.
struct PlayerNotice
{
    enum Kind : std::int32_t
    {
        NoteToggled,          // ratio; number 1 on, 0 off
        Transposed,           // ratio (the new transposition); number the prime
        VolumeChanged,        // value
        VoiceVolumeChanged,   // value
        BaseFrequencyChanged, // value
        MonophonicChanged,    // number 1 mono, 0 poly
        PrimeEnabledToggled,  // number the prime; value 1 enabled, 0 disabled
        MacroValueChanged,    // number the macro 1..8; value
        PatchSelected,        // number the position in the patch menu
        // Warnings.
        TransposeNotAStep,    // value: what the event carried
        TransposeNotAPrime,   // number: the step
        TransposeDoesNotFit,  // ratio: the transposition; other: the step's ratio
        NoteToggleDoesNotFit, // ratio: the transposition; path: the path
        SecondPatchNotOpened, // a patch is open already
    };

    Kind kind = NoteToggled;
    std::int32_t number = 0;
    float value = 0.0f;
    LatticeRatio ratio;
    LatticeRatio other;
    // For warnings that name a path.
    LatticePath::Bytes path{};
};
