#pragma once

#include <QString>
#include <vector>

// Field ids the lists give a meaning to; the pages decide the rest.
namespace field {
constexpr int kNumber = 1;
constexpr int kAddress = 3;
constexpr int kPassword = 6;
constexpr int kCheck = 14;
}  // namespace field

// One row of a list: (field id, text) pairs. The first `Shown` pairs are the row's
// columns in order; the pairs after them are kept with the row but not shown.
struct CListRow {
    std::vector<int> Ids;
    std::vector<QString> Texts;
    int Shown = 0;
    bool Checkable = true;       // the check box may change and takes part in check-all
    bool PasswordShown = false;  // the password field is shown as text, not edited
    bool EditorHidden = false;   // the password editor was put away for a text
    bool UpToDate = false;       // for the firmware list's colours
    // Shown in the password cell instead of the list's prompt or the typed text while
    // set ("Connecting", "Failed"); empty: none.
    QString CellPrompt;

    // Index of the field, -1 when the row has none.
    int IndexOf(int id) const;
    bool Has(int id) const { return IndexOf(id) >= 0; }
    // The text of the field, empty when the row has none.
    QString Text(int id) const;
};

// Sort order of two rows by a column (-1, 0, 1), chosen by the field id of the column in
// `a`: the row number compares equal (so sorting by it keeps the order), an address
// compares its dotted parts as numbers, anything else by its text.
int CompareRows(const CListRow& a, const CListRow& b, int column);

// Dotted addresses part by part as numbers ("10.0.0.9" before "10.0.0.10"); a port
// after a colon rides on the last part's leading digits and is not compared.
int CompareAddresses(const QString& a, const QString& b);
