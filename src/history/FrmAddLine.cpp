// TFrmAddLine: the curve chooser.
#include "FrmAddLine.h"

#include "Application.h"
#include "SharedTexts.h"
#include "WindowSupport.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace zeva {

TFrmAddLine::TFrmAddLine(QStringList& tempStrings, QWidget* parent) : QDialog(parent), m_tempStrings(tempStrings)
{
    setObjectName(QStringLiteral("FrmAddLine"));
    setWindowTitle(QStringLiteral("添加曲线"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    auto* grid = new QGridLayout(this);
    ComboBoxLine = Named(new QComboBox(this), QStringLiteral("ComboBoxLine"));
    for (const QString& name : CurveNames)
        ComboBoxLine->addItem(name);
    ComboBoxLine->setCurrentIndex(-1); // nothing chosen at first
    ListBoxSumLine = Named(new QListWidget(this), QStringLiteral("ListBoxSumLine"));
    ListBoxSumLine->setSelectionMode(QAbstractItemView::SingleSelection);
    ButAdd = Named(new QPushButton(QStringLiteral("添加(&A)"), this), QStringLiteral("ButAdd"));
    ButQ = Named(new QPushButton(QStringLiteral("删除(&Q)"), this), QStringLiteral("ButQ"));
    ButCanel = Named(new QPushButton(QStringLiteral("确定(&C)"), this), QStringLiteral("ButCanel"));
    grid->addWidget(new QLabel(QStringLiteral("曲    线："), this), 0, 0);
    grid->addWidget(ComboBoxLine, 0, 1);
    grid->addWidget(ButAdd, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("显示曲线："), this), 1, 0, Qt::AlignTop);
    grid->addWidget(ListBoxSumLine, 1, 1, 2, 1);
    grid->addWidget(ButQ, 1, 2, Qt::AlignTop);
    grid->addWidget(ButCanel, 2, 2, Qt::AlignBottom);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    ConnectGuarded(ButAdd, &QPushButton::clicked, this, [this] { ButAddClick(); });
    ConnectGuarded(ButQ, &QPushButton::clicked, this, [this] { ButQClick(); });
    ConnectGuarded(ButCanel, &QPushButton::clicked, this, [this] { ButCanelClick(); });
    ListBoxSumLine->addItems(m_tempStrings); // as they are, duplicates included
}

QStringList TFrmAddLine::Entries() const
{
    QStringList out;
    for (int i = 0; i < ListBoxSumLine->count(); ++i)
        out << ListBoxSumLine->item(i)->text();
    return out;
}

void TFrmAddLine::ButAddClick()
{
    QString name = ComboBoxLine->currentText().trimmed();
    if (name.isEmpty() || Entries().contains(name, Qt::CaseSensitive))
        return;
    ListBoxSumLine->addItem(name);
}

void TFrmAddLine::ButQClick()
{
    QListWidgetItem* item = ListBoxSumLine->currentItem();
    if (item && item->isSelected())
        delete ListBoxSumLine->takeItem(ListBoxSumLine->row(item));
}

void TFrmAddLine::ButCanelClick()
{
    m_tempStrings = Entries();
    accept();
}

} // namespace zeva
