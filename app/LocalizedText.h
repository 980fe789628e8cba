#pragma once

#include <QString>
#include <cstdint>
#include <initializer_list>

// Fills each "%lld" of a translated pattern, in order, with the next integer in plain decimal
// digits (a minus sign first when negative, never a grouping separator).
inline QString fillIntegers(QString pattern, std::initializer_list<int64_t> values) {
    static const QString placeholder = QStringLiteral("%lld");
    qsizetype from = 0;
    for (const int64_t value : values) {
        const qsizetype at = pattern.indexOf(placeholder, from);
        if (at < 0) break;
        const QString digits = QString::number(static_cast<qlonglong>(value));
        pattern.replace(at, placeholder.size(), digits);
        from = at + digits.size();
    }
    return pattern;
}
