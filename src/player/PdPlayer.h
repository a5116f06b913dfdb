#pragma once

#include "LatticeEvent.h"
#include "LatticeRatio.h"
#include "NoteRecord.h"
#include "PdMessageBuffer.h"
#include "PlayerNotice.h"
#include "RecordingTap.h"
#include "SpscRing.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QWaitCondition>
#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <thread>

class AudioOutput;
class QFileInfo;
struct _atom;
struct _pdinstance;

// The sound engine: hosts Pure Data through libpd, owns the player state
// (transposition, volumes, base frequency, mono/poly, prime enable flags,
// the 128 voice slots) and talks to the loaded patch through a small fixed
// protocol: three-float lists [value, type, voice] to "lattice-in", one-float
// lists to "master-vol", a bang to "query-macros"; answers come back as
// lists on "output-voice-info" and "voice-stop".
//
// Threads: producers call queueEventGui() (GUI thread) and
// queueEventSerial() (controller thread); the audio thread runs
// processBlock(), which drains both command buffers and executes every
// state change, libpd call and hook while playing. Methods marked "audio
// thread" may also be called by any single thread while no stream runs
// (start-up, the render tool, tests). Signals are emitted on the audio
// thread (patchLoaded on the GUI thread) and reach other objects through
// queued connections. The only lock is the patch handshake's mutex.
class PdPlayer : public QObject
{
    Q_OBJECT

public:
    // The "type" of a message to "lattice-in". Value 0 is never sent.
    enum PdVoiceMessageType : int
    {
        VoiceGate = 1,
        VoiceFrequency = 2,
        VoiceVolume = 3,
        VoiceMacro1 = 4,
        VoiceMacro2 = 5,
        VoiceMacro3 = 6,
        VoiceMacro4 = 7,
        VoiceMacro5 = 8,
        VoiceMacro6 = 9,
        VoiceMacro7 = 10,
        VoiceMacro8 = 11,
    };

    // One of the patch's voices as the player allocates it. Slot i is voice
    // i + 1 in the patch.
    struct VoiceSlot
    {
        LatticeRatio ratio;
        int index = -1;
        // Sequence number of the note the slot last started; 0 means free.
        std::uint32_t seq = 0;
        // Between note off and the patch's "voice-stop" for the slot.
        bool released = false;
        // The note map's entry for `ratio` points at this slot. A released
        // slot may still sound while a newer slot plays the same ratio;
        // only the newer one is mapped.
        bool mapped = false;

        bool isFree() const { return seq == 0; }
    };

    static constexpr int voiceCount = 128;
    static constexpr int primeFlagCount = 24;
    // libpd computes audio in blocks of this many frames.
    static constexpr int pdBlockFrames = 64;
    // How long the GUI waits for a running stream to answer a patch request.
    static constexpr int handshakeTimeoutMs = 2000;
    // Muting and unmuting fade the output over this long instead of
    // stepping, so that a patch change does not click.
    static constexpr int outputFadeMs = 10;
    // Notices that can wait between two deliveries; more are dropped and
    // counted. A delivery hands on at most this many, so that a flood from
    // the controller cannot keep the window's event loop from running.
    static constexpr std::size_t noticeCapacity = 16384;
    static constexpr int noticesPerDelivery = 2048;
    // How often the player's thread delivers notices: about once a frame
    // of the screen.
    static constexpr int noticeIntervalMs = 16;
    // Keys a keyboard can hold notes with, and note records that can wait
    // for the MIDI output.
    static constexpr int heldKeyCount = 128;
    static constexpr std::size_t noteRecordCapacity = 4096;

    explicit PdPlayer(QObject* parent = nullptr);
    ~PdPlayer() override;

    // Creates the command buffers and initialises libpd with the hooks.
    // GUI thread, once, before any stream starts.
    bool init();
    // (output channels, sample rate); the audio output calls it for every
    // device it opens, while no stream runs.
    void initAudio(int outputChannels, int sampleRate);
    // Closes the patch. GUI thread, at shutdown.
    void term();

    // The output whose stream drives this player, or null; mute/unmute and
    // whether a stream runs are asked of it. Not owned. GUI thread.
    void setAudioOutput(AudioOutput* output);

