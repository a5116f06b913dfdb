#pragma once

// One request to the sound engine: a kind and a float argument. Producers
// on any thread build events and hand them to PdPlayer::queueEventGui() or
// queueEventSerial(), which copy them into a command buffer at once; the
// producer keeps ownership and may delete or reuse the event right after.
//
// A plain value; the virtual destructor lets producers delete note events
// through a base pointer. Header-only, so that the model's RFID map can build
// events without linking the sound engine.
class LatticeEvent
{
public:
    // The event kinds, numbered as every producer (screen, RFID map, MIDI
    // map) knows them. Codes outside 0..23 are ignored by the player.
    enum Type : int
    {
        NoteToggle = 0,
        AllNotesOff = 1,
        Transpose = 2,
        VoiceVolumeStep = 3,
        VoiceVolumeSet = 4,
        MasterVolumeStep = 5,
        MasterVolumeSet = 6,
        MonophonicSet = 7,
        PatchStep = 8,
        BaseFrequencySet = 9,
        PrimeToggle = 10,
        Macro1 = 11,
        Macro2 = 12,
        Macro3 = 13,
        Macro4 = 14,
        Macro5 = 15,
        Macro6 = 16,
        Macro7 = 17,
        Macro8 = 18,
        OpenPatch = 19,
        ClosePatch = 20,
        // A held note: NoteOn sounds the path (again, if it sounds already)
        // with the value as its gain, NoteOff stops it however it started.
        NoteOn = 21,
        NoteOff = 22,
        // The patch at position value (from 0) of the patch menu.
        PatchSelect = 23,
    };

    LatticeEvent() = default;
    LatticeEvent(int type, float value) : type_(type), value_(value) {}
    LatticeEvent(const LatticeEvent& other) = default;
    LatticeEvent& operator=(const LatticeEvent& other) = default;
    virtual ~LatticeEvent() = default;

    int type() const { return type_; }
    float value() const { return value_; }

private:
    int type_ = -1;
    float value_ = 0.0f;
};
