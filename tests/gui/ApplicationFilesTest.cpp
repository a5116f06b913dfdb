// The files the application prepares at start-up: the runtime patch folder
// (copies kept up to date by creation time) and the style sheets.

#include "LogCapture.h"
#include "TuningLatticeApplication.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QThread>
#include <QVBoxLayout>
#include <QtTest>
#include <memory>

namespace {

const char* const shellPatches[] = {"lattice_main.pd", "lattice_vprep.pd", "equal-loudness.pd",
                                    "tb_compressor~.pd", "tb_compressorUI.pd"};

bool putFile(const QString& path, const QByteArray& contents)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// The time copyFile compares: creation where the file system keeps it.
QDateTime creationTime(const QString& path)
{
    const QFileInfo info(path);
    return info.birthTime().isValid() ? info.birthTime() : info.metadataChangeTime();
}

// Writes path anew until the file system stamps it later than reference.
// File times advance in clock ticks of a few milliseconds, so one write
// right after the reference can carry the same time; bounded.
bool putFileNewerThan(const QString& path, const QByteArray& text, const QString& reference)
{
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        QFile::remove(path);
        if (!putFile(path, text))
            return false;
        if (creationTime(path) > creationTime(reference))
            return true;
        QThread::usleep(500);
    }
    return false;
}

enum class Target
{
    Missing,
    CreatedAfterSource,
    CreatedBeforeSource,
    Undeletable,
    NoSource
};

} // namespace

Q_DECLARE_METATYPE(Target)

class ApplicationFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void copyFileKeepsTargetCurrent_data();
    void copyFileKeepsTargetCurrent();
    void patchDirectoryCopiesShellOnFirstRunOnly();
    void patchDirectoryAttemptsEveryCopy();
    void patchDirectoryFailsWhenFolderCannotBeMade();
    void loadStyleSheet_data();
    void loadStyleSheet();
    void shippedStyleSheetsParse();

private:
    TuningLatticeApplication* app() const { return TuningLatticeApplication::instance(); }
    QString dataPath(const QString& name) const;
    void putShellPatches(const QStringList& leftOut = {});

    std::unique_ptr<QTemporaryDir> scratch;
};

void ApplicationFilesTest::init()
{
    scratch = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", scratch->filePath("data").toUtf8());
    app()->setResourceDirectory(scratch->filePath("bin"));
    app()->setStyleSheet(QString());
}

QString ApplicationFilesTest::dataPath(const QString& name) const
{
    return TuningLatticeApplication::dataDirectory() + QLatin1Char('/') + name;
}

void ApplicationFilesTest::putShellPatches(const QStringList& leftOut)
{
    for (const char* name : shellPatches)
        if (!leftOut.contains(QLatin1String(name)))
            QVERIFY(putFile(scratch->filePath("bin/patches/shell/") + name,
                            QByteArray("#N canvas 0 0 100 100 12; ") + name));
}

void ApplicationFilesTest::copyFileKeepsTargetCurrent_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("expected"); // the target afterwards
    QTest::addColumn<QString>("record");      // %1 source, %2 target

    QTest::newRow("missing target is copied")
        << Target::Missing << true << QByteArray("source") << QString();
    QTest::newRow("target newer than source is kept")
        << Target::CreatedAfterSource << true << QByteArray("edited copy") << QString();
    QTest::newRow("source newer than target replaces it")
        << Target::CreatedBeforeSource << true << QByteArray("source") << QString();
    QTest::newRow("old target that cannot be deleted")
        << Target::Undeletable << false << QByteArray() << "Failed to delete \"%2\" before copying";
    QTest::newRow("missing source")
        << Target::NoSource << false << QByteArray() << "Failed to copy \"%1\" to \"%2\"";
}

void ApplicationFilesTest::copyFileKeepsTargetCurrent()
{
    QFETCH(Target, target);
    QFETCH(bool, result);
    QFETCH(QByteArray, expected);
    QFETCH(QString, record);
    const QString source = scratch->filePath("source.pd");
    const QString copy = scratch->filePath("copy.pd");

    switch (target) {
    case Target::Missing:
        QVERIFY(putFile(source, "source"));
        break;
    case Target::CreatedAfterSource:
        QVERIFY(putFile(source, "source"));
        QVERIFY(putFileNewerThan(copy, "edited copy", source));
        break;
    case Target::CreatedBeforeSource:
        QVERIFY(putFile(copy, "old copy"));
        QVERIFY(putFileNewerThan(source, "source", copy));
        break;
    case Target::Undeletable:
        // A folder that is not empty cannot be removed as a file, even by
        // root.
        QVERIFY(putFile(copy + "/inside", "x"));
        QVERIFY(putFileNewerThan(source, "source", copy));
        break;
    case Target::NoSource:
        break;
    }

    LogCapture log;
    QCOMPARE(TuningLatticeApplication::copyFile(source, copy), result);
    if (!expected.isEmpty())
        QCOMPARE(contents(copy), expected);
    const QStringList critical = log.texts(QtCriticalMsg);
    if (record.isEmpty())
        QVERIFY2(critical.isEmpty(), qPrintable(critical.join('\n')));
    else
        QCOMPARE(critical, QStringList{QString(record).replace("%1", source).replace("%2", copy)});
}