    // Replaces the open patch by `file`; true when it opened with DSP on.
    // Emits patchLoaded with the absolute path on success. GUI thread.
    bool loadPatch(const QFileInfo& file);
    // Closes the open patch, if any. GUI thread.
    void unloadPatch();

    // Frames per buffer that libpd can fill: a positive multiple of 64 is
    // kept, anything else is rounded up to one (at least 64) with a warning.
    static int blockAlignedFrames(int requested);

    // One audio block: executes the waiting events, then renders `frames`
    // interleaved stereo frames from the open patch. With no patch open, or
    // when muted, the buffer is filled with zeros (a muted patch still
    // runs). Frames should be a positive multiple of 64; a remainder is
    // zeroed. Audio thread only.
    void processBlock(float* interleavedStereoOut, int frames, bool muted);

    // Turns the notices that the audio thread left into signals and warning
    // records. The player's own thread only; a timer calls it, and
    // processCommandBuffers() does when it runs on that thread.
    // Toggles of one note that wait together are handed on as its last
    // state only, unless `Each` asks for every one.
    enum class NoteToggles
    {
        LastStateOnly,
        Each
    };
    void deliverNotices(NoteToggles toggleDelivery = NoteToggles::LastStateOnly);
    // Our own voices sound the notes (true, the default), or only whoever
    // reads the note records does. Any thread.
    void setInternalSound(bool on) { internalSound_.store(on, std::memory_order_relaxed); }
    bool internalSound() const { return internalSound_.load(std::memory_order_relaxed); }
    // Every note started or stopped, for the outputs that pass notes on: each
    // listener is switched on by its one reader, which pops its records on
    // its own thread and waits on the wakeup that the audio thread posts
    // after a block that wrote any.
    enum class NoteListener
    {
        Midi,
        Osc
    };
    void setNoteRecordsWanted(bool on, NoteListener listener = NoteListener::Midi)
    {
        tap(listener).wanted.store(on, std::memory_order_relaxed);
    }
    SpscRing<NoteRecord, noteRecordCapacity>&
    noteRecords(NoteListener listener = NoteListener::Midi)
    {
        return tap(listener).records;
    }
    NoteWakeup& noteWakeup(NoteListener listener = NoteListener::Midi)
    {
        return tap(listener).wakeup;
    }
    quint64 droppedNoteRecords(NoteListener listener = NoteListener::Midi)
    {
        return tap(listener).dropped.load(std::memory_order_relaxed);
    }
    // The real-time priority the audio thread runs at (0: none), once a
    // block has run; -1 before. Any thread.
    int audioThreadPriority() const { return audioThreadPriority_.load(std::memory_order_relaxed); }
    // Where a recording takes its blocks and events from; null for none.
    // The tap must outlive the player's streams. GUI thread.
    void setRecordingTap(RecordingTap* tap) { recordingTap_.store(tap, std::memory_order_release); }
    // Notices lost to a full ring since the start. Any thread.
    quint64 droppedNotices() const { return droppedNotices_.load(std::memory_order_relaxed); }

    // Debug traces of the audio thread ("lattice.player.audio") cost
    // allocations and time, so they are off unless the logging rules ask
    // for them (QT_LOGGING_RULES="lattice.player.audio.debug=true") or
    // someone reads them: the diagnostics window turns them on while it is
    // open. Any thread.
    static void setAudioTracing(bool on);
    static bool isAudioTracing();

    // Drains the serial command buffer, then the gui command buffer, and
    // executes every chunk in writing order. It first makes the Pd instance
    // that init() created current on the calling thread: this libpd keeps
    // its instance per thread, and the audio thread is not the one that
    // initialised it. Audio thread only.
    void processCommandBuffers();
    // Audio thread only.
    void executeChunk(const PdMessageBuffer::Chunk* chunk);

    // Voice management. Audio thread only.
    // `gain` scales the voice volume for this note (a key's velocity).
    void noteOn(const LatticeRatio& ratio, float gain = 1.0f);
    void noteOff(const LatticeRatio& ratio);
    void onVoiceStopped(int slot);
    void allNotesOff();

    // Run by OpenPatch and ClosePatch events that carry no handshake ticket
    // (from a controller tag) and by the handshake itself. openPatch() opens
    // only a patch that loadPatch() has prepared. Audio thread only.
    void openPatch();
    void closePatch();

