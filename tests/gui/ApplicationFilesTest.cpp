// The files the application prepares at start-up: the runtime patch folder,
// kept current by creation time, and the style sheets.

#include "LogCapture.h"
#include "TuningLatticeApplication.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QThread>
#include <QtTest>
#include <memory>

namespace {

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

QDateTime creationTime(const QString& path) // as copyFile compares
{
    const QFileInfo info(path);
    return info.birthTime().isValid() ? info.birthTime() : info.metadataChangeTime();
}

// Writes path anew until it is stamped later than reference: file times
// advance in ticks of a few milliseconds.
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

} // namespace

class ApplicationFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void copyFileKeepsTargetCurrent_data();
    void copyFileKeepsTargetCurrent();
    void patchDirectoryCopiesEveryShellPatchItCan();
    void loadStyleSheet_data();
    void loadStyleSheet();
    void shippedStyleSheetsParse();

private:
    TuningLatticeApplication* app() const { return TuningLatticeApplication::instance(); }
    std::unique_ptr<QTemporaryDir> scratch;
};

void ApplicationFilesTest::init()
{
    scratch = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", scratch->filePath("data").toUtf8());
    app()->setResourceDirectory(scratch->filePath("bin"));
}

void ApplicationFilesTest::copyFileKeepsTargetCurrent_data()
{
    using B = QByteArray;
    QTest::addColumn<B>("source");   // empty: none
    QTest::addColumn<B>("target");   // before; empty: none; "(dir)": cannot be deleted
    QTest::addColumn<B>("expected"); // afterwards; empty: the copy fails
    QTest::newRow("missing target is copied") << B("source") << B() << B("source");
    QTest::newRow("target newer than source kept") << B("source") << B("edit") << B("edit");
    QTest::newRow("newer source replaces target") << B("source") << B("old") << B("source");
    QTest::newRow("target cannot be deleted") << B("source") << B("(dir)") << B();
    QTest::newRow("missing source") << B() << B() << B();
}

void ApplicationFilesTest::copyFileKeepsTargetCurrent()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, expected);
    const QString from = scratch->filePath("source.pd"), to = scratch->filePath("copy.pd");
    if (target == "edit") {
        QVERIFY(putFile(from, source));
        QVERIFY(putFileNewerThan(to, target, from));
    } else if (!target.isEmpty()) {
        // A folder that is not empty cannot be removed as a file, even by root.
        QVERIFY(putFile(target == "(dir)" ? to + "/inside" : to, target));
        QVERIFY(putFileNewerThan(from, source, to));
    } else if (!source.isEmpty()) {
        QVERIFY(putFile(from, source));
    }

    LogCapture log;
    QCOMPARE(TuningLatticeApplication::copyFile(from, to), !expected.isEmpty());
    const QStringList critical = log.texts(QtCriticalMsg);
    if (expected.isEmpty())
        QVERIFY2(critical.size() == 1 && critical.at(0).contains(to),
                 qPrintable(critical.join('\n')));
    else
        QCOMPARE(contents(to), expected);
}

// A missing shell patch fails its own copy and the step, and only those.
void ApplicationFilesTest::patchDirectoryCopiesEveryShellPatchItCan()
{
    const QStringList names{"lattice_main.pd", "lattice_vprep.pd", "equal-loudness.pd",
                            "tb_compressor~.pd", "tb_compressorUI.pd"};
    const QString shell = scratch->filePath("bin/patches/shell/");
    const QString runtime = TuningLatticeApplication::dataDirectory() + "/patch/";
    for (const QString& name : names.mid(1))
        QVERIFY(putFile(shell + name, "#N canvas 0 0 100 100 12; " + name.toUtf8()));
    LogCapture log;
    QVERIFY(!app()->initPatchDirectory());
    const QStringList critical = log.texts(QtCriticalMsg);
    QVERIFY2(critical.size() == 1 && critical.at(0).contains(shell + names.at(0)),
             qPrintable(critical.join('\n')));
    QVERIFY(!QFile::exists(runtime + names.at(0)));
    for (const QString& name : names.mid(1))
        QCOMPARE(contents(runtime + name), contents(shell + name));
}

void ApplicationFilesTest::loadStyleSheet_data()
{
    using B = QByteArray;
    QTest::addColumn<B>("main");          // style.qss; "(none)": missing, "(dir)": a folder
    QTest::addColumn<B>("platform");      // style_win.qss, the same way
    QTest::addColumn<QString>("sheet");   // the application's sheet afterwards
    QTest::addColumn<QString>("failing"); // the file named by the one critical record
    QTest::newRow("both, as Latin-1, main cut at a zero byte")
        << B("QLabel { }/* caf\xe9 */\0junk", 25) << B("QFrame { }")
        << QString::fromLatin1("QLabel { }/* caf\xe9 */QFrame { }") << QString();
    QTest::newRow("main missing") << B("(none)") << B("QFrame { }") << QString() << "style.qss";
    QTest::newRow("platform missing")
        << B("QLabel { }") << B("(none)") << QString() << "style_win.qss";
    QTest::newRow("main unreadable") << B("(dir)") << B("QFrame { }") << QString() << "style.qss";
}

// A sheet that cannot be read leaves the look as it was.
void ApplicationFilesTest::loadStyleSheet()
{
    QFETCH(QByteArray, main);
    QFETCH(QByteArray, platform);
    QFETCH(QString, sheet);
    QFETCH(QString, failing);
    const QString folder = scratch->filePath("bin") + '/';
    const auto put = [&](const QString& name, const QByteArray& text) {
        return text == "(none)" ||
               (text == "(dir)" ? QDir().mkpath(folder + name) : putFile(folder + name, text));
    };
    QVERIFY(QDir().mkpath(folder) && put("style.qss", main) && put("style_win.qss", platform));
    const QString before = QStringLiteral("QLabel { color: gray; }");
    app()->setStyleSheet(before);

    LogCapture log;
    QCOMPARE(app()->loadStyleSheet(), failing.isEmpty());
    QCOMPARE(app()->styleSheet(), failing.isEmpty() ? sheet : before);
    const QStringList critical = log.texts(QtCriticalMsg);
    QCOMPARE(critical.size(), failing.isEmpty() ? 0 : 1);
    if (!failing.isEmpty())
        QVERIFY2(critical.at(0).contains(folder + failing), qPrintable(critical.at(0)));
}

// Qt parses the application's sheet when the first widget is polished and
// reports a rule it cannot parse only as a warning.
void ApplicationFilesTest::shippedStyleSheetsParse()
{
    app()->setResourceDirectory(QCoreApplication::applicationDirPath());
    LogCapture log;
    QVERIFY(app()->loadStyleSheet());
    QVERIFY(!app()->styleSheet().isEmpty());
    QLabel note(QStringLiteral("E"));
    note.setObjectName(QStringLiteral("noteLabel"));
    note.ensurePolished();
    QVERIFY2(log.texts(QtWarningMsg).isEmpty(), qPrintable(log.texts(QtWarningMsg).join('\n')));
}

int main(int argc, char** argv)
{
    TuningLatticeApplication app(argc, argv);
    ApplicationFilesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ApplicationFilesTest.moc"
