#pragma once

#include <QString>

class QWidget;

namespace morvane {

// The modal pieces of the window: the open dialog, the folder dialog and
// the two kinds of message box. The program uses QFileDialog and QMessageBox; tests answer.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Gives the chosen file's full path, or empty text when cancelled.
  virtual QString AskOpenFileName(const QString& title, const QString& folder, const QString& filter) = 0;
  // Gives the chosen folder's full path, or empty text when cancelled.
  virtual QString AskFolder(const QString& title, const QString& folder) = 0;
  // Caption "Morvane", the text unchanged, one OK button, no icon.
  virtual void NotifyUser(const QString& text) = 0;
  // Caption "Morvane", the error icon, one OK button.
  virtual void ShowError(const QString& text) = 0;
};

class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* parent) : parent_(parent) {}
  QString AskOpenFileName(const QString& title, const QString& folder, const QString& filter) override;
  QString AskFolder(const QString& title, const QString& folder) override;
  void NotifyUser(const QString& text) override;
  void ShowError(const QString& text) override;

 private:
  QWidget* parent_;
};

}  // namespace morvane
