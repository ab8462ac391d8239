// The recorder in the plant: started before its adapter, it serves the register map and publishes
// on a real mosquitto, and polls once the device appears.
#include "Plant.h"

#include <modbus.h>

#include <csignal>
#include <regex>
#include <sys/wait.h>

using namespace zeva::test;

namespace {

// `count` input registers from `first` through libmodbus's client; empty on any error.
std::vector<int> inputRegisters(int port, int first, int count)
{
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    std::vector<uint16_t> r(static_cast<std::size_t>(count));
    const bool ok = ctx && modbus_connect(ctx) == 0 && modbus_read_input_registers(ctx, first, count, r.data()) == count;
    if (ctx) {
        modbus_close(ctx);
        modbus_free(ctx);
    }
    return ok ? std::vector<int>(r.begin(), r.end()) : std::vector<int>{};
}

std::vector<uint8_t> request(uint8_t function, int first, int count, uint16_t protocol = 0)
{
    return {0x12, 0x34, uint8_t(protocol >> 8), uint8_t(protocol), 0, 6, 0xFF, function,
            uint8_t(first >> 8), uint8_t(first), uint8_t(count >> 8), uint8_t(count)};
}

} // namespace

TEST(Plant, ARecorderStartedBeforeItsAdapterServesModbusPublishesOnMqttAndPollsOnceTheDeviceComes)
{
    Station st("zeva-plant");
    st.InitDb(true);
    Broker broker(st.dir);
    const std::string port = std::to_string(broker.port);
    st.Ini("Interval_S=1\r\n[Mqtt]\r\nHost=127.0.0.1\r\nPort=" + port + "\r\nTopic=t/st\r\n[Modbus]\r\nListen=127.0.0.1:0\r\n");
    const int alarms = Spawn({"/usr/bin/stdbuf", "-oL", "mosquitto_sub", "-h", "127.0.0.1", "-p", port, "-q", "1", "-t", "t/st/alarm"},
                             st.dir.string(), (st.dir / "alarms.out").string());

    st.StartRecorder(); // no simulator yet: the adapter is out
    std::smatch m;
    ASSERT_TRUE(eventually([&] {
        const std::string out = readText(st.dir / "recorder.out");
        return std::regex_search(out, m, std::regex("Modbus：在 127.0.0.1:(\\d+)"));
    })) << readText(st.dir / "recorder.out");
    const int modbus = std::stoi(m[1]);
    EXPECT_NE(readText(st.dir / "recorder.out").find("暂不可用：设备 " + (st.dir / "bus").string() + " 不存在"),
              std::string::npos);
    EXPECT_EQ(inputRegisters(modbus, 8192, 2), (std::vector<int>{2, 3})) << "串口断开, three polled";
    EXPECT_EQ(inputRegisters(modbus, 64, 12), (std::vector<int>{32768, 32768, 32768, 32768, 32768, 32768, 32768,
                                                                32768, 0, 0, 65535, 0}))
        << "instrument 2 not read yet";
    EXPECT_TRUE(eventually([&] { return broker.Retained("t/st/link").find("\"state\":\"串口断开\"") != std::string::npos; }));
    EXPECT_NE(broker.Retained("t/st/instrument/2").find("\"health\":null"), std::string::npos) << "no reply yet";

    // The device appears: polled, mapped and published at known readings.
    st.StartSim({"--instrument", "1:2:45", "--instrument", "2:6:55", "--instrument", "3:10:65"});
    st.Control("temp 2 61.5 62 163.4 0");
    ASSERT_TRUE(eventually([&] {
        const std::vector<int> r = inputRegisters(modbus, 64, 12);
        return r.size() == 12 && r[0] == 615 && r[1] == 620 && r[2] == 1634 && r[3] == 0 && r[9] == 1 && r[10] < 5;
    })) << readText(st.dir / "recorder.out");
    EXPECT_EQ(inputRegisters(modbus, 8192, 1), (std::vector<int>{0})) << "已连接";
    const std::string two = broker.Retained("t/st/instrument/2");
    EXPECT_NE(two.find("\"live\":{\"A\":61.5,\"B\":62,\"C\":163.4,\"D\":0}"), std::string::npos) << two;
    EXPECT_NE(two.find("\"health\":\"正常\""), std::string::npos) << two;
    EXPECT_EQ(broker.Retained("t/st/status"), "online\n");

    // What no Modbus master may ask: exceptions 01, 03, 02; another protocol is no Modbus.
    // The length field counts what follows it, the unit id included.
    const std::vector<uint8_t> four = ModbusRaw(modbus, request(0x04, 64, 4));
    ASSERT_EQ(four.size(), 6u + 3 + 8);
    EXPECT_EQ(four[5], 3 + 8);
    EXPECT_EQ(ModbusRaw(modbus, request(0x03, 0, 1)), (std::vector<uint8_t>{0x12, 0x34, 0, 0, 0, 3, 0xFF, 0x83, 0x01}));
    EXPECT_EQ(ModbusRaw(modbus, request(0x04, 0, 126)).back(), 0x03);
    EXPECT_EQ(ModbusRaw(modbus, request(0x04, 8190, 7)).back(), 0x02);
    EXPECT_TRUE(ModbusRaw(modbus, request(0x04, 0, 1, 7)).empty());
    // A thousand connections with garbage, while the recorder polls on.
    const std::size_t asked = st.Requests().size();
    for (int i = 0; i < 1000; ++i) {
        const int s = Connect(modbus);
        const uint8_t junk[] = {uint8_t(i), 0xFF, 0, 0, 0, uint8_t(i % 3), 0x01};
        ::send(s, junk, sizeof junk - std::size_t(i % 4), MSG_NOSIGNAL);
        ::close(s);
    }
    EXPECT_TRUE(eventually([&] { return inputRegisters(modbus, 64, 1) == std::vector<int>{615}; }, 5000))
        << readText(st.dir / "recorder.out");
    EXPECT_TRUE(eventually([&] { return st.Requests().size() > asked + 2; })) << "the polling went on";

    // An alarm raised and cleared reaches the subscriber, in order.
    auto doorEvents = [&] {
        std::vector<std::string> door;
        std::istringstream events(readText(st.dir / "alarms.out"));
        for (std::string line; std::getline(events, line);)
            if (line.find("\"kind\":\"alarm.door\"") != std::string::npos)
                door.push_back(line.substr(0, line.find("\"kind\"")));
        return door;
    };
    st.Control("door 2 open");
    ASSERT_TRUE(eventually([&] { return doorEvents().size() == 1; })) << readText(st.dir / "alarms.out");
    st.Control("door 2 closed");
    ASSERT_TRUE(eventually([&] { return doorEvents().size() == 2; })) << readText(st.dir / "alarms.out");
    const std::vector<std::string> door = doorEvents();
    ASSERT_EQ(door.size(), 2u);
    EXPECT_NE(door[0].find("\"address\":2,\"by\":null,\"cleared\":null,\"comment\":null,\"event\":\"raised\""), std::string::npos)
        << door[0];
    EXPECT_NE(door[1].find("\"event\":\"cleared\""), std::string::npos) << door[1];
    EXPECT_EQ(door[0].substr(door[0].find("\"id\"")), door[1].substr(door[1].find("\"id\""))) << "one alarm";

    // Killed: the broker tells the last will. Stopped: the program says it itself.
    ::kill(st.program, SIGKILL);
    ::waitpid(st.program, nullptr, 0);
    st.program = -1;
    EXPECT_TRUE(eventually([&] { return broker.Retained("t/st/status") == "offline\n"; }));
    st.StartRecorder();
    ASSERT_TRUE(eventually([&] { return broker.Retained("t/st/status") == "online\n"; }));
    EXPECT_EQ(st.StopProgram(), 0);
    EXPECT_EQ(broker.Retained("t/st/status"), "offline\n");
    Terminate(alarms);
}
