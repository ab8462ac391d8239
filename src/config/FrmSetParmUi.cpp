// TFrmSetParm's controls: the selectors, the five tabs and their rows, captions and items.
#include "FrmSetParm.h"

#include "PortNames.h"

#include "Frames.h"
#include "MonitorCore.h"
#include "WindowSupport.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace zeva {

namespace {

const QStringList BaudItems{"300", "600", "1200", "2400", "4800", "9600"};

QGridLayout* addPage(QTabWidget* pages, QWidget*& slot, const char* name, const char* text)
{
    slot = Named(new QWidget(pages), QLatin1String(name));
    pages->addTab(slot, QString::fromUtf8(text));
    return new QGridLayout(slot);
}

// A row of a tab: label, read box (filled from replies only), set box, button.
void addRow(QGridLayout* grid, int r, const QString& label, QLineEdit*& get, const QString& getName, QWidget* set,
            QPushButton*& button, const QString& buttonName, const QString& buttonText)
{
    QWidget* parent = grid->parentWidget();
    get = Named(new QLineEdit(parent), getName);
    get->setEnabled(false);
    button = Named(new QPushButton(buttonText, parent), buttonName);
    grid->addWidget(new QLabel(label, parent), r, 0);
    grid->addWidget(get, r, 1);
    grid->addWidget(set, r, 2);
    grid->addWidget(button, r, 3);
}

QLineEdit* setBox(QWidget* parent, const QString& name)
{
    return Named(new QLineEdit(parent), name);
}

QComboBox* editableCombo(QWidget* parent, const QString& name, const QStringList& items)
{
    auto* c = Named(new QComboBox(parent), name);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->addItems(items);
    return c;
}

} // namespace

void TFrmSetParm::buildControls()
{
    setWindowTitle(SetParmCaption);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    auto* root = new QVBoxLayout(this);
    root->addWidget(Named(BigTitle(SetParmCaption, this, 6), QStringLiteral("TitleLabel")));
    buildSelectors(root);

    PageCtl = Named(new QTabWidget(this), QStringLiteral("PageCtl"));
    PageCtl->setUsesScrollButtons(false); // every tab's title in full
    root->addWidget(PageCtl);
    buildThresholdTab();
    buildCompensationTab();
    buildFanTab();
    buildLinkTab();
    buildOtherTab();
    NoReply = Named(new QLabel(QStringLiteral("无应答"), PageCtl), QStringLiteral("NoReply"));
    NoReply->setStyleSheet(QStringLiteral("color: #d02020; font-weight: bold; padding: 0 8px;"));
    NoReply->hide();
    PageCtl->setCornerWidget(NoReply, Qt::TopRightCorner);

    ButCanel = Named(new QPushButton(QStringLiteral("确定(&Q)"), this), QStringLiteral("ButCanel"));
    auto* bottom = new QHBoxLayout;
    RightsLine = Named(new QLabel(this), QStringLiteral("RightsLine"));
    RightsLine->setStyleSheet(QStringLiteral("color: #805000;"));
    RightsLine->hide();
    bottom->addWidget(RightsLine);
    bottom->addStretch(1);
    bottom->addWidget(ButCanel);
    root->addLayout(bottom);
    root->setSizeConstraint(QLayout::SetFixedSize); // a fixed-size dialog

    // The key filter on the eighteen numeric boxes.
    QList<QWidget*> filtered;
    for (QLineEdit* e : TSet)
        filtered << e;
    for (QLineEdit* e : AtSet)
        filtered << e;
    // An editable combo box holds the focus itself and hands keys to its line edit directly, so
    // the filter sits on the combo box, where the operator's keys arrive.
    filtered << JGSet << YXSet << ADDSet << BateSet << BateSet->lineEdit() << ComBate << ComBate->lineEdit()
             << LXTimeEdit << RecTimeEdit;
    for (QWidget* w : filtered)
        w->installEventFilter(this);
}

void TFrmSetParm::buildSelectors(QVBoxLayout* root)
{
    auto* selectors = new QHBoxLayout;
    MCapition = Named(new QComboBox(this), QStringLiteral("MCapition"));
    MAddress = Named(new QComboBox(this), QStringLiteral("MAddress"));
    MXL = Named(new QComboBox(this), QStringLiteral("MXL"));
    selectors->addWidget(new QLabel(QStringLiteral("名称："), this));
    selectors->addWidget(MCapition, 2);
    selectors->addWidget(new QLabel(QStringLiteral("地址："), this));
    selectors->addWidget(MAddress, 1);
    selectors->addWidget(new QLabel(QStringLiteral("系列："), this));
    selectors->addWidget(MXL, 2);
    root->addLayout(selectors);
}

void TFrmSetParm::buildThresholdTab()
{
    QGridLayout* g = addPage(PageCtl, Parm1, "Parm1", "一级组态参数设置");
    const char* labels[7] = {"T1 :关冷却风机温度", "T2 :开冷却风机温度", "T3 :  超温报警温度", "T4 :  超温跳闸温度",
                             "T5 :            无", "T6 :            无", "T7 :            无"};
    for (int i = 0; i < 7; ++i) {
        QString n = QString::number(i + 1);
        TSet[i] = setBox(Parm1, "T" + n + "EditSet");
        addRow(g, i, QString::fromUtf8(labels[i]), TGet[i], "T" + n + "EditGet", TSet[i], ButT[i], "ButT" + n,
               "T" + n + QStringLiteral("设定"));
    }
}

void TFrmSetParm::buildCompensationTab()
{
    QGridLayout* g = addPage(PageCtl, Parm2, "Parm2", "二级组态参数设置");
    const char* phases = "ABCD";
    for (int i = 0; i < 4; ++i) {
        QString p = QString(QChar(phases[i]));
        AtSet[i] = setBox(Parm2, p + "TSet");
        addRow(g, i, p + QStringLiteral("相补偿温度设置"), AtGet[i], p + "TGet", AtSet[i], ButPhase[i], "But" + p,
               p + QStringLiteral("设定"));
    }
    g->setRowStretch(4, 1);
}

void TFrmSetParm::buildFanTab()
{
    QGridLayout* g = addPage(PageCtl, Parm3, "Parm3", "三级组态参数设置");
    JGSet = setBox(Parm3, "JGSet");
    YXSet = setBox(Parm3, "YXSet");
    addRow(g, 0, QStringLiteral("风机运行时间间隔："), JGGET, "JGGET", JGSet, ButJG, "ButJG", QStringLiteral("间隔设定"));
    addRow(g, 1, QStringLiteral("风机定时运行时间："), YXGet, "YXGet", YXSet, ButYX, "ButYX", QStringLiteral("定时设定"));
    g->setRowStretch(2, 1);
}

void TFrmSetParm::buildLinkTab()
{
    QGridLayout* g = addPage(PageCtl, Parm4, "Parm4", "四级组态参数设置");
    ADDSet = setBox(Parm4, "ADDSet");
    BateSet = editableCombo(Parm4, QStringLiteral("BateSet"), BaudItems);
    BateSet->setEditText(QString());
    addRow(g, 0, QStringLiteral("风机地址设定："), ADDGet, "ADDGet", ADDSet, ButAdd, "ButAdd", QStringLiteral("地址设定"));
    addRow(g, 1, QStringLiteral("风机波特率："), BateGet, "BateGet", BateSet, ButBate, "ButBate",
           QStringLiteral("波特率设定"));
    g->setRowStretch(2, 1);
}

