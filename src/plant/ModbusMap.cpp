// The register image and the Modbus TCP framing: MBAP header (transaction, protocol 0, length,
// unit), then the function and its data.
#include "ModbusMap.h"

#include <algorithm>
#include <cmath>

namespace zeva {

namespace {

uint16_t tenths(const std::optional<TPhaseTemps>& temps, int phase)
{
    if (!temps)
        return uint16_t(ModbusMap::NoValue);
    const double t = (*temps)[std::size_t(phase)];
    if (!Shown(t))
        return uint16_t(ModbusMap::NoValue);
    return uint16_t(int16_t(std::lround(t * 10)));
}

std::vector<uint8_t> exception(const uint8_t* header, uint8_t function, uint8_t code)
{
    std::vector<uint8_t> r(header, header + 7);
    r[4] = 0;
    r[5] = 3;
    r.push_back(uint8_t(function | 0x80));
    r.push_back(code);
    return r;
}

} // namespace

TRegisterMap::TRegisterMap()
{
    for (int a = 0; a < 256; ++a) {
        TPlantInstrument none;
        none.address = a;
        SetInstrument(none);
    }
}

void TRegisterMap::SetInstrument(const TPlantInstrument& in)
{
    if (in.address < 0 || in.address > 255)
        return;
    uint16_t* b = &m_registers[std::size_t(in.address * ModbusMap::BlockSize)];
    std::fill(b, b + ModbusMap::BlockSize, uint16_t(0));
    for (int p = 0; p < 4; ++p) {
        b[p] = in.polled ? tenths(in.live, p) : uint16_t(ModbusMap::NoValue);
        b[4 + p] = in.polled ? tenths(in.blackBox, p) : uint16_t(ModbusMap::NoValue);
    }
    b[8] = in.polled ? in.lamps.value_or(0) : 0;
    b[9] = uint16_t(in.polled && in.lastReplyMs > 0 ? in.health : 0);
    b[11] = uint16_t(std::clamp(in.standing, 0, 65535));
    m_lastReplyMs[std::size_t(in.address)] = in.polled ? in.lastReplyMs : 0;
}

void TRegisterMap::SetStation(const TPlantStation& s)
{
    uint16_t* b = &m_registers[ModbusMap::Station];
    b[0] = uint16_t(s.link);
    b[1] = uint16_t(std::clamp(s.polled, 0, 65535));
    b[2] = uint16_t(std::clamp<qint64>(s.unacknowledged, 0, 65535));
    b[3] = uint16_t(s.central);
}

void TRegisterMap::Read(int first, int count, qint64 nowMs, uint16_t* out) const
{
    for (int i = 0; i < count; ++i) {
        const int r = first + i;
        out[i] = m_registers[std::size_t(r)];
        if (r < ModbusMap::Station && r % ModbusMap::BlockSize == 10) {
            const qint64 last = m_lastReplyMs[std::size_t(r / ModbusMap::BlockSize)];
            out[i] = last <= 0 ? 65535 : uint16_t(std::clamp<qint64>((nowMs - last) / 1000, 0, 65535));
        }
    }
}

TModbusStep AnswerModbus(const uint8_t* d, std::size_t length, const TRegisterMap& map, qint64 nowMs)
{
    TModbusStep step;
    if (length < 7)
        return step;
    const unsigned protocol = unsigned(d[2]) << 8 | d[3];
    const unsigned following = unsigned(d[4]) << 8 | d[5]; // the unit id and the PDU
    // The longest ADU is 260 bytes; a function code at least.
    if (protocol != 0 || following < 2 || following > 254) {
        step.what = TModbusStep::What::Close;
        return step;
    }
    if (length < 6 + following)
        return step;
    step.used = 6 + following;
    step.what = TModbusStep::What::Answer;
    const uint8_t function = d[7];
    if (function != 0x04) {
        step.response = exception(d, function, 0x01);
        return step;
    }
    if (following != 6) {
        step.response = exception(d, function, 0x03);
        return step;
    }
    const int first = d[8] << 8 | d[9];
    const int count = d[10] << 8 | d[11];
    if (count < 1 || count > ModbusMap::MaxCount) {
        step.response = exception(d, function, 0x03);
        return step;
    }
    if (first + count > ModbusMap::Registers) {
        step.response = exception(d, function, 0x02);
        return step;
    }
    uint16_t values[ModbusMap::MaxCount];
    map.Read(first, count, nowMs, values);
    std::vector<uint8_t>& r = step.response;
    r.assign(d, d + 7);
    // The unit id, the function, the byte count and the registers.
    const unsigned answered = 3 + unsigned(count) * 2;
    r[4] = uint8_t(answered >> 8);
    r[5] = uint8_t(answered & 0xFF);
    r.push_back(function);
    r.push_back(uint8_t(count * 2));
    for (int i = 0; i < count; ++i) {
        r.push_back(uint8_t(values[i] >> 8));
        r.push_back(uint8_t(values[i] & 0xFF));
    }
    return step;
}

} // namespace zeva
