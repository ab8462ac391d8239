// The instrument selectors.
#include "Selection.h"

#include "ComboText.h"
#include "Convert.h"
#include "Statements.h"

#include <QComboBox>
#include <QLineEdit>

namespace zeva {

void FillSelectors(TQueryResult& rows, QComboBox* address, QComboBox* name, QLineEdit* type,
                   const std::function<void(const TQueryResult&)>& eachRow, std::optional<int> shown)
{
    for (rows.First(); !rows.Eof(); rows.Next()) {
        address->addItem(rows.FieldAsString(Column::ApparatusAddress));
        name->addItem(rows.FieldAsString(Column::ApparatusName));
        if (eachRow)
            eachRow(rows);
    }
    if (rows.RecordCount() == 0)
        return;
    rows.Last(); // the row the pass ended on: the highest address
    if (shown && !rows.Locate(Column::ApparatusAddress, *shown))
        rows.Last();
    SetComboText(address, rows.FieldAsString(Column::ApparatusAddress));
    SetComboText(name, rows.FieldAsString(Column::ApparatusName));
    type->setText(rows.FieldAsString(Column::ApparatusType));
}

std::optional<int> FollowAddress(TQueryResult& rows, QComboBox* address, QComboBox* name, QLineEdit* type)
{
    const int value = StrToInt(address->currentText().trimmed());
    if (!rows.Locate(Column::ApparatusAddress, value)) {
        SetComboText(name, QString());
        return std::nullopt;
    }
    SetComboText(name, rows.FieldAsString(Column::ApparatusName));
    type->setText(rows.FieldAsString(Column::ApparatusType));
    return value;
}

void FollowName(TQueryResult& rows, QComboBox* name, QComboBox* address, QLineEdit* type)
{
    if (!rows.Locate(Column::ApparatusName, name->currentText().trimmed())) {
        SetComboText(address, QString());
        return;
    }
    SetComboText(address, rows.FieldAsString(Column::ApparatusAddress));
    type->setText(rows.FieldAsString(Column::ApparatusType));
}

} // namespace zeva
