#include "CommonDialog.h"

QStringList CommonDialog::nameFilters() const
{
    QStringList out;
    const QStringList parts = Filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i] + QStringLiteral(" (") + parts[i + 1] + u')';
    return out;
}
