#pragma once

#include "global/Session.h"
#include "imagelist/ListView.h"

#include <QLocale>
#include <QString>

#include <optional>

namespace imagelist {

// The sort key of a numeric text: the value with at least 30 digits before
// the locale's decimal separator and exactly 30 after it, "-" first when it
// is negative. Keys of non-negative numbers below 10^30 all have the same
// length, so their text order is their numeric order. A text reads as a
// number in the locale's notation or in the C notation; nullopt otherwise.
std::optional<QString> sortKeyFor(const QString& text, const QLocale& locale);

// Sorts the list by one column (0 = the rows' own texts, k = sub-item k;
// below 0 counts as 0) so that numeric texts come out in numeric order, in
// the direction opposite to the list's present one. Texts and tags read as
// before. Failures are reported to the operator; the list then stays as it
// was.
void SortListViewColumn(int Index, ListView* CurrentListView);

// Fills lvwList with one row per file of the session's current folder +
// "/Original": the image number read from the file, the file's path as the
// Tag and "X" or "-" for whether the measured copy exists, ordered and with
// the sort state as sorting the list twice by its first column leaves them.
// prgBar stands in the list's place meanwhile. Files that cannot be read
// are left out and named in one message afterwards. Returns false when a
// newer load of the session superseded this one; it has then left the list
// and the bar to the newer load.
bool LoadImageList(session::Session& s, const session::Controls& c);

} // namespace imagelist
