#pragma once

#include "platform/platform.h"

// Shows the open or save dialog as QFileDialog, set from the dialog component's properties, and
// gives back the result as the component would: the chosen text, or the cancel code.
DialogOutcome showQtFileDialog(DialogKind kind, const CommonDialog &dialog);

// File-dialog settings turned into QFileDialog terms; kept apart so that they can be tested.
namespace FileDialogAdaptor {
// "{Midi}*.mid| *.mid" -> "{Midi}*.mid (*.[mM][iI][dD])": each pattern matches in any letter case.
QStringList nameFilters(const QString &windowsFilter);
// The dialog's result text: one file as its full path; several as "folder NUL name NUL name".
QString resultText(const QStringList &chosenPaths);
} // namespace FileDialogAdaptor
