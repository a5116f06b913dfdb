// soak_sender: the wand's part of the long-run soak (bench/soak/run.sh starts
// the program, then this). For the given time it sends wand datagrams to the
// program at a steady rate, watches the JACK server for underflows and the
// program's process for its resident memory, and at the end writes what it
// saw as KEY=VALUE lines for run.sh to judge.
//
//   soak_sender --pid PID --port PORT --seconds S --log LOG_TXT --report FILE
//               --patch-tag TAG [--rate N] [--malformed-every K]
//               [--patch-every S] [--patch-first S] [--rss-at S] TAG...
//
// Every datagram is a note toggle for one of the TAGs, taken in a shuffled
// round, except every K-th (default 100: 1 %), which has a wrong size, and a
// PatchStep datagram (--patch-tag) at --patch-first seconds (default 30) and
// every --patch-every seconds (default 60) after, as long as a patch change
// can finish before the end. Datagram i leaves at i / rate seconds after the
// start (default 1000 a second); a sender that fell behind (the machine was
// busy) catches up in bursts of at most 50.
//
// Underflows: the program plays through PortAudio's JACK host API, which
// flags paOutputUnderflow on the callback after every xrun that JACK reports
// to its clients. This sender is a JACK client too (one that never processes
// audio) and records the time of every xrun JACK reports. An xrun counts as
// inside a patch change when it falls between the program's log saying it
// starts one ("Loading voice patch") and half a second after it says the new
// patch opened ("Opening PD patch"); every other one is outside. A program
// that lags behind its input may change patches long after the step was
// sent, so at the end the sender waits (up to a minute) until every step
// has shown in the log.
//
// Resident memory: VmRSS (and its anonymous and shared parts) from
// /proc/PID/status every 10 s, and at --rss-at seconds (default 60) and at
// the end. The program's socket is found in /proc/PID/net/udp{,6} by its
// port, for the datagrams the kernel dropped before the listener read them.
//
// Exit status: 0 the soak ran to its end (run.sh judges the figures), 1 the
// program ended during the soak, 2 the soak could not run.

#include <jack/jack.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <random>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int datagramSize = 72;
constexpr int wandOffset = 23;
constexpr int firstTagOffset = 27;
constexpr int tagStride = 4;
constexpr int tagLength = 10;
constexpr int catchUpBurst = 50;
constexpr double sampleEverySeconds = 10.0;
// After the log says the new patch opened, a late callback still shows up as
// an xrun a cycle or two later, and JACK tells its clients a little after.
constexpr double patchSettleSeconds = 0.5;
// A patch change that has not opened its patch by then has failed.
constexpr double patchGiveUpSeconds = 10.0;
// How long after the last datagram the program may take to act on the
// patch steps it was sent.
constexpr double drainSeconds = 60.0;

struct Options
{
    long pid = 0;
    int port = 0;
    double seconds = 0;
    double rate = 1000;
    long malformedEvery = 100;
    double patchFirst = 30;
    double patchEvery = 60;
    double rssAt = 60;
    std::string log;
    std::string report;
    std::string patchTag;
    std::vector<std::string> tags;
};

[[noreturn]] void usage(const char* why)
{
    std::fprintf(
        stderr,
        "soak_sender: %s\n"
        "usage: soak_sender --pid PID --port PORT --seconds S --log LOG_TXT --report FILE\n"
        "                   --patch-tag TAG [--rate N] [--malformed-every K]\n"
        "                   [--patch-every S] [--patch-first S] [--rss-at S] TAG...\n",
        why);
    std::exit(2);
}

double number(const char* option, const char* text)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(value) || value < 0)
        usage((std::string(option) + " needs a number, not \"" + text + '"').c_str());
    return value;
}

