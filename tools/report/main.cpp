// zeva-report: the report of a day or a month as PDF and XLSX, from the station's database or from
// the central one, without a window (for a timer).
#include "CentralSettings.h"
#include "Database.h"
#include "ErrorLog.h"
#include "IniFile.h"
#include "PgConnection.h"
#include "ReportPdf.h"
#include "ReportSources.h"
#include "ReportXlsx.h"
#include "Settings.h"

#include "ProgramInfo.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>


using namespace zeva;

namespace {

const TProgramInfo Program{
    "zeva-report",
    "usage: zeva-report (--day YYYY-MM-DD|yesterday | --month YYYY-MM) [--dir DIR] [--pdf FILE] [--xlsx FILE]\n"
    "                   [--central CONNINFO --station NAME]\n"
    "       zeva-report -h | --help | --version\n",
    "  Writes the report of a local calendar day or month: per instrument and phase the lowest,\n"
    "  highest and mean reading and the minutes above T2 and T3, the alarms, the parameter writes,\n"
    "  the availability and the fan's running hours. Reads DIR/Data.ini (default: the working folder)\n"
    "  and the database Path/DataBase/Data.db as zeva-recorder does.\n"
    "  --pdf, --xlsx  the files to write; without either, both go into DIR/reports as\n"
    "                 zeva-report-<period>.pdf and .xlsx\n"
    "  --central      reads station NAME's rows from the central PostgreSQL instead, e.g.\n"
    "                 'host=db.plant.lan dbname=plant user=zeva' (the password from ~/.pgpass);\n"
    "                 one that cannot be reached exits 3\n"};

struct TArguments {
    std::optional<TReportPeriod> period;
    QString dir = QDir::currentPath(), pdf, xlsx, central, station;
};

// Empty when the arguments are usable, else what is wrong with them.
QString parse(const QStringList& args, TArguments& a)
{
    for (int i = 0; i < args.size(); ++i) {
        QString name = args[i], value;
        if (const qsizetype eq = name.indexOf(QLatin1Char('=')); name.startsWith(QLatin1String("--")) && eq > 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return QStringLiteral("%1 needs a value").arg(name);
        }
        if (name == QLatin1String("--day") || name == QLatin1String("--month")) {
            if (a.period)
                return QStringLiteral("one of --day and --month");
            if (name == QLatin1String("--day") && value == QLatin1String("yesterday"))
                value = QDate::currentDate().addDays(-1).toString(Qt::ISODate);
            a.period = name == QLatin1String("--day") ? TReportPeriod::Day(value) : TReportPeriod::Month(value);
            if (!a.period)
                return QStringLiteral("not a %1: %2").arg(name == QLatin1String("--day") ? "date YYYY-MM-DD" : "month YYYY-MM", value);
        } else if (name == QLatin1String("--dir")) {
            a.dir = value;
        } else if (name == QLatin1String("--pdf")) {
            a.pdf = value;
        } else if (name == QLatin1String("--xlsx")) {
            a.xlsx = value;
        } else if (name == QLatin1String("--central")) {
            a.central = value;
        } else if (name == QLatin1String("--station")) {
            a.station = value;
        } else {
            return QStringLiteral("unknown argument: %1").arg(name);
        }
    }
    if (!a.period)
        return QStringLiteral("--day or --month is needed");
    if (a.central.isEmpty() != a.station.trimmed().isEmpty())
        return QStringLiteral("--central and --station go together");
    if (!QFileInfo(a.dir).isDir())
        return QStringLiteral("no such folder: %1").arg(a.dir);
    if (!a.pdf.isEmpty() && QFileInfo(a.pdf).absoluteFilePath() == QFileInfo(a.xlsx).absoluteFilePath())
        return QStringLiteral("--pdf and --xlsx name the same file");
    if (a.period->From() > WallSecondsOf(QDateTime::currentDateTime()))
        return QStringLiteral("the period %1 has not begun").arg(a.period->Label());
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    if (AnswerInfoOption(argc, argv, Program))
        return ExitOk;
    // Paper needs fonts, not a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zeva-report"));
    TArguments a;
    if (const QString problem = parse(app.arguments().mid(1), a); !problem.isEmpty())
        return UsageError(Program, problem.toStdString());
    a.dir = QFileInfo(a.dir).absoluteFilePath();
    const auto absolute = [&](const QString& file) { return QFileInfo(file).absoluteFilePath(); };
    a.pdf = a.pdf.isEmpty() ? QString() : absolute(a.pdf);
    a.xlsx = a.xlsx.isEmpty() ? QString() : absolute(a.xlsx);

    // Relative names in Data.ini mean what they mean to the programs started in that folder.
    QDir::setCurrent(a.dir);
    const QString settings = a.dir + QLatin1Char('/') + SettingsFileName;
    if (const QString why = UnreadableSettings(settings); !why.isEmpty()) {
        LogError(QStringLiteral("%1 无法读取：%2").arg(settings, why));
        return ExitConfig;
    }
    if (a.pdf.isEmpty() && a.xlsx.isEmpty()) {
        const QString folder = a.dir + QStringLiteral("/reports");
        if (!QDir().mkpath(folder)) {
            LogError(QStringLiteral("无法建立文件夹 %1").arg(folder));
            return ExitWriteFailed;
        }
        const QString base = folder + QStringLiteral("/zeva-report-") + a.period->Label();
        a.pdf = base + QStringLiteral(".pdf");
        a.xlsx = base + QStringLiteral(".xlsx");
    }

    const qint64 now = WallSecondsOf(QDateTime::currentDateTime());
    TReport report;
    try {
        if (!a.central.isEmpty()) {
            std::unique_ptr<TPgConnection> db;
            try {
                db = std::make_unique<TPgConnection>(ParseConnInfo(a.central).params);
            } catch (const std::invalid_argument& e) {
                return UsageError(Program, e.what());
            } catch (const std::exception& e) {
                LogError(QStringLiteral("中心库无法连接：") + QString::fromUtf8(e.what()));
                return ExitDatabaseFailed;
            }
            report = MakeReport(*CentralReportSource(*db, a.station.trimmed()), *a.period, a.station.trimmed(), now);
        } else {
            TIniFile ini(settings);
            const QString path = ini.ReadString(SettingsKey::Info, SettingsKey::Path, QString()).trimmed();
            const QString dataPath = QFileInfo(path.isEmpty() ? a.dir : path).absoluteFilePath();
            TDatabase db(QStringLiteral("report"), 5000); // a writer's lock is waited for as the window waits
            if (!db.Open(dataPath)) {
                LogError(QStringLiteral("数据库 %1 无法打开：").arg(TDatabase::FileFor(dataPath)) + db.OpenError());
                return ExitDatabaseFailed;
            }
            report = MakeReport(*StationReportSource(db), *a.period, ReadCentralConfig(ini).station, now);
        }
    } catch (const std::exception& e) {
        LogError(QStringLiteral("读取失败：") + QString::fromUtf8(e.what()));
        return ExitFailed;
    }

    int rc = 0;
    const auto written = [&](const QString& file, const QString& why) {
        if (why.isEmpty()) {
            std::printf("%s\n", file.toLocal8Bit().constData());
            return;
        }
        LogError(QStringLiteral("%1 无法写入：%2").arg(file, why));
        rc = ExitWriteFailed;
    };
    if (!a.xlsx.isEmpty())
        written(a.xlsx, WriteReportXlsx(report, a.xlsx));
    if (!a.pdf.isEmpty())
        written(a.pdf, WriteReportPdf(report, a.pdf));
    return rc;
}
