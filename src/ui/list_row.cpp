#include "ui/list_row.h"

#include <QStringList>
#include <algorithm>

int CListRow::IndexOf(int id) const {
    const auto at = std::find(Ids.begin(), Ids.end(), id);
    return at == Ids.end() ? -1 : static_cast<int>(at - Ids.begin());
}

QString CListRow::Text(int id) const {
    const int at = IndexOf(id);
    return at < 0 ? QString() : Texts[static_cast<size_t>(at)];
}

namespace {

// The leading decimal digits of a part as a number; 0 when it has none.
long long LeadingNumber(const QString& part) {
    long long value = 0;
    for (QChar c : part) {
        if (!c.isDigit() || c.unicode() > '9') break;
        value = std::min(value * 10 + (c.unicode() - '0'), 1LL << 40);
    }
    return value;
}

int Sign(long long v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

}  // namespace

int CompareAddresses(const QString& a, const QString& b) {
    const QStringList left = a.split('.');
    const QStringList right = b.split('.');
    const qsizetype common = std::min(left.size(), right.size());
    for (qsizetype i = 0; i < common; ++i) {
        const long long diff = LeadingNumber(left[i]) - LeadingNumber(right[i]);
        if (diff != 0) return Sign(diff);
    }
    return 0;
}

int CompareRows(const CListRow& a, const CListRow& b, int column) {
    if (column < 0 || column >= static_cast<int>(a.Ids.size())) return 0;
    const int id = a.Ids[static_cast<size_t>(column)];
    if (id == 0 || id == field::kNumber) return 0;
    const QString left = a.Text(id);
    const QString right = b.Text(id);
    if (id == field::kAddress) return CompareAddresses(left, right);
    return Sign(QString::compare(left, right, Qt::CaseSensitive));
}
