// The workbook through libxlsxwriter.
#include "ReportXlsx.h"

#include "Alarms.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <xlsxwriter.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace zeva {

namespace ReportHeader {
QStringList Summary()
{
    return {QStringLiteral("仪表"), QStringLiteral("地址"),  QStringLiteral("相"),
            QStringLiteral("最小"), QStringLiteral("最大"),  QStringLiteral("最大时刻"),
            QStringLiteral("平均"), QStringLiteral("T2以上(分钟)"), QStringLiteral("T3以上(分钟)")};
}
QStringList Alarms()
{
    return {QStringLiteral("类别"),        QStringLiteral("优先级"),       QStringLiteral("仪表"),
            QStringLiteral("次数"),        QStringLiteral("总时长(分钟)"), QStringLiteral("确认中位(分钟)"),
            QStringLiteral("确认最长(分钟)")};
}
QStringList Writes()
{
    return {QStringLiteral("时间"), QStringLiteral("仪表"), QStringLiteral("参数组"),
            QStringLiteral("写入前"), QStringLiteral("写入后"), QStringLiteral("用户")};
}
QStringList Availability()
{
    return {QStringLiteral("仪表"),    QStringLiteral("地址"),      QStringLiteral("正常(%)"),
            QStringLiteral("中断(%)"), QStringLiteral("无数据(%)"), QStringLiteral("风机运行(小时)")};
}
} // namespace ReportHeader

QString PhaseLetter(int phase)
{
    return QString(QChar(u'A' + phase));
}

namespace {

// Renames a finished temporary over `file` in one step (removed when that fails); the reason when
// it failed, else empty.
QString MoveIntoPlace(const QString& temporary, const QString& file)
{
    if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(file).constData()) == 0)
        return {};
    const QString why = QString::fromLocal8Bit(std::strerror(errno));
    QFile::remove(temporary);
    return why;
}

// The temporary beside `file` that the workbook is written to first.
QString TemporaryFor(const QString& file)
{
    const QFileInfo info(file);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".part");
}


// None for an instrument since removed from the registry.
std::optional<double> addressOf(const TReportInstrument& in)
{
    return in.address >= 0 ? std::optional<double>(in.address) : std::nullopt;
}

class TSheet {
public:
    TSheet(lxw_workbook* book, const char* name, const QStringList& header, lxw_format* bold, lxw_format* time)
        : m_sheet(workbook_add_worksheet(book, name)), m_time(time)
    {
        for (int c = 0; c < header.size(); ++c) {
            worksheet_write_string(m_sheet, 0, lxw_col_t(c), header[c].toUtf8().constData(), bold);
            worksheet_set_column(m_sheet, lxw_col_t(c), lxw_col_t(c), c == 0 ? 18 : 14, nullptr);
        }
        worksheet_freeze_panes(m_sheet, 1, 0);
    }
    void Text(int c, const QString& text) { worksheet_write_string(m_sheet, m_row, lxw_col_t(c), text.toUtf8().constData(), nullptr); }
    void Number(int c, double v) { worksheet_write_number(m_sheet, m_row, lxw_col_t(c), v, nullptr); }
    void Number(int c, const std::optional<double>& v)
    {
        if (v)
            Number(c, RoundedToOneDecimal(*v));
    }
    void Time(int c, qint64 wall)
    {
        const QString t = WallText(wall);
        lxw_datetime d{t.left(4).toInt(), t.mid(5, 2).toInt(), t.mid(8, 2).toInt(),
                       t.mid(11, 2).toInt(), t.mid(14, 2).toInt(), t.mid(17, 2).toDouble()};
        worksheet_write_datetime(m_sheet, m_row, lxw_col_t(c), &d, m_time);
    }
    void Wide(int c, double width) { worksheet_set_column(m_sheet, lxw_col_t(c), lxw_col_t(c), width, nullptr); }
    void NextRow() { ++m_row; }

private:
    lxw_worksheet* m_sheet;
    lxw_format* m_time;
    lxw_row_t m_row = 1;
};

} // namespace

