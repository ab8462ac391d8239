// TFrmAddLine: the curve chooser. Edits a copy of the history window's list of chosen curves and
// hands it back on "确定(&C)"; the close box keeps the old list.
#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QListWidget;
class QPushButton;

namespace zeva {

class TFrmAddLine : public QDialog {
    Q_OBJECT
public:
    TFrmAddLine(QStringList& tempStrings, QWidget* parent = nullptr);

    void ButAddClick();
    void ButQClick();
    void ButCanelClick();
    QStringList Entries() const;

    QComboBox* ComboBoxLine = nullptr;
    QListWidget* ListBoxSumLine = nullptr;
    QPushButton* ButAdd = nullptr;
    QPushButton* ButQ = nullptr;
    QPushButton* ButCanel = nullptr;

private:
    QStringList& m_tempStrings;
};

} // namespace zeva
