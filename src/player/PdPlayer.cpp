#include "PdPlayer.h"

#include "AudioOutput.h"
#include "LatticePath.h"
#include "QuotedText.h"
#include "SanitizerHints.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QThread>
#include <QVector>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <pthread.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <thread>
#include <z_libpd.h>

namespace {

// Debug traces made on the audio thread: off unless the logging rules or
// setAudioTracing() turn them on. Off, a trace costs one atomic read and
// builds no message.
Q_LOGGING_CATEGORY(lcAudio, "lattice.player.audio", QtWarningMsg)

// The player that libpd's hooks reach; set by the constructor.
PdPlayer* hookedPlayer = nullptr;

constexpr int settlePauseMs = 50;
// Handshake tickets travel as the event's float value, which holds whole
// numbers exactly up to 2^24.
constexpr std::uint32_t ticketLimit = 1u << 24;

} // namespace

PdPlayer::PdPlayer(QObject* parent) : QObject(parent)
{
    primeEnabled_.fill(true);
    macroDefaults_.reserve(8);
    hookedPlayer = this;
    noticeTimer_.setInterval(noticeIntervalMs);
    connect(&noticeTimer_, &QTimer::timeout, this, [this] { deliverNotices(); });
}

PdPlayer::~PdPlayer()
{
    if (hookedPlayer == this)
        hookedPlayer = nullptr;
    guiCommandBuffer_.release();
    serialCommandBuffer_.release();
    oscCommandBuffer_.release();
    midiCommandBuffer_.release();
}

bool PdPlayer::init()
{
    if (!guiCommandBuffer_.create()) {
        qCritical() << "failed to allocate gui command buffer";
        return false;
    }
    if (!serialCommandBuffer_.create()) {
        qCritical() << "failed to allocate serial command buffer";
        return false;
    }
    // A keyboard can send thousands of messages in one block; the keyboard's
    // buffer holds sixteen blocks' worth of chunks, executed 1023 a block,
    // so that a flood arrives late but whole, its note offs included.
    if (!midiCommandBuffer_.create(16 * PdMessageBuffer::capacityBytes)) {
        qCritical() << "failed to allocate midi command buffer";
        return false;
    }
    // The same for a control surface, whose bursts can be as large.
    if (!oscCommandBuffer_.create(16 * PdMessageBuffer::capacityBytes)) {
        qCritical() << "failed to allocate osc command buffer";
        return false;
    }
    qWarning() << "calling libpd init";
    libpd_set_printhook(&PdPlayer::pdPrintHook);
    libpd_set_listhook(&PdPlayer::pdListHook);
    // A second player in the same process finds libpd initialised already.
    libpd_init();
    pdInstance_ = libpd_this_instance();
    if (QCoreApplication::instance())
        noticeTimer_.start();
    return true;
}

void PdPlayer::initAudio(int outputChannels, int sampleRate)
{
    qWarning() << "Initialising libpd with sampleRate" << sampleRate;
    libpd_init_audio(0, outputChannels, sampleRate);
    outputFadeStep_ = 1000.0f / (float(std::max(sampleRate, 1)) * float(outputFadeMs));
}

void PdPlayer::term()
{
    qWarning() << "PdPlayer::term...";
    unloadPatch();
}

void PdPlayer::setAudioOutput(AudioOutput* output)
{
    audioOutput_ = output;
}

int PdPlayer::blockAlignedFrames(int requested)
{
    if (requested >= pdBlockFrames && requested % pdBlockFrames == 0)
        return requested;
    constexpr qint64 largest = INT_MAX / pdBlockFrames * pdBlockFrames;
    qint64 aligned = (qint64(requested) + pdBlockFrames - 1) / pdBlockFrames * pdBlockFrames;
    aligned = std::clamp<qint64>(aligned, pdBlockFrames, largest);
    qWarning() << "Frames per buffer" << requested << "is not a positive multiple of"
               << pdBlockFrames << "- using" << aligned;
    return int(aligned);
}

// ---------------------------------------------------------------------------
// Audio block and command buffers

void PdPlayer::processBlock(float* interleavedStereoOut, int frames, bool muted)
{
    if (anyNoteRecordsWanted())
        blockStartNs_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    if (audioThreadPriority_.load(std::memory_order_relaxed) < 0) {
        // Once: a query of the scheduler, no allocation and no lock.
        int policy = 0;
        sched_param parameters{};
        pthread_getschedparam(pthread_self(), &policy, &parameters);
        const bool realTime = policy == SCHED_FIFO || policy == SCHED_RR;
        audioThreadPriority_.store(realTime ? parameters.sched_priority : 0,
                                   std::memory_order_relaxed);
    }
    RecordingTap* tap = recordingTap_.load(std::memory_order_acquire);
    if (tap) {
        if (tap->beginsNow())
            beginRecording(*tap);
        tap->endIfAsked();
    }
    processCommandBuffers();
    if (frames <= 0)
        return;
    const int ticks = frames / pdBlockFrames;
    const int rendered = ticks * pdBlockFrames;
    if (patch_) {
        if (ticks > 0)
            libpd_process_float(ticks, nullptr, interleavedStereoOut);
        std::fill(interleavedStereoOut + 2 * rendered, interleavedStereoOut + 2 * frames, 0.0f);
        fadeOutput(interleavedStereoOut, frames, muted);
    } else {
        std::fill(interleavedStereoOut, interleavedStereoOut + 2 * frames, 0.0f);
    }
    if (tap && tap->isRecording())
        tap->audio(interleavedStereoOut, frames);
}

