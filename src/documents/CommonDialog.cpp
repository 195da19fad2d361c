#include "CommonDialog.h"

void CommonDialog::setUpForDocuments(const QString& title)
{
    Flags = 6;
    Filter = kDocumentFilter;
    FilterIndex = 1;
    DialogTitle = title;
}

QStringList CommonDialog::nameFilters() const
{
    QStringList out;
    const QStringList parts = Filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i] + QStringLiteral(" (") + parts[i + 1] + u')';
    return out;
}
