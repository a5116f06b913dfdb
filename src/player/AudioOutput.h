#pragma once

#include <QList>
#include <QObject>
#include <QString>

class PdPlayer;

// The sound device that drives the player: it opens a stream whose callback
// hands every block to PdPlayer::processBlock(), lists the usable devices
// and mutes the output while the patch handshake closes a patch.
//
// Threads: every method runs on the GUI thread; only the stream's callback,
// which a subclass owns, runs on the audio thread.
class AudioOutput : public QObject
{
    Q_OBJECT

public:
    explicit AudioOutput(QObject* parent = nullptr);
    ~AudioOutput() override;

    // (frames per buffer, device index, player). Opens the device, falling
    // back to the default one.
    virtual bool init(int framesPerBuffer, int device, PdPlayer* player) = 0;
    virtual void term() = 0;
    // Device names; list positions are the indexes selectDevice() takes.
    virtual QList<QString> devices() const = 0;
    virtual void logDevices() const = 0;
    // Opens and starts a stream on a device; -1 means the default device.
    virtual bool selectDevice(int index) = 0;
    // While muted the callback still runs the patch but outputs silence.
    virtual void mute() = 0;
    virtual void unmute() = 0;
    // Whether a callback is running that will drain the player's command
    // buffers. The patch handshake waits for the audio thread only then.
    virtual bool isStreamRunning() const = 0;

    // List position of the device whose stream runs, -1 for none.
    int selectedDevice() const { return selectedDevice_; }
    int framesPerBuffer() const { return framesPerBuffer_; }
    PdPlayer* player() const { return player_; }

    // Stores the index and emits selectedDeviceChanged, also when it is
    // unchanged.
    void setSelectedDevice(int index);

signals:
    void selectedDeviceChanged(int index);

protected:
    void setFramesPerBuffer(int frames) { framesPerBuffer_ = frames; }
    void setPlayer(PdPlayer* player) { player_ = player; }

private:
    int selectedDevice_ = -1;
    int framesPerBuffer_ = 256;
    PdPlayer* player_ = nullptr; // not owned
};
