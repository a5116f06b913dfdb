#include "TuningLatticeApplication.h"

#include "LatticeEvent.h"
#include "LatticePath.h"
#include "LatticeRatio.h"
#include "LatticeView.h"
#include "MainWindow.h"
#include "PlayerMetaTypes.h"
#include "QuotedText.h"
#include "ResourceLocation.h"
#include "StartupTrace.h"
#include "TerminationSignalWatcher.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QLocale>
#include <QMessageBox>
#include <QMetaType>
#include <QMutexLocker>
#include <QScreen>
#include <QSequentialIterable>
#include <QStandardPaths>
#include <QStyle>
#include <QTextStream>
#include <QTime>
#include <QTimer>
#include <atomic>
#include <memory>

namespace {

const char* const applicationNameText = "Elsted Tuning Lattice";
const char* const shutdownNotice = "\n\nThe program will now shut down.";

// The application whose handler is installed; the handler is a plain
// function and reaches the log file and the filter words through it.
std::atomic<TuningLatticeApplication*> handlerOwner{nullptr};

// Unattended runs (tests, the demonstration) name a file here so that a
// message box does not wait for a click that never comes.
QString messageLogPath()
{
    return qEnvironmentVariable("LATTICE_MESSAGE_LOG");
}

void appendToMessageLog(const QString& path, const QString& text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    // One JSON array with one string per line keeps the text's own line
    // breaks readable by a test.
    file.write(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact) + '\n');
}

// The source file's name without folder and extension, or nothing when the
// record carries no path with a folder separator.
bool sourceBaseName(const char* file, QString& base)
{
    const QString source = QString::fromLocal8Bit(file);
    int cut = source.lastIndexOf(QLatin1Char('/'));
    if (cut < 0)
        cut = source.lastIndexOf(QLatin1Char('\\'));
    if (cut < 0)
        return false;
    base = source.mid(cut + 1);
    const int dot = base.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        base.truncate(dot);
    return true;
}

// Text up to the first zero byte, as Latin-1.
QString latin1UpToZero(const QByteArray& bytes)
{
    const int zero = bytes.indexOf('\0');
    return QString::fromLatin1(zero < 0 ? bytes : bytes.left(zero));
}

// False after logging the record that names the failure.
bool readStyleSheet(const QString& path, const char* missingText, QString& sheet)
{
    QFile file(path);
    if (!file.exists()) {
        qCritical().noquote() << QString::fromLatin1(missingText).arg(path);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical().noquote() << QStringLiteral("Failed to open file %1 for reading.").arg(path);
        return false;
    }
    sheet += latin1UpToZero(file.readAll());
    return true;
}

// Creation times where the file system records them. Elsewhere the time of
// the last change to the file's inode (ctime) stands in: it too is set when
// a file is copied or installed, whereas the modification time is carried
// over by installers and archive tools, so a newly installed patch could look
// older than the copy it must replace.
void fileTimes(const QFileInfo& source, const QFileInfo& target, QDateTime& sourceTime,
               QDateTime& targetTime)
{
    sourceTime = source.birthTime();
    targetTime = target.birthTime();
    if (sourceTime.isValid() && targetTime.isValid())
        return;
    sourceTime = source.metadataChangeTime();
    targetTime = target.metadataChangeTime();
}

} // namespace

// The icons and the About text are compiled into the gui library; a static
// library's resources are registered only when asked for by name, and the
// macro must be used outside any namespace.
static void registerEmbeddedResources()
{
    Q_INIT_RESOURCE(resources);
}

TuningLatticeApplication::TuningLatticeApplication(int& argc, char** argv)
    : QApplication(argc, argv),
      // The listener keeps a reference to the settings, built after it, and
      // reads them only once its thread starts.
      udpListener_(*std::addressof(settings_)), resourceDirectory_(ResourceLocation::directory())
{
    setApplicationName(QString::fromLatin1(applicationNameText));
    registerEmbeddedResources();
    diagnosticFilters_ = diagnosticFilterWords(arguments().mid(1));

    terminationWatcher_ = new TerminationSignalWatcher(this);
    connect(terminationWatcher_, &TerminationSignalWatcher::terminationRequested, this,
            &TuningLatticeApplication::onTerminationRequested);

    const QString logPath = messageLogPath();
    if (logPath.isEmpty()) {
        messageReporter_ = [](const QString& text) {
            QMessageBox::critical(nullptr, QString::fromLatin1(applicationNameText), text,
                                  QMessageBox::Ok);
        };
    } else {
        messageReporter_ = [logPath](const QString& text) { appendToMessageLog(logPath, text); };
    }
}

