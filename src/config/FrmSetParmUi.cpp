// TFrmSetParm's controls: the selectors, the five tabs and their rows, captions and items.
#include "FrmSetParm.h"

#include "PortNames.h"
#include "Reconnect.h"

#include "Application.h"
#include "ErrorLog.h"
#include "FrmMain.h"
#include "Frames.h"
#include "WindowSupport.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace zeva {

namespace {

const QStringList BaudItems{"300", "600", "1200", "2400", "4800", "9600"};

} // namespace

void TFrmSetParm::buildControls()
{
    setWindowTitle(SetParmCaption);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    auto* root = new QVBoxLayout(this);

    root->addWidget(Named(BigTitle(SetParmCaption, this, 6), QStringLiteral("TitleLabel")));

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

    PageCtl = Named(new QTabWidget(this), QStringLiteral("PageCtl"));
    PageCtl->setUsesScrollButtons(false); // every tab's title in full
    root->addWidget(PageCtl);

    auto page = [&](QWidget*& slot, const char* name, const char* text) {
        slot = Named(new QWidget(PageCtl), QLatin1String(name));
        PageCtl->addTab(slot, QString::fromUtf8(text));
        auto* grid = new QGridLayout(slot);
        return grid;
    };
    auto readBox = [&](QWidget* parent, const QString& name) {
        auto* e = Named(new QLineEdit(parent), name);
        e->setEnabled(false); // filled from replies only
        return e;
    };
    auto row = [&](QGridLayout* grid, int r, const QString& label, QLineEdit*& get, const QString& getName,
                   QWidget* set, QPushButton*& button, const QString& buttonName, const QString& buttonText) {
        QWidget* parent = grid->parentWidget();
        get = readBox(parent, getName);
        button = Named(new QPushButton(buttonText, parent), buttonName);
        grid->addWidget(new QLabel(label, parent), r, 0);
        grid->addWidget(get, r, 1);
        grid->addWidget(set, r, 2);
        grid->addWidget(button, r, 3);
    };
    auto setBox = [&](QWidget* parent, const QString& name) { return Named(new QLineEdit(parent), name); };

    QGridLayout* g1 = page(Parm1, "Parm1", "一级组态参数设置");
    const char* tLabels[7] = {"T1 :关冷却风机温度", "T2 :开冷却风机温度", "T3 :  超温报警温度", "T4 :  超温跳闸温度",
                              "T5 :            无", "T6 :            无", "T7 :            无"};
    for (int i = 0; i < 7; ++i) {
        QString n = QString::number(i + 1);
        TSet[i] = setBox(Parm1, "T" + n + "EditSet");
        row(g1, i, QString::fromUtf8(tLabels[i]), TGet[i], "T" + n + "EditGet", TSet[i], ButT[i], "ButT" + n,
            "T" + n + QStringLiteral("设定"));
    }

    QGridLayout* g2 = page(Parm2, "Parm2", "二级组态参数设置");
    const char* phases = "ABCD";
    for (int i = 0; i < 4; ++i) {
        QString p = QString(QChar(phases[i]));
        AtSet[i] = setBox(Parm2, p + "TSet");
        row(g2, i, p + QStringLiteral("相补偿温度设置"), AtGet[i], p + "TGet", AtSet[i], ButPhase[i], "But" + p,
            p + QStringLiteral("设定"));
    }
    g2->setRowStretch(4, 1);

    QGridLayout* g3 = page(Parm3, "Parm3", "三级组态参数设置");
    JGSet = setBox(Parm3, "JGSet");
    YXSet = setBox(Parm3, "YXSet");
    row(g3, 0, QStringLiteral("风机运行时间间隔："), JGGET, "JGGET", JGSet, ButJG, "ButJG", QStringLiteral("间隔设定"));
    row(g3, 1, QStringLiteral("风机定时运行时间："), YXGet, "YXGet", YXSet, ButYX, "ButYX", QStringLiteral("定时设定"));
    g3->setRowStretch(2, 1);

    QGridLayout* g4 = page(Parm4, "Parm4", "四级组态参数设置");
    ADDSet = setBox(Parm4, "ADDSet");
    BateSet = Named(new QComboBox(Parm4), QStringLiteral("BateSet"));
    BateSet->setEditable(true);
    BateSet->setInsertPolicy(QComboBox::NoInsert);
    BateSet->addItems(BaudItems);
    BateSet->setEditText(QString());
    row(g4, 0, QStringLiteral("风机地址设定："), ADDGet, "ADDGet", ADDSet, ButAdd, "ButAdd", QStringLiteral("地址设定"));
    row(g4, 1, QStringLiteral("风机波特率："), BateGet, "BateGet", BateSet, ButBate, "ButBate",
        QStringLiteral("波特率设定"));
    g4->setRowStretch(2, 1);

    ParmOther = Named(new QWidget(PageCtl), QStringLiteral("ParmOther"));
    PageCtl->addTab(ParmOther, QStringLiteral("其他参数设置"));
    auto* other = new QVBoxLayout(ParmOther);

    auto* serial = new QGroupBox(QStringLiteral("串口设置"), ParmOther);
    auto* gs = new QGridLayout(serial);
    ComPort = Named(new QComboBox(serial), QStringLiteral("ComPort"));
    ComPort->setEditable(true);
    ComPort->setInsertPolicy(QComboBox::NoInsert);
    ComPort->addItems({"COM1", "COM2", "COM3", "COM4"});
    for (const std::string& device : ListSerialDevices())
        ComPort->addItem(QString::fromStdString(device));
    ComBate = Named(new QComboBox(serial), QStringLiteral("ComBate"));
    ComBate->setEditable(true);
    ComBate->setInsertPolicy(QComboBox::NoInsert);
    ComBate->addItems(BaudItems);
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
    OUTTypeEdit = Named(new QComboBox(outputs), QStringLiteral("OUTTypeEdit"));
    OUTTypeEdit->setEditable(true);
    OUTTypeEdit->setInsertPolicy(QComboBox::NoInsert);
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

    ButCanel = Named(new QPushButton(QStringLiteral("确定(&Q)"), this), QStringLiteral("ButCanel"));
    auto* bottom = new QHBoxLayout;
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

    m_commB = Named(new TComm(this), QStringLiteral("CommB"));
    SetInstrumentBusProperties(*m_commB);
    m_commB->OnReceiveData = [this](TComm* sender, const uint8_t* buffer, uint16_t length) {
        Guard([&] { CommBReceiveData(sender, buffer, length); });
    };
    m_timerB = Named(new QTimer(this), QStringLiteral("TimerB"));
    m_timerB->setInterval(1000);
    // A pulled adapter: CommB is tried again every 2 s while the window is open.
    m_reconnectB = new TReconnect(*m_commB, [this] {
        LogError(QStringLiteral("参数设置：串口已重新打开"));
        m_main.ConfigurationLink(true);
    }, this);
    m_commB->OnRequestHangup = [this](TComm*) {
        LogError(QStringLiteral("参数设置：串口断开，每 2 秒重试"));
        m_main.ConfigurationLink(false);
        m_reconnectB->Start();
    };
    NoReply = Named(new QLabel(QStringLiteral("无应答"), PageCtl), QStringLiteral("NoReply"));
    NoReply->setStyleSheet(QStringLiteral("color: #d02020; font-weight: bold; padding: 0 8px;"));
    NoReply->hide();
    PageCtl->setCornerWidget(NoReply, Qt::TopRightCorner);

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
    on(m_timerB, &QTimer::timeout, [this] { TimerBTimer(); });
    for (QComboBox* selector : {MCapition, MAddress, MXL})
        on(selector, &QComboBox::activated, [this, selector] { selectRow(selector->currentIndex()); });
}

} // namespace zeva
