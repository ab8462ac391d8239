// The station as Modbus input registers (read only, function 04), and the answer to one request.
//   32 x a + 0..3   live A..D x 10, signed; -32768 no value (ERR, not yet read, not polled)
//   32 x a + 4..7   black box A..D x 10, the same
//   32 x a + 8      lamps (bits as LampBits), 9 health (0 none, 1 正常, 2 超时, 3 中断),
//   32 x a + 10     seconds since the last accepted reply (65535 when none, saturating),
//   32 x a + 11     standing alarms; 12..31 zero
//   8192 link (0 已连接, 1 无应答, 2 串口断开), 8193 polled instruments, 8194 unacknowledged
//   alarms, 8195 central database (0 off, 1 已同步, 2 积压, 3 不可达)
#pragma once

#include "PlantTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zeva {

namespace ModbusMap {
inline constexpr int BlockSize = 32;
inline constexpr int Station = 8192;
inline constexpr int Registers = 8196;
inline constexpr int MaxCount = 125;
inline constexpr int16_t NoValue = -32768;
} // namespace ModbusMap

class TRegisterMap {
public:
    TRegisterMap();
    void SetInstrument(const TPlantInstrument& instrument);
    void SetStation(const TPlantStation& station);
    // `count` registers from `first` as they read at `nowMs` (the ages are counted then).
    void Read(int first, int count, qint64 nowMs, uint16_t* out) const;

private:
    std::array<uint16_t, ModbusMap::Registers> m_registers{};
    std::array<qint64, 256> m_lastReplyMs{};
};

// How a received stream goes on: a whole request is answered, a partial one waits for more, and
// a stream that is no Modbus TCP (another protocol id, an impossible length) is closed.
struct TModbusStep {
    enum class What { Answer, NeedMore, Close } what = What::NeedMore;
    std::size_t used = 0;          // bytes of the stream the request took
    std::vector<uint8_t> response; // for Answer
};
TModbusStep AnswerModbus(const uint8_t* data, std::size_t length, const TRegisterMap& map, qint64 nowMs);

} // namespace zeva
