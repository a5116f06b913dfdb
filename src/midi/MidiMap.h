#pragma once

#include "SerializableRoot.h"

#include <QJsonObject>
#include <QString>
#include <array>
#include <memory>

class LatticeEvent;

// What each key, controller and program change of a MIDI keyboard does:
// midi_map.json, in the style of the RFID map, maps members named
// "note N", "cc N" and "program N" (N 0..127) to {"event": kind, "value": v}.
//
// - A note whose value is a lattice path plays that path while the key is
//   held (the kinds NoteOn and NoteOff); a note of any other kind sends its
//   event when the key goes down.
// - A controller of a kind that sets a level (VoiceVolumeSet,
//   MasterVolumeSet, Macro1..Macro8) sets it to the controller's value / 127;
//   of any other kind it sends its event when the controller rises from
//   below 64 to 64 or more, like a button.
// - A program change sends its event.
//
// Unknown members, bad values and paths that do not fit are skipped with one
// warning each naming the member. A missing file is written with the default
// map (defaultMap()). The program never writes the file otherwise.
//
// Loaded on the GUI thread before MIDI input starts; afterwards read only,
// from the MIDI input thread.
class MidiMap : public SerializableRoot
{
    Q_OBJECT

public:
    static constexpr int keyCount = 128;
    // The key that plays the black ball, 1/1, in the default map.
    static constexpr int defaultRootKey = 69;

    explicit MidiMap(QObject* parent = nullptr);
    ~MidiMap() override;

    using SerializableRoot::init;
    // Loads midi_map.json from the data folder, or writes the default map
    // when it is missing. False when it cannot be created, opened or parsed.
    bool init();

    // The event of key, controller or program `number`, or null when it has
    // none or the number lies outside 0..127. A note's path event is a
    // LatticeNoteEvent of kind NoteOn. Valid while the map lives.
    const LatticeEvent* noteEvent(int number) const;
    const LatticeEvent* controllerEvent(int number) const;
    const LatticeEvent* programEvent(int number) const;
    // Whether a controller event of `kind` follows the controller's value.
    static bool isLevelKind(int kind);

    // The default map: keys 0..127 play a 12-note just chromatic scale with
    // 1/1 at key 69 (1/1 16/15 9/8 6/5 5/4 4/3 45/32 3/2 8/5 5/3 9/5 15/8,
    // octaves as steps of 2; a key whose path would not fit is left out),
    // controllers 1..8 the eight macros and 11 (expression) the voice
    // volume, and programs 0..127 choose the patch at that position of the
    // patch menu. The sustain pedal (64) and all notes off (120, 123) are
    // the input's own and not in the map.
    static QJsonObject defaultMap();

    void setDefaults() override;
    // Replaces whatever the map held.
    void read(const QJsonObject& json) override;
    void write(QJsonObject& json) const override;

private:
    using Table = std::array<std::shared_ptr<const LatticeEvent>, keyCount>;
    Table notes_;
    Table controllers_;
    Table programs_;
};