void PdPlayer::beginRecording(RecordingTap& tap)
{
    RecordingTap::Snapshot snapshot;
    snapshot.transposition = transposition_;
    snapshot.volume = masterVolume_;
    snapshot.voiceVolume = voiceVolume_;
    snapshot.baseFrequency = baseFrequency_;
    snapshot.mono = mono_;
    snapshot.primeEnabled = primeEnabled_;
    snapshot.macros = macroValues_;
    for (const VoiceSlot& slot : voices_)
        if (!slot.isFree() && !slot.released && snapshot.soundingCount < voiceCount)
            snapshot.sounding[std::size_t(snapshot.soundingCount++)] = slot.ratio;
    tap.begin(snapshot);
}

void PdPlayer::fadeOutput(float* interleavedStereo, int frames, bool muted)
{
    const float target = muted ? 0.0f : 1.0f;
    if (outputGain_ == target) {
        if (muted)
            std::fill(interleavedStereo, interleavedStereo + 2 * frames, 0.0f);
        return;
    }
    for (int frame = 0; frame < frames; ++frame) {
        outputGain_ = muted ? std::max(0.0f, outputGain_ - outputFadeStep_)
                            : std::min(1.0f, outputGain_ + outputFadeStep_);
        interleavedStereo[2 * frame] *= outputGain_;
        interleavedStereo[2 * frame + 1] *= outputGain_;
    }
}

void PdPlayer::queueEventGui(const LatticeEvent* event)
{
    guiCommandBuffer_.writeEvent(event);
}

void PdPlayer::queueEventSerial(const LatticeEvent* event)
{
    serialCommandBuffer_.writeEvent(event);
}

bool PdPlayer::queueEventOsc(const LatticeEvent* event)
{
    return oscCommandBuffer_.writeEvent(event);
}

void PdPlayer::queueEventMidi(const LatticeEvent* event)
{
    midiCommandBuffer_.writeEvent(event);
}

void PdPlayer::queueChunkGui(const PdMessageBuffer::Chunk& chunk)
{
    guiCommandBuffer_.writeChunk(&chunk);
}

void PdPlayer::queueChunkMidi(const PdMessageBuffer::Chunk& chunk)
{
    midiCommandBuffer_.writeChunk(&chunk);
}

void PdPlayer::processCommandBuffers()
{
    if (pdInstance_)
        libpd_set_instance(pdInstance_);
    // All waiting controller events run before all waiting OSC events,
    // those before the keyboard's and those before the screen's.
    drain(serialCommandBuffer_);
    drain(oscCommandBuffer_);
    drain(midiCommandBuffer_);
    drain(guiCommandBuffer_);
    for (NoteTap& tap : noteTaps_) {
        if (tap.pushed) {
            tap.pushed = false;
            tap.wakeup.post();
        }
    }
    // Rendering on the player's own thread (the render tool, tests), nobody
    // else would deliver before the caller looks.
    if (std::this_thread::get_id() == ownerThread_)
        deliverNotices(NoteToggles::Each);
}

// ---------------------------------------------------------------------------
// Notices

void PdPlayer::notify(const PlayerNotice& notice)
{
    if (!notices_.push(notice))
        droppedNotices_.fetch_add(1, std::memory_order_relaxed);
}

void PdPlayer::notify(PlayerNotice::Kind kind, int number, float value, const LatticeRatio& ratio)
{
    PlayerNotice notice;
    notice.kind = kind;
    notice.number = number;
    notice.value = value;
    notice.ratio = ratio;
    notify(notice);
}

// A run of note toggles in one delivery reaches the window as each note's
// last state, once: a wand or a keyboard hammering six notes a thousand
// times a second then costs the window a few changes per delivery instead
// of a card built and torn down per toggle. Other notices keep their place
// between the runs. Rendering on this thread hands on every notice.
void PdPlayer::deliverNotices(NoteToggles toggleDelivery)
{
    QVector<QPair<LatticeRatio, bool>> toggles;
    QHash<LatticeRatio, int> toggleIndex;
    const auto emitToggles = [&] {
        for (const auto& toggle : qAsConst(toggles))
            emit noteToggled(toggle.first, toggle.second);
        toggles.clear();
        toggleIndex.clear();
    };
    PlayerNotice notice;
    for (int i = 0; i < noticesPerDelivery && notices_.pop(notice); ++i) {
        if (notice.kind != PlayerNotice::NoteToggled || toggleDelivery == NoteToggles::Each) {
            emitToggles();
            emitNotice(notice);
            continue;
        }
        const auto at = toggleIndex.constFind(notice.ratio);
        if (at != toggleIndex.constEnd()) {
            toggles[*at].second = notice.number != 0;
        } else {
            toggleIndex.insert(notice.ratio, toggles.size());
            toggles.append({notice.ratio, notice.number != 0});
        }
    }
    emitToggles();
    for (int n = patchIncsPending_.exchange(0, std::memory_order_acquire); n > 0; --n)
        emit patchIncRequested();
    for (int n = patchDecsPending_.exchange(0, std::memory_order_acquire); n > 0; --n)
        emit patchDecRequested();
    const quint64 dropped = droppedNotices();
    if (dropped != reportedDrops_) {
        qWarning() << "Player notices lost to a full ring:" << dropped - reportedDrops_;
        reportedDrops_ = dropped;
    }
}

