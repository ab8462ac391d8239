// The instrument list and history grid, the history curve window, the detail table and the chooser,
// in-process over a real database and Data.ini.
#include "DataGrid.h"
#include "FrmAddLine.h"
#include "FrmApparatus.h"
#include "FrmDataBase.h"
#include "FrmTrend.h"
#include "Trend.h"
#include "GridModel.h"
#include "MainFixture.h"
#include "MaskEdit.h"
#include "Settings.h"
#include "ChartTools.h"
#include "AxisRange.h"
#include "TestSupport.h"
#include "Statements.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QWheelEvent>
#include <QListWidget>
#include <QPushButton>
#include <QSqlTableModel>
#include <QTableView>
#include <QTest>
#include <qcustomplot.h>

using namespace zeva;
using namespace zeva::test;

namespace {

class HistoryFixture : public MainFixture {
protected:
    std::unique_ptr<TDatabase> db;
    std::unique_ptr<TIniFile> settings;
    std::vector<qint64> ids;

    void Open(const std::vector<TInstrument>& instruments)
    {
        ids = MakeDatabase(instruments);
        db = std::make_unique<TDatabase>();
        ASSERT_TRUE(db->Open(dir.path()));
        settings = std::make_unique<TIniFile>(ini());
    }
    int Count(const char* table) { return db->Query(QStringLiteral("SELECT * FROM ") + table).RecordCount(); }
    // Edits a cell as the operator does: through the model the grid shows.
    void Edit(TFrmApparatus& w, int row, const char* field, const QString& text)
    {
        TGridModel* m = w.Grid->model();
        w.Grid->view()->setCurrentIndex(m->index(row, m->ColumnOf(field)));
        m->setData(m->index(row, m->ColumnOf(field)), text, Qt::EditRole);
    }
};

QDateTime at(const char* text)
{
    return QDateTime::fromString(QLatin1String(text), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

TEST_F(HistoryFixture, ListModeEditsAddsDeletesAndPostsOnClose)
{
    Open({{10, "b"}, {2, "a"}});
    InsertRecord(*db, ids[1], at("2026-01-01 00:00:00"), {1, 2, 3, 4}, {0, 0, 0, 0});
    auto w = std::make_unique<TFrmApparatus>(*db, 1);
    w->show();
    TGridModel* m = w->Grid->model();
    ASSERT_EQ(m->columnCount(), 25);
    EXPECT_EQ(m->headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), "循环标记");
    EXPECT_EQ(m->headerData(24, Qt::Horizontal, Qt::DisplayRole).toString(), "含义");
    EXPECT_EQ(m->data(m->index(0, 0), Qt::DisplayRole).toString(), "a") << "by address";
    EXPECT_EQ(m->data(m->index(0, 0), Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
    EXPECT_EQ(w->Grid->FooterText(0), "合计");
    EXPECT_EQ(w->Grid->FooterText(1), "2");

    Edit(*w, 0, "ApparatusName", "甲\"引号\"");
    Edit(*w, 0, "T1", "85");
    w->Grid->view()->setCurrentIndex(m->index(1, 0)); // moving to another row posts the row
    EXPECT_EQ(db->Query("SELECT * FROM Apparatus WHERE ApparatusAddress = 2").FieldAsString("ApparatusName"),
              "甲\"引号\"");
    EXPECT_EQ(db->Query("SELECT * FROM Apparatus WHERE ApparatusAddress = 2").FieldAsFloat("T1"), 85);
    Edit(*w, 1, "ApparatusAddress", "x1");
    ASSERT_TRUE(WaitUntil([&] { return !boxes->boxes.isEmpty(); }));
    EXPECT_EQ(boxes->boxes.back(), "ErrorBox: 'x1' is not a valid integer value");
    EXPECT_EQ(m->data(m->index(1, m->ColumnOf("ApparatusAddress")), Qt::DisplayRole).toString(), "10")
        << "the refused value is not taken";

    w->Grid->view()->setCurrentIndex(m->index(1, 0));
    QTest::mouseClick(w->Button1, Qt::LeftButton);
    ASSERT_EQ(m->rowCount(), 3) << "a new row, ready for typing";
    EXPECT_EQ(w->Grid->FooterText(1), "2") << "a row being inserted is not counted";
    QTest::mouseClick(w->Button1, Qt::LeftButton);
    EXPECT_EQ(m->rowCount(), 3) << "its name and address are blank: no second new row";
    Edit(*w, 2, "ApparatusName", "   ");
    Edit(*w, 2, "ApparatusAddress", "7");
    QTest::mouseClick(w->Button1, Qt::LeftButton);
    EXPECT_EQ(m->rowCount(), 3) << "blanks only count as blank";
    w->close();
    EXPECT_EQ(Count("Apparatus"), 2) << "closed without a name: the new row is dropped";

    w = std::make_unique<TFrmApparatus>(*db, 1);
    w->show();
    m = w->Grid->model();
    w->Grid->view()->setCurrentIndex(m->index(0, 0));
    QTest::mouseClick(w->Button1, Qt::LeftButton);
    Edit(*w, 2, "ApparatusName", "新表");
    Edit(*w, 2, "ApparatusAddress", "100");
    w->close();
    EXPECT_EQ(Count("Apparatus"), 3) << "closed with name and address: posted";

    w = std::make_unique<TFrmApparatus>(*db, 1);
    w->show();
    m = w->Grid->model();
    w->Grid->view()->setCurrentIndex(m->index(0, 0));
    QTest::mouseClick(w->Button2, Qt::LeftButton);
    EXPECT_EQ(Count("Apparatus"), 2) << "deleted without asking";
    EXPECT_EQ(Count("ApparatusRecord"), 1) << "its readings stay";
}

TEST_F(HistoryFixture, ListDrivenByKeysPostsARowWhenTheCursorLeavesIt)
{
    Open({{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"}});
    TFrmApparatus w(*db, 1);
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_EQ(w.minimumSize(), w.maximumSize()) << "a fixed-size dialog";
    QTableView* view = w.Grid->view();
    TGridModel* m = w.Grid->model();
    // The delegate closes its editor on Enter by a queued call: the event loop runs after each key.
    auto key = [](Qt::Key k, const QString& text = {}) {
        QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), k, text, Qt::NoModifier);
        Pump(20);
    };
    // Each key to whatever has the focus then: the first one opens the cell's editor.
    auto typeText = [](const char* text) {
        for (const char* c = text; *c; ++c) {
            QTest::keyClick(QApplication::focusWidget(), *c);
            QCoreApplication::processEvents();
        }
    };

    // A new row: the name typed, Enter; the address typed, Enter: still pending.
    view->setCurrentIndex(m->index(3, 0));
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    ASSERT_EQ(m->rowCount(), 5);
    view->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), view);
    EXPECT_EQ(view->currentIndex(), m->index(4, 0));
    typeText("new");
    key(Qt::Key_Return, QStringLiteral("\r"));
    ASSERT_EQ(QApplication::focusWidget(), view) << "the edit has ended";
    EXPECT_EQ(m->data(m->index(4, 0), Qt::DisplayRole).toString(), "new");
    EXPECT_EQ(Count("Apparatus"), 4) << "Enter ends the edit, the row stays pending";
    key(Qt::Key_Right);
    typeText("12");
    key(Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(Count("Apparatus"), 4) << "still pending";
    // Its flag, set before the row is posted: the flag column, Space.
    key(Qt::Key_Right);
    key(Qt::Key_Right);
    ASSERT_EQ(view->currentIndex().column(), m->ColumnOf("CFlag"));
    key(Qt::Key_Space, QStringLiteral(" "));
    EXPECT_EQ(m->data(view->currentIndex(), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    key(Qt::Key_Up); // the cursor leaves the row: posted
    ASSERT_EQ(Count("Apparatus"), 5);
    TQueryResult added = db->Query("SELECT * FROM Apparatus WHERE ApparatusAddress = 12");
    EXPECT_EQ(added.FieldAsString("ApparatusName"), "new");
    EXPECT_EQ(added.FieldAsInteger("CFlag"), 1);

    // Editing an existing row by keys: Enter keeps it pending too.
    view->setCurrentIndex(m->index(0, m->ColumnOf("T1")));
    typeText("85");
    key(Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(db->Query("SELECT T1 FROM Apparatus WHERE ApparatusAddress = 1").FieldAsString("T1"), "");
    key(Qt::Key_Down);
    EXPECT_EQ(db->Query("SELECT T1 FROM Apparatus WHERE ApparatusAddress = 1").FieldAsFloat("T1"), 85);

    // Two presses of delete remove two rows: the next row becomes current after each.
    int shown = boxes->boxes.size();
    view->setCurrentIndex(m->index(1, 0));
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    EXPECT_EQ(view->currentIndex().row(), 1) << "the next row is current";
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    EXPECT_EQ(Count("Apparatus"), 3);
    EXPECT_TRUE(db->Query("SELECT * FROM Apparatus WHERE ApparatusAddress IN (2, 3)").Eof());
    EXPECT_EQ(boxes->boxes.size(), shown) << "deleted without asking";

    // A new row with its name only: Enter, then the close step drops it.
    view->setCurrentIndex(m->index(m->rowCount() - 1, 0));
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    view->setFocus();
    typeText("noaddr");
    key(Qt::Key_Return, QStringLiteral("\r"));
    w.close();
    EXPECT_EQ(Count("Apparatus"), 3) << "a row without its address is never stored";
}

TEST_F(HistoryFixture, EmptyListStartsWithARowToTypeInto)
{
    Open({});
    TFrmApparatus w(*db, 1);
    w.show();
    ASSERT_EQ(w.Grid->model()->rowCount(), 1);
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    EXPECT_EQ(w.Grid->model()->rowCount(), 1) << "add does nothing";
    Edit(w, 0, "ApparatusName", "first");
    Edit(w, 0, "ApparatusAddress", "1");
    w.close();
    EXPECT_EQ(Count("Apparatus"), 1);
}

TEST_F(HistoryFixture, HistoryModeIsReadOnlyWithEmptyColumnsAndDeletes)
{
    Open({{1, "a"}});
    for (int a : {5, 1}) {
        THistoryRow h;
        h.InDate = QDateTime::currentDateTime();
        h.ApparatusName = "a";
        h.ApparatusAddress = a;
        h.T = {45.0, 55.0, 80.0, 100.0, 0.0, 0.0, 0.0};
        h.Operator = QStringLiteral("op%1").arg(a);
        InsertHistory(*db, h);
    }
    TFrmApparatus w(*db, 2);
    EXPECT_EQ(w.windowTitle(), "参数设置历史记录");
    EXPECT_EQ(w.Label1->text(), "参数设置历史记录");
    EXPECT_TRUE(w.Button1->isHidden());
    EXPECT_TRUE(w.Label2->isHidden());
    TGridModel* m = w.Grid->model();
    EXPECT_EQ(m->data(m->index(0, 1), Qt::DisplayRole).toString(), "1");
    EXPECT_EQ(m->data(m->index(0, 4), Qt::DisplayRole).toString(), "45");
    // When and by whom, after the 25 columns.
    ASSERT_EQ(m->columnCount(), 27);
    EXPECT_EQ(m->headerData(25, Qt::Horizontal, Qt::DisplayRole).toString(), "写入时间");
    EXPECT_EQ(m->data(m->index(0, 25), Qt::DisplayRole).toString().size(), 19);
    EXPECT_EQ(m->data(m->index(0, 26), Qt::DisplayRole).toString(), "op1");
    for (const char* empty : {"CFlag", "AHightT", "DHightT", "ComPort", "ComBate", "CurrentlyAddress"}) {
        EXPECT_EQ(m->SourceColumn(m->ColumnOf(empty)), -1) << empty;
        EXPECT_FALSE(m->data(m->index(0, m->ColumnOf(empty)), Qt::DisplayRole).isValid());
    }
    EXPECT_FALSE(m->flags(m->index(0, 0)) & Qt::ItemIsEditable);
    EXPECT_FALSE(m->setData(m->index(0, 0), "x", Qt::EditRole));
    EXPECT_EQ(w.Grid->FooterText(1), "2");
    w.Grid->view()->setCurrentIndex(m->index(0, 0));
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    EXPECT_EQ(Count("ApparatusHistory"), 1);
    EXPECT_EQ(w.Grid->FooterText(1), "1");
}

TEST_F(HistoryFixture, SearchDrawsMarkedCurvesInTimeOrderWithBothEndsIncluded)
{
    Open({{1, "一号", true, "ZEVA5000-S"}, {9, "九号", true, "ZEVA5002"}});
    InsertRecord(*db, ids[0], at("2026-03-02 00:00:00"), {30, 0, 0, 0}, {0, 0, 0, 8}); // stored out of order
    InsertRecord(*db, ids[0], at("2026-03-01 00:00:00"), {10, 0, 0, 0}, {0, 0, 0, 6});
    InsertRecord(*db, ids[0], at("2026-03-01 23:59:59"), {20, 0, 0, 0}, {0, 0, 0, 7});
    InsertRecord(*db, ids[0], at("2026-03-02 00:00:01"), {99, 0, 0, 0}, {0, 0, 0, 9});
    InsertRecord(*db, ids[1], at("2026-03-01 12:00:00"), {55, 0, 0, 0}, {0, 0, 0, 0});
    settings->WriteString(SettingsKey::HistoryLine, "HistoryLine0", "A相实时温度");
    settings->WriteString(SettingsKey::HistoryLine, "HistoryLine1", "  ");
    settings->WriteString(SettingsKey::HistoryLine, "HistoryLine2", "D相黑匣子温度");
    settings->WriteString(SettingsKey::HistoryLine, "HistoryLine3", "E相");

    TFrmDataBase w(*db, *settings);
    EXPECT_EQ(w.TempStrings, (QStringList{"A相实时温度", "D相黑匣子温度", "E相"}));
    EXPECT_EQ(w.ComAddress->currentText(), "9") << "starts on the highest address";
    EXPECT_EQ(w.ChartView->xAxis->range(), QCPRange(0, 60));
    EXPECT_EQ(w.ChartView->yAxis->range(), QCPRange(-100, 100));
    w.ComAddress->setEditText("1");
    w.DDateBegin->setDate(QDate(2026, 3, 1));
    w.DDateEnd->setDate(QDate(2026, 3, 2));
    w.DDateEndT->setText("00:00:00");
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    EXPECT_TRUE(boxes->boxes.isEmpty());
    ASSERT_EQ(w.ADOQuery().RecordCount(), 3);
    EXPECT_EQ(w.ChartView->xAxis->range(), QCPRange(0, 3));
    auto values = [&](int series) {
        std::vector<std::pair<double, double>> v;
        for (auto it = w.ChartView->graph(series)->data()->constBegin();
             it != w.ChartView->graph(series)->data()->constEnd(); ++it)
            v.emplace_back(it->key, it->value);
        return v;
    };
    using P = std::vector<std::pair<double, double>>;
    EXPECT_EQ(values(0), (P{{0, 10}, {1, 20}, {2, 30}})) << "X by position, in time order";
    EXPECT_EQ(values(7), (P{{0, 6}, {1, 7}, {2, 8}}));
    for (int s = 1; s < 7; ++s)
        EXPECT_TRUE(values(s).empty()) << s;

    QTest::mouseClick(w.Button1, Qt::LeftButton);
    EXPECT_EQ(values(0).size(), 3u) << "a second search shows its result alone";

    w.DDateBegin->setDate(QDate(2020, 1, 1));
    w.DDateEnd->setDate(QDate(2020, 1, 2));
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    EXPECT_EQ(w.ADOQuery().RecordCount(), 0);
    EXPECT_EQ(w.ChartView->xAxis->range(), QCPRange(0, 1)) << "0 .. 0 rows, shown as 0 .. 1";
    EXPECT_TRUE(values(0).empty());

    w.DDateBegin->setDate(QDate(2026, 3, 1));
    w.DDateEnd->setDate(QDate(2026, 3, 2));
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    EXPECT_EQ(w.DetailCsvName(), "一号_2026-03-01_000000_2026-03-02_000000.csv");
    TFrmFrmDstList details(w.ADOQuery());
    EXPECT_EQ(details.minimumSize(), details.maximumSize()) << "a fixed-size dialog";
    EXPECT_EQ(details.Grid->FooterText(1), "3");
    EXPECT_EQ(details.Grid->model()->data(details.Grid->model()->index(0, 0), Qt::DisplayRole).toString(),
              "2026-03-01 00:00:00");
    QString csv = dir.filePath("rows.csv");
    ASSERT_TRUE(details.ExportCsv(csv));
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    QStringList lines = QString::fromUtf8(bytes.mid(3)).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "录入时间,A相实时温度,B相实时温度,C相实时温度,D相实时温度,A相黑匣子温度,B相黑匣子温度,"
                        "C相黑匣子温度,D相黑匣子温度");
    EXPECT_EQ(lines[1], "2026-03-01 00:00:00,10,0,0,0,0,0,0,6");
}

TEST_F(HistoryFixture, SearchErrorsAndTheTimeBox)
{
    Open({{1, "a"}});
    TFrmDataBase w(*db, *settings);
    w.ComAddress->setEditText("1 or 1=1");
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return boxes->boxes.size() == 1; }));
    EXPECT_EQ(boxes->boxes.back(), "ErrorBox: '1 or 1=1' is not a valid integer value");
    w.ComAddress->setEditText("1");
    w.DDateEndT->setText("25:00:00");
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return boxes->boxes.size() == 2; }));
    EXPECT_EQ(boxes->boxes.back(),
              "ErrorBox: '" + QDate::currentDate().toString("yyyy-MM-dd") + " 25:00:00' is not a valid date and time");

    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.DDateEndT->setText("23:59:59");
    w.DDateEndT->setFocus();
    ASSERT_TRUE(w.Button1->isDefault()) << "Enter searches";
    EXPECT_EQ(w.DetailCsvName(), "查询明细表.csv") << "no search yet";
    QTest::keyClick(w.DDateEndT, Qt::Key_Return);
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    EXPECT_EQ(w.DetailCsvName(), "a_" + today + "_000000_" + today + "_235959.csv") << "the search ran";

