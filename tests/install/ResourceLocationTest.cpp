#include "ResourceLocation.h"
#include "TestFiles.h"

#include <QtTest>

// Where the programs take their data from, for each layout they run in.
class ResourceLocationTest : public QObject
{
    Q_OBJECT

private slots:
    void firstFolderWithPatches_data()
    {
        QTest::addColumn<QStringList>("folders"); // made under a scratch root
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("expected"); // "configured" for the build's own prefix
        QTest::newRow("build tree")
            << QStringList{"bin/patches", "share/tuning-lattice/patches"} << "bin"
            << "bin";
        QTest::newRow("installed, or moved with its share folder")
            << QStringList{"opt/bin", "opt/share/tuning-lattice/patches"} << "opt/bin"
            << "opt/share/tuning-lattice";
        QTest::newRow("share folder without patches")
            << QStringList{"opt/bin", "opt/share/tuning-lattice"} << "opt/bin"
            << "configured";
        QTest::newRow("executable moved alone") << QStringList{"bin"} << "bin"
                                                << "configured";
    }

    void firstFolderWithPatches()
    {
        QFETCH(QStringList, folders);
        QFETCH(QString, executable);
        QFETCH(QString, expected);
        QTemporaryDir root;
        for (const QString& folder : folders)
            QVERIFY(QDir(root.path()).mkpath(folder));
        QCOMPARE(
            ResourceLocation::directory(root.filePath(executable), root.filePath("configured")),
            root.filePath(expected));
    }

    void plainFileIsNotThePatchSet()
    {
        QTemporaryDir root;
        QVERIFY(putFile(root.filePath("bin/patches")));
        QCOMPARE(ResourceLocation::directory(root.filePath("bin"), "/configured"), "/configured");
    }

    // This test runs from the build tree, beside the copied data.
    void buildTreeIsTheExecutablesFolder()
    {
        QCOMPARE(ResourceLocation::directory(), QCoreApplication::applicationDirPath());
    }
};

QTEST_GUILESS_MAIN(ResourceLocationTest)
#include "ResourceLocationTest.moc"
