// The plant's interfaces: a Modbus request answered while 16 clients read 125 registers as fast as
// they can, and a reply's state from the core's hand-over to a subscriber of a real mosquitto.
#include "ModbusServer.h"
#include "MqttPublisher.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <modbus.h>
#include <mosquitto.h>

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

using namespace zeva;
using Clock = std::chrono::steady_clock;

namespace {

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

int freePort()
{
    QTemporaryDir probe;
    TModbusServer s({QStringLiteral("127.0.0.1"), 0, 1}, {});
    s.Start();
    const int port = s.Port();
    s.Stop();
    return port;
}

} // namespace

// Each of 16 clients reads 125 registers `range(0)` times; the time of each request to its response.
static void BM_ModbusRequest16Clients(benchmark::State& state)
{
    for (auto _ : state) {
        TModbusServer server({QStringLiteral("127.0.0.1"), 0, 16}, {});
        server.Start();
        for (int a = 1; a <= 21; ++a) {
            TPlantInstrument in;
            in.address = a;
            in.polled = true;
            in.live = TPhaseTemps{45.1, 46.2, 47.3, 0};
            in.lastReplyMs = QDateTime::currentMSecsSinceEpoch();
            in.health = 1;
            server.SetInstrument(in);
        }
        std::mutex mutex;
        std::vector<double> times;
        std::vector<std::thread> clients;
        for (int c = 0; c < 16; ++c)
            clients.emplace_back([&, c] {
                modbus_t* ctx = modbus_new_tcp("127.0.0.1", server.Port());
                modbus_connect(ctx);
                std::vector<double> mine;
                uint16_t r[125];
                for (int i = 0; i < state.range(0); ++i) {
                    const auto t0 = Clock::now();
                    if (modbus_read_input_registers(ctx, (c * 300 + i) % 8000, 125, r) != 125)
                        break;
                    mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
                }
                modbus_close(ctx);
                modbus_free(ctx);
                std::lock_guard lock(mutex);
                times.insert(times.end(), mine.begin(), mine.end());
            });
        for (std::thread& t : clients)
            t.join();
        server.Stop();
        state.counters["requests"] = double(times.size());
        state.counters["p50_ms"] = percentile(times, 0.5);
        state.counters["p99_ms"] = percentile(times, 0.99);
        state.counters["max_ms"] = percentile(times, 1.0);
    }
}
BENCHMARK(BM_ModbusRequest16Clients)->Arg(2000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// `range(0)` instrument states, one every 10 ms as replies come at the fastest pace, from the
// publisher's hand-over to a subscriber on the same broker.
static void BM_MqttReplyToSubscriber(benchmark::State& state)
{
    for (auto _ : state) {
        QTemporaryDir dir;
        const int port = freePort();
        std::ofstream(dir.filePath("m.conf").toStdString()) << "listener " << port << " 127.0.0.1\nallow_anonymous true\n";
        const int broker = test::Spawn({"/usr/sbin/mosquitto", "-c", dir.filePath("m.conf").toStdString()},
                                       dir.path().toStdString(), "/dev/null");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const int n = int(state.range(0));
        std::vector<Clock::time_point> sent(std::size_t(n) + 1), got(std::size_t(n) + 1);
        std::atomic<int> received{0};
        struct TSub {
            std::vector<Clock::time_point>* got;
            std::atomic<int>* received;
        } sub{&got, &received};
        mosquitto* s = mosquitto_new("bench-sub", true, &sub);
        mosquitto_message_callback_set(s, [](mosquitto*, void* o, const mosquitto_message* m) {
            auto* sub = static_cast<TSub*>(o);
            const QByteArray payload(static_cast<const char*>(m->payload), m->payloadlen);
            const int at = payload.indexOf("\"name\":\"n");
            if (at < 0)
                return;
            const int seq = payload.mid(at + 9).split('"').front().toInt();
            if (seq > 0 && seq < int(sub->got->size())) {
                (*sub->got)[std::size_t(seq)] = Clock::now();
                ++*sub->received;
            }
        });
        mosquitto_connect(s, "127.0.0.1", port, 30);
        mosquitto_subscribe(s, nullptr, "b/instrument/#", 0);
        mosquitto_loop_start(s);
        TMqttConfig config;
        config.host = QStringLiteral("127.0.0.1");
        config.port = port;
        config.prefix = QStringLiteral("b");
        config.clientId = QStringLiteral("bench-pub");
        TMqttPublisher publisher(config, {});
        publisher.Start();
        test::WaitUntil([&] { return publisher.Connected(); }, 5000);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (int i = 1; i <= n; ++i) {
            TPlantInstrument in;
            in.address = 1 + i % 21;
            in.polled = true;
            in.name = QStringLiteral("n%1").arg(i);
            in.live = TPhaseTemps{45.1, 46.2, 47.3, double(i % 100)};
            sent[std::size_t(i)] = Clock::now();
            publisher.Instrument(in);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        test::WaitUntil([&] { return received.load() >= n; }, 5000);
        std::vector<double> times;
        for (int i = 1; i <= n; ++i)
            if (got[std::size_t(i)] != Clock::time_point{})
                times.push_back(std::chrono::duration<double, std::milli>(got[std::size_t(i)] - sent[std::size_t(i)]).count());
        publisher.Stop();
        mosquitto_disconnect(s);
        mosquitto_loop_stop(s, false);
        mosquitto_destroy(s);
        test::Terminate(broker);
        state.counters["received"] = double(times.size());
        state.counters["p50_ms"] = percentile(times, 0.5);
        state.counters["p99_ms"] = percentile(times, 0.99);
    }
}
BENCHMARK(BM_MqttReplyToSubscriber)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The recorder polling 21 instruments at the fastest pace for `range(0)` seconds, with [Mqtt] and
// [Modbus] and [Web] set; range(1) 1: 16 Modbus clients reading 125 registers as fast as they can,
// 2: the broker stopped and started every 5 s, 3: both, 4: 100 browsers on the live overview's
// event stream. The widest gap between two requests on the wire.
static void BM_RecorderPaceUnderPlantLoad(benchmark::State& state)
{
    const int seconds = int(state.range(0));
    const bool clientsRead = (state.range(1) & 1) != 0, brokerGoes = (state.range(1) & 2) != 0;
    const bool browsers = (state.range(1) & 4) != 0;
    for (auto _ : state) {
        QTemporaryDir dir;
        const std::string d = dir.path().toStdString();
        const int mqtt = freePort();
        std::ofstream(d + "/m.conf") << "listener " << mqtt << " 127.0.0.1\nallow_anonymous true\n";
        auto startBroker = [&] { return test::Spawn({"/usr/sbin/mosquitto", "-c", d + "/m.conf"}, d, "/dev/null"); };
        int broker = startBroker();
        std::system((std::string(ZEVA_INITDB) + " '" + d + "' > /dev/null").c_str());
        std::string inserts;
        for (int a = 1; a <= 21; ++a)
            inserts += "INSERT INTO Apparatus(ApparatusName,ApparatusAddress,CFlag) VALUES('b" + std::to_string(a) + "'," +
                       std::to_string(a) + ",1);";
        std::system(("sqlite3 '" + d + "/DataBase/Data.db' \"" + inserts + "\"").c_str());
        std::ofstream(d + "/Data.ini") << "[Info]\r\nPath=" << d << "\r\nInterval_S=1\r\nRunTimer=1\r\nPort=" << d
                                       << "/bus\r\n[Mqtt]\r\nHost=127.0.0.1\r\nPort=" << mqtt
                                       << "\r\n[Modbus]\r\nListen=127.0.0.1:0\r\n[Web]\r\nListen=127.0.0.1:0\r\n";
        std::vector<std::string> simArgs{ZEVA_SIM, "--link", "bus", "--log", "sim.log"};
        for (int a = 1; a <= 21; ++a)
            simArgs.insert(simArgs.end(), {"--instrument", std::to_string(a)});
        const int sim = test::Spawn(simArgs, d, "/dev/null");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const int recorder = test::Spawn({ZEVA_RECORDER}, d, d + "/recorder.out");
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const std::string out = test::ReadText(d + "/recorder.out");
        const auto at = out.find("Modbus：在 127.0.0.1:");
        const int modbus = at == std::string::npos ? 0 : std::stoi(out.substr(at + std::string("Modbus：在 127.0.0.1:").size()));
        auto requests = [&] {
            std::ifstream in(d + "/sim.log");
            std::vector<long long> times;
            for (std::string l; std::getline(in, l);) {
                std::istringstream f(l);
                long long ms;
                std::string kind;
                if (f >> ms >> kind && kind == "RX")
                    times.push_back(ms);
            }
            return times;
        };
        const auto webAt = out.find("Web：在 http://127.0.0.1:");
        const int web = webAt == std::string::npos ? 0 : std::stoi(out.substr(webAt + std::string("Web：在 http://127.0.0.1:").size()));
        const std::size_t first = requests().size();
        // The Modbus clients stand for masters on other machines: their CPU is not the station's. They
        // run in a process of their own, in a session (and so a scheduling group) of its own at the
        // lowest weight: on a 2-core machine 16 busy clients in the station's group would take the
        // kernel's pseudo-terminal work from the bus, which no remote master can do.
        std::atomic<bool> stop{false};
        auto* shared = static_cast<std::atomic<long>*>(
            ::mmap(nullptr, 2 * sizeof(std::atomic<long>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
        std::atomic<long>& reads = *new (shared) std::atomic<long>(0);
        std::atomic<long>& stopClients = *new (shared + 1) std::atomic<long>(0);
        const pid_t masters = clientsRead ? ::fork() : -1;
        if (masters == 0) {
            ::setsid();
            std::ofstream("/proc/self/autogroup") << "19";
            std::vector<std::thread> threads;
            for (int c = 0; c < 16; ++c)
                threads.emplace_back([&, c] {
                    modbus_t* ctx = modbus_new_tcp("127.0.0.1", modbus);
                    modbus_connect(ctx);
                    uint16_t r[125];
                    for (int i = 0; !stopClients; ++i)
                        if (modbus_read_input_registers(ctx, (c * 64 + i) % 8000, 125, r) == 125)
                            ++reads;
                    modbus_close(ctx);
                    modbus_free(ctx);
                });
            for (std::thread& t : threads)
                t.join();
            ::_exit(0);
        }
        std::vector<std::thread> clients;
        std::atomic<long> events{0};
        for (int c = 0; browsers && c < 100; ++c)
            clients.emplace_back([&] {
                const int s = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in a{};
                a.sin_family = AF_INET;
                a.sin_port = htons(uint16_t(web));
                a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                timeval t{1, 0};
                ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
                ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
                const std::string get = "GET /events HTTP/1.1\r\nHost: x\r\n\r\n";
                ::send(s, get.data(), get.size(), 0);
                char buffer[4096];
                while (!stop)
                    if (::recv(s, buffer, sizeof buffer, 0) > 0)
                        ++events;
                ::close(s);
            });
        for (int s = 0; s < seconds; s += 5) {
            std::this_thread::sleep_for(std::chrono::seconds(5));
            if (brokerGoes) {
                test::Terminate(broker);
                broker = -1;
                std::this_thread::sleep_for(std::chrono::seconds(2));
                broker = startBroker();
            }
        }
        stop = true;
        stopClients = 1;
        for (std::thread& t : clients)
            t.join();
        if (masters > 0)
            ::waitpid(masters, nullptr, 0);
        const std::vector<long long> times = requests();
        test::Terminate(recorder);
        test::Terminate(sim);
        test::Terminate(broker);
        long long widest = 0;
        for (std::size_t i = first + 1; i < times.size(); ++i)
            widest = std::max(widest, times[i] - times[i - 1]);
        state.counters["requests"] = double(times.size() - first);
        state.counters["widest_gap_ms"] = double(widest);
        state.counters["modbus_reads"] = double(reads.load());
        ::munmap(shared, 2 * sizeof(std::atomic<long>));
        state.counters["event_reads"] = double(events.load());
    }
}
BENCHMARK(BM_RecorderPaceUnderPlantLoad)->Args({60, 0})->Args({60, 1})->Args({60, 2})->Args({60, 3})->Args({60, 4})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
