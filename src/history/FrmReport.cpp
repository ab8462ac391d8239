#include "FrmReport.h"

#include "Database.h"
#include "ReportPdf.h"
#include "ReportSources.h"
#include "ReportXlsx.h"
#include "WindowSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

namespace zeva {

TFrmReport::TFrmReport(QString dataPath, QString station, QString folder, QWidget* parent)
    : QDialog(parent), m_dataPath(std::move(dataPath)), m_station(std::move(station))
{
    setObjectName(QStringLiteral("FrmReport"));
    setWindowTitle(QStringLiteral("报表"));
    auto* grid = new QGridLayout;
    ReportKind = Named(new QComboBox(this), "ReportKind");
    ReportKind->addItems({QStringLiteral("日报"), QStringLiteral("月报")});
    ReportDate = Named(new QDateEdit(QDate::currentDate().addDays(-1), this), "ReportDate");
    ReportDate->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    ReportDate->setCalendarPopup(true);
    PdfBox = Named(new QCheckBox(QStringLiteral("PDF"), this), "PdfBox");
    XlsxBox = Named(new QCheckBox(QStringLiteral("XLSX"), this), "XlsxBox");
    PdfBox->setChecked(true);
    XlsxBox->setChecked(true);
    ReportFolder = Named(new QLineEdit(folder, this), "ReportFolder");
    ButFolder = Named(new QPushButton(QStringLiteral("选择…"), this), "ButFolder");
    grid->addWidget(new QLabel(QStringLiteral("报表："), this), 0, 0);
    grid->addWidget(ReportKind, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("日期："), this), 1, 0);
    grid->addWidget(ReportDate, 1, 1);
    auto* formats = new QHBoxLayout;
    formats->addWidget(PdfBox);
    formats->addWidget(XlsxBox);
    formats->addStretch(1);
    grid->addWidget(new QLabel(QStringLiteral("格式："), this), 2, 0);
    grid->addLayout(formats, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("文件夹："), this), 3, 0);
    auto* where = new QHBoxLayout;
    where->addWidget(ReportFolder, 1);
    where->addWidget(ButFolder);
    grid->addLayout(where, 3, 1);

    ReportStatus = Named(new QLabel(this), "ReportStatus");
    ReportStatus->setWordWrap(true);
    ReportStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ButMake = Named(new QPushButton(QStringLiteral("生成(&G)"), this), "ButMake");
    ButPrint = Named(new QPushButton(QStringLiteral("打印(&P)…"), this), "ButPrint");
    ButClose = Named(new QPushButton(QStringLiteral("关闭"), this), "ButClose");
    ButMake->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ButMake);
    buttons->addWidget(ButPrint);
    buttons->addWidget(ButClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(ReportStatus);
    layout->addLayout(buttons);
    resize(520, 220);

    ConnectGuarded(ReportKind, &QComboBox::currentIndexChanged, this, [this] {
        ReportDate->setDisplayFormat(ReportKind->currentIndex() == 1 ? QStringLiteral("yyyy-MM")
                                                                     : QStringLiteral("yyyy-MM-dd"));
    });
    ConnectGuarded(ButFolder, &QPushButton::clicked, this, [this] {
        const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("报表文件夹"), ReportFolder->text());
        if (!dir.isEmpty())
            ReportFolder->setText(dir);
    });
    ConnectGuarded(ButMake, &QPushButton::clicked, this, [this] { make(); });
    ConnectGuarded(ButPrint, &QPushButton::clicked, this, [this] { print(); });
    ConnectGuarded(ButClose, &QPushButton::clicked, this, [this] { reject(); });
}

TFrmReport::~TFrmReport()
{
    m_closing = true;
    if (m_worker.joinable())
        m_worker.join();
    BlockChildSignals(this);
}

void TFrmReport::reject()
{
    if (m_busy) {
        ReportStatus->setText(QStringLiteral("正在统计 %1，完成后才能关闭").arg(Period().Label()));
        return;
    }
    QDialog::reject();
}

