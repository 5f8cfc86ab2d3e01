// What the programs that show the real window share: the set-up before their
// QApplication and a message box double.
#pragma once

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtGlobal>
#include <vector>

#include "ui/qt_dialogs.h"

namespace cvqrn::ui::test {

// Qt's offscreen platform unless another one is asked for, and the window's
// remembered folders and position in a temporary folder, never the user's.
class WindowProgramSetup {
  public:
    WindowProgramSetup() {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_.path());
    }

  private:
    QTemporaryDir settings_;
};

// Keeps the boxes the window would show instead of showing them.
class RecordingBoxes : public MessageBoxPresenter {
  public:
    void Show(QWidget*, const MessageBoxRequest& request) override { shown.push_back(request); }
    // A question is answered No.
    bool Ask(QWidget*, const MessageBoxRequest& request) override {
        shown.push_back(request);
        return false;
    }
    std::vector<MessageBoxRequest> shown;
};

}  // namespace cvqrn::ui::test
