#pragma once

#include "global/Session.h"
#include <QString>

#include <functional>
#include <optional>

// The measurement folders under the workspace's "Messungen": how their names
// turn into entries of the folder selector and back, and archiving the
// current measurement under its study date.
namespace folders {

inline const QString kCurrentEntry = QStringLiteral("- Aktuelle Messung -");
inline const QString kExternalEntry = QStringLiteral("- Externe Bilder -");

// The selector entry of a subfolder of "Messungen": nothing for a name
// without "_", else the formatted part after the first "_".
std::optional<QString> entryForFolderName(const QString& name);

// Rebuilds the selector cboDone: the two fixed entries, then one entry per
// subfolder of "Messungen" in listing order. Leaves no entry selected. Events
// run between two entries; a rebuild started meanwhile takes over. Throws
// modGlobal::FileSystemError (after the fixed entries) when "Messungen"
// cannot be listed.
void CheckDoneFolders(session::Session& s, const session::Controls& c);

// The folder a dated selector entry stands for.
QString folderPathForEntry(const QString& entryText);
// The current measurement folder.
QString currentFolderPath();

// The first name under which exists() finds nothing: base itself, else
// base + "_1", "_2", ... Pending events are processed between two probes.
QString archiveFolderName(const QString& base, const std::function<bool(const QString&)>& exists);

// The archive command: clears the viewer and the list and moves the current
// folder to "Messung_" + the study date kept as cmdCloseStudy's Tag, then
// rebuilds the selector. Reports every failure with a message box and never
// throws. Returns false when it refused to archive (no stored study date, or
// not a date) and so changed nothing.
bool cmdCloseStudy_Click(session::Session& s, const session::Controls& c);

} // namespace folders
