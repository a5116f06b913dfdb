// MIDI timing, measured two ways:
// - out: the player and the MIDI output in this process, an audio thread
//   paced like a 256-frame JACK period at 44.1 kHz; from the start of the
//   block that starts a note to its message leaving the output thread;
// - in: the real program on the JACK server this runs on, played by a JACK
//   peer: from a key's note on to the first sound of it on the program's
//   output (both in JACK frames), and a flood of 1000 key presses and
//   releases a second, after which nothing may sound and every note on the
//   program sent out must have had its note off.
//
//   midi_bench [--flood-seconds S]     (inside scripts/jack-test-server.sh run)
#include "BenchTiming.h"
#include "JackMidiPeer.h"
#include "LatticeNoteEvent.h"
#include "MidiOutput.h"
#include "PdPlayer.h"
#include "ProgramRun.h"

#include <QtCore>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

constexpr int periodFrames = 256;
constexpr int sampleRate = 44100;

bool report(const char* what, double value, double target, const char* unit)
{
    const bool met = value <= target;
    std::printf("  %-52s %8.3f %s (target <= %.3f) %s\n", what, value, unit, target,
                met ? "met" : "MISSED");
    return met;
}

// The output thread's delay after the block that started or stopped a note.
bool measureOutput()
{
    PdPlayer player;
    if (!player.init())
        return false;
    std::mutex mutex;
    std::vector<double> delaysMs;
    MidiOutput output(&player);
    MidiOutput::Config config;
    config.mode = "mpe";
    output.start(config, [&](const MidiNoteEncoder::Message& message, const NoteRecord& record) {
        if (record.blockStartNs == 0 || (message[0] & 0xF0) == 0xE0)
            return;
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        const double ms = double(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() -
                                 record.blockStartNs) /
                          1e6;
        std::lock_guard<std::mutex> lock(mutex);
        delaysMs.push_back(ms);
    });
    std::atomic<bool> running{true};
    std::thread audio([&] {
        std::vector<float> block(2 * periodFrames);
        const auto period = std::chrono::nanoseconds(1000000000LL * periodFrames / sampleRate);
        auto next = std::chrono::steady_clock::now();
        while (running) {
            player.processBlock(block.data(), periodFrames, false);
            next += period;
            std::this_thread::sleep_until(next);
        }
    });
    // Two notes toggled each 10 ms for 10 s: 2000 messages.
    const LatticeNoteEvent fifth(LatticePath(QStringLiteral("/3"))),
        root(LatticePath(QStringLiteral("/")));
    for (int i = 0; i < 1000; ++i) {
        player.queueEventGui(i % 2 ? &fifth : &root);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    running = false;
    audio.join();
    output.stop();
    std::printf("MIDI out: %zu messages from the block that made them\n", delaysMs.size());
    bool met = report("median delay", median(delaysMs), 1.0, "ms");
    met = report("99th percentile", percentile(delaysMs, 0.99), 3.0, "ms") && met;
    return met;
}

// From a note on sent at a cycle's start to the first sound of it, over
// `presses` presses of the root key, each released into silence.
bool measureInput(JackMidiPeer& peer, int presses)
{
    std::vector<double> delaysMs;
    for (int i = 0; i < presses; ++i) {
        const std::size_t before = peer.sent().size();
        peer.send({0x90, 69, 127});
        std::uint64_t sentAt = 0, heardAt = 0;
        QDeadlineTimer deadline(2000);
        while (!deadline.hasExpired()) {
            QThread::msleep(2);
            const std::vector<JackMidiPeer::Event> sent = peer.sent();
            if (sent.size() > before)
                sentAt = sent.back().frame;
            if (sentAt && (heardAt = peer.firstSoundAfter(sentAt)))
                break;
        }
        if (heardAt)
            delaysMs.push_back(1000.0 * double(heardAt - sentAt) / peer.sampleRate());
        peer.send({0x80, 69, 0});
        QThread::msleep(400); // the release dies away
    }
    const double blockMs = 1000.0 * peer.bufferSize() / peer.sampleRate();
    std::printf("MIDI in to sound: %zu of %d presses heard (period %d frames, %.2f ms)\n",
                delaysMs.size(), presses, peer.bufferSize(), blockMs);
    bool met = int(delaysMs.size()) == presses;
    met = report("median", median(delaysMs), blockMs + 1.0, "ms") && met;
    met = report("99th percentile", percentile(delaysMs, 0.99), 2.0 * blockMs, "ms") && met;
    return met;
}

// 1000 presses and releases a second over two octaves of keys.
bool flood(JackMidiPeer& peer, ProgramRun& run, int seconds)
{
    const std::size_t heardBefore = peer.received().size();
    int pressed = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int ms = 0; ms < seconds * 1000; ++ms) {
        const std::uint8_t key = std::uint8_t(57 + ms % 24);
        peer.send({0x90, key, 100});
        peer.send({0x80, key, 0});
        ++pressed;
        std::this_thread::sleep_until(start + std::chrono::milliseconds(ms + 1));
    }
    QThread::msleep(2000);
    int ons = 0, offs = 0;
    const std::vector<JackMidiPeer::Event> received = peer.received();
    for (std::size_t i = heardBefore; i < received.size(); ++i) {
        const std::uint8_t kind = received[i].bytes[0] & 0xF0;
        ons += kind == 0x90 && received[i].bytes[2] > 0;
        offs += kind == 0x80 || (kind == 0x90 && received[i].bytes[2] == 0);
    }
    const std::vector<float> tail = peer.recentAudio(peer.sampleRate() / 2);
    const float loudest = tail.empty() ? 1.0f : *std::max_element(tail.begin(), tail.end());
    const QByteArray log = run.dataFile("log.txt");
    const int full = log.count("Command buffer full");
    std::printf("Flood: %d presses and releases in %d s\n", pressed, seconds);
    std::printf("  %-52s %d on, %d off\n", "notes the program sent out", ons, offs);
    std::printf("  %-52s %g\n", "loudest sample 2 s after the last release", double(loudest));
    std::printf("  %-52s %d\n", "\"Command buffer full\" records", full);
    const bool met = ons == pressed && offs == pressed && loudest < 1e-4f && full == 0;
    std::printf("  %s\n", met ? "met: none lost, none stuck" : "MISSED");
    return met;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int floodSeconds = 60;
    const QStringList arguments = app.arguments();
    const int at = arguments.indexOf("--flood-seconds");
    if (at >= 0 && at + 1 < arguments.size())
        floodSeconds = arguments.at(at + 1).toInt();
    if (qEnvironmentVariableIsEmpty("JACK_DEFAULT_SERVER")) {
        std::fprintf(stderr, "midi_bench: run it inside scripts/jack-test-server.sh run\n");
        return 2;
    }
    bool met = measureOutput();

    ProgramRun run;
    run.writeDataFile("options.json", "{\"midiApi\": \"jack\", \"midiOutMode\": \"mpe\"}");
    run.start();
    JackMidiPeer peer;
    if (!run.waitForEventLoop() || !peer.isOpen() ||
        !run.waitUntil([&peer] { return peer.connectProgram(); })) {
        std::fprintf(stderr, "midi_bench: the program or the peer did not start: %s\n",
                     qPrintable(peer.error()));
        return 2;
    }
    QThread::msleep(1000);
    met = measureInput(peer, 100) && met;
    met = flood(peer, run, floodSeconds) && met;
    run.sendSignal(SIGTERM);
    run.waitForExit();
    return met ? 0 : 1;
}