TuningLatticeApplication::~TuningLatticeApplication()
{
    delete mainWindow_;
    mainWindow_ = nullptr;
    uninstallMessageHandler();
}

TuningLatticeApplication* TuningLatticeApplication::instance()
{
    return static_cast<TuningLatticeApplication*>(QCoreApplication::instance());
}

QString TuningLatticeApplication::version() const
{
    return QStringLiteral(LATTICE_VERSION);
}

QString TuningLatticeApplication::dataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation);
}

QSet<QString> TuningLatticeApplication::diagnosticFilterWords(const QStringList& arguments)
{
    QSet<QString> words;
    for (QString word : arguments) {
        if (word.startsWith(QLatin1Char('-')))
            word.remove(0, 1);
        words.insert(word.toLower());
    }
    return words;
}

void TuningLatticeApplication::showCriticalMessage(const QString& text) const
{
    if (messageReporter_)
        messageReporter_(text);
}

bool TuningLatticeApplication::init()
{
    registerMetaTypes();
    setStyle(QStringLiteral("Fusion"));

    const QString dataDir = dataDirectory();
    const bool dataDirCreated = QDir().mkpath(dataDir);
    qDebug() << "Config dir:" << dataDir;
    qDebug() << "Resource dir:" << resourceDirectory_;
    if (!dataDirCreated) {
        qCritical("Could not create config directory %s.", qUtf8Printable(dataDir));
        showCriticalMessage(QStringLiteral("Creation of config directory failed.") +
                            shutdownNotice);
        return false;
    }

    openLog();
    StartupTrace::mark("log");

    if (!loadStyleSheet())
        return fail(QStringLiteral("Initialisation of style sheet failed.") + shutdownNotice);

    if (!settings_.init()) {
        const QString text =
            QStringLiteral("Failed to read saved options. All options will be reset to defaults.");
        showCriticalMessage(text);
        qCritical().noquote() << text;
    }

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    StartupTrace::mark("settings");

    if (!player_.init())
        return fail(QStringLiteral("PD initialisation failed. This means no audio playback will be "
                                   "possible.") +
                    shutdownNotice);

    // The patch handshake asks the output whether a stream runs.
    player_.setAudioOutput(&audioOutput_);
    // OSC's output follows the player from the first patch on.
    connectOsc();
    if (!openAudioOutput())
        return false;

    if (!initPatchDirectory())
        return fail(QStringLiteral("Initialisation of patch directory failed. This means no audio "
                                   "playback will be possible.") +
                    shutdownNotice);

    if (!lattice_.init(&player_))
        return fail(QStringLiteral("Lattice initialisation failed.") + shutdownNotice);
    StartupTrace::mark("lattice");

    mainWindow_ = new MainWindow(&lattice_);
    restoreWindowGeometry();
    mainWindow_->show();
    StartupTrace::mark("main-window");

    applySavedSettings();
    startUdpListener();
    if (!midiMap_.init())
        qCritical() << "The MIDI key map could not be read; keys play nothing.";
    startMidi();
    StartupTrace::mark("midi");
    startOsc();

    // A signal taken by a nested loop (a message box above) quit only that
    // loop; the main loop is told as soon as it runs.
    if (terminationRequested_)
        QTimer::singleShot(0, this, &QCoreApplication::quit);
    return true;
}

void TuningLatticeApplication::registerMetaTypes()
{
    qRegisterMetaType<LatticePath>("LatticePath");
    qRegisterMetaType<LatticeRatio>("LatticeRatio");
    qRegisterMetaType<QList<float>>("QList<float>");
    registerPlayerMetaTypes();
    // Qt 5.15 registers this converter along with the type; registering it a
    // second time would only log a warning.
    if (!QMetaType::hasRegisteredConverterFunction<QList<float>,
                                                   QtMetaTypePrivate::QSequentialIterableImpl>())
        QMetaType::registerConverter<QList<float>, QtMetaTypePrivate::QSequentialIterableImpl>(
            QtMetaTypePrivate::QSequentialIterableConvertFunctor<QList<float>>());
}

// Shows the fatal message, then logs it, as every fatal start-up step does.
bool TuningLatticeApplication::fail(const QString& text)
{
    showCriticalMessage(text);
    qCritical().noquote() << text;
    return false;
}

bool TuningLatticeApplication::openAudioOutput()
{
    StartupTrace::mark("audio-open-begin");
    const bool opened =
        audioOutput_.init(settings_.framesPerBuffer, settings_.audioDevice, &player_);
    if (!opened) {
        fail(QStringLiteral("Initialisation of audio device failed. This means no audio playback "
                            "will be possible.") +
             shutdownNotice);
    }
    audioOutput_.logDevices();
    StartupTrace::mark("audio-open-end");
    return opened;
}