// Given the shell patches beside the program, the first run copies all five
// and a second run with the same sources copies none.
void ApplicationFilesTest::patchDirectoryCopiesShellOnFirstRunOnly()
{
    putShellPatches();
    LogCapture log;
    QVERIFY(app()->initPatchDirectory());
    QHash<QString, QDateTime> created;
    for (const char* name : shellPatches) {
        const QString copy = dataPath(QStringLiteral("patch/") + name);
        QCOMPARE(contents(copy), contents(scratch->filePath("bin/patches/shell/") + name));
        created.insert(copy, creationTime(copy));
    }

    QVERIFY(app()->initPatchDirectory());
    for (auto it = created.cbegin(); it != created.cend(); ++it)
        QCOMPARE(creationTime(it.key()), it.value());
    QVERIFY(log.texts(QtCriticalMsg).isEmpty());
}

// Given one shell patch missing, that copy fails and is reported, the other
// four are still made, and the whole step fails.
void ApplicationFilesTest::patchDirectoryAttemptsEveryCopy()
{
    putShellPatches({QStringLiteral("lattice_vprep.pd")});
    LogCapture log;
    QVERIFY(!app()->initPatchDirectory());

    const QString missing = scratch->filePath("bin/patches/shell/lattice_vprep.pd");
    QCOMPARE(log.texts(QtCriticalMsg),
             QStringList{QStringLiteral("Failed to copy \"%1\" to \"%2\"")
                             .arg(missing, dataPath("patch/lattice_vprep.pd"))});
    for (const char* name : shellPatches)
        QCOMPARE(QFile::exists(dataPath(QStringLiteral("patch/") + name)),
                 qstrcmp(name, "lattice_vprep.pd") != 0);
}

void ApplicationFilesTest::patchDirectoryFailsWhenFolderCannotBeMade()
{
    putShellPatches();
    QVERIFY(putFile(scratch->filePath("blocker"), "a regular file"));
    qputenv("XDG_DATA_HOME", scratch->filePath("blocker/data").toUtf8());
    LogCapture log;
    QVERIFY(!app()->initPatchDirectory());
    QVERIFY(log.records().isEmpty());
}

void ApplicationFilesTest::loadStyleSheet_data()
{
    QTest::addColumn<QByteArray>("main");     // style.qss; "(none)": missing, "(dir)": a folder
    QTest::addColumn<QByteArray>("platform"); // style_win.qss, the same way
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("sheet");  // the application's sheet afterwards
    QTest::addColumn<QString>("record"); // %1 the resource folder

    const QString before = QStringLiteral("QLabel { color: gray; }");
    QTest::newRow("both sheets, joined")
        << QByteArray("QLabel { color: red; }\n") << QByteArray("QSlider { margin: 1px; }") << true
        << "QLabel { color: red; }\nQSlider { margin: 1px; }" << QString();
    QTest::newRow("read as Latin-1") << QByteArray("/* caf\xe9 */") << QByteArray("") << true
                                     << QString::fromLatin1("/* caf\xe9 */") << QString();
    QTest::newRow("main sheet cut at zero byte")
        << QByteArray("QLabel { }\0QSlider { }", 22) << QByteArray("QFrame { }") << true
        << "QLabel { }QFrame { }" << QString();
    QTest::newRow("main sheet missing")
        << QByteArray("(none)") << QByteArray("QFrame { }") << false << before
        << "Failed to find style sheet file %1/style.qss.";
    QTest::newRow("platform sheet missing")
        << QByteArray("QLabel { }") << QByteArray("(none)") << false << before
        << "Failed to find platform-specific style sheet file %1/style_win.qss.";
    QTest::newRow("main sheet unreadable")
        << QByteArray("(dir)") << QByteArray("QFrame { }") << false << before
        << "Failed to open file %1/style.qss for reading.";
}

void ApplicationFilesTest::loadStyleSheet()
{
    QFETCH(QByteArray, main);
    QFETCH(QByteArray, platform);
    QFETCH(bool, result);
    QFETCH(QString, sheet);
    QFETCH(QString, record);
    const QString folder = scratch->filePath("bin");
    const auto put = [&](const char* name, const QByteArray& text) {
        const QString path = folder + QLatin1Char('/') + name;
        if (text == "(dir)")
            return QDir().mkpath(path);
        return text == "(none)" || putFile(path, text);
    };
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(put("style.qss", main));
    QVERIFY(put("style_win.qss", platform));
    app()->setStyleSheet(QStringLiteral("QLabel { color: gray; }"));

    LogCapture log;
    QCOMPARE(app()->loadStyleSheet(), result);
    QCOMPARE(app()->styleSheet(), sheet);
    if (record.isEmpty())
        QVERIFY(log.texts(QtCriticalMsg).isEmpty());
    else
        QCOMPARE(log.texts(QtCriticalMsg), QStringList{record.arg(folder)});
}

// The sheets shipped beside the program load, and Qt understands every rule
// of them: it reports a sheet it cannot parse only as a warning once widgets
// are polished.
void ApplicationFilesTest::shippedStyleSheetsParse()
{
    app()->setResourceDirectory(QCoreApplication::applicationDirPath());
    LogCapture log;
    QVERIFY(app()->loadStyleSheet());
    QVERIFY(app()->styleSheet().contains(QLatin1String("#b4b4aa")));

    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* note = new QLabel(QStringLiteral("E"));
    note->setObjectName(QStringLiteral("noteLabel"));
    layout->addWidget(note);
    layout->addWidget(new QPushButton(QStringLiteral("Mono")));
    layout->addWidget(new QSlider(Qt::Horizontal));
    window.ensurePolished();
    for (QWidget* child : window.findChildren<QWidget*>())
        child->ensurePolished();
    QVERIFY2(log.texts(QtWarningMsg).isEmpty(), qPrintable(log.texts(QtWarningMsg).join('\n')));
}

int main(int argc, char** argv)
{
    TuningLatticeApplication app(argc, argv);
    ApplicationFilesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ApplicationFilesTest.moc"
