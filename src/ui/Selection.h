// The instrument selectors that the main and history windows share: an address box, a name box and
// the model field, over the rows of a registry result.
#pragma once

#include "Database.h"

#include <functional>
#include <optional>

class QComboBox;
class QLineEdit;

namespace zeva {

// Lists every row's address and name; the boxes and the model field then show the row of address
// `shown`, or without it (or without such a row) the last row. `eachRow` sees every row in turn.
void FillSelectors(TQueryResult& rows, QComboBox* address, QComboBox* name, QLineEdit* type,
                   const std::function<void(const TQueryResult&)>& eachRow = {}, std::optional<int> shown = std::nullopt);

// The operator changed the address box: the first row with that address fills the name and model,
// and its address is returned; none empties the name box. A text that is no whole number throws.
std::optional<int> FollowAddress(TQueryResult& rows, QComboBox* address, QComboBox* name, QLineEdit* type);

// The operator changed the name box: the first row of that name (without regard to case) fills the
// address and model; none empties the address box.
void FollowName(TQueryResult& rows, QComboBox* name, QComboBox* address, QLineEdit* type);

} // namespace zeva
