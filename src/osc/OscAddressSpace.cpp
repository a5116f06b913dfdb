#include "OscAddressSpace.h"

#include <lo/lo_lowlevel.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

// The arguments of one message, read with their types checked.
class Arguments
{
public:
    Arguments(const char* types, lo_arg** argv, int argc) : types_(types), argv_(argv), argc_(argc)
    {
    }

    int count() const { return argc_; }
    bool isText(int i) const { return i < argc_ && (types_[i] == 's' || types_[i] == 'S'); }

    bool number(int i, double& value) const
    {
        if (i >= argc_)
            return false;
        // liblo's arguments lie at 4-byte steps in its buffer, short of the
        // union's alignment, so they are copied out byte by byte. T and F
        // carry no bytes at all.
        switch (types_[i]) {
        case 'i':
            value = copied<std::int32_t>(i);
            return true;
        case 'h':
            value = double(copied<std::int64_t>(i));
            return true;
        case 'f':
            value = copied<float>(i);
            return true;
        case 'd':
            value = copied<double>(i);
            return true;
        case 'T':
            value = 1;
            return true;
        case 'F':
            value = 0;
            return true;
        default:
            return false;
        }
    }
    // A whole number within [lowest, highest].
    bool whole(int i, int lowest, int highest, int& value) const
    {
        double x = 0;
        if (!number(i, x) || !std::isfinite(x) || x != std::floor(x) || x < lowest || x > highest)
            return false;
        value = int(x);
        return true;
    }
    bool within(int i, double lowest, double highest, float& value) const
    {
        double x = 0;
        if (!number(i, x) || !(x >= lowest && x <= highest))
            return false;
        value = float(x);
        return true;
    }
    QString text(int i) const { return QString::fromUtf8(reinterpret_cast<const char*>(argv_[i])); }

private:
    template <typename T> T copied(int i) const
    {
        T value;
        std::memcpy(&value, reinterpret_cast<const char*>(argv_[i]), sizeof value);
        return value;
    }

    const char* types_;
    lo_arg** argv_;
    int argc_;
};

bool isPrime(int n)
{
    static const int primes[] = {2, 3, 5, 7, 11, 13, 17, 19, 23};
    for (int p : primes)
        if (n == p)
            return true;
    return false;
}

OscCommand eventCommand(int type, float value)
{
    OscCommand command;
    command.event = LatticeEvent(type, value);
    return command;
}

// Reads one message's command; false with the reason when it is refused.
bool readMessage(std::string_view address, const Arguments& args, OscCommand& command, QString& why)
{
    constexpr std::string_view prefix = "/lattice/";
    if (address.substr(0, prefix.size()) != prefix) {
        why = QStringLiteral("no such address");
        return false;
    }
    const std::string_view name = address.substr(prefix.size());
    const int n = args.count();
    auto refuse = [&why](const char* reason) {
        why = QString::fromLatin1(reason);
        return false;
    };

    if (name == "note/toggle" || name == "note/on" || name == "note/off") {
        const bool on = name == "note/on";
        if (!args.isText(0) || n > (on ? 2 : 1))
            return refuse(on ? "expects s:path [n:velocity]" : "expects s:path");
        const LatticePath path(args.text(0));
        if (!path.isValid() || !path.ratio())
            return refuse("not a lattice path");
        float velocity = 1.0f;
        if (n == 2 && !args.within(1, 0.0, 1.0, velocity))
            return refuse("velocity must be a number from 0 to 1");
        const int kind = on                   ? LatticeEvent::NoteOn
                         : name == "note/off" ? LatticeEvent::NoteOff
                                              : LatticeEvent::NoteToggle;
        command = eventCommand(kind, velocity);
        command.path = path;
        return true;
    }
    if (name == "stop") {
        if (n != 0)
            return refuse("takes no arguments");
        command = eventCommand(LatticeEvent::AllNotesOff, 0.0f);
        return true;
    }
    if (name == "transpose" || name == "prime") {
        int prime = 0;
        const bool transpose = name == "transpose";
        if (n != 1 || !args.whole(0, -23, 23, prime) ||
            !(isPrime(std::abs(prime)) || (transpose && prime == 0)) || (!transpose && prime < 0))
            return refuse(transpose ? "expects a prime up to 23, signed, or 0"
                                    : "expects a prime from 2 to 23");
        command = eventCommand(transpose ? LatticeEvent::Transpose : LatticeEvent::PrimeToggle,
                               float(prime));
        return true;
    }
    struct Setter
    {
        std::string_view name;
        int type;
        double lowest, highest;
    };
    static const Setter setters[] = {
        {"volume", LatticeEvent::MasterVolumeSet, 0.0, 1.0},
        {"volume/step", LatticeEvent::MasterVolumeStep, -1.0, 1.0},
        {"voice-volume", LatticeEvent::VoiceVolumeSet, 0.0, 1.0},
        {"voice-volume/step", LatticeEvent::VoiceVolumeStep, -1.0, 1.0},
        {"base", LatticeEvent::BaseFrequencySet, 20.0, 20000.0},
        {"mono", LatticeEvent::MonophonicSet, 0.0, 1.0},
    };
    for (const Setter& setter : setters) {
        if (name != setter.name)
            continue;
        float value = 0.0f;
        if (n != 1 || !args.within(0, setter.lowest, setter.highest, value))
            return refuse("expects one number in range");
        command = eventCommand(setter.type, value);
        return true;
    }
    if (name == "macro") {
        int macro = 0;
        float value = 0.0f;
        if (n != 2 || !args.whole(0, 1, 8, macro) || !args.within(1, 0.0, 1.0, value))
            return refuse("expects n:macro 1..8 and n:value 0..1");
        command = eventCommand(LatticeEvent::Macro1 + macro - 1, value);
        return true;
    }
    if (name == "patch") {
        int step = 0;
        if (n == 1 && args.isText(0) && !args.text(0).isEmpty()) {
            command.kind = OscCommand::PatchByName;
            command.text = args.text(0);
            return true;
        }
        if (n != 1 || !args.whole(0, -1, 1, step) || step == 0)
            return refuse("expects n:step (1 or -1) or s:name");
        command = eventCommand(LatticeEvent::PatchStep, float(step));
        return true;
    }
    if (name == "record") {
        int on = 0;
        if (n != 1 || !args.whole(0, 0, 1, on))
            return refuse("expects n:0 or 1");
        command.kind = OscCommand::Record;
        command.port = on;
        return true;
    }
    if (name == "tag") {
        if (n != 1 || !args.isText(0))
            return refuse("expects s:tag");
        command.kind = OscCommand::Tag;
        command.text = args.text(0);
        return true;
    }
    if (name == "subscribe" || name == "unsubscribe") {
        const int first = n == 2 && args.isText(0) ? 1 : 0;
        int port = 0;
        if (n != first + 1 || !args.whole(first, 1, 65535, port))
            return refuse("expects [s:host] n:port");
        command.kind = name == "subscribe" ? OscCommand::Subscribe : OscCommand::Unsubscribe;
        command.text = first ? args.text(0) : QString();
        command.port = port;
        return true;
    }
    return refuse("no such address");
}

