#include "PerformanceRecorder.h"

#include "PdPlayer.h"
#include "QuotedText.h"
#include "ScalaLattice.h"
#include "ScoreFile.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <vector>

namespace {

// How often the writer looks at the rings: a tenth of what they hold.
constexpr int writerIntervalMs = 20;

} // namespace

PerformanceRecorder::PerformanceRecorder(PdPlayer* player, QObject* parent)
    : QObject(parent), player_(player)
{
    player_->setRecordingTap(&tap_);
}

PerformanceRecorder::~PerformanceRecorder()
{
    stopAndWait();
    player_->setRecordingTap(nullptr);
}

void PerformanceRecorder::stopAndWait(int ms)
{
    if (!writer_.joinable())
        return;
    stop();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (tap_.state() == RecordingTap::State::Stopping &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    tap_.forceEnd();
    writer_.join();
}

bool PerformanceRecorder::start(const QString& folder, int sampleRate, const QString& voice,
                                QString* why)
{
    const auto fail = [why](const QString& reason) {
        qWarning().noquote() << reason;
        if (why)
            *why = reason;
        return false;
    };
    if (isRecording() || tap_.state() != RecordingTap::State::Idle)
        return fail(QStringLiteral("A recording is already going."));
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("Cannot make the folder %1 for recordings.").arg(folder));
    // Two takes begun within a second get a number after the time.
    const QString stem =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH-mm-ss"));
    QString base = QDir(folder).filePath(stem);
    for (int n = 2; QFileInfo::exists(base + QStringLiteral(".wav")); ++n)
        base = QDir(folder).filePath(QStringLiteral("%1 (%2)").arg(stem).arg(n));
    wavPath_ = base + QStringLiteral(".wav");
    scorePath_ = base + QStringLiteral(".jsonl");

    if (!wav_.open(wavPath_, sampleRate, 2, WavWriter::Format::Float32))
        return fail(QStringLiteral("Cannot write the recording %1: %2")
                        .arg(quotedText(wavPath_), wav_.errorString()));
    score_.setFileName(scorePath_);
    if (!score_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        wav_.close();
        QFile::remove(wavPath_);
        return fail(QStringLiteral("Cannot write the score %1: %2")
                        .arg(quotedText(scorePath_), score_.errorString()));
    }
    if (!tap_.arm(sampleRate)) {
        wav_.close();
        score_.close();
        return fail(QStringLiteral("The recording could not be prepared."));
    }
    sampleRate_ = sampleRate;
    voice_ = voice;
    framesWritten_ = 0;
    writer_ = std::thread(&PerformanceRecorder::run, this);
    qWarning().noquote() << "Recording to" << quotedText(wavPath_);
    return true;
}

void PerformanceRecorder::stop()
{
    tap_.stop();
}

bool PerformanceRecorder::writeHeader()
{
    const RecordingTap::Snapshot& state = tap_.snapshot();
    Score::Header header;
    header.sampleRate = sampleRate_;
    header.voice = voice_;
    header.baseFrequency = state.baseFrequency;
    header.volume = state.volume;
    header.voiceVolume = state.voiceVolume;
    header.mono = state.mono;
    header.transposition = stepsForRatio(state.transposition).value_or(QList<int>());
    for (int prime = 0; prime < int(state.primeEnabled.size()); ++prime)
        if (isValidStep(prime) && !state.primeEnabled[std::size_t(prime)])
            header.primesOff.append(prime);
    header.macros = state.macros;
    const LatticeRatio back = state.transposition.reciprocal();
    for (int i = 0; i < state.soundingCount; ++i) {
        LatticeRatio ball = state.sounding[std::size_t(i)];
        if (!ball.canMultiplyWith(back))
            continue;
        ball *= back;
        if (const std::optional<LatticePath> path = pathForRatio(ball))
            header.sounding.append(path->toString());
    }
    header.wav = QFileInfo(wavPath_).fileName();
    const QByteArray line = Score::headerLine(header);
    return score_.write(line) == line.size();
}

void PerformanceRecorder::run()
{
    using State = RecordingTap::State;
    std::vector<float> block(2 * 4096);
    bool headerWritten = false;
    QString error;
    const auto failed = [&](const QString& what) {
        if (error.isEmpty()) {
            error = what;
            tap_.stop(); // the audio thread ends the take; we only drain
        }
    };
    for (;;) {
        const State state = tap_.state();
        const bool ended = state == State::Ended;
        if (!headerWritten && state != State::Armed) {
            headerWritten = true;
            if (!writeHeader())
                failed(QStringLiteral("the score could not be written: ") + score_.errorString());
        }
        for (RecordingTap::Event event; tap_.takeEvent(event);) {
            if (!error.isEmpty())
                continue;
            Score::Event entry;
            entry.frame = event.frame;
            entry.kind = event.chunk.type;
            entry.value = event.chunk.value;
            entry.tag = event.chunk.tag;
            if (entry.kind == 0 || entry.kind == 21 || entry.kind == 22)
                entry.path = LatticePath::fromBytes(event.chunk.path).toString();
            const QByteArray line = Score::eventLine(entry, sampleRate_);
            if (score_.write(line) != line.size())
                failed(QStringLiteral("the score could not be written: ") + score_.errorString());
        }
        for (int frames; (frames = tap_.takeAudio(block.data(), int(block.size() / 2))) > 0;) {
            if (!error.isEmpty())
                continue;
            if (!wav_.write(block.data(), frames))
                failed(QStringLiteral("the sound could not be written: ") + wav_.errorString());
            else
                framesWritten_.fetch_add(frames, std::memory_order_relaxed);
        }
        if (ended)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(writerIntervalMs));
    }
    if (error.isEmpty() && tap_.droppedFrames() > 0) {
        // The writer fell behind: the take keeps its length, with silence
        // where sound was lost (said at the end).
        std::fill(block.begin(), block.end(), 0.0f);
        for (qint64 left = tap_.endFrame() - framesWritten_; left > 0;) {
            const int frames = int(std::min<qint64>(left, qint64(block.size() / 2)));
            wav_.write(block.data(), frames);
            left -= frames;
        }
        error = QStringLiteral("%1 frames of sound were lost").arg(tap_.droppedFrames());
    }
    if (error.isEmpty()) {
        const QByteArray line = Score::endLine(tap_.endFrame(), sampleRate_);
        if (score_.write(line) != line.size())
            error = QStringLiteral("the score could not be written: ") + score_.errorString();
    }
    finish(error);
}

void PerformanceRecorder::finish(const QString& error)
{
    if (!wav_.close() && error.isEmpty())
        qWarning().noquote() << "Closing the recording failed:" << wav_.errorString();
    score_.close();
    tap_.release();
    const QString wav = wavPath_;
    if (error.isEmpty())
        qWarning().noquote() << "Recording ended:" << quotedText(wav);
    else
        qWarning().noquote() << "Recording ended early:" << error;
    // The thread is joined on the GUI thread, before anyone is told.
    QMetaObject::invokeMethod(
        this,
        [this, wav, error] {
            if (writer_.joinable())
                writer_.join();
            emit finished(wav, error);
        },
        Qt::QueuedConnection);
}
