#pragma once

#include "RecordingTap.h"
#include "WavWriter.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

class PdPlayer;

// Records a take: the instrument's output into a 32-bit float WAV file and
// every event the player executed into a score beside it (ScoreFile.h),
// named by the date and time the take began. The audio thread only fills
// the tap's rings; a thread of this recorder's writes the files. A write
// that fails (a full disk) ends the take: what was written stays a valid
// WAV file, and finished() says why. The sound is never disturbed.
//
// start() and stop() on the GUI thread; finished() is emitted there too.
class PerformanceRecorder : public QObject
{
    Q_OBJECT

public:
    // Gives the player its tap, for the player's lifetime.
    explicit PerformanceRecorder(PdPlayer* player, QObject* parent = nullptr);
    ~PerformanceRecorder() override;

    // Starts a take in `folder` (made when missing) at the stream's rate;
    // false with the reason when the folder or the files cannot be made.
    bool start(const QString& folder, int sampleRate, const QString& voice, QString* why = nullptr);
    // Asks the audio thread to end the take after its next block; the files
    // are closed once the rest is written, then finished() comes.
    void stop();
    // stop(), then waits up to `ms` for the audio thread to end the take
    // and for the files to close; a take no block ends (the stream has
    // stopped) is ended where it is.
    void stopAndWait(int ms = 2000);
    bool isRecording() const { return writer_.joinable(); }
    QString wavPath() const { return wavPath_; }
    QString scorePath() const { return scorePath_; }
    // Frames written to the WAV file so far; any thread.
    qint64 framesWritten() const { return framesWritten_.load(std::memory_order_relaxed); }

    // For tests: the tap, to play blocks into without a sound card.
    RecordingTap& tap() { return tap_; }

signals:
    // The take is closed: `error` is empty, or says why it ended early.
    void finished(QString wavPath, QString error);

private:
    void run();
    bool writeHeader();
    void finish(const QString& error);

    PdPlayer* player_;
    RecordingTap tap_;
    std::thread writer_;
    WavWriter wav_;
    QFile score_;
    QString wavPath_;
    QString scorePath_;
    QString voice_;
    int sampleRate_ = 0;
    std::atomic<qint64> framesWritten_{0};
};
