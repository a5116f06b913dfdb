#include "Settings.h"

#include "JsonNumbers.h"
#include "QuotedText.h"
#include "ResourceLocation.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonValue>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

void readInt(const QJsonObject& json, const QString& key, int& member)
{
    const QJsonValue value = json.value(key);
    if (value.isDouble())
        member = jsonInt(value);
}

void readFloat(const QJsonObject& json, const QString& key, float& member)
{
    const QJsonValue value = json.value(key);
    if (value.isDouble())
        member = jsonFloat(value);
}

void readBool(const QJsonObject& json, const QString& key, bool& member)
{
    const QJsonValue value = json.value(key);
    if (value.isBool())
        member = value.toBool();
}

// "%1,%2": empty parts are kept, so ",5" gives 0 and 5; a part that is not an
// integer gives 0; parts after the second are ignored. Fewer than two parts
// (a value that is not a string counts as empty text) change nothing.
bool readPair(const QJsonObject& json, const QString& key, int& first, int& second)
{
    const QStringList parts = json.value(key).toString().split(',', Qt::KeepEmptyParts);
    if (parts.size() < 2)
        return false;
    first = parts.at(0).toInt();
    second = parts.at(1).toInt();
    return true;
}

QString pairText(int first, int second)
{
    return QStringLiteral("%1,%2").arg(first).arg(second);
}

// A string out of `allowed`; anything else keeps the member and says so.
void readChoice(const QJsonObject& json, const QString& key, const QStringList& allowed,
                QString& member)
{
    const QJsonValue value = json.value(key);
    if (value.isUndefined())
        return;
    if (value.isString() && allowed.contains(value.toString())) {
        member = value.toString();
        return;
    }
    if (SerializableNode::mayWarnWhileReading())
        qWarning().noquote() << QStringLiteral("Option %1 cannot be %2; using %3.")
                                    .arg(key, quotedText(value.toVariant().toString()),
                                         quotedText(member));
}

void readString(const QJsonObject& json, const QString& key, QString& member)
{
    const QJsonValue value = json.value(key);
    if (value.isString())
        member = value.toString();
}

// An array of strings; entries of another type are dropped with a warning.
void readStringList(const QJsonObject& json, const QString& key, QStringList& member)
{
    const QJsonValue value = json.value(key);
    if (value.isUndefined())
        return;
    if (!value.isArray()) {
        if (SerializableNode::mayWarnWhileReading())
            qWarning().noquote() << QStringLiteral("Option %1 must be a list of texts.").arg(key);
        return;
    }
    member.clear();
    for (const QJsonValue& entry : value.toArray()) {
        if (entry.isString())
            member.append(entry.toString());
        else if (SerializableNode::mayWarnWhileReading())
            qWarning().noquote() << QStringLiteral("Option %1: ignoring an entry that is not a "
                                                   "text.")
                                        .arg(key);
    }
}

// A number within [lowest, highest]; anything else keeps the member and says
// so.
template <typename Number>
void readBounded(const QJsonObject& json, const QString& key, double lowest, double highest,
                 Number& member)
{
    const QJsonValue value = json.value(key);
    if (value.isUndefined())
        return;
    const double number = value.toDouble(std::nan(""));
    if (value.isDouble() && number >= lowest && number <= highest) {
        member = Number(number);
        return;
    }
    if (SerializableNode::mayWarnWhileReading())
        qWarning().noquote() << QStringLiteral("Option %1 cannot be %2; using %3.")
                                    .arg(key, quotedText(value.toVariant().toString()),
                                         QString::number(double(member)));
}

} // namespace

QString Settings::defaultMidiApi()
{
    return QFileInfo::exists(QStringLiteral("/dev/snd/seq")) ? QStringLiteral("alsa")
                                                             : QStringLiteral("jack");
}

Settings::Settings(QObject* parent)
    : SerializableRoot(parent),
      defaultPatch(ResourceLocation::directory() + QStringLiteral("/patches/Sine.pd"))
{
}

bool Settings::init()
{
    return SerializableRoot::init(QStringLiteral("options.json"));
}

