#include "platform/file_dialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

QStringList FileDialogAdaptor::nameFilters(const QString &windowsFilter)
{
    // Pairs of description and pattern list, separated by "|"; patterns by ";".
    QStringList filters;
    const QStringList parts = windowsFilter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        const QStringList raw = parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (const QString &pattern : raw) {
            QString anyCase;
            for (const QChar c : pattern.trimmed()) {
                if (c.isLetter() && c.toLower() != c.toUpper())
                    anyCase += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
                else
                    anyCase += c;
            }
            if (!anyCase.isEmpty())
                patterns.append(anyCase);
        }
        filters.append(parts.at(i) + QStringLiteral(" (") + patterns.join(QLatin1Char(' '))
            + QLatin1Char(')'));
    }
    return filters;
}

QString FileDialogAdaptor::resultText(const QStringList &chosenPaths)
{
    if (chosenPaths.size() == 1)
        return chosenPaths.first();
    if (chosenPaths.isEmpty())
        return {};
    QString text = QFileInfo(chosenPaths.first()).absolutePath();
    for (const QString &path : chosenPaths)
        text += QChar(u'\0') + QFileInfo(path).fileName();
    return text;
}

DialogOutcome showQtFileDialog(DialogKind kind, const CommonDialog &dialog)
{
    QFileDialog fileDialog(QApplication::activeWindow(), dialog.DialogTitle);
    fileDialog.setAcceptMode(
        kind == DialogKind::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // No existence check and no overwrite prompt; several files need existing ones to choose.
    const bool multiple
        = kind == DialogKind::Open && (dialog.Flags & CommonDialog::OfnAllowMultiSelect);
    fileDialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::AnyFile);
    fileDialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    // Each filter shows its description alone, not the any-case patterns behind it.
    fileDialog.setOption(QFileDialog::HideNameFilterDetails, true);
    fileDialog.setNameFilters(FileDialogAdaptor::nameFilters(dialog.Filter));
    if (!dialog.InitDir.isEmpty())
        fileDialog.setDirectory(dialog.InitDir);
    if (!dialog.FileName.isEmpty())
        fileDialog.selectFile(dialog.FileName);

    DialogOutcome outcome;
    if (fileDialog.exec() != QDialog::Accepted) {
        if (dialog.CancelError) {
            outcome.error = CommonDialog::CancelErrorCode;
            outcome.description = QStringLiteral("Cancel was selected.");
        }
        return outcome;
    }
    const QString text = FileDialogAdaptor::resultText(fileDialog.selectedFiles());
    if (dialog.MaxFileSize > 0 && text.size() >= dialog.MaxFileSize) {
        outcome.error = 20476;
        outcome.description
            = QStringLiteral("The names of the chosen files are too long together.");
        return outcome;
    }
    outcome.fileName = text;
    return outcome;
}