void TFrmSetParm::buildOtherTab()
{
    ParmOther = Named(new QWidget(PageCtl), QStringLiteral("ParmOther"));
    PageCtl->addTab(ParmOther, QStringLiteral("其他参数设置"));
    auto* other = new QVBoxLayout(ParmOther);

    auto* serial = new QGroupBox(QStringLiteral("串口设置"), ParmOther);
    auto* gs = new QGridLayout(serial);
    ComPort = editableCombo(serial, QStringLiteral("ComPort"), {"COM1", "COM2", "COM3", "COM4"});
    for (const std::string& device : ListSerialDevices())
        ComPort->addItem(QString::fromStdString(device));
    ComBate = editableCombo(serial, QStringLiteral("ComBate"), BaudItems);
    ButCom = Named(new QPushButton(QStringLiteral("串口设置确认(&S)"), serial), QStringLiteral("ButCom"));
    gs->addWidget(new QLabel(QStringLiteral("串口："), serial), 0, 0);
    gs->addWidget(ComPort, 0, 1);
    gs->addWidget(new QLabel(QStringLiteral("波特率："), serial), 0, 2);
    gs->addWidget(ComBate, 0, 3);
    gs->addWidget(ButCom, 0, 4);
    other->addWidget(serial);

    auto* blackBox = new QGroupBox(QStringLiteral("黑匣子"), ParmOther);
    auto* gb = new QHBoxLayout(blackBox);
    gb->addWidget(new QLabel(QStringLiteral("仪表黑匣子温度历史最高温度"), blackBox));
    gb->addWidget(new QLabel(QStringLiteral("清零"), blackBox));
    ButClear = Named(new QPushButton(QStringLiteral("确认清零(&O)"), blackBox), QStringLiteral("ButClear"));
    gb->addWidget(ButClear);
    other->addWidget(blackBox);

    auto* outputs = new QGroupBox(QStringLiteral("继电器输出与定时"), ParmOther);
    auto* go = new QGridLayout(outputs);
    OUTEdit = Named(new QComboBox(outputs), QStringLiteral("OUTEdit"));
    for (std::string_view item : OutputKindItems)
        OUTEdit->addItem(QString::fromUtf8(item.data(), qsizetype(item.size())));
    OUTEdit->setCurrentIndex(-1); // nothing chosen at first
    OUTTypeEdit = editableCombo(outputs, QStringLiteral("OUTTypeEdit"), {});
    for (std::string_view item : OutputActionItems)
        OUTTypeEdit->addItem(QString::fromUtf8(item.data(), qsizetype(item.size())));
    OUTTypeEdit->setCurrentIndex(-1);
    OUTTypeEdit->setEditText(QString());
    ButOut = Named(new QPushButton(QStringLiteral("输出(&R)"), outputs), QStringLiteral("ButOut"));
    LXTimeEdit = Named(new QLineEdit(outputs), QStringLiteral("LXTimeEdit"));
    RecTimeEdit = Named(new QLineEdit(outputs), QStringLiteral("RecTimeEdit"));
    ButSetT = Named(new QPushButton(QStringLiteral("设定(X)"), outputs), QStringLiteral("ButSetT"));
    go->addWidget(new QLabel(QStringLiteral("继电器强制输出"), outputs), 0, 0);
    go->addWidget(OUTEdit, 0, 1);
    go->addWidget(new QLabel(QStringLiteral("输出类型"), outputs), 0, 2);
    go->addWidget(OUTTypeEdit, 0, 3);
    go->addWidget(ButOut, 0, 4);
    go->addWidget(new QLabel(QStringLiteral("设定单个表轮循时间"), outputs), 1, 0);
    go->addWidget(LXTimeEdit, 1, 1);
    go->addWidget(new QLabel(QStringLiteral("秒（单位）"), outputs), 1, 2);
    go->addWidget(new QLabel(QStringLiteral("设定记录数据次数"), outputs), 2, 0);
    go->addWidget(RecTimeEdit, 2, 1);
    go->addWidget(new QLabel(QStringLiteral("次（单位）"), outputs), 2, 2);
    go->addWidget(ButSetT, 2, 4);
    other->addWidget(outputs);
    other->addStretch(1);
}

void TFrmSetParm::applyRights()
{
    const TWriteRights rights = m_core.WriteRights();
    RightsLine->setText(rights.OpenToAll());
    RightsLine->setVisible(!rights.groupExists);
    QList<QPushButton*> changing{ButJG, ButYX, ButAdd, ButBate, ButClear, ButOut};
    for (QPushButton* b : ButT)
        changing << b;
    for (QPushButton* b : ButPhase)
        changing << b;
    for (QPushButton* b : changing) {
        b->setEnabled(rights.allowed);
        b->setToolTip(rights.allowed ? QString() : rights.Refusal());
    }
}

void TFrmSetParm::connectHandlers()
{
    auto on = [this](auto* sender, auto signal, std::function<void()> f) {
        ConnectGuarded(sender, signal, this, std::move(f));
    };
    for (QPushButton* b : ButT)
        on(b, &QPushButton::clicked, [this] { ButT1Click(); });
    for (QPushButton* b : ButPhase)
        on(b, &QPushButton::clicked, [this] { ButAClick(); });
    on(ButJG, &QPushButton::clicked, [this] { ButJGClick(); });
    on(ButYX, &QPushButton::clicked, [this] { ButJGClick(); });
    on(ButAdd, &QPushButton::clicked, [this] { ButAddClick(); });
    on(ButBate, &QPushButton::clicked, [this] { ButAddClick(); });
    on(ButClear, &QPushButton::clicked, [this] { ButClearClick(); });
    on(ButOut, &QPushButton::clicked, [this] { ButOutClick(); });
    on(ButSetT, &QPushButton::clicked, [this] { ButSetTClick(); });
    on(ButCom, &QPushButton::clicked, [this] { ButComClick(); });
    on(ButCanel, &QPushButton::clicked, [this] { ButCanelClick(); });
    for (QComboBox* selector : {MCapition, MAddress, MXL})
        on(selector, &QComboBox::activated, [this, selector] { selectRow(selector->currentIndex()); });
}

} // namespace zeva