void PdPlayer::emitNotice(const PlayerNotice& notice)
{
    switch (notice.kind) {
    case PlayerNotice::NoteToggled:
        emit noteToggled(notice.ratio, notice.number != 0);
        break;
    case PlayerNotice::Transposed:
        emit transposed(notice.ratio, notice.number);
        break;
    case PlayerNotice::VolumeChanged:
        emit volumeChanged(notice.value);
        break;
    case PlayerNotice::VoiceVolumeChanged:
        emit voiceVolumeChanged(notice.value);
        break;
    case PlayerNotice::BaseFrequencyChanged:
        emit baseFrequencyChanged(notice.value);
        break;
    case PlayerNotice::MonophonicChanged:
        emit monophonicChanged(notice.number != 0);
        break;
    case PlayerNotice::PrimeEnabledToggled:
        emit primeEnabledToggled(notice.number, notice.value != 0.0f);
        break;
    case PlayerNotice::MacroValueChanged:
        emit macroValueChanged(notice.number, notice.value);
        break;
    case PlayerNotice::TransposeNotAStep:
        qWarning() << "Transpose refused: value" << notice.value << "is not a step";
        break;
    case PlayerNotice::TransposeNotAPrime:
        qWarning() << "Transpose refused:" << notice.number << "is not a prime step";
        break;
    case PlayerNotice::TransposeDoesNotFit:
        qWarning().noquote() << "Transpose refused: transposition"
                             << quotedText(notice.ratio.toString()) << "times"
                             << quotedText(notice.other.toString()) << "does not fit";
        break;
    case PlayerNotice::NoteToggleDoesNotFit:
        qWarning().noquote() << "NoteToggle refused: transposition"
                             << quotedText(notice.ratio.toString()) << "times path"
                             << quotedText(LatticePath::fromBytes(notice.path).toString())
                             << "does not fit";
        break;
    case PlayerNotice::PatchSelected:
        emit patchSelectRequested(notice.number);
        break;
    case PlayerNotice::SecondPatchNotOpened:
        qWarning() << "OpenPatch ignored: a patch is open already";
        break;
    }
}

void PdPlayer::setAudioTracing(bool on)
{
    // The category is a plain static object; the macro only hands it out const.
    const_cast<QLoggingCategory&>(lcAudio()).setEnabled(QtDebugMsg, on);
}

bool PdPlayer::isAudioTracing()
{
    return lcAudio().isDebugEnabled();
}

void PdPlayer::drain(PdMessageBuffer& buffer)
{
    buffer.readChunks(chunkList_);
    for (int i = 0; i < chunkList_.count; ++i)
        executeChunk(chunkList_.chunks[std::size_t(i)]);
    chunkList_.count = 0;
}