// The saved size and place are given to the window before it is first shown.
// A move() made just after show() reaches a window manager before the frame
// exists, so the client area lands where the frame was saved and the window
// climbs by its title bar at every start.
void TuningLatticeApplication::restoreWindowGeometry()
{
    // A size saved on a larger screen (or by hand) is cut to the screen the
    // program starts on, so that no part of the window is out of reach.
    const QScreen* screen = primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    QSize size = settings_.windowSize;
    if (size.width() != -1 || size.height() != -1) {
        if (available.isValid())
            size = size.boundedTo(available.size());
        mainWindow_->resize(size);
    }
    const QPoint position = settings_.windowPos;
    if (position.x() != -1 || position.y() != -1)
        mainWindow_->move(available.isValid() && !available.contains(position) ? available.topLeft()
                                                                               : position);
}

void TuningLatticeApplication::applySavedSettings()
{
    if (settings_.windowMaximized)
        mainWindow_->showMaximized();

    // Queued before the event loop starts, so the player has these values
    // before anything the user does.
    const LatticeEvent baseFrequency(LatticeEvent::BaseFrequencySet, settings_.baseFrequency);
    player_.queueEventGui(&baseFrequency);
    const LatticeEvent volume(LatticeEvent::MasterVolumeSet, settings_.masterVolume);
    player_.queueEventGui(&volume);
    const LatticeEvent monophonic(LatticeEvent::MonophonicSet, settings_.monophonic ? 1.0f : 0.0f);
    player_.queueEventGui(&monophonic);

    connect(&player_, &PdPlayer::baseFrequencyChanged, &settings_,
            &Settings::onBaseFrequencyChanged, Qt::QueuedConnection);
    connect(&player_, &PdPlayer::volumeChanged, &settings_, &Settings::onMasterVolumeChanged,
            Qt::QueuedConnection);
    connect(&player_, &PdPlayer::monophonicChanged, &settings_, &Settings::onMonophonicChanged,
            Qt::QueuedConnection);
}

void TuningLatticeApplication::startUdpListener()
{
    if (!QFileInfo::exists(dataDirectory() + QStringLiteral("/rfid_map.json")))
        return;
    connect(&udpListener_, &UdpListener::eventReceived, &player_, &PdPlayer::queueEventSerial,
            Qt::DirectConnection);
    connect(&udpListener_, &UdpListener::fatalError, this,
            &TuningLatticeApplication::onUdpFatalError, Qt::QueuedConnection);
    udpListener_.start(QThread::InheritPriority);
}

void TuningLatticeApplication::restartUdpListener()
{
    if (udpListener_.isRunning())
        udpListener_.restart();
}

void TuningLatticeApplication::startMidi()
{
    player_.setInternalSound(settings_.internalSound);
    midiInput_.setVelocitySensitive(settings_.velocitySensitive);
    midiInput_.open(settings_.midiApi, settings_.midiInPort);
    MidiOutput::Config output;
    output.api = settings_.midiApi;
    output.port = settings_.midiOutPort;
    output.mode = settings_.midiOutMode;
    output.bendRange = settings_.mpeBendRange;
    output.synthA4 = double(settings_.synthA4);
    midiOutput_.start(output);
}

void TuningLatticeApplication::connectOsc()
{
    connect(&player_, &PdPlayer::transposed, &oscOutput_, &OscOutput::onTransposed);
    connect(&player_, &PdPlayer::volumeChanged, &oscOutput_, &OscOutput::onVolumeChanged);
    connect(&player_, &PdPlayer::voiceVolumeChanged, &oscOutput_, &OscOutput::onVoiceVolumeChanged);
    connect(&player_, &PdPlayer::baseFrequencyChanged, &oscOutput_,
            &OscOutput::onBaseFrequencyChanged);
    connect(&player_, &PdPlayer::monophonicChanged, &oscOutput_, &OscOutput::onMonophonicChanged);
    connect(&player_, &PdPlayer::macroNamesReceived, &oscOutput_, &OscOutput::onMacroNamesReceived);
    connect(&player_, &PdPlayer::macroDefaultsReceived, &oscOutput_,
            &OscOutput::onMacroDefaultsReceived);
    connect(&player_, &PdPlayer::macroValueChanged, &oscOutput_, &OscOutput::onMacroValueChanged);
    connect(
        &oscInput_, &OscInput::patchRequested, this,
        [this] {
            const QString name = oscInput_.takeRequestedPatch();
            if (!name.isEmpty() && mainWindow_ && !mainWindow_->selectPatchNamed(name))
                qWarning().noquote() << "OSC: there is no patch" << quotedText(name);
        },
        Qt::QueuedConnection);
    connect(
        &oscInput_, &OscInput::recordingRequested, this,
        [this] {
            const std::optional<bool> on = oscInput_.takeRequestedRecording();
            if (on && *on && !recorder_.isRecording())
                startRecording();
            else if (on && !*on)
                stopRecording();
        },
        Qt::QueuedConnection);
    connect(&recorder_, &PerformanceRecorder::finished, this,
            &TuningLatticeApplication::onRecordingFinished);
}

