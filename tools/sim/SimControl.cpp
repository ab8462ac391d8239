// Parsing of control-channel lines.
#include "SimControl.h"

#include <cstdlib>
#include <sstream>

namespace zeva::sim {

namespace {

bool number(const std::string& text, double lo, double hi, double& out)
{
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == 0 && out >= lo && out <= hi;
}

TParsedControl refuse(const std::string& why)
{
    return {std::nullopt, why};
}


using TWords = std::vector<std::string>;

// Commands about one instrument: temp, wander, door, fault, present, baud. None: another verb.
std::optional<TParsedControl> parseInstrumentCommand(const TWords& w)
{
    TControlCommand c;
    const std::string& verb = w[0];
    double v = 0;
    auto address = [&]() {
        if (w.size() < 2 || !number(w[1], 0, 255, v) || v != double(int(v)))
            return false;
        c.address = int(v);
        return true;
    };
    auto onOff = [&](const std::string& word, const char* yes, const char* no) {
        if (word == yes)
            c.on = true;
        else if (word == no)
            c.on = false;
        else
            return false;
        return true;
    };

    if (verb == "temp") {
        if (!address() || w.size() != 6)
            return refuse("temp ADDR A B C D");
        c.kind = TControlCommand::Kind::Temp;
        for (std::size_t i = 0; i < 4; ++i) {
            if (!number(w[2 + i], 0, 6553.5, v))
                return refuse("a temperature from 0 to 6553.5");
            c.temps[i] = v;
        }
    } else if (verb == "wander") {
        if (!address() || w.size() != 2)
            return refuse("wander ADDR");
        c.kind = TControlCommand::Kind::Wander;
    } else if (verb == "door") {
        if (!address() || w.size() != 3 || !onOff(w[2], "open", "closed"))
            return refuse("door ADDR open|closed");
        c.kind = TControlCommand::Kind::Door;
    } else if (verb == "fault") {
        if (!address() || w.size() < 3 || w.size() > 4 || !onOff(w[2], "on", "off"))
            return refuse("fault ADDR on|off [A|B|C|D]");
        c.kind = TControlCommand::Kind::Fault;
        if (w.size() == 4) {
            if (w[3].size() != 1 || w[3][0] < 'A' || w[3][0] > 'D')
                return refuse("a phase A, B, C or D");
            c.phase = w[3][0] - 'A';
        }
    } else if (verb == "present") {
        if (!address() || w.size() != 3 || !onOff(w[2], "on", "off"))
            return refuse("present ADDR on|off");
        c.kind = TControlCommand::Kind::Present;
    } else if (verb == "baud") {
        if (!address() || w.size() != 3 || !number(w[2], 1, 4000000, v))
            return refuse("baud ADDR RATE");
        c.kind = TControlCommand::Kind::Baud;
        c.baud = uint32_t(v);
    } else {
        return std::nullopt;
    }
    return TParsedControl{c, {}};
}

// Commands about the line: shares of faults, delay, burst, send, unplug and plug. None: another verb.
std::optional<TParsedControl> parseBusCommand(const TWords& w)
{
    TControlCommand c;
    const std::string& verb = w[0];
    double v = 0;
    if (verb == "drop" || verb == "corrupt" || verb == "split" || verb == "noise") {
        if (w.size() != 2 || !number(w[1], 0, 1, v))
            return refuse(verb + " wants a share from 0 to 1");
        c.kind = TControlCommand::Kind::Share;
        c.share = verb;
        c.value = v;
    } else if (verb == "delay") {
        if (w.size() != 2 || !number(w[1], 0, 60000, v))
            return refuse("delay MS (0 to 60000)");
        c.kind = TControlCommand::Kind::Delay;
        c.value = v;
    } else if (verb == "burst") {
        if (w.size() != 2 || !number(w[1], 1, 65536, v))
            return refuse("burst N (1 to 65536)");
        c.kind = TControlCommand::Kind::Burst;
        c.value = v;
    } else if (verb == "send") {
        std::size_t first = 1;
        if (w.size() > 1 && w[1] == "after") {
            if (w.size() < 3 || !number(w[2], 0, 255, v) || v != double(int(v)))
                return refuse("send after ADDR HEX...");
            c.after = int(v);
            first = 3;
        }
        if (w.size() <= first)
            return refuse("send [after ADDR] HEX...");
        c.kind = TControlCommand::Kind::Send;
        for (std::size_t i = first; i < w.size(); ++i) {
            char* end = nullptr;
            long b = std::strtol(w[i].c_str(), &end, 16);
            if (w[i].empty() || w[i].size() > 2 || *end || b < 0 || b > 255)
                return refuse("bytes in hexadecimal, 00 to FF");
            c.bytes.push_back(uint8_t(b));
        }
    } else if (verb == "unplug" || verb == "plug") {
        if (w.size() != 1)
            return refuse(verb + " takes nothing more");
        c.kind = verb == "unplug" ? TControlCommand::Kind::Unplug : TControlCommand::Kind::Plug;
    } else {
        return std::nullopt;
    }
    return TParsedControl{c, {}};
}

} // namespace

TParsedControl ParseControlLine(const std::string& line)
{
    std::istringstream in(line);
    TWords w;
    for (std::string word; in >> word;)
        w.push_back(word);
    if (w.empty())
        return refuse("empty line");
    if (std::optional<TParsedControl> parsed = parseInstrumentCommand(w))
        return *parsed;
    if (std::optional<TParsedControl> parsed = parseBusCommand(w))
        return *parsed;
    return refuse("unknown command " + w[0]);
}

} // namespace zeva::sim
