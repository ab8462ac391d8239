// TFrmConfirmWrite: the question before a write, a forced output or a black-box clear goes out.
// It lists each value as the instrument last reported it and as it will be written (changed ones
// marked) and the warnings; 取消 is the default, so Enter and Escape send nothing.
#pragma once

#include "WriteReview.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

namespace zeva {

class TFrmConfirmWrite : public QDialog {
    Q_OBJECT
public:
    TFrmConfirmWrite(const TWriteReview& review, QWidget* parent);

    // Shows the question modally; true only when the operator confirmed.
    static bool Ask(const TWriteReview& review, QWidget* parent);

    QLabel* Title = nullptr;
    QTableWidget* Values = nullptr;
    QLabel* Warnings = nullptr;
    QPushButton* ButConfirm = nullptr;
    QPushButton* ButCancel = nullptr;
};

} // namespace zeva
