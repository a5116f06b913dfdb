#include "AudioOutput.h"

AudioOutput::AudioOutput(QObject* parent) : QObject(parent) {}

AudioOutput::~AudioOutput() = default;

void AudioOutput::setSelectedDevice(int index)
{
    selectedDevice_ = index;
    emit selectedDeviceChanged(index);
}