void PdPlayer::executeChunk(const PdMessageBuffer::Chunk* chunk)
{
    if (RecordingTap* tap = recordingTap_.load(std::memory_order_relaxed);
        tap && tap->isRecording())
        tap->event(*chunk);
    const float value = chunk->value;
    switch (chunk->type) {
    case LatticeEvent::NoteToggle:
    case LatticeEvent::NoteOn:
    case LatticeEvent::NoteOff:
        executeNote(*chunk);
        break;
    case LatticeEvent::PatchSelect:
        // Positions beyond any menu are the window's to refuse.
        if (value >= 0.0f && value < 1.0e6f)
            notify(PlayerNotice::PatchSelected, int(value));
        break;
    case LatticeEvent::AllNotesOff:
        allNotesOff();
        break;
    case LatticeEvent::Transpose: {
        // Halves round upward (2.5 -> 3, -2.5 -> -2); the result is a signed
        // byte, as a path step is.
        const double rounded = std::floor(double(value) + 0.5);
        if (!std::isfinite(rounded)) {
            notify(PlayerNotice::TransposeNotAStep, 0, value);
            break;
        }
        setTransposition(std::int8_t(std::int64_t(std::fmod(rounded, 256.0))));
        break;
    }
    case LatticeEvent::VoiceVolumeStep:
        setVoiceVolume(voiceVolume_ + value);
        break;
    case LatticeEvent::VoiceVolumeSet:
        setVoiceVolume(value);
        break;
    case LatticeEvent::MasterVolumeStep:
        setVolume(masterVolume_ + value);
        break;
    case LatticeEvent::MasterVolumeSet:
        setVolume(value);
        break;
    case LatticeEvent::MonophonicSet:
        setMonophonic(value > 0.5f);
        break;
    case LatticeEvent::PatchStep:
        (value > 0.0f ? patchIncsPending_ : patchDecsPending_)
            .fetch_add(1, std::memory_order_release);
        break;
    case LatticeEvent::BaseFrequencySet:
        setBaseFrequency(value);
        break;
    case LatticeEvent::PrimeToggle:
        // Truncation toward zero maps (-1, 24) onto the flags 0..23; a tag
        // may carry anything else (or NaN), which has no flag.
        if (value > -1.0f && value < float(primeFlagCount))
            togglePrimeEnabled(int(value));
        else
            qCDebug(lcAudio) << "PrimeToggle ignored: no flag for" << value;
        break;
    case LatticeEvent::Macro1:
    case LatticeEvent::Macro2:
    case LatticeEvent::Macro3:
    case LatticeEvent::Macro4:
    case LatticeEvent::Macro5:
    case LatticeEvent::Macro6:
    case LatticeEvent::Macro7:
    case LatticeEvent::Macro8:
        setMacro(chunk->type - 10, value);
        break;
    case LatticeEvent::OpenPatch:
    case LatticeEvent::ClosePatch:
        if (chunk->tag)
            executeHandshakeRequest(*chunk);
        else if (chunk->type == LatticeEvent::OpenPatch)
            openPatch();
        else
            closePatch();
        break;
    default:
        break;
    }
}

void PdPlayer::executeNote(const PdMessageBuffer::Chunk& chunk)
{
    const int key = chunk.tag >= 1 && chunk.tag <= heldKeyCount ? chunk.tag - 1 : -1;
    // A key's release stops what the key started, whatever the transposition
    // and the prime flags have become since.
    if (chunk.type == LatticeEvent::NoteOff && key >= 0) {
        const std::optional<LatticeRatio> held = heldKeys_[std::size_t(key)];
        heldKeys_[std::size_t(key)].reset();
        if (held && isSounding(*held))
            noteOff(*held);
        return;
    }
    const LatticePath path = LatticePath::fromBytes(chunk.path);
    if (!path.isValid())
        return;
    const int prime = std::abs(path.lastStep());
    if (chunk.type != LatticeEvent::NoteOff && !isPrimeEnabled(prime))
        return;
    // A chunk's bytes may hold steps outside the prime table (a path built
    // by append(), or a damaged chunk); such a path has no ratio.
    const std::optional<LatticeRatio> pathRatio = path.ratio();
    if (!pathRatio)
        return;
    if (!transposition_.canMultiplyWith(*pathRatio)) {
        PlayerNotice refused;
        refused.kind = PlayerNotice::NoteToggleDoesNotFit;
        refused.ratio = transposition_;
        refused.path = chunk.path;
        notify(refused);
        return;
    }
    const LatticeRatio ratio = transposition_ * *pathRatio;
    switch (chunk.type) {
    case LatticeEvent::NoteToggle:
        if (isSounding(ratio))
            noteOff(ratio);
        else
            noteOn(ratio);
        break;
    case LatticeEvent::NoteOn: {
        if (key >= 0) {
            // Pressed again without a release in between (a sustained key):
            // what it held before gives way.
            const std::optional<LatticeRatio> held = heldKeys_[std::size_t(key)];
            if (held && *held != ratio && isSounding(*held))
                noteOff(*held);
            heldKeys_[std::size_t(key)] = ratio;
        }
        // Sounding already: struck again, on a fresh voice.
        if (isSounding(ratio))
            noteOff(ratio);
        const float gain = std::isfinite(chunk.value) ? std::clamp(chunk.value, 0.0f, 1.0f) : 1.0f;
        noteOn(ratio, gain);
        break;
    }
    default:
        if (isSounding(ratio))
            noteOff(ratio);
        break;
    }
}

bool PdPlayer::isSounding(const LatticeRatio& ratio) const
{
    const int slot = noteMapSlot(ratio);
    return slot >= 0 && !voices_[std::size_t(slot)].released;
}

// ---------------------------------------------------------------------------
// State setters

void PdPlayer::setTransposition(int prime)
{
    if (prime == 0) {
        transposition_ = LatticeRatio(1);
    } else {
        const std::optional<LatticeRatio> step = LatticePath(prime).ratio();
        if (!step) {
            notify(PlayerNotice::TransposeNotAPrime, prime);
            return;
        }
        if (!transposition_.canMultiplyWith(*step)) {
            PlayerNotice refused;
            refused.kind = PlayerNotice::TransposeDoesNotFit;
            refused.ratio = transposition_;
            refused.other = *step;
            notify(refused);
            return;
        }
        transposition_ *= *step;
    }
    notify(PlayerNotice::Transposed, prime, 0.0f, transposition_);
}

