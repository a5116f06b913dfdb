// OSC throughput and timing, in this process: the player with an audio
// thread paced like a 256-frame period at 44.1 kHz, the OSC input on a
// loopback port and the OSC output sending to a liblo server of the bench's.
//
// - sustained: 20 000 messages a second for some seconds, sent by liblo's
//   client API; every one must reach the player's command buffer;
// - burst: 10 000 messages sent back to back; none lost;
// - out: a 16-note chord change (16 notes off, 16 on) from the start of the
//   block that played it to the last of its messages at a subscriber.
//
//   osc_bench [--seconds S]
#include "BenchTiming.h"
#include "LatticeNoteEvent.h"
#include "OscInput.h"
#include "OscOutput.h"
#include "PdPlayer.h"

#include <QUdpSocket>
#include <QtCore>
#include <atomic>
#include <cstdio>
#include <lo/lo.h>
#include <mutex>
#include <thread>

namespace {

constexpr int periodFrames = 256;
constexpr int sampleRate = 44100;
using Clock = std::chrono::steady_clock;

bool report(const char* what, double value, double target, const char* unit, bool atMost = true)
{
    const bool met = atMost ? value <= target : value >= target;
    std::printf("  %-52s %10.3f %s (target %s %.3f) %s\n", what, value, unit,
                atMost ? "<=" : ">=", target, met ? "met" : "MISSED");
    return met;
}

// Calls processBlock at the pace of a sound card until destroyed; `onBlock`
// runs just before each block.
class PacedAudio
{
public:
    PacedAudio(PdPlayer& player, std::function<void()> onBlock = {})
        : thread_([this, &player, onBlock] {
              std::vector<float> block(2 * periodFrames);
              const auto period =
                  std::chrono::nanoseconds(1000000000LL * periodFrames / sampleRate);
              auto next = Clock::now();
              while (running_) {
                  if (onBlock)
                      onBlock();
                  player.processBlock(block.data(), periodFrames, false);
                  next += period;
                  std::this_thread::sleep_until(next);
              }
          })
    {
    }
    ~PacedAudio()
    {
        running_ = false;
        thread_.join();
    }

private:
    std::atomic<bool> running_{true};
    std::thread thread_;
};

int freePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// Sends `count` volume messages at `perSecond` (0: as fast as they go);
// returns the seconds it took.
double sendVolumes(lo_address to, int count, int perSecond)
{
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        lo_send(to, "/lattice/volume", "f", float(i % 100) / 100.0f);
        if (perSecond > 0 && i % 20 == 19)
            std::this_thread::sleep_until(
                start + std::chrono::microseconds(1000000LL * (i + 1) / perSecond));
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!done() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

bool measureInput(int seconds)
{
    PdPlayer player;
    if (!player.init())
        return false;
    PacedAudio audio(player);
    OscInput input(&player, nullptr);
    OscInput::Config config;
    config.port = freePort();
    if (!input.start(config))
        return false;
    lo_address to = lo_address_new("127.0.0.1", QByteArray::number(input.port()).constData());

    const int sustained = 20000 * seconds;
    const double took = sendVolumes(to, sustained, 20000);
    waitFor([&] { return input.commandsQueued() + input.commandsDropped() >= quint64(sustained); },
            3000);
    std::printf("OSC in, sustained: %d messages in %.2f s (%.0f a second)\n", sustained, took,
                sustained / took);
    bool met = report("messages lost", double(quint64(sustained) - input.commandsQueued()), 0, "");

    const quint64 before = input.commandsQueued();
    const double burstTook = sendVolumes(to, 10000, 0);
    waitFor([&] { return input.commandsQueued() + input.commandsDropped() >= before + 10000; },
            3000);
    std::printf("OSC in, burst: 10000 messages sent in %.1f ms\n", burstTook * 1000.0);
    met = report("messages lost", double(before + 10000 - input.commandsQueued()), 0, "") && met;

    // How far it goes: as fast as one sender can for a second.
    const quint64 start = input.commandsQueued();
    const double flatOut = sendVolumes(to, 200000, 0);
    waitFor([&] { return input.commandsQueued() + input.commandsDropped() >= start + 200000; },
            3000);
    std::printf("  %-52s %10.0f a second, %llu dropped at the buffer\n",
                "flat out (200 000 back to back)", double(input.commandsQueued() - start) / flatOut,
                static_cast<unsigned long long>(input.commandsDropped()));
    lo_address_free(to);
    input.stop();
    return met;
}

// The subscriber: when the last message of each chord change arrived.
struct Subscriber
{
    std::mutex mutex;
    int messages = 0;
    std::vector<Clock::time_point> changeEnds;
    static constexpr int perChange = 32;

    static int take(const char*, const char*, lo_arg**, int, lo_message, void* self)
    {
        auto* subscriber = static_cast<Subscriber*>(self);
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(subscriber->mutex);
        if (++subscriber->messages % subscriber->perChange == 0)
            subscriber->changeEnds.push_back(now);
        return 0;
    }
};

bool measureOutput(int changes)
{
    PdPlayer player;
    if (!player.init())
        return false;
    OscOutput output(&player);
    output.start(QString(), 0, 440);
    Subscriber subscriber;
    lo_server_thread server = lo_server_thread_new(nullptr, nullptr);
    lo_server_thread_add_method(server, "/lattice/sounding/on", nullptr, &Subscriber::take,
                                &subscriber);
    lo_server_thread_add_method(server, "/lattice/sounding/off", nullptr, &Subscriber::take,
                                &subscriber);
    lo_server_thread_start(server);
    output.subscribe(QStringLiteral("127.0.0.1"), lo_server_thread_get_port(server));

    // The audio thread notes when the block that takes a change begins.
    std::atomic<bool> changeQueued{false};
    std::mutex startsMutex;
    std::vector<Clock::time_point> changeStarts;
    {
        PacedAudio audio(player, [&] {
            if (changeQueued.exchange(false)) {
                std::lock_guard<std::mutex> lock(startsMutex);
                changeStarts.push_back(Clock::now());
            }
        });
        // Two chords of 16 notes each, 3- and 5-limit, taking turns; the
        // first change only starts the first chord.
        const char* chords[2][16] = {{"/", "/3", "/5", "/7", "/3/3", "/3/5", "/3/7", "/5/5", "/5/7",
                                      "/7/7", "/-3", "/-5", "/-7", "/-3/-3", "/-3/-5", "/-5/-5"},
                                     {"/11", "/13", "/17", "/19", "/23", "/11/3", "/13/3", "/17/3",
                                      "/19/3", "/23/3", "/-11", "/-13", "/-17", "/-19", "/-23",
                                      "/11/5"}};
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the subscription
        for (int change = 0; change <= changes; ++change) {
            for (int off = 0; change > 0 && off < 16; ++off) {
                const LatticeNoteEvent event(LatticeEvent::NoteOff,
                                             LatticePath(QString(chords[(change + 1) % 2][off])));
                player.queueEventGui(&event);
            }
            for (int on = 0; on < 16; ++on) {
                const LatticeNoteEvent event(LatticeEvent::NoteOn,
                                             LatticePath(QString(chords[change % 2][on])));
                player.queueEventGui(&event);
            }
            changeQueued = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (change == 0) { // the lone chord's messages are not a change
                std::lock_guard<std::mutex> lock(subscriber.mutex);
                subscriber.messages = 0;
                subscriber.changeEnds.clear();
                std::lock_guard<std::mutex> startsLock(startsMutex);
                changeStarts.clear();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    lo_server_thread_free(server);
    output.stop();

    std::vector<double> delaysMs;
    for (std::size_t i = 0; i < changeStarts.size() && i < subscriber.changeEnds.size(); ++i)
        delaysMs.push_back(
            std::chrono::duration<double, std::milli>(subscriber.changeEnds[i] - changeStarts[i])
                .count());
    std::printf("OSC out: %zu chord changes of 32 messages, %zu arrived whole\n",
                changeStarts.size(), delaysMs.size());
    bool met = delaysMs.size() == std::size_t(changes);
    met = report("median, block start to last message", median(delaysMs), 2.0, "ms") && met;
    report("99th percentile", percentile(delaysMs, 0.99), 2.0, "ms");
    return met;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int seconds = 5;
    const QStringList arguments = app.arguments();
    const int at = arguments.indexOf(QStringLiteral("--seconds"));
    if (at > 0 && at + 1 < arguments.size())
        seconds = std::max(1, arguments.at(at + 1).toInt());
    bool met = measureInput(seconds);
    met = measureOutput(200) && met;
    return met ? 0 : 1;
}
