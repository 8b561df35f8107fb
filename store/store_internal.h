// Helpers shared by the ProjectStore source files.
#pragma once

#include <QSqlDatabase>
#include <QString>

namespace keepframe {

// Local date-time, ISO 8601 to the second, without offset.
QString nowIso();

inline QSqlDatabase namedConnection(const QString& name) {
    return QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false) : QSqlDatabase();
}

}  // namespace keepframe