bool TuningLatticeApplication::startRecording()
{
    QString why;
    const QString voice = mainWindow_ ? mainWindow_->currentPatchName() : QString();
    const bool started = recorder_.start(dataDirectory() + QStringLiteral("/Recordings"),
                                         PaAudioOutput::sampleRate, voice, &why);
    if (mainWindow_)
        mainWindow_->showRecording(started);
    if (!started)
        showCriticalMessage(tr("Recording could not start.\n\n%1").arg(why));
    return started;
}

void TuningLatticeApplication::stopRecording()
{
    recorder_.stop();
}

void TuningLatticeApplication::onRecordingFinished(const QString& wavPath, const QString& error)
{
    if (mainWindow_)
        mainWindow_->showRecording(false);
    if (!error.isEmpty())
        showCriticalMessage(tr("Recording stopped: %1.\n\nWhat was recorded until then is kept "
                               "in %2.")
                                .arg(error, wavPath));
}

bool TuningLatticeApplication::startOsc(QString* why)
{
    oscInput_.stop();
    oscOutput_.stop();
    if (settings_.oscPort == 0)
        return true;
    // The state the window shows now, for the first subscriber.
    oscOutput_.onBaseFrequencyChanged(settings_.baseFrequency);
    oscOutput_.onVolumeChanged(settings_.masterVolume);
    oscOutput_.onMonophonicChanged(settings_.monophonic);
    oscOutput_.start(settings_.oscSendHost, settings_.oscSendPort, settings_.calibrationFrequency);
    OscInput::Config config;
    config.port = settings_.oscPort;
    config.listen = settings_.oscListen;
    config.allow = settings_.oscAllow;
    if (oscInput_.start(config, why))
        return true;
    oscOutput_.stop();
    return false;
}

bool TuningLatticeApplication::reloadMidiMap()
{
    // The input's thread reads the map; it is closed while the map changes.
    midiInput_.close();
    const bool loaded = midiMap_.load();
    startMidi();
    return loaded;
}

void TuningLatticeApplication::onUdpFatalError(QString error)
{
    showCriticalMessage(tr("Failed to connect to the lattice, only screen-based interaction will "
                           "be possible.\n\nError: %1")
                            .arg(error));
}

void TuningLatticeApplication::onTerminationRequested(int signalNumber)
{
    qWarning() << "Received signal" << signalNumber << "- shutting down";
    terminationRequested_ = true;
    quit();
}

void TuningLatticeApplication::shutdown()
{
    storeWindowState();
    udpListener_.term();
    midiInput_.close();
    midiOutput_.stop();
    oscInput_.stop();
    oscOutput_.stop();
    recorder_.stopAndWait();
    lattice_.saveIfAutoSave();
    player_.term();
    audioOutput_.term();
    settings_.saveIfAutoSave();
    uninstallMessageHandler();
}

void TuningLatticeApplication::storeWindowState()
{
    if (mainWindow_) {
        settings_.circlesView = mainWindow_->currentView()->look() == 0;
        settings_.windowMaximized = mainWindow_->isMaximized();
        // A maximized window keeps the size and place it had before, so that
        // un-maximizing after the next start restores them.
        if (!settings_.windowMaximized) {
            settings_.windowSize = mainWindow_->size();
            settings_.windowPos = mainWindow_->pos();
        }
    }
    settings_.audioDevice = audioOutput_.selectedDevice();
}

bool TuningLatticeApplication::loadStyleSheet()
{
    QString sheet;
    if (!readStyleSheet(resourceDirectory_ + QStringLiteral("/style.qss"),
                        "Failed to find style sheet file %1.", sheet))
        return false;
    if (!readStyleSheet(resourceDirectory_ + QStringLiteral("/style_win.qss"),
                        "Failed to find platform-specific style sheet file %1.", sheet))
        return false;
    setStyleSheet(sheet);
    return true;
}

