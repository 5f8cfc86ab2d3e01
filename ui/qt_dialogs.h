// The toolkit's dialogs: Qt's file dialog behind FileChooser and the modal
// message box the window shows.
#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <memory>

#include "frontend/file_dialogs.h"
#include "frontend/window_logic.h"

namespace cvqrn::ui {

// The name filters of a rewritten filter, one "description (pattern)" per
// pair; a description that already names its pattern in parentheses is kept as it is.
QStringList NameFilters(std::string_view rewrittenFilter);

// Sets up `dialog` for `request`: title, accept and file mode, name filters with
// the requested pair selected, default suffix, start directory, the pre-filled
// name and the overwrite question.
void ConfigureFileDialog(QFileDialog& dialog, const ChooserRequest& request);

// Qt's file dialog, modal over `owner`.
class QtFileChooser final : public FileChooser {
  public:
    explicit QtFileChooser(QWidget* owner) : owner_(owner) {}
    std::optional<ChooserAnswer> Choose(const ChooserRequest& request) override;

  private:
    QPointer<QWidget> owner_;
};

// Shows the message boxes of the window.
class MessageBoxPresenter {
  public:
    virtual ~MessageBoxPresenter() = default;
    // Modal over `owner`; returns when the box is closed.
    virtual void Show(QWidget* owner, const MessageBoxRequest& request) = 0;
    // The question box, modal over `owner`; true when the user answers Yes.
    virtual bool Ask(QWidget* owner, const MessageBoxRequest& request) = 0;
};

// The box for `request`: its text, title, icon, a single OK button and the
// detail (if any) as the box's detailed text.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* owner, const MessageBoxRequest& request);
// The same box with Yes and No instead of OK; No is the default, and Escape answers No.
std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* owner, const MessageBoxRequest& request);

class QtMessageBoxPresenter final : public MessageBoxPresenter {
  public:
    void Show(QWidget* owner, const MessageBoxRequest& request) override;
    bool Ask(QWidget* owner, const MessageBoxRequest& request) override;
};

}  // namespace cvqrn::ui