    w.DDateBeginT->setFocus();
    w.DDateBeginT->setText("12:3");
    EXPECT_FALSE(w.DDateBeginT->hasAcceptableInput());
    w.Button1->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return boxes->boxes.size() == 3; }));
    EXPECT_EQ(boxes->boxes.back(), "ErrorBox: Invalid input value.  Use escape key to abandon changes");
    EXPECT_TRUE(WaitUntil([&] { return w.focusWidget() == w.DDateBeginT; })) << "the box keeps the focus";
    QTest::keyClick(w.DDateBeginT, Qt::Key_Escape);
    EXPECT_EQ(w.DDateBeginT->text(), "00:00:00") << "escape abandons the change";

    w.DDateBeginT->setText("12:3");
    QTest::keyClick(w.DDateBeginT, Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return boxes->boxes.size() == 4; }));
    EXPECT_EQ(boxes->boxes.back(), "ErrorBox: Invalid input value.  Use escape key to abandon changes")
        << "Enter in an incomplete box starts no search";
    EXPECT_TRUE(WaitUntil([&] { return w.focusWidget() == w.DDateBeginT; }));
}

TEST_F(HistoryFixture, ChooserAndTheChoiceSurvivingAReopenInGbk)
{
    Open({});
    QStringList list{"B相实时温度", "B相实时温度"};
    {
        TFrmAddLine chooser(list);
        EXPECT_EQ(chooser.Entries(), list) << "taken over as they are";
        QTest::mouseClick(chooser.ButAdd, Qt::LeftButton);
        EXPECT_EQ(chooser.Entries().size(), 2) << "nothing chosen: nothing added";
        chooser.ComboBoxLine->setCurrentIndex(1);
        QTest::mouseClick(chooser.ButAdd, Qt::LeftButton);
        EXPECT_EQ(chooser.Entries().size(), 2) << "already listed";
        for (int i = 0; i < 8; ++i) {
            chooser.ComboBoxLine->setCurrentIndex(i);
            QTest::mouseClick(chooser.ButAdd, Qt::LeftButton);
        }
        EXPECT_EQ(chooser.Entries().size(), 9);
        chooser.reject(); // the close box
    }
    EXPECT_EQ(list.size(), 2) << "unchanged without confirming";
    {
        TFrmAddLine chooser(list);
        chooser.ListBoxSumLine->setCurrentRow(0);
        QTest::mouseClick(chooser.ButQ, Qt::LeftButton);
        chooser.ListBoxSumLine->setCurrentRow(0);
        QTest::mouseClick(chooser.ButQ, Qt::LeftButton);
        chooser.ComboBoxLine->setCurrentIndex(7);
        QTest::mouseClick(chooser.ButAdd, Qt::LeftButton);
        QTest::mouseClick(chooser.ButCanel, Qt::LeftButton);
    }
    EXPECT_EQ(list, (QStringList{"D相黑匣子温度"}));

    settings->WriteString(SettingsKey::HistoryLine, "HistoryLine3", "C相实时温度");
    {
        TFrmDataBase w(*db, *settings);
        w.show();
        w.TempStrings = {"A相黑匣子温度", "C相黑匣子温度"};
        w.close();
    }
    EXPECT_NE(IniText().find("HistoryLine0=A\xCF\xE0\xBA\xDA\xCF\xBB\xD7\xD3\xCE\xC2\xB6\xC8"), std::string::npos)
        << "GBK on disk";
    TFrmDataBase again(*db, *settings);
    EXPECT_EQ(again.TempStrings, (QStringList{"A相黑匣子温度", "C相黑匣子温度"})) << "the shortened list stays short";
}