TReportPeriod TFrmReport::Period() const
{
    const QDate d = ReportDate->date();
    return ReportKind->currentIndex() == 1 ? TReportPeriod{QDate(d.year(), d.month(), 1), true} : TReportPeriod{d, false};
}

void TFrmReport::setBusy(bool busy)
{
    m_busy = busy;
    for (QWidget* w : std::initializer_list<QWidget*>{ButMake, ButPrint, ReportKind, ReportDate, PdfBox, XlsxBox})
        w->setEnabled(!busy);
}

void TFrmReport::start(std::function<void(const TReport&)> done)
{
    if (m_busy)
        return;
    if (Period().From() > WallSecondsOf(QDateTime::currentDateTime())) {
        ReportStatus->setText(QStringLiteral("期间 %1 尚未开始").arg(Period().Label()));
        return;
    }
    if (m_worker.joinable())
        m_worker.join();
    setBusy(true);
    ReportStatus->setText(QStringLiteral("正在统计 %1 …").arg(Period().Label()));
    const TReportPeriod period = Period();
    QPointer<TFrmReport> self(this);
    m_worker = std::thread([this, self, period, done = std::move(done), path = m_dataPath, station = m_station] {
        auto report = std::make_shared<TReport>();
        auto error = std::make_shared<QString>();
        try {
            // A connection of this thread's own; the window's stays free for polling.
            TDatabase db(QStringLiteral("report-%1").arg(quintptr(this)), 5000);
            if (!db.Open(path))
                *error = db.OpenError();
            else
                *report = MakeReport(*StationReportSource(db), period, station, WallSecondsOf(QDateTime::currentDateTime()));
        } catch (const std::exception& e) {
            *error = QString::fromUtf8(e.what());
        }
        if (m_closing)
            return;
        QMetaObject::invokeMethod(
            this,
            [self, report, error, done] {
                if (!self)
                    return;
                self->setBusy(false);
                if (!error->isEmpty()) {
                    self->ReportStatus->setText(QStringLiteral("统计失败：") + *error);
                    return;
                }
                Guard([&] { done(*report); });
            },
            Qt::QueuedConnection);
    });
}

void TFrmReport::make()
{
    if (!PdfBox->isChecked() && !XlsxBox->isChecked()) {
        ReportStatus->setText(QStringLiteral("请至少选择一种格式"));
        return;
    }
    const QString folder = ReportFolder->text().trimmed();
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        ReportStatus->setText(QStringLiteral("无法建立文件夹 %1").arg(folder));
        return;
    }
    const bool pdf = PdfBox->isChecked(), xlsx = XlsxBox->isChecked();
    start([this, pdf, xlsx, folder](const TReport& report) {
        const QString base = QDir(folder).absoluteFilePath(QStringLiteral("zeva-report-") + report.period.Label());
        QStringList said;
        const auto write = [&](const QString& file, const QString& why) {
            said << (why.isEmpty() ? QStringLiteral("已写入 %1").arg(file) : QStringLiteral("%1 无法写入：%2").arg(file, why));
        };
        if (xlsx)
            write(base + QStringLiteral(".xlsx"), WriteReportXlsx(report, base + QStringLiteral(".xlsx")));
        if (pdf)
            write(base + QStringLiteral(".pdf"), WriteReportPdf(report, base + QStringLiteral(".pdf")));
        ReportStatus->setText(said.join(QLatin1Char('\n')));
    });
}

void TFrmReport::print()
{
    start([this](const TReport& report) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
        QPrintDialog dialog(&printer, this);
        if (dialog.exec() != QDialog::Accepted) {
            ReportStatus->clear();
            return;
        }
        ReportStatus->setText(PaintReport(report, printer) ? QStringLiteral("已送打印机")
                                                           : QStringLiteral("打印机无法开始打印"));
    });
}

} // namespace zeva
