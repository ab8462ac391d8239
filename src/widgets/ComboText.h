// Setting an editable drop-down's text from code without it counting as the operator's choice.
#pragma once

#include <QComboBox>

namespace zeva {

// An editable combo box reports a choice when it loses the focus with a text that matches an item
// other than the current one; selecting that item as well keeps a text set from code silent.
inline void SetComboText(QComboBox* box, const QString& text)
{
    int index = box->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (index >= 0)
        box->setCurrentIndex(index);
    box->setEditText(text);
}

} // namespace zeva
