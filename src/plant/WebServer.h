// A small HTTP/1.1 server on its own poll() loop over non-blocking sockets (TLS through OpenSSL when
// a certificate is set): each connection answers one request and closes, except an event stream,
// which stays open for what Broadcast() sends. A client that trickles its headers, sends a huge one
// or opens connections beyond the cap is dropped or refused without delaying the others, and the
// loop never blocks the thread that feeds it.
#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zeva {

struct TWebRequest {
    std::string method, path, query; // path without the query, not decoded
    std::vector<std::pair<std::string, std::string>> headers; // names in lower case
    std::string body;
    bool secure = false; // came over TLS
    std::string Header(const std::string& lowerName) const;
};

struct TWebResponse {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool stream = false; // an event stream: `body` is its first event, the connection stays open
    std::string topic;   // a stream's: it gets the events broadcast to it and to all
};

class TWebServer {
public:
    struct TConfig {
        QString host = QStringLiteral("127.0.0.1");
        int port = 0; // 0: any free one
        int maxClients = 256;
        QString certFile, keyFile; // TLS when both are set
        int requestTimeoutMs = 10000;   // from the connection to the end of its request
        std::size_t maxHeader = 16384;  // bytes up to the blank line
        std::size_t maxBody = 4096;
        // Threads that run the handler, so that a slow answer holds no other connection; 0: the
        // handler runs on the server's own thread.
        int workers = 0;
    };
    using THandler = std::function<TWebResponse(const TWebRequest&)>;

    // The handler runs on the server's thread; `report` says the server's states and errors.
    TWebServer(TConfig config, THandler handler, std::function<void(const QString&)> report);
    ~TWebServer();
    TWebServer(const TWebServer&) = delete;
    TWebServer& operator=(const TWebServer&) = delete;

    // Listens (throws std::runtime_error with the reason) and starts the thread.
    void Start();
    void Stop();
    int Port() const { return m_port; }
    int Clients() const { return m_clients.load(); }
    // Sends one event ("event: x\ndata: ...\n\n") to the open streams of `topic` (empty: every
    // open stream); from any thread.
    void Broadcast(std::string event, std::string topic = {});
    // The topics of the streams open now.
    std::vector<std::string> StreamTopics() const;

private:
    struct TClient;
    void run();
    void wake();

    TConfig m_config;
    THandler m_handler;
    std::function<void(const QString&)> m_report;
    int m_listen = -1, m_wakeRead = -1, m_wakeWrite = -1, m_port = 0;
    void* m_tls = nullptr; // SSL_CTX
    std::thread m_thread;
    std::atomic<int> m_clients{0};
    void work();
    struct TJob {
        std::uint64_t client = 0;
        TWebRequest request;
        TWebResponse response;
    };
    std::mutex m_jobsMutex;
    std::condition_variable m_jobsReady;
    std::vector<TJob> m_jobs, m_done;
    bool m_stopWorkers = false;
    std::vector<std::thread> m_workers;
    struct TEvent {
        std::string text, topic; // an empty text: stop
    };
    std::mutex m_eventsMutex;
    std::vector<TEvent> m_events;
    mutable std::mutex m_topicsMutex;
    std::vector<std::string> m_topics;
};

} // namespace zeva