    // State setters of the event kinds. Audio thread only.
    void setTransposition(int prime);
    void setVolume(float volume);
    void setVoiceVolume(float volume);
    void setBaseFrequency(float frequency);
    void setMonophonic(bool mono);
    void togglePrimeEnabled(int prime);
    void setMacro(int macro, float value);

    // The outgoing protocol; false (and a critical record) when libpd
    // refused to start the message. Audio thread only.
    bool setDsp(bool on) const;
    bool sendPdVoiceMessage(PdVoiceMessageType type, float value, int voice);
    bool sendPdVolumeMessage(float volume);
    bool sendPdQueryMacrosMessage();

    // libpd's hooks; they run inside the libpd call that caused them.
    static void pdPrintHook(const char* text);
    static void pdListHook(const char* source, int argc, _atom* argv);
    // Parses "cutoff(0.5):resonance" into names and defaults (-1.0 where a
    // name has none) and emits both. Audio thread only.
    void onMacroNamesReceived(const char* text);

    // Reads of the state for diagnostics and tests. Audio thread only.
    bool isPatchOpen() const { return patch_ != nullptr; }
    const LatticeRatio& transposition() const { return transposition_; }
    float volume() const { return masterVolume_; }
    float voiceVolume() const { return voiceVolume_; }
    float baseFrequency() const { return baseFrequency_; }
    bool isMonophonic() const { return mono_; }
    bool isPrimeEnabled(int prime) const;
    const VoiceSlot& voiceSlot(int slot) const { return voices_[std::size_t(slot)]; }
    // The slot the note map holds for a ratio, -1 for none.
    int noteMapSlot(const LatticeRatio& ratio) const;
    // Lets a test or a benchmark start the sequence counter far along, to
    // exercise what happens when it grows past 2^31 and wraps.
    void restartSequenceAt(std::uint32_t value) { sequenceCounter_ = value; }

public slots:
    // Copy the event into the gui command buffer (GUI thread only) or the
    // serial command buffer (controller thread only).
    void queueEventGui(const LatticeEvent* event);
    // The keyboard's own command buffer, drained after the controller's and
    // before the screen's. MIDI input thread only.
    void queueEventMidi(const LatticeEvent* event);
    // A chunk built by hand (a held key's NoteOn or NoteOff) into the
    // keyboard's or the screen's buffer, by their own producer threads.
    void queueChunkGui(const PdMessageBuffer::Chunk& chunk);
    void queueChunkMidi(const PdMessageBuffer::Chunk& chunk);
    void queueEventSerial(const LatticeEvent* event);
    // OSC's own command buffer, drained right after the controller's. OSC
    // input thread only; false when the buffer was full.
    bool queueEventOsc(const LatticeEvent* event);

signals:
    void noteToggled(LatticeRatio ratio, bool on);
    void transposed(LatticeRatio ratio, int prime);
    void volumeChanged(float volume);
    void voiceVolumeChanged(float volume);
    void baseFrequencyChanged(float freq);
    void monophonicChanged(bool mono);
    void primeEnabledToggled(int prime, bool enabled);
    void macroNamesReceived(QStringList names);
    void macroDefaultsReceived(QList<float> defaults);
    void macroValueChanged(int macro, float value);
    void patchLoaded(QString patchPath);
    void patchDecRequested();
    void patchIncRequested();
    // A PatchSelect event: the patch at `position` of the patch menu.
    void patchSelectRequested(int position);

private:
    void notify(const PlayerNotice& notice);
    void notify(PlayerNotice::Kind kind, int number = 0, float value = 0.0f,
                const LatticeRatio& ratio = {});
    void emitNotice(const PlayerNotice& notice);
    void fadeOutput(float* interleavedStereo, int frames, bool muted);
    void mapSlot(int slot);
    void drain(PdMessageBuffer& buffer);
    // NoteToggle, NoteOn and NoteOff.
    void executeNote(const PdMessageBuffer::Chunk& chunk);
    bool isSounding(const LatticeRatio& ratio) const;
    void recordNote(const LatticeRatio& ratio, float frequency, float gain, bool on);
    void executeHandshakeRequest(const PdMessageBuffer::Chunk& chunk);
    // Bodies of openPatch()/closePatch(); the caller holds the mutex.
    void openPreparedPatch();
    void closeOpenPatch();

