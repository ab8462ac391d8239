// The recorder's read-only web view on a simulated bus: headless Chromium sees a reading change
// arrive without a reload, the API and the metrics tell the bus's values, the token guards all,
// hostile clients get an error or a closed connection while polling goes on, and a LAN address
// without TLS is refused.
#include "Plant.h"

#include <regex>

using namespace zeva::test;

namespace {

// The status line and body of one request made with curl (its extra arguments in `args`).
std::string curl(int port, const std::string& path, const std::string& args = "")
{
    return Shell("curl -s -m 15 -w ' %{http_code}' " + args + " 'http://127.0.0.1:" + std::to_string(port) + path + "'");
}

// What comes back on a connection of its own after sending `bytes`: empty when it was closed.
std::string raw(int port, const std::string& bytes, int seconds)
{
    const int s = Connect(port);
    timeval t{seconds, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    ::send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    char buffer[1024];
    const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
    ::close(s);
    return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
}

} // namespace

TEST(Web, TheOverviewFollowsTheBusTheTokenGuardsItAndHostileClientsDoNotSlowPolling)
{
    Station st("zeva-web");
    st.InitDb(true);
    std::ofstream(st.dir / "token") << "s3cret-Token\n";
    st.Ini("Interval_S=1\r\nRunTimer=1\r\n[Web]\r\nListen=127.0.0.1:0\r\nTokenFile=token\r\nMaxClients=40\r\n");
    st.StartSim({"--instrument", "1:2:45", "--instrument", "2:6:55", "--instrument", "3:10:65"});
    st.Control("temp 2 61.5 62 163.4 0");
    st.StartRecorder();
    std::smatch m;
    ASSERT_TRUE(eventually([&] {
        const std::string out = readText(st.dir / "recorder.out");
        return std::regex_search(out, m, std::regex("Web：在 http://127.0.0.1:(\\d+)/ 提供只读页面（需要令牌）"));
    })) << readText(st.dir / "recorder.out");
    const int port = std::stoi(m[1]);
    const std::string bearer = "-H 'Authorization: Bearer s3cret-Token'";

    EXPECT_EQ(curl(port, "/api/instruments"), "{\"error\":\"需要访问令牌\"} 401");
    EXPECT_EQ(curl(port, "/metrics", "-H 'Authorization: Bearer s3cret-Toke'").substr(0, 1), "{");
    ASSERT_TRUE(eventually([&] { return curl(port, "/api/instruments", bearer).find("\"A\":61.5") != std::string::npos; }));
    const std::string metrics = curl(port, "/metrics", bearer);
    EXPECT_NE(metrics.find("zeva_temperature_celsius{address=\"2\",name=\"2号主变压器\",phase=\"C\",kind=\"live\"} 163.4\n"),
              std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("zeva_instrument_health{address=\"2\",name=\"2号主变压器\"} 1\n"), std::string::npos);
    EXPECT_NE(metrics.find("\nzeva_link_state 0\n"), std::string::npos);
    EXPECT_EQ(curl(port, "/login", "-d token=wrong -o /dev/null"), " 401");
    const std::string login = Shell("curl -s -i -m 5 -d token=s3cret-Token http://127.0.0.1:" + std::to_string(port) + "/login");
    EXPECT_NE(login.find("HTTP/1.1 303"), std::string::npos) << login;
    EXPECT_NE(login.find("Set-Cookie: zeva_token=s3cret-Token; Path=/; HttpOnly"), std::string::npos) << login;
    EXPECT_NE(curl(port, "/api/instruments", "-b zeva_token=s3cret-Token").find(" 200"), std::string::npos);
    EXPECT_EQ(curl(port, "/api/instruments", bearer + " -X PUT"), "{\"error\":\"只读：不接受 PUT\"} 405");

    // The page in a browser: the value it shows changes with the bus, without a reload.
    const int browser = Spawn({"/usr/bin/python3", ZEVA_SOURCE_DIR "/tests/e2e/page_watch.py",
                               "http://127.0.0.1:" + std::to_string(port) + "/",
                               "document.querySelector('#i2 b[data-phase=C]')?.textContent", "90", "s3cret-Token"},
                              st.dir.string(), (st.dir / "page.out").string());
    std::string page;
    const auto shown = [&](const std::string& value) {
        page = readText(st.dir / "page.out");
        return std::regex_search(page, m, std::regex("value " + value + " ([0-9.]+)"));
    };
    ASSERT_TRUE(eventually([&] { return shown("163\\.4"); }, 60000)) << readText(st.dir / "page.out");
    const std::string marker = m[1].str();
    st.Control("temp 2 61.5 62 170.5 0");
    ASSERT_TRUE(eventually([&] { return shown("170\\.5"); }, 15000)) << readText(st.dir / "page.out");
    EXPECT_EQ(m[1].str(), marker) << "no reload";
    Terminate(browser);

    // The stored readings in buckets, the journal, the pages.
    ASSERT_TRUE(eventually([&] {
        return curl(port, "/api/instrument/2/readings?step=86400", bearer).find("\"C\":{\"min\":163.4,\"max\":170.5,"
                                                                                "\"first\":163.4,\"last\":170.5}") != std::string::npos;
    })) << curl(port, "/api/instrument/2/readings?step=86400", bearer);
    EXPECT_EQ(curl(port, "/api/instrument/2/readings?from=2026-01-01T00:00:00%2B08:00&to=2026-01-02T00:00:00Z", bearer),
              "[] 200");
    EXPECT_EQ(curl(port, "/api/instrument/9/readings", bearer), "{\"error\":\"没有启用的仪表 9\"} 404");
    EXPECT_NE(curl(port, "/api/instrument/2/readings?from=yesterday", bearer).find(" 400"), std::string::npos);
    EXPECT_NE(curl(port, "/api/instrument/2/readings?from=1000-01-01T00:00:00Z&to=9000-01-01T00:00:00Z&step=60", bearer)
                  .find(" 400"),
              std::string::npos)
        << "a bounded number of buckets";
    const std::string head = raw(port, "HEAD /api/instruments HTTP/1.1\r\nAuthorization: bearer s3cret-Token\r\n\r\n", 5);
    EXPECT_EQ(head.substr(0, 15), "HTTP/1.1 200 OK") << "the scheme's name in any case";
    EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n") << "HEAD: no body";
    EXPECT_NE(curl(port, "/instrument/2").find("访问令牌"), std::string::npos) << "a page asks for the token";
    EXPECT_NE(curl(port, "/api/alarms", bearer).find("\"text\":\"程序启动：zeva-recorder\""), std::string::npos);
    const std::string chart = curl(port, "/instrument/2", bearer);
    EXPECT_NE(chart.find("<polyline"), std::string::npos);
    EXPECT_NE(chart.find(">T4 100.0</text>"), std::string::npos);
    EXPECT_NE(curl(port, "/alarms", bearer).find("程序启动"), std::string::npos);

    // Hostile clients: an unfinished header, a huge one, a path out of the tree, more connections
    // than allowed; the polling goes on meanwhile.
    const std::size_t asked = st.Requests().size();
    std::vector<int> held;
    for (int i = 0; i < 60; ++i)
        held.push_back(Connect(port));
    EXPECT_TRUE(raw(port, "GET / HTTP/1.1\r\n", 3).empty()) << "beyond MaxClients: closed";
    for (int s : held)
        ::close(s);
    ASSERT_TRUE(eventually([&] { return curl(port, "/api/instruments", bearer).find(" 200") != std::string::npos; }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(raw(port, "GET / HTTP/1.1\r\nHost: x\r\n", 20).substr(0, 12), "HTTP/1.1 408");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    const std::string huge = raw(port, "GET / HTTP/1.1\r\nX: " + std::string(1 << 20, 'a') + "\r\n\r\n", 10);
    EXPECT_TRUE(huge.empty() || huge.substr(0, 12) == "HTTP/1.1 431") << huge.substr(0, 40);
    EXPECT_NE(curl(port, "/../../etc/passwd", bearer + " --path-as-is").find(" 404"), std::string::npos);
    std::vector<Line> requests = st.Requests();
    ASSERT_GT(requests.size(), asked + 10) << "the polling went on";
    long long widest = 0;
    for (std::size_t i = asked + 1; i < requests.size(); ++i)
        widest = std::max(widest, requests[i].ms - requests[i - 1].ms);
    EXPECT_LT(widest, 3000) << "no stall of the bus";
    ASSERT_EQ(st.StopProgram(), 0);

    // Away from the loopback without TLS: nothing listens, and the journal says why.
    st.Ini("Interval_S=1\r\n[Web]\r\nListen=0.0.0.0:" + std::to_string(FreePort()) + "\r\nTokenFile=token\r\n");
    st.StartRecorder();
    ASSERT_TRUE(eventually([&] { return readText(st.dir / "recorder.out").find("不是本机地址") != std::string::npos; }));
    EXPECT_EQ(st.StopProgram(), 0);
    EXPECT_NE(Shell("sqlite3 '" + (st.dir / "DataBase/Data.db").string() + "' \"SELECT Text FROM EventJournal WHERE Kind = 'event.web'\"")
                  .find("不是本机地址"),
              std::string::npos);
}