void Settings::read(const QJsonObject& json)
{
    readInt(json, QStringLiteral("audioDevice"), audioDevice);
    readInt(json, QStringLiteral("framesPerBuffer"), framesPerBuffer);
    readFloat(json, QStringLiteral("baseFrequency"), baseFrequency);
    readInt(json, QStringLiteral("calibrationFrequency"), calibrationFrequency);
    readChoice(json, QStringLiteral("notation"),
               {QStringLiteral("letters"), QStringLiteral("heji")}, notation);
    readFloat(json, QStringLiteral("masterVolume"), masterVolume);
    readBool(json, QStringLiteral("monophonic"), monophonic);
    const QJsonValue patch = json.value(QStringLiteral("defaultPatch"));
    if (patch.isString())
        defaultPatch = patch.toString();
    readInt(json, QStringLiteral("udpPort"), udpPort);
    readBool(json, QStringLiteral("circlesView"), circlesView);
    int first = 0, second = 0;
    if (readPair(json, QStringLiteral("windowSize"), first, second))
        windowSize = QSize(first, second);
    if (readPair(json, QStringLiteral("windowPos"), first, second))
        windowPos = QPoint(first, second);
    readBool(json, QStringLiteral("windowMaximized"), windowMaximized);
    readChoice(json, QStringLiteral("midiApi"), {QStringLiteral("alsa"), QStringLiteral("jack")},
               midiApi);
    readString(json, QStringLiteral("midiInPort"), midiInPort);
    readString(json, QStringLiteral("midiOutPort"), midiOutPort);
    readChoice(json, QStringLiteral("midiOutMode"),
               {QStringLiteral("off"), QStringLiteral("mpe"), QStringLiteral("mts"),
                QStringLiteral("plain")},
               midiOutMode);
    readBounded(json, QStringLiteral("mpeBendRange"), 1, 96, mpeBendRange);
    readBounded(json, QStringLiteral("synthA4"), 100, 1000, synthA4);
    readBool(json, QStringLiteral("internalSound"), internalSound);
    readBool(json, QStringLiteral("velocitySensitive"), velocitySensitive);
    readString(json, QStringLiteral("udpListen"), udpListen);
    readStringList(json, QStringLiteral("udpAllow"), udpAllow);
    readBounded(json, QStringLiteral("oscPort"), 0, 65535, oscPort);
    readString(json, QStringLiteral("oscListen"), oscListen);
    readStringList(json, QStringLiteral("oscAllow"), oscAllow);
    readString(json, QStringLiteral("oscSendHost"), oscSendHost);
    readBounded(json, QStringLiteral("oscSendPort"), 0, 65535, oscSendPort);
}

void Settings::write(QJsonObject& json) const
{
    json.insert(QStringLiteral("audioDevice"), audioDevice);
    json.insert(QStringLiteral("framesPerBuffer"), framesPerBuffer);
    json.insert(QStringLiteral("baseFrequency"), static_cast<double>(baseFrequency));
    json.insert(QStringLiteral("calibrationFrequency"), calibrationFrequency);
    json.insert(QStringLiteral("notation"), notation);
    json.insert(QStringLiteral("masterVolume"), static_cast<double>(masterVolume));
    json.insert(QStringLiteral("monophonic"), monophonic);
    json.insert(QStringLiteral("defaultPatch"), defaultPatch);
    json.insert(QStringLiteral("udpPort"), udpPort);
    json.insert(QStringLiteral("circlesView"), circlesView);
    json.insert(QStringLiteral("windowSize"), pairText(windowSize.width(), windowSize.height()));
    json.insert(QStringLiteral("windowPos"), pairText(windowPos.x(), windowPos.y()));
    json.insert(QStringLiteral("windowMaximized"), windowMaximized);
    json.insert(QStringLiteral("midiApi"), midiApi);
    json.insert(QStringLiteral("midiInPort"), midiInPort);
    json.insert(QStringLiteral("midiOutPort"), midiOutPort);
    json.insert(QStringLiteral("midiOutMode"), midiOutMode);
    json.insert(QStringLiteral("mpeBendRange"), mpeBendRange);
    json.insert(QStringLiteral("synthA4"), static_cast<double>(synthA4));
    json.insert(QStringLiteral("internalSound"), internalSound);
    json.insert(QStringLiteral("velocitySensitive"), velocitySensitive);
    json.insert(QStringLiteral("udpListen"), udpListen);
    json.insert(QStringLiteral("udpAllow"), QJsonArray::fromStringList(udpAllow));
    json.insert(QStringLiteral("oscPort"), oscPort);
    json.insert(QStringLiteral("oscListen"), oscListen);
    json.insert(QStringLiteral("oscAllow"), QJsonArray::fromStringList(oscAllow));
    json.insert(QStringLiteral("oscSendHost"), oscSendHost);
    json.insert(QStringLiteral("oscSendPort"), oscSendPort);
}

void Settings::onAudioDeviceChanged(int value)
{
    audioDevice = value;
}

void Settings::onFramesPerBufferChanged(int value)
{
    framesPerBuffer = value;
}

void Settings::onBaseFrequencyChanged(float value)
{
    baseFrequency = value;
}

void Settings::onCalibrationFrequencyChanged(int value)
{
    calibrationFrequency = value;
}

void Settings::onMasterVolumeChanged(float value)
{
    masterVolume = value;
}

void Settings::onMonophonicChanged(bool value)
{
    monophonic = value;
}
