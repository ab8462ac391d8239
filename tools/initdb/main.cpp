// zeva-initdb: creates PATH/DataBase/Data.db with the permanent tables, optionally with demo instruments.
#include "CentralSchema.h"
#include "CentralSettings.h"
#include "Database.h"
#include "Statements.h"
#include "UPublic.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "ProgramInfo.h"

#include <cstdio>

using namespace zeva;

namespace {

const TProgramInfo Program{
    "zeva-initdb",
    "usage: zeva-initdb PATH [--demo]\n"
    "       zeva-initdb --central CONNINFO\n"
    "       zeva-initdb -h | --help | --version\n",
    "  creates PATH/DataBase/Data.db; an existing file is never touched (exit code 1)\n"
    "  --demo adds three enabled instruments at bus addresses 1, 2 and 3\n"
    "  --central creates what is missing of the central schema in an existing PostgreSQL\n"
    "    database and fills the hourly sums of readings stored before them, e.g.\n"
    "    'host=db.plant.lan dbname=plant user=zeva' (every key of libpq but password: the\n"
    "    password comes from ~/.pgpass or PGPASSFILE)\n"};

void addDemo(TDatabase& db)
{
    struct Demo {
        const char* name;
        int address;
        int model;
    } demos[] = {{"1号主变压器", 1, 2}, {"2号主变压器", 2, 6}, {"3号站用变压器", 3, 10}};
    for (const Demo& d : demos) {
        TTypeAndCapition model = GetTypeAndCapition(d.model);
        qint64 id = InsertApparatus(db, QString::fromUtf8(d.name), d.address, true,
                                    QString::fromStdString(model.TypeName), QString::fromStdString(model.Capition));
        UpdateThresholds(db, id, {50, 60, 80, 100, 0, 0, 0});
        UpdateCompensation(db, id, {0, 0, 0, 0});
        UpdateFanTiming(db, id, 10, 30);
        UpdateLink(db, id, d.address, 9600);
        UpdateHighest(db, id, {0, 0, 0, 0});
        UpdateComPort(db, id, QStringLiteral("COM1"), 9600);
        UpdateRunTimes(db, id, 3, 60);
    }
}

// The central schema, the readings' partitions of this month and the next, and the hourly sums of
// the months before.
int initCentral(const QString& conninfo)
{
    try {
        TPgConnection db(ParseConnInfo(conninfo).params);
        const QString noHourSums = EnsureCentralSchema(db);
        const QDate today = QDate::currentDate();
        EnsureMonthPartition(db, today);
        EnsureMonthPartition(db, today.addMonths(1));
        if (!noHourSums.isEmpty())
            std::fprintf(stderr, "zeva-initdb: no hourly sums (zeva-web reads the rows): %s\n", noHourSums.toUtf8().constData());
        // The older months' hourly sums at once, rather than by the stations while they idle.
        std::chrono::seconds chunk{86400};
        QString why;
        THourFill step = THourFill::Filled;
        while (noHourSums.isEmpty() && (step = FillHourSums(db, chunk, &why)) == THourFill::Filled) {
        }
        // The schema is ready all the same: zeva-web reads those months' rows.
        if (step == THourFill::Busy)
            std::fprintf(stderr, "zeva-initdb: the hourly sums of older months are left to the stations (one fills them now, or a partition is in use)\n");
        if (step == THourFill::Failed)
            std::fprintf(stderr, "zeva-initdb: the hourly sums of older months are not filled: %s\n", why.toUtf8().constData());
        std::printf("zeva-initdb: the central schema is ready in %s\n", db.DatabaseName().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zeva-initdb: %s\n", e.what());
        return ExitFailed;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (AnswerInfoOption(argc, argv, Program))
        return ExitOk;
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QStringLiteral("--central"))
        return initCentral(args[1]);
    bool demo = args.removeAll(QStringLiteral("--demo")) > 0;
    if (args.size() != 1 || args[0].startsWith(QLatin1Char('-')))
        return UsageError(Program, args.isEmpty() ? "no PATH given"
                                                  : "wrong arguments: " + args.join(QLatin1Char(' ')).toStdString());
    const QString dataPath = args[0];
    const QString file = TDatabase::FileFor(dataPath);
    if (!QDir().mkpath(dataPath + QStringLiteral("/DataBase"))) {
        std::fprintf(stderr, "zeva-initdb: cannot create the folder %s/DataBase\n", qPrintable(dataPath));
        return ExitFailed;
    }
    QFile empty(file);
    if (!empty.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        std::fprintf(stderr, "zeva-initdb: %s already exists or cannot be created; left as it is\n",
                     qPrintable(file));
        return ExitFailed;
    }
    empty.close();
    try {
        TDatabase db;
        if (!db.Open(dataPath))
            throw EDatabaseError("cannot open the new database");
        db.Exec(QStringLiteral("BEGIN"));
        CreateSchema(db);
        if (demo)
            addDemo(db);
        db.Exec(QStringLiteral("COMMIT"));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zeva-initdb: %s\n", e.what());
        QFile::remove(file);
        return ExitFailed;
    }
    std::printf("zeva-initdb: created %s%s\n", qPrintable(file), demo ? " with three demo instruments" : "");
    return 0;
}
