// Readable failure messages for texts: GoogleTest prints a QString as its
// text instead of its bytes. Included by every test file of a binary that
// compares texts, so that all of them print alike.
#pragma once

#include <QString>

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE
