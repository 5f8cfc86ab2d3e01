#include "ui/qt_dialogs.h"

#include <QFileInfo>

namespace cvqrn::ui {

namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

bool HasSuffix(const QString& path, const QString& extension) {
    return QFileInfo(path).suffix().compare(extension, Qt::CaseInsensitive) == 0;
}

}  // namespace

QStringList NameFilters(std::string_view rewrittenFilter) {
    QStringList filters;
    for (const auto& [description, pattern] : FilterPairs(rewrittenFilter)) {
        // The patterns of a pair are separated by ";"; Qt wants blanks.
        const QString patterns = FromUtf8(pattern).replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString text = FromUtf8(description);
        if (text.endsWith(QLatin1Char(')')) && text.contains(QLatin1Char('('))) {
            filters << text;
        } else {
            filters << text + QStringLiteral(" (") + patterns + QLatin1Char(')');
        }
    }
    return filters;
}

void ConfigureFileDialog(QFileDialog& dialog, const ChooserRequest& request) {
    const bool save = request.kind == DialogKind::Save;
    dialog.setWindowTitle(FromUtf8(request.title));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode((!save && (request.flags & kFlagFileMustExist)) ? QFileDialog::ExistingFile
                                                                       : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite,
                     !(save && (request.flags & kFlagOverwritePrompt)));
    const QStringList filters = NameFilters(request.filter);
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size()) {
        dialog.selectNameFilter(filters.at(request.filterIndex - 1));
    }
    dialog.setDefaultSuffix(FromUtf8(request.defaultExt));
    if (!request.initDir.empty()) dialog.setDirectory(FromUtf8(request.initDir));
    if (!request.fileName.empty()) {
        const QFileInfo name(FromUtf8(request.fileName));
        if (name.isAbsolute()) dialog.setDirectory(name.absolutePath());
        dialog.selectFile(name.isAbsolute() ? name.absoluteFilePath() : name.filePath());
    }
    dialog.setWindowModality(Qt::WindowModal);
}

std::optional<ChooserAnswer> QtFileChooser::Choose(const ChooserRequest& request) {
    QFileDialog dialog(owner_.data());
    ConfigureFileDialog(dialog, request);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    QString path = files.first();

    const QString extension = FromUtf8(request.defaultExt);
    if (request.kind == DialogKind::Save && !extension.isEmpty() && !HasSuffix(path, extension)) {
        // The track is always written with its own extension. When that
        // changes the chosen name, the dialog has not asked about the file
        // that will really be replaced, so ask here.
        path += QLatin1Char('.') + extension;
        if ((request.flags & kFlagOverwritePrompt) && QFileInfo::exists(path)) {
            const auto answer = QMessageBox::question(
                owner_.data(), FromUtf8(request.title),
                QStringLiteral("%1 already exists.\nDo you want to replace it?")
                    .arg(QFileInfo(path).fileName()),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
            if (answer != QMessageBox::Yes) return std::nullopt;
        }
    }

    ChooserAnswer answer;
    answer.fileName = QFileInfo(path).absoluteFilePath().toStdString();
    answer.fileTitle = QFileInfo(path).fileName().toStdString();
    answer.flags = request.flags;
    const qsizetype selected = dialog.nameFilters().indexOf(dialog.selectedNameFilter());
    answer.filterIndex = selected >= 0 ? static_cast<int32_t>(selected + 1) : request.filterIndex;
    return answer;
}

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* owner, const MessageBoxRequest& request) {
    auto box = std::make_unique<QMessageBox>(owner);
    box->setWindowTitle(FromUtf8(request.title));
    box->setText(FromUtf8(request.text));
    box->setIcon(request.icon == MessageBoxRequest::Icon::Exclamation ? QMessageBox::Warning
                                                                      : QMessageBox::NoIcon);
    box->setStandardButtons(QMessageBox::Ok);
    box->setDefaultButton(QMessageBox::Ok);
    if (!request.detail.empty()) box->setDetailedText(FromUtf8(request.detail));
    box->setWindowModality(Qt::WindowModal);
    return box;
}

std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* owner, const MessageBoxRequest& request) {
    auto box = MakeMessageBox(owner, request);
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    return box;
}

void QtMessageBoxPresenter::Show(QWidget* owner, const MessageBoxRequest& request) {
    MakeMessageBox(owner, request)->exec();
}

bool QtMessageBoxPresenter::Ask(QWidget* owner, const MessageBoxRequest& request) {
    return MakeQuestionBox(owner, request)->exec() == QMessageBox::Yes;
}

}  // namespace cvqrn::ui
