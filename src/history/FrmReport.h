// 报表: a day's or a month's report as PDF and XLSX into a folder, or on the printer. The figures are
// worked out on a thread and a connection of their own, so that polling goes on meanwhile.
#pragma once

#include "ReportFigures.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <thread>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zeva {

class TFrmReport : public QDialog {
    Q_OBJECT
public:
    // `dataPath` holds DataBase/Data.db; the files go into `folder` unless the operator picks another.
    TFrmReport(QString dataPath, QString station, QString folder, QWidget* parent = nullptr);
    ~TFrmReport() override;

    QComboBox* ReportKind;    // 日报, 月报
    QDateEdit* ReportDate;
    QCheckBox* PdfBox;
    QCheckBox* XlsxBox;
    QLineEdit* ReportFolder;
    QPushButton* ButFolder;
    QPushButton* ButMake;
    QPushButton* ButPrint;
    QPushButton* ButClose;
    QLabel* ReportStatus;

    // The period the controls name.
    TReportPeriod Period() const;
    // True while a report is being worked out.
    bool Busy() const { return m_busy; }

private:
    // Works the report out on the thread, then `done` on the window's thread with it, or the
    // error's text.
    void start(std::function<void(const TReport&)> done);
    void make();
    void print();
    void setBusy(bool busy);
    // Not while the figures are worked out: the thread's end would be waited for on the window's thread.
    void reject() override;

    QString m_dataPath, m_station;
    std::thread m_worker;
    bool m_busy = false;
    std::atomic<bool> m_closing{false};
};

} // namespace zeva
