// The confirmation of a write: values before and after, warnings, 取消 by default.
#include "ConfirmWrite.h"

#include "WindowSupport.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace zeva {

TFrmConfirmWrite::TFrmConfirmWrite(const TWriteReview& review, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FrmConfirmWrite"));
    setWindowTitle(QStringLiteral("确认写入"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    auto* root = new QVBoxLayout(this);
    Title = Named(new QLabel(review.title, this), QStringLiteral("Title"));
    QFont bold = Title->font();
    bold.setBold(true);
    Title->setFont(bold);
    root->addWidget(Title);

    Values = Named(new QTableWidget(int(review.lines.size()), 4, this), QStringLiteral("Values"));
    Values->setHorizontalHeaderLabels({QStringLiteral("参数"), QStringLiteral("仪表当前值"), QStringLiteral("将写入"),
                                       QStringLiteral("改变")});
    Values->verticalHeader()->hide();
    Values->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Values->setSelectionMode(QAbstractItemView::NoSelection);
    // The keys belong to the two buttons: Enter must reach 取消.
    Values->setFocusPolicy(Qt::NoFocus);
    for (int r = 0; r < int(review.lines.size()); ++r) {
        const TReviewLine& l = review.lines[std::size_t(r)];
        // Never read: the cell stays empty, as the read box is.
        const QString texts[4] = {l.name, l.before, l.after, l.value && l.changed ? QStringLiteral("●") : QString()};
        for (int c = 0; c < 4; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            item->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::Alignment(Qt::AlignCenter));
            if (l.value && l.changed) {
                item->setFont(bold);
                item->setBackground(QColor(255, 240, 180));
            }
            Values->setItem(r, c, item);
        }
    }
    Values->resizeColumnsToContents();
    Values->horizontalHeader()->setStretchLastSection(true);
    int height = Values->horizontalHeader()->sizeHint().height() + 4;
    for (int r = 0; r < Values->rowCount(); ++r)
        height += Values->rowHeight(r);
    Values->setMinimumSize(Values->horizontalHeader()->length() + 40, height);
    Values->setMaximumHeight(height);
    root->addWidget(Values);

    Warnings = Named(new QLabel(this), QStringLiteral("Warnings"));
    QStringList lines;
    for (const QString& w : review.warnings)
        lines << QStringLiteral("⚠ ") + w;
    Warnings->setText(lines.join(QLatin1Char('\n')));
    Warnings->setWordWrap(true);
    Warnings->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold;"));
    Warnings->setVisible(!lines.isEmpty());
    root->addWidget(Warnings);

    ButConfirm = Named(new QPushButton(QStringLiteral("确认写入(&Y)"), this), QStringLiteral("ButConfirm"));
    ButCancel = Named(new QPushButton(QStringLiteral("取消(&N)"), this), QStringLiteral("ButCancel"));
    // Enter cancels wherever the focus is: only a click, Alt+Y or Space on the button confirms.
    ButConfirm->setAutoDefault(false);
    ButCancel->setAutoDefault(true);
    ButCancel->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ButConfirm);
    buttons->addWidget(ButCancel);
    root->addLayout(buttons);
    root->setSizeConstraint(QLayout::SetFixedSize);
    connect(ButConfirm, &QPushButton::clicked, this, &QDialog::accept);
    connect(ButCancel, &QPushButton::clicked, this, &QDialog::reject);
    ButCancel->setFocus();
}

bool TFrmConfirmWrite::Ask(const TWriteReview& review, QWidget* parent)
{
    TFrmConfirmWrite question(review, parent);
    const bool confirmed = question.exec() == QDialog::Accepted;
    // Without a window manager nobody gives the window its keys back (its mnemonics go dead).
    if (parent) {
        parent->window()->raise();
        parent->window()->activateWindow();
    }
    return confirmed;
}

} // namespace zeva