TEST_F(HistoryFixture, AnAddressBeyondOneByteIsRefusedWhenTheCellIsLeft)
{
    Open({{1, "a"}, {2, QString(500, QChar(u'长'))}});
    TFrmApparatus w(*db, 1);
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTableView* view = w.Grid->view();
    TGridModel* m = w.Grid->model();
    const int address = m->ColumnOf("ApparatusAddress");
    view->setFocus();
    for (const char* typed : {"256", "-1", "1000"}) {
        view->setCurrentIndex(m->index(0, address));
        for (const char* c = typed; *c; ++c) {
            QTest::keyClick(QApplication::focusWidget(), *c);
            QCoreApplication::processEvents();
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); // leaves the cell
        ASSERT_TRUE(WaitUntil([&] { return !boxes->boxes.isEmpty(); })) << typed;
        EXPECT_EQ(boxes->boxes.takeLast(), QStringLiteral("ErrorBox: '%1' is not a valid bus address (0..255)").arg(typed));
        EXPECT_EQ(m->data(m->index(0, address), Qt::DisplayRole).toString(), "1") << "the cell keeps its address";
        QApplication::setActiveWindow(&w);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        view->setFocus();
    }
    Edit(w, 0, "ApparatusAddress", "255");
    EXPECT_EQ(m->data(m->index(0, address), Qt::DisplayRole).toString(), "255") << "the last address taken";
    EXPECT_TRUE(boxes->boxes.isEmpty());

    // A 500-character name: its column stays readable, the others on screen; the tooltip has it whole.
    const int name = m->ColumnOf("ApparatusName");
    Pump(50);
    EXPECT_LE(view->columnWidth(name), TGridModel::MaxColumnWidth);
    EXPECT_LT(view->horizontalHeader()->sectionPosition(address), w.width()) << "the address column is still in view";
    EXPECT_EQ(m->data(m->index(1, name), Qt::ToolTipRole).toString(), QString(500, QChar(u'长')));
    EXPECT_FALSE(m->data(m->index(0, name), Qt::ToolTipRole).isValid()) << "a short name needs none";
}

