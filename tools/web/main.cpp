// zeva-web: the read-only web view and metrics of every station in the central PostgreSQL.
#include "CentralView.h"
#include "PlantConfig.h"
#include "PlantTypes.h"

#include "ProgramInfo.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <map>
#include <cstdio>
#include <pthread.h>
#include <sys/resource.h>

using namespace zeva;

namespace {

const TProgramInfo Program{
    "zeva-web",
    "usage: zeva-web --central CONNINFO [--listen HOST:PORT] [--token-file FILE] [--cert FILE --key FILE]\n"
    "                [--max-clients N]\n"
    "       zeva-web -h | --help | --version\n",
    "  Serves the pages, API and metrics of the stations' web view over the central PostgreSQL, read-only:\n"
    "  a list of the stations on /, each station's overview, instruments and journal under /station/NAME/,\n"
    "  /api/stations and /metrics for all of them. Stops on SIGTERM or SIGINT.\n"
    "  --central      e.g. 'host=db.plant.lan dbname=plant user=zeva_view' (the password from ~/.pgpass)\n"
    "  --listen       where to listen (default 127.0.0.1:8080); an address other than the loopback needs\n"
    "                 --token-file and TLS (--cert and --key, PEM)\n"
    "  --token-file   the access token's file: every request then carries 'Authorization: Bearer TOKEN'\n"
    "                 or the cookie that the login form sets; one that cannot be read exits 78\n"
    "  --max-clients  connections at once (default 256)\n"
    "  It exits 1 when it cannot listen (the port taken, the certificate or key unusable).\n"};

int usage(const QString& problem)
{
    return UsageError(Program, problem.toLocal8Bit().toStdString());
}

void say(const QString& text)
{
    std::fprintf(stderr, "zeva-web: %s\n", text.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char** argv)
{
    if (AnswerInfoOption(argc, argv, Program))
        return ExitOk;
    // The signals are waited for below; every thread started from here on keeps them blocked.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);

    QString central, listen = QStringLiteral("127.0.0.1:8080"), tokenFile, cert, key;
    int maxClients = 256;
    const QStringList args = app.arguments().mid(1);
    const std::map<QString, QString*> texts{{QStringLiteral("--central"), &central},
                                            {QStringLiteral("--listen"), &listen},
                                            {QStringLiteral("--token-file"), &tokenFile},
                                            {QStringLiteral("--cert"), &cert},
                                            {QStringLiteral("--key"), &key}};
    QString clients;
    for (int i = 0; i < args.size(); ++i) {
        QString name = args[i], value;
        const qsizetype eq = name.startsWith(QLatin1String("--")) ? name.indexOf(QLatin1Char('=')) : -1;
        if (eq > 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
        }
        QString* target = name == QLatin1String("--max-clients") ? &clients
                          : texts.count(name)                     ? texts.at(name)
                                                                  : nullptr;
        if (!target)
            return usage(QStringLiteral("unknown argument: %1").arg(name));
        if (eq <= 0 && i + 1 >= args.size())
            return usage(QStringLiteral("%1 needs a value").arg(name));
        *target = eq > 0 ? value : args[++i];
    }
    bool ok = true;
    if (!clients.isEmpty() && ((maxClients = clients.toInt(&ok)), !ok || maxClients <= 0))
        return usage(QStringLiteral("--max-clients needs a whole number above 0: %1").arg(clients));
    if (central.isEmpty())
        return usage(QStringLiteral("--central is needed"));
    if (cert.isEmpty() != key.isEmpty())
        return usage(QStringLiteral("--cert and --key go together"));
    TCentralView::TConfig config;
    try {
        config.params = ParseConnInfo(central).params;
    } catch (const std::invalid_argument& e) {
        return usage(QString::fromUtf8(e.what()));
    }
    TWebServer::TConfig server;
    if (QString error; !ParseHostPort(listen, server.host, server.port, error))
        return usage(error);
    try {
        if (!tokenFile.isEmpty())
            config.token = ReadWebToken(tokenFile);
    } catch (const std::exception& e) {
        say(QString::fromUtf8(e.what()));
        return ExitConfig;
    }
    // A token must not cross the LAN in plain HTTP.
    if (!IsLoopbackHost(server.host) && (config.token.empty() || cert.isEmpty()))
        return usage(QStringLiteral("--listen %1 is not a loopback address: it needs --token-file, --cert and --key").arg(listen));
    // A slow answer (a year of readings, a database that hangs) holds one of these, not the others.
    server.workers = 4;
    server.certFile = cert;
    server.keyFile = key;
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    server.maxClients = int(std::min<rlim_t>(rlim_t(maxClients), files.rlim_cur > 128 ? files.rlim_cur - 32 : 32));

    TCentralView view(config, say);
    TWebServer web(server, [&view](const TWebRequest& r) { return view.Handle(r); }, say);
    try {
        web.Start();
    } catch (const std::exception& e) {
        say(QString::fromUtf8(e.what()));
        return ExitFailed;
    }
    view.Follow(web);
    say(QStringLiteral("在 %1://%2:%3/ 提供只读页面%4")
            .arg(cert.isEmpty() ? QStringLiteral("http") : QStringLiteral("https"), server.host)
            .arg(web.Port())
            .arg(config.token.empty() ? QString() : QStringLiteral("（需要令牌）")));
    int signal = 0;
    sigwait(&stop, &signal);
    say(QStringLiteral("停止（信号 %1）").arg(signal));
    view.Stop();
    web.Stop();
    return ExitOk;
}