void PdPlayer::setVolume(float volume)
{
    masterVolume_ = volume;
    sendPdVolumeMessage(volume);
    notify(PlayerNotice::VolumeChanged, 0, masterVolume_);
}

void PdPlayer::setVoiceVolume(float volume)
{
    voiceVolume_ = volume;
    notify(PlayerNotice::VoiceVolumeChanged, 0, voiceVolume_);
}

void PdPlayer::setBaseFrequency(float frequency)
{
    baseFrequency_ = frequency;
    notify(PlayerNotice::BaseFrequencyChanged, 0, frequency);
}

void PdPlayer::setMonophonic(bool mono)
{
    mono_ = mono;
    monoVoice_ = -1;
    notify(PlayerNotice::MonophonicChanged, mono_ ? 1 : 0);
}

void PdPlayer::togglePrimeEnabled(int prime)
{
    if (prime < 0 || prime >= primeFlagCount)
        return;
    bool& flag = primeEnabled_[std::size_t(prime)];
    flag = !flag;
    notify(PlayerNotice::PrimeEnabledToggled, prime, flag ? 1.0f : 0.0f);
}

void PdPlayer::setMacro(int macro, float value)
{
    if (macro < 1 || macro > 8)
        return;
    macroValues_[std::size_t(macro - 1)] = value;
    sendPdVoiceMessage(PdVoiceMessageType(VoiceMacro1 + macro - 1), value, -1);
    notify(PlayerNotice::MacroValueChanged, macro, value);
}

bool PdPlayer::isPrimeEnabled(int prime) const
{
    return prime >= 0 && prime < primeFlagCount && primeEnabled_[std::size_t(prime)];
}

// ---------------------------------------------------------------------------
// Outgoing messages

bool PdPlayer::setDsp(bool on) const
{
    const int status = libpd_start_message(1);
    if (status != 0) {
        qCritical().nospace() << "libpd_start_message for setDsp returned error status: " << status;
        return false;
    }
    libpd_add_float(on ? 1.0f : 0.0f);
    libpd_finish_message("pd", "dsp");
    return true;
}

bool PdPlayer::sendPdVoiceMessage(PdVoiceMessageType type, float value, int voice)
{
    const int status = libpd_start_message(3);
    if (status != 0) {
        qCritical().nospace() << "libpd_start_message for lattice-in returned error status: "
                              << status;
        return false;
    }
    qCDebug(lcAudio) << "pd lattice-in message: value" << value << "param" << int(type) << "voice"
                     << voice + 1;
    libpd_add_float(value);
    libpd_add_float(float(type));
    libpd_add_float(float(voice + 1));
    libpd_finish_list("lattice-in");
    return true;
}

bool PdPlayer::sendPdVolumeMessage(float volume)
{
    const int status = libpd_start_message(1);
    if (status != 0) {
        qCritical().nospace() << "libpd_start_message for master-vol returned error status: "
                              << status;
        return false;
    }
    qCDebug(lcAudio) << "pd master-vol message: value" << volume;
    libpd_add_float(volume);
    libpd_finish_list("master-vol");
    return true;
}

bool PdPlayer::sendPdQueryMacrosMessage()
{
    macroQueryPending_ = true;
    const int status = libpd_bang("query-macros");
    if (status != 0) {
        qCritical().nospace() << "libpd_bang for query-macros returned error status: " << status;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Incoming messages

void PdPlayer::pdPrintHook(const char* text)
{
    qCDebug(lcAudio).noquote() << "libPD:" << QString::fromUtf8(text);
}

void PdPlayer::pdListHook(const char* source, int argc, _atom* argv)
{
    PdPlayer* player = hookedPlayer;
    if (!player)
        return;
    if (qstrcmp(source, "voice-stop") == 0) {
        if (argc > 0 && libpd_is_float(argv)) {
            // The patch counts voices from 1; a number with no slot (a
            // foreign or broken patch) is dropped here.
            const float voice = libpd_get_float(argv);
            if (voice >= 1.0f && voice < float(voiceCount + 1))
                player->onVoiceStopped(int(voice) - 1);
            else
                qCDebug(lcAudio) << "voice-stop ignored: no voice" << voice;
        }
        return;
    }
    if (!player->macroQueryPending_ || qstrcmp(source, "output-voice-info") != 0)
        return;
    if (argc > 1) {
        t_atom* second = libpd_next_atom(argv);
        if (libpd_is_symbol(second))
            player->onMacroNamesReceived(libpd_get_symbol(second));
    }
    player->macroQueryPending_ = false;
}

void PdPlayer::onMacroNamesReceived(const char* text)
{
    const QString answer = QString::fromUtf8(text);
    qCDebug(lcAudio).noquote() << "Received macro names:" << answer;
    macroNames_ = answer.split(QLatin1Char(':'));
    macroDefaults_.clear();
    for (QString& name : macroNames_) {
        const int open = name.indexOf(QLatin1Char('('));
        const int close = name.indexOf(QLatin1Char(')'));
        if (open < 0 || open >= close) {
            macroDefaults_.append(-1.0f);
            continue;
        }
        // Unreadable text inside the brackets counts as 0.0.
        macroDefaults_.append(name.mid(open + 1, close - open - 1).toFloat());
        name.truncate(open);
    }
    emit macroNamesReceived(macroNames_);
    emit macroDefaultsReceived(macroDefaults_);
}

// ---------------------------------------------------------------------------
// Voices

void PdPlayer::noteOn(const LatticeRatio& ratio, float gain)
{
    // 0 marks a free slot, so the counter skips it when it wraps.
    if (++sequenceCounter_ == 0)
        sequenceCounter_ = 1;
    const float frequency = frequencyOf(ratio);

    bool stolen = false;
    int chosen = firstFreeSlot();
    if (chosen < 0) {
        chosen = oldestSlot();
        VoiceSlot& victim = voices_[std::size_t(chosen)];
        if (!victim.released)
            noteOff(victim.ratio);
        // Freed at once, without waiting for the patch. The slot is marked
        // released even if note off found no map entry pointing at it.
        if (!victim.isFree()) {
            victim.released = true;
            onVoiceStopped(chosen);
        }
        stolen = true;
    }

    if (mono_) {
        if (monoVoice_ != -1) {
            const VoiceSlot& previous = voices_[std::size_t(monoVoice_)];
            if (!previous.isFree() && !previous.released) {
                qCDebug(lcAudio).noquote() << "turning off previous mono voice" << monoVoice_
                                           << "ratio" << quotedText(previous.ratio.toString());
                noteOff(previous.ratio);
            }
        }
        monoVoice_ = chosen;
    }

    VoiceSlot& slot = voices_[std::size_t(chosen)];
    if (slot.isFree())
        ++busySlots_;
    slot.ratio = ratio;
    slot.index = chosen;
    slot.released = false;
    slot.seq = sequenceCounter_;
    mapSlot(chosen);

    qCDebug(lcAudio).noquote() << "noteOn for ratio" << quotedText(ratio.toString()) << "freq"
                               << frequency << "voice" << chosen << "seqId" << slot.seq << "stolen"
                               << (stolen ? "true" : "false");
    // Outside the audible range the note holds its slot and is reported on,
    // but the patch is not asked to play it.
    if (internalSound_.load(std::memory_order_relaxed) && frequency > 20.0f &&
        frequency < 20000.0f) {
        sendPdVoiceMessage(VoiceFrequency, frequency, chosen);
        sendPdVoiceMessage(VoiceVolume, voiceVolume_ * gain, chosen);
        sendPdVoiceMessage(VoiceGate, 1.0f, chosen);
    }
    recordNote(ratio, frequency, gain, true);
    notify(PlayerNotice::NoteToggled, 1, 0.0f, ratio);
}

void PdPlayer::noteOff(const LatticeRatio& ratio)
{
    const int index = noteMapSlot(ratio);
    if (index < 0)
        return;
    qCDebug(lcAudio).noquote() << "noteOff for ratio" << quotedText(ratio.toString()) << "voice"
                               << index;
    voices_[std::size_t(index)].released = true;
    recordNote(ratio, frequencyOf(ratio), 0.0f, false);
    notify(PlayerNotice::NoteToggled, 0, 0.0f, ratio);
    sendPdVoiceMessage(VoiceGate, 0.0f, index);
    // Without our own sound nothing rings on to report its end; a voice
    // started before the sound was turned off just gets its gate closed.
    if (!internalSound_.load(std::memory_order_relaxed))
        onVoiceStopped(index);
}

void PdPlayer::onVoiceStopped(int index)
{
    if (index < 0 || index >= voiceCount)
        return;
    VoiceSlot& slot = voices_[std::size_t(index)];
    // A report for a slot that has been reused meanwhile is stale.
    if (!slot.released)
        return;
    qCDebug(lcAudio).noquote() << "voice stopped for" << quotedText(slot.ratio.toString())
                               << "voice" << index;
    if (slot.mapped) {
        qCDebug(lcAudio) << "removing voice" << index << "from note map";
        slot.mapped = false;
    }
    slot.released = false;
    if (!slot.isFree())
        --busySlots_;
    slot.seq = 0;
}

void PdPlayer::recordNote(const LatticeRatio& ratio, float frequency, float gain, bool on)
{
    if (!anyNoteRecordsWanted())
        return;
    NoteRecord record;
    record.ratio = ratio;
    record.transposition = transposition_;
    record.frequency = frequency;
    record.gain = gain;
    record.on = on;
    record.blockStartNs = blockStartNs_;
    for (NoteTap& tap : noteTaps_) {
        if (!tap.wanted.load(std::memory_order_relaxed))
            continue;
        if (tap.records.push(record))
            tap.pushed = true;
        else
            tap.dropped.fetch_add(1, std::memory_order_relaxed);
    }
}

void PdPlayer::allNotesOff()
{
    heldKeys_.fill(std::nullopt);
    // The ratios are copied first: a patch may answer a gate-off with a
    // "voice-stop" inside the same libpd call, which edits the map.
    std::array<LatticeRatio, voiceCount> ratios;
    std::size_t count = 0;
    for (const VoiceSlot& slot : voices_)
        if (slot.mapped)
            ratios[count++] = slot.ratio;
    for (std::size_t i = 0; i < count; ++i)
        noteOff(ratios[i]);
}

// The note map lives in the slots: at most one mapped slot per ratio. A
// search of 128 slots costs less than a hash's node allocation, and never
// allocates.
int PdPlayer::noteMapSlot(const LatticeRatio& ratio) const
{
    for (int i = 0; i < voiceCount; ++i) {
        const VoiceSlot& slot = voices_[std::size_t(i)];
        if (slot.mapped && slot.ratio == ratio)
            return i;
    }
    return -1;
}

void PdPlayer::mapSlot(int index)
{
    VoiceSlot& chosen = voices_[std::size_t(index)];
    const int previous = noteMapSlot(chosen.ratio);
    if (previous >= 0)
        voices_[std::size_t(previous)].mapped = false;
    chosen.mapped = true;
}

int PdPlayer::firstFreeSlot() const
{
    if (busySlots_ == voiceCount)
        return -1;
    for (int i = 0; i < voiceCount; ++i)
        if (voices_[std::size_t(i)].isFree())
            return i;
    return -1;
}

int PdPlayer::oldestSlot() const
{
    // Age is the distance from the counter in unsigned 32-bit arithmetic.
    // While every seq lies below 2^31 the largest age is the smallest seq;
    // unlike a plain smallest-seq search it still finds the oldest note once
    // the counter has passed 2^31 or wrapped. The lowest index wins a tie.
    int oldest = 0;
    std::uint32_t oldestAge = 0;
    for (int i = 0; i < voiceCount; ++i) {
        const std::uint32_t age = sequenceCounter_ - voices_[std::size_t(i)].seq;
        if (age > oldestAge) {
            oldest = i;
            oldestAge = age;
        }
    }
    return oldest;
}

float PdPlayer::frequencyOf(const LatticeRatio& ratio) const
{
    return float(ratio.numerator()) / float(ratio.denominator()) * baseFrequency_;
}

// ---------------------------------------------------------------------------
// Patch handshake

bool PdPlayer::isStreamRunning() const
{
    return audioOutput_ && audioOutput_->isStreamRunning();
}

void PdPlayer::unloadPatch()
{
    closeThroughHandshake();
}

// A voice of 128 copies takes some megabytes in small pieces, and the C
// library keeps what a closed patch freed for the process. On an
// installation that steps through the voices for days, resident memory
// would settle at the largest voice ever loaded, so it is handed back to the
// system once the next patch is open (see loadPatch). The audio thread
// allocates nothing at this point, so the library's lock is free for the
// taking.
static void returnFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

bool PdPlayer::closeThroughHandshake()
{
    if (!isStreamRunning()) {
        // No callback would ever run the request: there is no audio thread
        // to race with, so the patch is closed right here.
        qDebug() << "No audio stream running: closing the patch directly";
        closePatch();
        return true;
    }
    audioOutput_->mute();
    qDebug() << "GUI sleep before unload patch";
    QThread::msleep(settlePauseMs);
    bool completed;
    {
        SanitizedMutexLocker lock(&mutex_);
        qDebug() << "GUI waiting for audio thread to unload patch";
        completed = requestFromAudioThread(LatticeEvent::ClosePatch, "unload");
    }
    qDebug() << "GUI sleep after unload patch";
    QThread::msleep(settlePauseMs);
    audioOutput_->unmute();
    qDebug() << "GUI woke up after unloading patch";
    return completed;
}

bool PdPlayer::loadPatch(const QFileInfo& file)
{
    qDebug() << "PdPlayer::loadPatch A";
    // With nothing open there is nothing to close and nothing that could
    // click: the window has just unloaded the old voice with its own two
    // pauses, and a second silent handshake would only add 100 ms to every
    // patch change.
    bool anythingOpen;
    {
        SanitizedMutexLocker lock(&mutex_);
        anythingOpen = patch_ != nullptr;
    }
    if (anythingOpen && !closeThroughHandshake())
        return false;

    SanitizedMutexLocker lock(&mutex_);
    preparedFileName_ = file.fileName().toLocal8Bit();
    preparedDirectory_ = file.path().toLocal8Bit();
    if (isStreamRunning()) {
        qDebug() << "GUI waiting for audio thread to load patch";
        requestFromAudioThread(LatticeEvent::OpenPatch, "load");
    } else {
        qDebug() << "No audio stream running: opening the patch directly";
        lock.unlock();
        openPatch();
        lock.relock();
    }
    qDebug() << "GUI woke up after loading patch";
    const bool opened = preparedFileName_.isEmpty();
    // A prepared patch is consumed by this call either way, so that no later
    // OpenPatch (a controller tag, a request that came too late) opens it.
    preparedFileName_.clear();
    preparedDirectory_.clear();
    lock.unlock();

    // Once, here rather than after the close: opening a patch sorts a new
    // signal chain and only then lets the old one go, so what the closed
    // voice left is only all free from here on.
    returnFreedMemory();
    if (opened)
        emit patchLoaded(file.absoluteFilePath());
    return opened;
}

bool PdPlayer::requestFromAudioThread(LatticeEvent::Type type, const char* what)
{
    lastTicket_ = lastTicket_ + 1 < ticketLimit ? lastTicket_ + 1 : 1;
    const std::uint32_t ticket = lastTicket_;
    awaitedTicket_ = ticket;

    PdMessageBuffer::Chunk chunk{};
    chunk.type = type;
    chunk.tag = 1;
    chunk.value = float(ticket);
    guiCommandBuffer_.writeChunk(&chunk);

    // The mutex has been held since before the request was written, so the
    // audio thread cannot complete it before this wait begins. Waking up is
    // only a hint: the ticket says whether the request ran.
    QDeadlineTimer deadline(handshakeTimeoutMs);
    while (completedTicket_ != ticket) {
        sanitizerRelease(&mutex_);
        const bool woken = handshakeDone_.wait(&mutex_, deadline);
        sanitizerAcquire(&mutex_);
        if (!woken)
            break;
    }
    if (completedTicket_ == ticket)
        return true;

    // Withdrawn: if the callback runs the request later, it will find it
    // stale and leave the patch alone.
    awaitedTicket_ = 0;
    qCritical() << "Audio thread did not answer the request to" << what << "the patch within"
                << handshakeTimeoutMs << "ms";
    return false;
}

void PdPlayer::executeHandshakeRequest(const PdMessageBuffer::Chunk& chunk)
{
    SanitizedMutexLocker lock(&mutex_);
    const std::uint32_t ticket = std::uint32_t(chunk.value);
    if (ticket != awaitedTicket_) {
        qCDebug(lcAudio) << "Skipping a withdrawn patch request" << ticket;
        return;
    }
    if (chunk.type == LatticeEvent::OpenPatch) {
        qCDebug(lcAudio) << "PdPlayer::openPatch()";
        openPreparedPatch();
    } else {
        closeOpenPatch();
    }
    awaitedTicket_ = 0;
    completedTicket_ = ticket;
    handshakeDone_.wakeAll();
}

void PdPlayer::openPatch()
{
    qCDebug(lcAudio) << "PdPlayer::openPatch()";
    if (pdInstance_)
        libpd_set_instance(pdInstance_);
    SanitizedMutexLocker lock(&mutex_);
    openPreparedPatch();
}

void PdPlayer::closePatch()
{
    if (pdInstance_)
        libpd_set_instance(pdInstance_);
    SanitizedMutexLocker lock(&mutex_);
    closeOpenPatch();
}

void PdPlayer::openPreparedPatch()
{
    // Only loadPatch() prepares a patch; an OpenPatch from anywhere else
    // finds nothing to open.
    if (preparedFileName_.isEmpty()) {
        qCDebug(lcAudio) << "OpenPatch ignored: no patch prepared";
        return;
    }
    if (patch_) {
        notify(PlayerNotice::SecondPatchNotOpened);
        return;
    }
    const QString dir = QString::fromLocal8Bit(preparedDirectory_);
    const QString name = QString::fromLocal8Bit(preparedFileName_);
    qWarning().noquote() << "Opening PD patch: " + quotedText(dir) + ' ' + quotedText(name);
    patch_ = libpd_openfile(preparedFileName_.constData(), preparedDirectory_.constData());
    if (!patch_) {
        qCritical().noquote() << "Opening PD patch failed: " + quotedText(dir) + ' ' +
                                     quotedText(name);
        return;
    }
    if (!setDsp(true)) {
        qCritical().noquote() << "setDsp(true) failed after opening: " + quotedText(dir) + ' ' +
                                     quotedText(name);
        return;
    }
    outputVoiceInfoBinding_ = libpd_bind("output-voice-info");
    voiceStopBinding_ = libpd_bind("voice-stop");
    // The patch answers inside this call, through the list hook.
    sendPdQueryMacrosMessage();
    preparedFileName_.clear();
    preparedDirectory_.clear();
}

void PdPlayer::closeOpenPatch()
{
    if (!patch_)
        return;
    qWarning() << "Closing PD patch...";
    allNotesOff();
    setDsp(false);
    if (outputVoiceInfoBinding_) {
        libpd_unbind(outputVoiceInfoBinding_);
        outputVoiceInfoBinding_ = nullptr;
    }
    if (voiceStopBinding_) {
        libpd_unbind(voiceStopBinding_);
        voiceStopBinding_ = nullptr;
    }
    libpd_closefile(patch_);
    patch_ = nullptr;
    macroQueryPending_ = false;
    macroNames_.clear();
    emit macroNamesReceived(macroNames_);
    macroDefaults_.clear();
}