    int firstFreeSlot() const;
    int oldestSlot() const;
    float frequencyOf(const LatticeRatio& ratio) const;

    bool isStreamRunning() const;
    // Sends an OpenPatch or ClosePatch request through the gui command
    // buffer and waits, bounded, for the audio thread to run it; false when
    // it did not. The caller holds the mutex.
    bool requestFromAudioThread(LatticeEvent::Type type, const char* what);
    // unloadPatch(), reporting whether the close completed.
    bool closeThroughHandshake();

    PdMessageBuffer guiCommandBuffer_;
    PdMessageBuffer serialCommandBuffer_;
    PdMessageBuffer midiCommandBuffer_;
    PdMessageBuffer oscCommandBuffer_;
    PdMessageBuffer::ChunkList chunkList_;

    _pdinstance* pdInstance_ = nullptr;
    void* patch_ = nullptr;
    LatticeRatio transposition_{1};
    float masterVolume_ = 0.8f;
    float voiceVolume_ = 1.0f;
    float baseFrequency_ = 440.0f;
    bool mono_ = false;
    std::array<bool, primeFlagCount> primeEnabled_;
    int monoVoice_ = -1;
    std::array<VoiceSlot, voiceCount> voices_{};
    std::uint32_t sequenceCounter_ = 0;
    // Slots whose seq is not 0; with all of them busy a note on need not
    // look for a free one.
    int busySlots_ = 0;

    QStringList macroNames_;
    QList<float> macroDefaults_;
    void* outputVoiceInfoBinding_ = nullptr;
    bool macroQueryPending_ = false;
    void* voiceStopBinding_ = nullptr;

    // Guarded by mutex_: the patch loadPatch() prepared, cleared by a
    // successful open; and the tickets of the handshake requests.
    QByteArray preparedFileName_;
    QByteArray preparedDirectory_;
    std::uint32_t lastTicket_ = 0;
    std::uint32_t awaitedTicket_ = 0;
    std::uint32_t completedTicket_ = 0;
    QWaitCondition handshakeDone_;
    QMutex mutex_;

    AudioOutput* audioOutput_ = nullptr;

    // Audio thread: the output's gain while it fades, and the per-frame step.
    float outputGain_ = 1.0f;
    float outputFadeStep_ = 1.0f / (44.1f * outputFadeMs);

    SpscRing<PlayerNotice, noticeCapacity> notices_;
    std::thread::id ownerThread_ = std::this_thread::get_id();
    std::atomic<quint64> droppedNotices_{0};
    quint64 reportedDrops_ = 0;
    // Patch steps the window has still to make. Counted, not queued, so that
    // none is lost when the notice ring overflows in a flood of notes.
    std::atomic<int> patchIncsPending_{0};
    std::atomic<int> patchDecsPending_{0};
    QTimer noticeTimer_;

    // What each keyboard key holds (NoteOn with a key tag). Audio thread.
    std::array<std::optional<LatticeRatio>, heldKeyCount> heldKeys_{};
    std::atomic<bool> internalSound_{true};
    struct NoteTap
    {
        std::atomic<bool> wanted{false};
        SpscRing<NoteRecord, noteRecordCapacity> records;
        NoteWakeup wakeup;
        std::atomic<quint64> dropped{0};
        bool pushed = false; // audio thread
    };
    std::array<NoteTap, 2> noteTaps_;
    NoteTap& tap(NoteListener listener) { return noteTaps_[std::size_t(listener)]; }
    bool anyNoteRecordsWanted() const
    {
        for (const NoteTap& tap : noteTaps_)
            if (tap.wanted.load(std::memory_order_relaxed))
                return true;
        return false;
    }
    std::int64_t blockStartNs_ = 0;
    std::atomic<RecordingTap*> recordingTap_{nullptr};
    std::atomic<int> audioThreadPriority_{-1};
    // The macro values last sent, for a recording's first frame. Audio thread.
    std::array<float, 8> macroValues_{};
    void beginRecording(RecordingTap& tap);
};