TEST_F(HistoryFixture, ADayWithAGapAndASpikeByTimeReadsUnderTheMouseAndExportsAtItsSize)
{
    // One reading a minute, 03:00 to 05:00 missing, one 112 °C spike; nothing shown but A.
    Open({{1, "一号"}});
    db->Exec("BEGIN");
    for (int m = 0; m < 24 * 60; ++m)
        if (m < 180 || m >= 300)
            InsertRecord(*db, ids[0], at("2026-03-01 00:00:00").addSecs(m * 60),
                         {m == 600 ? 112.0 : 50 + m % 7 * 0.5, 0, 0, 0}, {0, 0, 0, 0});
    db->Exec("COMMIT");
    settings->WriteString(SettingsKey::HistoryLine, "HistoryLine0", "A相实时温度");
    TFrmDataBase w(*db, *settings);
    w.show();
    w.ComAddress->setEditText("1");
    w.DDateBegin->setDate(QDate(2026, 3, 1));
    w.DDateEnd->setDate(QDate(2026, 3, 1));
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    EXPECT_EQ(w.ChartView->xAxis->range(), QCPRange(0, 1320)) << "rows, as before";
    EXPECT_EQ(w.ChartView->yAxis->range(), QCPRange(-100, 112)) << "the spike is not cut off";
    EXPECT_EQ(w.ChartView->graph(0)->dataCount(), 1320) << "no break by rows";

    QTest::mouseClick(w.TimeAxisBox, Qt::LeftButton);
    QTest::mouseClick(w.AutoScaleBox, Qt::LeftButton);
    const double t0 = double(at("2026-03-01 00:00:00").toSecsSinceEpoch());
    EXPECT_EQ(w.ChartView->xAxis->range(), QCPRange(t0, t0 + 86399));
    EXPECT_GT(w.ChartView->yAxis->range().upper, 112);
    EXPECT_LT(w.ChartView->yAxis->range().lower, 50);
    const auto& d = *w.ChartView->graph(0)->data();
    ASSERT_EQ(d.size(), 1321) << "one break";
    EXPECT_TRUE(std::isnan(d.at(180)->value));
    EXPECT_GT(d.at(180)->key, t0 + 179 * 60);
    EXPECT_LT(d.at(180)->key, t0 + 300 * 60);
    EXPECT_EQ(TIniFile(ini()).ReadString("HistoryLine", "TimeAxis", ""), "1");
    EXPECT_EQ(TIniFile(ini()).ReadString("HistoryLine", "AutoScale", ""), "1");

    // The pointer near 10:00 reads the spike; a click pins it and an hour later reads the fall.
    w.ChartView->replot();
    auto pixel = [&](int minute) {
        return QPoint(int(w.ChartView->xAxis->coordToPixel(t0 + minute * 60)), int(w.ChartView->yAxis->coordToPixel(112)));
    };
    QTest::mouseMove(w.ChartView, pixel(600));
    EXPECT_TRUE(w.ChartTools().ReadoutText().startsWith("2026-03-01 10:00:00\nA相实时温度  112.0 °C"))
        << w.ChartTools().ReadoutText().toStdString();
    QTest::mouseClick(w.ChartView, Qt::LeftButton, {}, pixel(600));
    w.ChartTools().ShowCursorAt(t0 + 660 * 60);
    EXPECT_TRUE(w.ChartTools().ReadoutText().endsWith("A相实时温度  51.0 °C    ΔT -61.0 °C  -1.02 °C/min"))
        << w.ChartTools().ReadoutText().toStdString();
    EXPECT_TRUE(w.ChartTools().ReadoutText().contains("Δt 1:00:00"));

    // A wheel notch over the time axis zooms it alone; Home goes back.
    const QCPRange before = w.ChartView->yAxis->range();
    const QPoint underAxis(pixel(600).x(), w.ChartView->axisRect()->rect().bottom() + 10);
    QWheelEvent wheel(underAxis, w.ChartView->mapToGlobal(underAxis), {}, {0, 120}, Qt::NoButton, {}, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(w.ChartView, &wheel);
    EXPECT_NEAR(w.ChartView->xAxis->range().size(), 86399 * TChartTools::WheelZoom, 1);
    EXPECT_EQ(w.ChartView->yAxis->range(), before);
    QTest::keyClick(w.ChartView, Qt::Key_Home);
    EXPECT_EQ(w.ChartView->xAxis->range(), QCPRange(t0, t0 + 86399));

    // PNG and PDF at the chart's size; the CSV holds the visible hour only.
    ASSERT_TRUE(ExportChart(w.ChartView, dir.filePath("c.png"), {}, nullptr));
    EXPECT_EQ(QImage(dir.filePath("c.png")).size(), w.ChartView->size());
    ASSERT_TRUE(ExportChart(w.ChartView, dir.filePath("c.pdf"), {}, nullptr));
    EXPECT_NE(Shell("pdfinfo '" + dir.filePath("c.pdf").toStdString() + "'")
                  .find(QStringLiteral("Page size:       %1 x %2 pts").arg(w.ChartView->width()).arg(w.ChartView->height()).toStdString()),
              std::string::npos);
    SetAxisRange(w.ChartView->xAxis, t0 + 600 * 60, t0 + 659 * 60);
    ASSERT_TRUE(ExportChart(w.ChartView, dir.filePath("c.csv"), [](double) { return QStringLiteral("t"); }, nullptr));
    QFile csv(dir.filePath("c.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split("\r\n", Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 61);
    EXPECT_EQ(lines.value(1), "t,112");
}

TEST_F(HistoryFixture, TheTrendOverAYearOfThreeMillionRowsShowsTheSpikeThresholdsAndAlarmsAndOneHourItsReadings)
{
    Open({{3, "三号"}, {7, "七号"}});
    db->Exec("UPDATE Apparatus SET T3 = 85, T4 = 100 WHERE ApparatusAddress = 3");
    // An older database: a year of readings every 10 s before the sums existed, one of them 112 °C.
    for (const char* sql : {"DROP TRIGGER TrendOnInsert", "DROP TABLE TrendMinute", "DROP TABLE TrendTenMinute",
                            "DROP TABLE TrendHour", "DROP TABLE TrendFill", "DROP TRIGGER TrendOnDelete",
                            "DROP TRIGGER TrendOnUpdate"})
        db->Exec(sql);
    db->Exec(QStringLiteral("WITH RECURSIVE m(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM m WHERE i < 2999999) "
                            "INSERT INTO ApparatusRecord(ApparatusID, InDateTime, AActTemperature) SELECT %1, "
                            "datetime('2025-03-01', '+' || (i * 10) || ' seconds'), CASE i WHEN 1500000 THEN 112 "
                            "ELSE 50 + i % 7 * 0.5 END FROM m").arg(ids[0]));
    ASSERT_TRUE(EnsureTrend(*db));
    while (FillTrendStep(*db, 500000)) {
    }
    // Raised while the instrument had another address: still its own.
    db->Exec(QStringLiteral("INSERT INTO EventJournal(ApparatusID, ApparatusAddress, Kind, RaisedAt, ClearedAt) "
                            "VALUES(%1, 9, 'alarm.phaseA', '2025-06-01 10:00:00', '2025-06-01 12:00:00')").arg(ids[0]));
    settings->WriteString("Trend", "Series", "3:AAct, 9:AAct, 3:Nope");
    settings->WriteString("Trend", "Range", "2025-03-01 00:00:00,2026-03-01 00:00:00");
    TFrmTrend w(*db, *settings);
    w.resize(1600, 900);
    w.show();
    w.Reload();
    EXPECT_EQ(TFrmTrend::SeriesText(w.Choices()), "3:AAct");
    EXPECT_EQ(w.Level(), TTrendLevel::Hour);
    QCPGraph* a = w.ChartView->graph(0);
    EXPECT_LT(a->dataCount(), 20000) << "the sums, not the rows";
    const double spike = double(QDateTime(QDate(2025, 3, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch() + 15000000);
    EXPECT_EQ(ShownExtremes(w.ChartView, 0, 4e9).max, 112);
    EXPECT_GT(w.ChartView->yAxis->range().upper, 112) << "fitted with the thresholds";

    auto items = [&](auto* type) {
        std::vector<decltype(type)> found;
        for (int i = 0; i < w.ChartView->itemCount(); ++i)
            if (auto* item = dynamic_cast<decltype(type)>(w.ChartView->item(i)))
                found.push_back(item);
        return found;
    };
    std::vector<double> levels;
    for (QCPItemStraightLine* line : items(static_cast<QCPItemStraightLine*>(nullptr)))
        if (line->point1->coords().y() == line->point2->coords().y())
            levels.push_back(line->point1->coords().y());
    std::sort(levels.begin(), levels.end());
    EXPECT_EQ(levels, (std::vector<double>{85, 100}));
    auto alarms = items(static_cast<QCPItemRect*>(nullptr));
    ASSERT_EQ(alarms.size(), 1u);
    const double raised = double(QDateTime(QDate(2025, 6, 1), QTime(10, 0), Qt::UTC).toSecsSinceEpoch());
    EXPECT_EQ(alarms[0]->topLeft->coords().x(), raised);
    EXPECT_GT(alarms[0]->bottomRight->coords().x() - raised, 2 * 365 * 86400 / 1600) << "two pixels at least";

    // One hour around the spike: its single readings.
    SetAxisRange(w.ChartView->xAxis, spike - 1800, spike + 1800);
    QApplication::processEvents();
    EXPECT_EQ(w.Level(), TTrendLevel::Rows);
    int inView = 0;
    for (auto it = a->data()->constBegin(); it != a->data()->constEnd(); ++it)
        inView += it->key >= spike - 1800 && it->key < spike + 1800;
    EXPECT_EQ(inView, 360);
    EXPECT_EQ(a->scatterStyle().shape(), QCPScatterStyle::ssDisc) << "each reading marked";
    EXPECT_EQ(alarms[0]->bottomRight->coords().x(), raised + 7200) << "its true end, once wider than two pixels";
    EXPECT_EQ(ShownExtremes(w.ChartView, spike, spike).max, 112);

    // A preset is kept by its name.
    w.RangeBox->setCurrentText("最近7天");
    TFrmTrend again(*db, *settings);
    EXPECT_EQ(again.RangeBox->currentText(), "最近7天");
    EXPECT_EQ(QString::fromStdString(settings->ReadString("Trend", "Range", {}).toStdString()), "最近7天");
}