// liblo's message handle, freed with its scope.
struct ParsedMessage
{
    explicit ParsedMessage(lo_message parsed) : message(parsed) {}
    ~ParsedMessage()
    {
        if (message)
            lo_message_free(message);
    }
    ParsedMessage(const ParsedMessage&) = delete;
    ParsedMessage& operator=(const ParsedMessage&) = delete;
    lo_message message;
};

std::uint32_t bigEndian32(const char* bytes)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 |
           std::uint32_t(b[3]);
}

class Dispatcher
{
public:
    Dispatcher(const std::function<void(const OscCommand&)>& take, QString* why)
        : take_(take), why_(why)
    {
    }

    void packet(const char* data, std::size_t size, int depth)
    {
        constexpr char bundleMark[] = "#bundle"; // with its zero, 8 bytes
        if (size >= sizeof bundleMark && std::memcmp(data, bundleMark, sizeof bundleMark) == 0)
            bundle(data, size, depth);
        else
            message(data, size);
    }

    int refused = 0;

private:
    void refuse(const QString& reason)
    {
        if (refused++ == 0 && why_)
            *why_ = reason;
    }

    // "#bundle", an 8-byte time tag, then elements of a 4-byte size and as
    // many bytes of a message or a bundle.
    void bundle(const char* data, std::size_t size, int depth)
    {
        if (depth >= OscAddressSpace::maxBundleDepth) {
            refuse(QStringLiteral("bundles nested too deep"));
            return;
        }
        std::size_t at = 16;
        if (size < at) {
            refuse(QStringLiteral("a bundle too short for its time tag"));
            return;
        }
        while (at < size) {
            if (size - at < 4) {
                refuse(QStringLiteral("a bundle element cut short"));
                return;
            }
            const std::uint32_t length = bigEndian32(data + at);
            at += 4;
            if (length == 0 || length % 4 != 0 || length > size - at) {
                refuse(QStringLiteral("a bundle element of a wrong size"));
                return;
            }
            packet(data + at, length, depth + 1);
            at += length;
        }
    }

    void message(const char* data, std::size_t size)
    {
        int result = 0;
        const ParsedMessage parsed(lo_message_deserialise(const_cast<char*>(data), size, &result));
        if (!parsed.message) {
            refuse(QStringLiteral("not an OSC message"));
            return;
        }
        // The address is the packet's first text, checked by the parse.
        const std::string_view address(data);
        const Arguments args(lo_message_get_types(parsed.message),
                             lo_message_get_argv(parsed.message),
                             lo_message_get_argc(parsed.message));
        OscCommand command;
        QString reason;
        if (readMessage(address, args, command, reason))
            take_(command);
        else
            refuse(
                QString::fromUtf8(address.data(), int(std::min<std::size_t>(address.size(), 64))) +
                QStringLiteral(": ") + reason);
    }

    const std::function<void(const OscCommand&)>& take_;
    QString* why_;
};

} // namespace

int OscAddressSpace::dispatch(const char* data, std::size_t size,
                              const std::function<void(const OscCommand&)>& take, QString* why)
{
    Dispatcher dispatcher(take, why);
    if (size == 0 || size % 4 != 0) {
        if (why)
            *why = QStringLiteral("a packet whose size is not a multiple of 4");
        return 1;
    }
    dispatcher.packet(data, size, 0);
    return dispatcher.refused;
}
