// The three data files through SerializableRoot::load(), from a real file:
// the size cap, the parse-error path with its kept copy, and the limit on
// the warnings a file may write.
//
// The first byte picks the file ('l' lattice.json, 'o' options.json,
// anything else rfid_map.json); the rest is the file's text.

#include "FuzzSupport.h"
#include "Lattice.h"
#include "RfidMap.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

int warningsWritten = 0;

void countWarning(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type == QtWarningMsg)
        ++warningsWritten;
}

const QTemporaryDir& folder()
{
    static QTemporaryDir* dir = new QTemporaryDir;
    FUZZ_CHECK(dir->isValid(), "a temporary folder can be made");
    return *dir;
}

// Loads bytes from the file as root's own file and checks what it read.
template <typename Root, typename Check>
void loadAndCheck(const QString& fileName, const std::uint8_t* data, std::size_t size,
                  Check check)
{
    Root root;
    root.filePath = folder().filePath(fileName);
    QFile file(root.filePath);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the file can be written");
    FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) ==
                   static_cast<qint64>(size),
               "the whole file is written");
    file.close();

    warningsWritten = 0;
    const QtMessageHandler quiet = qInstallMessageHandler(countWarning);
    const bool loaded = root.load();
    qInstallMessageHandler(quiet);
    // The limit, and the one record saying how many more there were.
    FUZZ_CHECK(warningsWritten <= SerializableNode::readWarningLimit + 1,
               "a file writes at most a hundred warnings and a summary");
    FUZZ_CHECK(loaded == parseDocument(data, size).has_value(),
               "a file loads exactly when it parses");
    if (loaded)
        check(root);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    initFuzzing();
    folder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const char kind = static_cast<char>(data[0]);
    if (kind == 'l')
        loadAndCheck<Lattice>(QStringLiteral("lattice.json"), data + 1, size - 1, checkLattice);
    else if (kind == 'o')
        loadAndCheck<Settings>(QStringLiteral("options.json"), data + 1, size - 1, checkSettings);
    else
        loadAndCheck<RfidMap>(QStringLiteral("rfid_map.json"), data + 1, size - 1, checkRfidMap);
    return 0;
}