QString WriteReportXlsx(const TReport& report, const QString& file)
{
    const QString temporary = TemporaryFor(file);
    lxw_workbook* book = workbook_new(QFile::encodeName(temporary).constData());
    if (!book)
        return QStringLiteral("无法建立工作簿");
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    lxw_format* time = workbook_add_format(book);
    format_set_num_format(time, "yyyy-mm-dd hh:mm:ss");

    TSheet summary(book, "汇总", ReportHeader::Summary(), bold, time);
    summary.Wide(5, 20);
    for (const TInstrumentFigures& f : report.instruments)
        for (const TPhaseFigures& p : f.phases) {
            summary.Text(0, f.instrument.name);
            summary.Number(1, addressOf(f.instrument));
            summary.Text(2, PhaseLetter(p.phase));
            summary.Number(3, RoundedToOneDecimal(p.min));
            summary.Number(4, RoundedToOneDecimal(p.max));
            summary.Time(5, p.maxAt);
            summary.Number(6, RoundedToOneDecimal(p.mean));
            summary.Number(7, p.aboveT2Minutes);
            summary.Number(8, p.aboveT3Minutes);
            summary.NextRow();
        }

    TSheet alarms(book, "报警", ReportHeader::Alarms(), bold, time);
    for (const TAlarmFigures& a : report.alarms) {
        alarms.Text(0, a.kindText);
        alarms.Text(1, PriorityText(a.priority));
        alarms.Text(2, a.instrument);
        alarms.Number(3, a.count);
        alarms.Number(4, RoundedToOneDecimal(a.standingMinutes));
        alarms.Number(5, a.ackMedianMinutes);
        alarms.Number(6, a.ackWorstMinutes);
        alarms.NextRow();
    }

    TSheet writes(book, "参数写入", ReportHeader::Writes(), bold, time);
    writes.Wide(0, 20);
    writes.Wide(3, 40);
    writes.Wide(4, 40);
    for (const TWriteFigures& w : report.writes) {
        writes.Time(0, w.time);
        writes.Text(1, w.instrument);
        writes.Text(2, w.group);
        writes.Text(3, w.before);
        writes.Text(4, w.after);
        writes.Text(5, w.user);
        writes.NextRow();
    }

    TSheet availability(book, "可用率", ReportHeader::Availability(), bold, time);
    for (const TInstrumentFigures& f : report.instruments) {
        availability.Text(0, f.instrument.name);
        availability.Number(1, addressOf(f.instrument));
        availability.Number(2, RoundedToOneDecimal(f.normalPercent));
        availability.Number(3, RoundedToOneDecimal(f.interruptedPercent));
        availability.Number(4, RoundedToOneDecimal(f.noDataPercent));
        availability.Number(5, RoundedToOneDecimal(f.fanHours));
        availability.NextRow();
    }

    // The period, the station, the thresholds and the rules, after the tables.
    TSheet notes(book, "说明", {QStringLiteral("项目"), QStringLiteral("内容")}, bold, time);
    notes.Wide(1, 100);
    const auto note = [&](const QString& what, const QString& text) {
        notes.Text(0, what);
        notes.Text(1, text);
        notes.NextRow();
    };
    note(QStringLiteral("期间"), report.period.Label());
    note(QStringLiteral("站"), report.station);
    note(QStringLiteral("生成时间"), WallText(report.madeAt));
    const auto thresholdText = [](const std::optional<double>& t) { return t ? OneDecimal(*t) : QStringLiteral("不计"); };
    for (const TInstrumentFigures& f : report.instruments)
        note(QStringLiteral("阈值"), QStringLiteral("%1（地址 %2）：T2 %3，T3 %4")
                                         .arg(f.instrument.name)
                                         .arg(f.instrument.address)
                                         .arg(thresholdText(f.instrument.t2), thresholdText(f.instrument.t3)));
    for (const QString& rule : ReportRules())
        note(QStringLiteral("规则"), rule);

    if (const lxw_error e = workbook_close(book); e != LXW_NO_ERROR) {
        QFile::remove(temporary);
        return QString::fromUtf8(lxw_strerror(e));
    }
    return MoveIntoPlace(temporary, file);
}

} // namespace zeva