bool TuningLatticeApplication::copyFile(const QString& source, const QString& target)
{
    const QFileInfo sourceInfo(source);
    const QFileInfo targetInfo(target);
    if (targetInfo.exists()) {
        QDateTime sourceTime, targetTime;
        fileTimes(sourceInfo, targetInfo, sourceTime, targetTime);
        if (!(targetTime < sourceTime))
            return true;
        if (!QFile::remove(target)) {
            qCritical() << "Failed to delete" << target << "before copying";
            return false;
        }
    }
    if (!QFile::copy(source, target)) {
        qCritical() << "Failed to copy" << source << "to" << target;
        return false;
    }
    return true;
}

bool TuningLatticeApplication::initPatchDirectory()
{
    static const char* const shellPatches[] = {"lattice_main.pd", "lattice_vprep.pd",
                                               "equal-loudness.pd", "tb_compressor~.pd",
                                               "tb_compressorUI.pd"};
    const QString target = dataDirectory() + QStringLiteral("/patch");
    if (!QDir().mkpath(target))
        return false;
    const QString source = resourceDirectory_ + QStringLiteral("/patches/shell");
    bool allCopied = true;
    for (const char* name : shellPatches) {
        const QString file = QLatin1Char('/') + QLatin1String(name);
        allCopied = copyFile(source + file, target + file) && allCopied;
    }
    return allCopied;
}

bool TuningLatticeApplication::openLog()
{
    logFile_.setFileName(dataDirectory() + QStringLiteral("/log.txt"));
    rotateLogIfFull();
    // Not in text mode: lines end with a single line feed on every platform.
    if (!logFile_.isOpen() && !logFile_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qCritical().noquote()
            << QStringLiteral("Couldn't open log file %1 for writing.").arg(logFile_.fileName());
        return false;
    }
    handlerOwner.store(this);
    qInstallMessageHandler(&TuningLatticeApplication::messageHandler);
    handlerInstalled_ = true;
    writeRunHeader();
    return true;
}

void TuningLatticeApplication::rotateLogIfFull()
{
    const QString path = logFile_.fileName();
    if (QFileInfo(path).size() < logRotateBytes)
        return;
    const bool wasOpen = logFile_.isOpen();
    logFile_.close();
    QFile::remove(path + QStringLiteral(".1"));
    QFile::rename(path, path + QStringLiteral(".1"));
    if (wasOpen)
        logFile_.open(QIODevice::WriteOnly | QIODevice::Append);
}

void TuningLatticeApplication::uninstallMessageHandler()
{
    if (!handlerInstalled_)
        return;
    qInstallMessageHandler(nullptr);
    handlerOwner.store(nullptr);
    handlerInstalled_ = false;
}

void TuningLatticeApplication::writeRunHeader()
{
    QMutexLocker lock(&logMutex_);
    QTextStream stream(&logFile_);
    stream.setCodec("UTF-8");
    stream << Qt::endl;
    stream << QString(78, QLatin1Char('-')) << Qt::endl;
    stream << "Starting app at "
           << QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yy hh:mm:ss.z"))
           << Qt::endl;
}

void TuningLatticeApplication::messageHandler(QtMsgType type, const QMessageLogContext& context,
                                              const QString& message)
{
    if (TuningLatticeApplication* owner = handlerOwner.load())
        owner->handleRecord(type, context, message);
}

void TuningLatticeApplication::handleRecord(QtMsgType type, const QMessageLogContext& context,
                                            const QString& message)
{
    // The trailing space belongs to the pattern: 15 characters in all.
    const QString time = QTime::currentTime().toString(QStringLiteral("[hh:mm:ss.zzz] "));

    // The source path is looked at only when someone asked for diagnostics,
    // which keeps debug records cheap otherwise.
    if (!diagnosticFilters_.isEmpty()) {
        QString base;
        if (!sourceBaseName(context.file, base))
            return;
        if (diagnosticFilters_.contains(QStringLiteral("all")) ||
            diagnosticFilters_.contains(base.toLower()))
            emit diagnosticMessage(QStringLiteral("%1 %2").arg(time, message));
    }

    if (type == QtDebugMsg)
        return;
    const bool framed = type == QtCriticalMsg || type == QtFatalMsg;
    QMutexLocker lock(&logMutex_);
    rotateLogIfFull();
    QTextStream stream(&logFile_);
    stream.setCodec("UTF-8");
    if (type == QtCriticalMsg)
        stream << "\nCRITICAL:\n";
    else if (type == QtFatalMsg)
        stream << "\nFATAL:\n";
    stream << time << message << Qt::endl;
    if (framed)
        stream << Qt::endl;
}
