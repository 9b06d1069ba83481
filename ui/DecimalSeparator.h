// The decimal separator of the operator's locale, as the window's number texts use it (window layer only).
#pragma once

#include <QLocale>
#include <QString>

namespace kestrane {

// A separator that is not one ASCII character falls back to the point.
inline char localeDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    return point.size() == 1 && point.at(0).unicode() < 128 ? static_cast<char>(point.at(0).unicode()) : '.';
}

} // namespace kestrane