Options readOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--", 0) != 0) {
            options.tags.push_back(argument);
            continue;
        }
        if (i + 1 == argc)
            usage((argument + " needs a value").c_str());
        const char* value = argv[++i];
        if (argument == "--pid")
            options.pid = long(number("--pid", value));
        else if (argument == "--port")
            options.port = int(number("--port", value));
        else if (argument == "--seconds")
            options.seconds = number("--seconds", value);
        else if (argument == "--rate")
            options.rate = number("--rate", value);
        else if (argument == "--malformed-every")
            options.malformedEvery = long(number("--malformed-every", value));
        else if (argument == "--patch-first")
            options.patchFirst = number("--patch-first", value);
        else if (argument == "--patch-every")
            options.patchEvery = number("--patch-every", value);
        else if (argument == "--rss-at")
            options.rssAt = number("--rss-at", value);
        else if (argument == "--log")
            options.log = value;
        else if (argument == "--report")
            options.report = value;
        else if (argument == "--patch-tag")
            options.patchTag = value;
        else
            usage(("unknown option " + argument).c_str());
    }
    if (options.pid <= 0 || options.port <= 0 || options.port > 65535 || options.seconds <= 0 ||
        options.rate <= 0 || options.patchEvery <= 0 || options.log.empty() ||
        options.report.empty() || options.patchTag.empty() || options.tags.empty())
        usage("missing or invalid options");
    for (const std::string& tag : options.tags)
        if (tag.empty() || tag.size() > std::size_t(tagLength))
            usage(("tag \"" + tag + "\" must have 1 to 10 characters").c_str());
    if (options.patchTag.size() > std::size_t(tagLength))
        usage("the patch tag must have 1 to 10 characters");
    return options;
}

// The wand's layout: identifier in byte 23, tag character i in byte
// 27 + 4 * i, zeros elsewhere.
std::vector<char> wandDatagram(const std::string& tag)
{
    std::vector<char> datagram(datagramSize, '\0');
    datagram[wandOffset] = 1;
    for (std::size_t i = 0; i < tag.size(); ++i)
        datagram[firstTagOffset + tagStride * i] = tag[i];
    return datagram;
}

double monotonicSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Local time of day in seconds, the clock the program's log is stamped with.
double timeOfDay()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + double(now.tv_nsec) / 1e9;
}

void sleepUntil(double monotonic)
{
    timespec until{};
    until.tv_sec = time_t(monotonic);
    until.tv_nsec = long((monotonic - double(until.tv_sec)) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

bool alive(long pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    // The state follows the command name's closing parenthesis.
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

struct Memory
{
    long rss = -1; // KiB
    long anon = -1;
    long shmem = -1;
    long file = -1;
    long hwm = -1;
};

Memory memoryOf(long pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    Memory memory;
    std::string line;
    while (std::getline(status, line)) {
        std::istringstream fields(line);
        std::string name;
        long kib = -1;
        fields >> name >> kib;
        if (name == "VmRSS:")
            memory.rss = kib;
        else if (name == "RssAnon:")
            memory.anon = kib;
        else if (name == "RssShmem:")
            memory.shmem = kib;
        else if (name == "RssFile:")
            memory.file = kib;
        else if (name == "VmHWM:")
            memory.hwm = kib;
    }
    return memory;
}

// User and system processor time of the process, in seconds.
double processorSeconds(long pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return -1;
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    double user = 0, system = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14)
            user = std::atof(field.c_str());
        else if (index == 15)
            system = std::atof(field.c_str());
    }
    return (user + system) / double(sysconf(_SC_CLK_TCK));
}

// The program's socket on the port, from the kernel's table: datagrams still
// queued (bytes) and datagrams dropped because the queue was full.
struct SocketState
{
    bool found = false;
    long queuedBytes = 0;
    long drops = 0;
};

SocketState socketOf(long pid, int port)
{
    SocketState state;
    char portHex[8];
    std::snprintf(portHex, sizeof portHex, "%04X", port);
    for (const char* table : {"udp", "udp6"}) {
        std::ifstream file("/proc/" + std::to_string(pid) + "/net/" + table);
        std::string line;
        std::getline(file, line); // the heading
        while (std::getline(file, line)) {
            // sl local_address rem_address st tx_queue:rx_queue tr:tm->when
            // retrnsmt uid timeout inode ref pointer drops
            std::istringstream fields(line);
            std::vector<std::string> columns;
            std::string column;
            while (fields >> column)
                columns.push_back(column);
            if (columns.size() < 13)
                continue;
            const std::string& local = columns[1];
            if (local.substr(local.find(':') + 1) != portHex)
                continue;
            const std::string& queues = columns[4];
            state.found = true;
            state.queuedBytes +=
                std::strtol(queues.substr(queues.find(':') + 1).c_str(), nullptr, 16);
            state.drops += std::atol(columns.back().c_str());
        }
    }
    return state;
}

// The xruns JACK reports, by the local time of day they were reported at.
class XrunWatch
{
public:
    bool open()
    {
        client_ = jack_client_open("soak_monitor", JackNoStartServer, nullptr);
        if (!client_)
            return false;
        times_.reserve(100000);
        jack_set_xrun_callback(client_, onXrun, this);
        return jack_activate(client_) == 0;
    }
    ~XrunWatch()
    {
        if (client_) {
            jack_deactivate(client_);
            jack_client_close(client_);
        }
    }
    std::vector<double> times() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return times_;
    }

private:
    // JACK's notification thread, not its process thread: taking a lock is
    // allowed here.
    static int onXrun(void* self)
    {
        auto* watch = static_cast<XrunWatch*>(self);
        const double now = timeOfDay();
        std::lock_guard<std::mutex> lock(watch->mutex_);
        watch->times_.push_back(now);
        return 0;
    }

    jack_client_t* client_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<double> times_;
};

// "[hh:mm:ss.zzz] text" -> seconds of the day.
std::optional<double> logTime(const std::string& line)
{
    int hours, minutes, seconds, milliseconds;
    if (std::sscanf(line.c_str(), "[%2d:%2d:%2d.%3d]", &hours, &minutes, &seconds, &milliseconds) !=
        4)
        return std::nullopt;
    return hours * 3600.0 + minutes * 60.0 + seconds + milliseconds / 1000.0;
}

struct LogFigures
{
    std::vector<double> loading; // "Loading voice patch"
    std::vector<double> opening; // "Opening PD patch:"
    long wrongSize = 0;          // wrong-size datagrams the records account for
    long commandBufferFull = 0;  // events the player's buffer refused
    long noticesLost = 0;
    long critical = 0;
};

// The count in a rate-limited record's " (N more since the last record)".
long heldBack(const std::string& line)
{
    const std::size_t at = line.rfind(" (");
    if (at == std::string::npos ||
        line.find(" more since the last record)", at) == std::string::npos)
        return 0;
    return std::atol(line.c_str() + at + 2);
}

LogFigures readLog(const std::string& path, double since)
{
    LogFigures figures;
    std::ifstream file(path);
    std::string line;
    double last = -1;
    while (std::getline(file, line)) {
        if (line.rfind("CRITICAL:", 0) == 0)
            ++figures.critical;
        const std::optional<double> time = logTime(line);
        if (!time)
            continue;
        // Past midnight the clock starts again; keep the times rising.
        double at = *time;
        while (last >= 0 && at + 43200 < last)
            at += 86400;
        last = at;
        if (at < since)
            continue;
        if (line.find("] Loading voice patch") != std::string::npos)
            figures.loading.push_back(at);
        else if (line.find("] Opening PD patch:") != std::string::npos)
            figures.opening.push_back(at);
        else if (line.find("] Discarding UDP packet due to wrong size") != std::string::npos)
            figures.wrongSize += 1 + heldBack(line);
        else if (line.find("] Command buffer full") != std::string::npos)
            figures.commandBufferFull += 1 + heldBack(line);
        else if (line.find("] Player notices lost to a full ring:") != std::string::npos)
            figures.noticesLost += std::atol(line.c_str() + line.rfind(':') + 1);
    }
    return figures;
}

// A patch change as the program's log shows it: from "Loading voice patch"
// (the window starts to unload the old voice) to "Opening PD patch" (the
// audio thread opened the new one).
struct PatchChange
{
    double loading = 0; // time of day
    double opened = -1; // -1 when it never opened
    double begin() const { return loading - 0.001; }
    double end() const
    {
        return opened >= 0 ? opened + patchSettleSeconds : loading + patchGiveUpSeconds;
    }
};

