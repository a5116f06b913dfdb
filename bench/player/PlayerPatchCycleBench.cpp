// Memory across patch changes: one player steps through the shipped voices
// as the window does (the voice file copied over the runtime one, the main
// patch closed and opened again), plays a six-note chord coming and going
// on each for four seconds, and after every opening prints resident memory
// (all of it, the anonymous part, the C library's main heap) and what the
// C library has handed out. An installation that steps through the voices
// for days must come back to the same figures each time round.
//
//   player_patch_cycle_bench [rounds [voice]]     (default: 6 rounds, every voice)
//
// With a voice (a part of its file name) only that voice is opened, again
// and again, which tells one voice's share apart.
//
// Targets, from the second round (the first is the only one that meets each
// voice for the first time) to the last: memory handed out grows by less
// than 1 KiB an opening, and every voice's resident memory stays within
// 5 %.

#include "BenchSupport.h"
#include "LatticeNoteEvent.h"

#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#ifdef __GLIBC__
#include <malloc.h>
#endif

using namespace BenchSupport;

namespace {

long statusKib(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.compare(0, key.size(), key) == 0)
            return std::stol(line.substr(key.size()));
    return -1;
}

// Resident KiB of the C library's main heap.
long heapResidentKib()
{
    std::ifstream maps("/proc/self/smaps");
    std::string line;
    bool inHeap = false;
    long kib = 0;
    while (std::getline(maps, line)) {
        // A mapping's first line ends with its path; its fields follow.
        if (line.find(" rw") != std::string::npos || line.find(" r-") != std::string::npos ||
            line.find(" --") != std::string::npos)
            inHeap = line.size() >= 6 && line.compare(line.size() - 6, 6, "[heap]") == 0;
        else if (inHeap && line.compare(0, 4, "Rss:") == 0)
            kib += std::stol(line.substr(4));
    }
    return kib;
}

long handedOutKib()
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    const struct mallinfo2 info = mallinfo2();
    return long((info.uordblks + info.hblkhd) / 1024);
#else
    return -1;
#endif
}

struct Sample
{
    long rss = 0;
    long handedOut = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    quietLogging();
    const int rounds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 6;
    QStringList voices = shippedVoices();
    if (argc > 2)
        voices = voices.filter(QString::fromLocal8Bit(argv[2]));
    QTemporaryDir folder;
    if (voices.isEmpty() || prepareRuntimeFolder(folder, voices.first()).isEmpty()) {
        std::fprintf(stderr, "no voice patches in %s\n", qPrintable(patchesFolder()));
        return 1;
    }
    const QString main = folder.filePath(QStringLiteral("lattice_main.pd"));
    const QString runtimeVoice = folder.filePath(QStringLiteral("lattice_voice.pd"));

    PdPlayer player;
    if (!player.init())
        return 1;
    player.initAudio(2, sampleRate);
    std::vector<float> buffer(2 * blockFrames);
    const QList<LatticePath> chord = distinctPaths(6);

    std::map<QString, Sample> secondRound;
    double worstChange = 0, worstGrowthKib = 0;
    QString worstVoice;
    std::printf("%-10s %5s %9s %9s %9s %11s\n", "voice", "round", "RSS KiB", "anon KiB", "heap KiB",
                "in use KiB");
    for (int round = 1; round <= rounds; ++round) {
        for (const QString& voice : voices) {
            player.unloadPatch();
            QFile::remove(runtimeVoice);
            if (!QFile::copy(voice, runtimeVoice) || !player.loadPatch(QFileInfo(main))) {
                std::fprintf(stderr, "%s did not open\n", qPrintable(voice));
                return 1;
            }
            for (int block = 0; block < 4 * sampleRate / blockFrames; ++block) {
                // Every 40 blocks the chord, or every other note of it,
                // toggles.
                if (block % 40 == 0)
                    for (int i = 0; i < chord.size(); i += 1 + block / 40 % 2) {
                        const LatticeNoteEvent toggle(chord[i]);
                        player.queueEventGui(&toggle);
                    }
                player.processBlock(buffer.data(), blockFrames, false);
            }
            const QString name = QFileInfo(voice).completeBaseName();
            const Sample now{statusKib("VmRSS"), handedOutKib()};
            std::printf("%-10s %5d %9ld %9ld %9ld %11ld\n", qPrintable(name), round, now.rss,
                        statusKib("RssAnon"), heapResidentKib(), now.handedOut);
            std::fflush(stdout);
            if (round == 2) {
                secondRound[name] = now;
            } else if (round == rounds) {
                const double change =
                    100.0 * double(now.rss - secondRound[name].rss) / double(secondRound[name].rss);
                if (worstVoice.isEmpty() || std::abs(change) > std::abs(worstChange)) {
                    worstChange = change;
                    worstVoice = name;
                }
                worstGrowthKib = std::max(worstGrowthKib,
                                          double(now.handedOut - secondRound[name].handedOut));
            }
        }
    }
    player.term();
    // Between a voice's sample in round 2 and its sample in the last round
    // every voice opened that many times.
    const int openings = (rounds - 2) * voices.size();
    if (openings > 0)
        std::printf("in use, round 2 to round %d: %+.2f KiB an opening at most (%d openings)\n",
                    rounds, worstGrowthKib / openings, openings);
    std::printf("resident, round 2 to round %d: largest change %+.2f %% (%s)\n", rounds,
                worstChange, qPrintable(worstVoice));
    return 0;
}
