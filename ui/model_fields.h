// Small helpers the view models share: a property setter's change and a list
// model's row.
#pragma once

#include <QList>
#include <QModelIndex>

namespace keepframe {

// Sets `field` to `value`; whether that changed it (the setter then emits its
// change signal).
template <typename Field, typename Value>
bool setField(Field& field, const Value& value) {
    if (field == value) return false;
    field = value;
    return true;
}

// The row of `rows` at `index`; nullptr for an index outside them.
template <typename Row>
const Row* rowAt(const QList<Row>& rows, const QModelIndex& index) {
    return index.isValid() && index.row() >= 0 && index.row() < rows.size() ? &rows[index.row()] : nullptr;
}

}  // namespace keepframe