std::vector<PatchChange> patchChanges(const LogFigures& log)
{
    std::vector<PatchChange> changes;
    for (std::size_t i = 0; i < log.loading.size(); ++i) {
        PatchChange change;
        change.loading = log.loading[i];
        const double next =
            i + 1 < log.loading.size() ? log.loading[i + 1] : change.loading + patchGiveUpSeconds;
        for (double opened : log.opening)
            if (opened >= change.loading &&
                opened < std::min(next, change.loading + patchGiveUpSeconds)) {
                change.opened = opened;
                break;
            }
        changes.push_back(change);
    }
    return changes;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string clock(double timeOfDaySeconds)
{
    const long ms = std::lround(std::fmod(timeOfDaySeconds, 86400.0) * 1000);
    char text[32];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld.%03ld", ms / 3600000, ms / 60000 % 60,
                  ms / 1000 % 60, ms % 1000);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = readOptions(argc, argv);
    signal(SIGPIPE, SIG_IGN);
    if (!alive(options.pid)) {
        std::fprintf(stderr, "soak_sender: no process %ld\n", options.pid);
        return 2;
    }
    XrunWatch xruns;
    if (!xruns.open()) {
        std::fprintf(stderr, "soak_sender: cannot join the JACK server (JACK_DEFAULT_SERVER=%s)\n",
                     std::getenv("JACK_DEFAULT_SERVER") ? std::getenv("JACK_DEFAULT_SERVER") : "");
        return 2;
    }
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(options.port));
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sock < 0 || connect(sock, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        std::perror("soak_sender: socket");
        return 2;
    }

    std::vector<std::vector<char>> notes;
    for (const std::string& tag : options.tags)
        notes.push_back(wandDatagram(tag));
    const std::vector<char> patchStep = wandDatagram(options.patchTag);
    // Wrong sizes around the right one, and far from it.
    const std::vector<int> wrongSizes{71, 73, 0, 36, 144, 1, 1400};
    const std::vector<char> wrongBody(1400, 'x');

    std::mt19937 random(20240601u);
    std::vector<std::size_t> round(notes.size());
    for (std::size_t i = 0; i < round.size(); ++i)
        round[i] = i;
    std::size_t inRound = round.size();

    // The patch steps: one every patchEvery seconds from patchFirst, none so
    // late that it could not finish before the end.
    std::vector<double> patchAt;
    for (double at = options.patchFirst; at + patchGiveUpSeconds <= options.seconds;
         at += options.patchEvery)
        patchAt.push_back(at);

    const long total = std::lround(options.seconds * options.rate);
    long sent = 0, noteSent = 0, malformedSent = 0, sendErrors = 0;
    double worstLag = 0;
    std::vector<double> patchSentAt; // time of day
    std::size_t nextPatch = 0;

    const Memory atStart = memoryOf(options.pid);
    const double cpuAtStart = processorSeconds(options.pid);
    Memory atMark;
    double cpuAtMark = -1;
    bool markTaken = false;
    std::vector<std::pair<double, Memory>> samples;
    double nextSample = 0;

    const double startDay = timeOfDay();
    const double start = monotonicSeconds();
    bool programEnded = false;
    std::printf("soak: %ld datagrams over %.0f s to 127.0.0.1:%d, %zu patch steps\n", total,
                options.seconds, options.port, patchAt.size());
    std::fflush(stdout);

    auto send = [&](const char* data, int size) {
        if (::send(sock, data, std::size_t(size), 0) != size)
            ++sendErrors;
    };

    while (sent < total) {
        const double due = start + double(sent) / options.rate;
        double now = monotonicSeconds();
        if (now < due) {
            sleepUntil(due);
            now = monotonicSeconds();
        }
        worstLag = std::max(worstLag, now - due);
        const double elapsed = now - start;

        if (nextPatch < patchAt.size() && elapsed >= patchAt[nextPatch]) {
            patchSentAt.push_back(timeOfDay());
            send(patchStep.data(), datagramSize);
            ++nextPatch;
        }

        // Due now, catching up at most a burst at a time.
        const long dueCount =
            std::min<long>(total, std::lround(std::floor(elapsed * options.rate)) + 1);
        for (long burst = 0; sent < dueCount && burst < catchUpBurst; ++burst, ++sent) {
            if (options.malformedEvery > 0 &&
                sent % options.malformedEvery == options.malformedEvery / 2) {
                const int size = wrongSizes[std::size_t(malformedSent) % wrongSizes.size()];
                send(wrongBody.data(), size);
                ++malformedSent;
                continue;
            }
            if (inRound == round.size()) {
                std::shuffle(round.begin(), round.end(), random);
                inRound = 0;
            }
            send(notes[round[inRound++]].data(), datagramSize);
            ++noteSent;
        }

        if (elapsed >= nextSample) {
            nextSample += sampleEverySeconds;
            if (!alive(options.pid)) {
                programEnded = true;
                break;
            }
            samples.emplace_back(elapsed, memoryOf(options.pid));
            std::printf("soak: %6.0f s  %9ld datagrams  VmRSS %7.1f MiB  xruns %zu\n", elapsed,
                        sent, samples.back().second.rss / 1024.0, xruns.times().size());
            std::fflush(stdout);
        }
        if (!markTaken && elapsed >= options.rssAt) {
            atMark = memoryOf(options.pid);
            cpuAtMark = processorSeconds(options.pid);
            markTaken = true;
        }
    }
    const double sendingSeconds = monotonicSeconds() - start;
    const double endDay = timeOfDay();

    // Let the listener empty its queue, then read the end figures.
    sleepUntil(monotonicSeconds() + 1.0);
    programEnded = programEnded || !alive(options.pid);
    const Memory atEnd = memoryOf(options.pid);
    const double cpuAtEnd = processorSeconds(options.pid);
    const SocketState socketState = socketOf(options.pid, options.port);

    // A program that lags behind its input changes patches late: wait,
    // bounded, until every patch step has shown in the log and settled, so
    // that the underflows of a late change are counted as its own.
    const double drainStart = monotonicSeconds();
    LogFigures log = readLog(options.log, startDay);
    while (!programEnded && log.loading.size() < patchSentAt.size() &&
           monotonicSeconds() - drainStart < drainSeconds) {
        sleepUntil(monotonicSeconds() + 0.5);
        log = readLog(options.log, startDay);
        programEnded = !alive(options.pid);
    }
    sleepUntil(monotonicSeconds() + patchSettleSeconds + 0.5);
    log = readLog(options.log, startDay);
    const double drainedSeconds = monotonicSeconds() - drainStart;
    const std::vector<double> xrunTimes = xruns.times();
    const std::vector<PatchChange> changes = patchChanges(log);

    long inside = 0, outside = 0;
    std::vector<double> outsideTimes;
    for (double xrun : xrunTimes) {
        const bool during = std::any_of(changes.begin(), changes.end(), [&](const PatchChange& c) {
            return xrun >= c.begin() && xrun <= c.end();
        });
        if (during)
            ++inside;
        else {
            ++outside;
            outsideTimes.push_back(xrun);
        }
    }
    // A change is taken to answer the last step sent before it: the program
    // may lose a step, and may lag, but not by the minute between steps.
    std::vector<double> changeMs, stepDelayMs;
    long changesCompleted = 0;
    std::string changesAt;
    for (const PatchChange& change : changes) {
        if (change.opened >= 0) {
            ++changesCompleted;
            changeMs.push_back((change.opened - change.loading) * 1000);
        }
        const auto step = std::upper_bound(patchSentAt.begin(), patchSentAt.end(), change.loading);
        if (step != patchSentAt.begin())
            stepDelayMs.push_back((change.loading - *(step - 1)) * 1000);
        changesAt +=
            (changesAt.empty() ? "" : " ") + std::to_string(long(change.loading - startDay));
    }
    std::string stepsAt;
    for (double step : patchSentAt)
        stepsAt += (stepsAt.empty() ? "" : " ") + std::to_string(long(step - startDay));
    const auto largest = [](const std::vector<double>& values) {
        return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
    };

    std::ofstream report(options.report);
    report << "program_ended=" << (programEnded ? 1 : 0) << '\n'
           << "seconds_planned=" << options.seconds << '\n'
           << "seconds_sending=" << sendingSeconds << '\n'
           << "datagrams_sent=" << sent + long(patchSentAt.size()) << '\n'
           << "datagrams_planned=" << total + long(patchAt.size()) << '\n'
           << "note_datagrams=" << noteSent << '\n'
           << "malformed_datagrams=" << malformedSent << '\n'
           << "patch_datagrams=" << patchSentAt.size() << '\n'
           << "send_errors=" << sendErrors << '\n'
           << "worst_lag_ms=" << worstLag * 1000 << '\n'
           << "socket_found=" << (socketState.found ? 1 : 0) << '\n'
           << "socket_drops=" << socketState.drops << '\n'
           << "socket_queued_bytes=" << socketState.queuedBytes << '\n'
           << "rss_start_kib=" << atStart.rss << '\n'
           << "rss_mark_kib=" << atMark.rss << '\n'
           << "rss_mark_anon_kib=" << atMark.anon << '\n'
           << "rss_mark_shmem_kib=" << atMark.shmem << '\n'
           << "rss_mark_file_kib=" << atMark.file << '\n'
           << "rss_end_kib=" << atEnd.rss << '\n'
           << "rss_end_anon_kib=" << atEnd.anon << '\n'
           << "rss_end_shmem_kib=" << atEnd.shmem << '\n'
           << "rss_end_file_kib=" << atEnd.file << '\n'
           << "rss_peak_kib=" << atEnd.hwm << '\n'
           << "rss_mark_seconds=" << options.rssAt << '\n'
           << "cpu_seconds_start=" << cpuAtStart << '\n'
           << "cpu_seconds_mark=" << cpuAtMark << '\n'
           << "cpu_seconds_end=" << cpuAtEnd << '\n'
           << "xruns=" << xrunTimes.size() << '\n'
           << "xruns_inside_patch_changes=" << inside << '\n'
           << "xruns_outside_patch_changes=" << outside << '\n'
           << "patch_changes=" << changes.size() << '\n'
           << "patch_changes_completed=" << changesCompleted << '\n'
           << "patch_change_median_ms=" << median(changeMs) << '\n'
           << "patch_change_max_ms=" << largest(changeMs) << '\n'
           << "patch_step_delay_median_ms=" << median(stepDelayMs) << '\n'
           << "patch_step_delay_max_ms=" << largest(stepDelayMs) << '\n'
           << "seconds_waiting_for_patch_changes=" << drainedSeconds << '\n'
           << "log_wrong_size_records=" << log.wrongSize << '\n'
           << "log_command_buffer_full=" << log.commandBufferFull << '\n'
           << "log_notices_lost=" << log.noticesLost << '\n'
           << "log_critical=" << log.critical << '\n'
           << "started_at=" << clock(startDay) << '\n'
           << "ended_at=" << clock(endDay) << '\n';
    std::string outsideList;
    for (double time : outsideTimes)
        outsideList += (outsideList.empty() ? "" : " ") + clock(time);
    report << "xrun_outside_times=" << outsideList << '\n';
    report << "patch_steps_at=" << stepsAt << '\n' << "patch_changes_at=" << changesAt << '\n';
    std::string rssList;
    for (const auto& sample : samples)
        rssList += (rssList.empty() ? "" : " ") + std::to_string(long(sample.first)) + ':' +
                   std::to_string(sample.second.rss);
    report << "rss_samples=" << rssList << '\n';
    report.close();
    if (!report) {
        std::fprintf(stderr, "soak_sender: cannot write %s\n", options.report.c_str());
        return 2;
    }
    close(sock);
    return programEnded ? 1 : 0;
}
