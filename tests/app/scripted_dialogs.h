#pragma once

#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "app/dialogs.h"
#include "support/recording_window.h"

namespace morvane::test {

// Answers the open and folder dialogs from a script and records the message boxes.
// Each hook runs while its dialog would be on screen.
class ScriptedDialogs : public Dialogs {
 public:
  QString AskOpenFileName(const QString& title, const QString& folder, const QString& filter) override {
    asked.push_back({title, folder, filter});
    if (onAsk) onAsk();
    if (answers.empty()) return {};
    QString answer = answers.front();
    answers.pop_front();
    return answer;
  }
  QString AskFolder(const QString& title, const QString& folder) override {
    askedFolder.push_back({title, folder, {}});
    if (folderAnswers.empty()) return {};
    QString answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
  }
  void NotifyUser(const QString& text) override {
    notices << text;
    if (onNotify) onNotify(text);
  }
  void ShowError(const QString& text) override { errors << text; }

  struct Asked {
    QString title, folder, filter;
  };
  std::deque<QString> answers;
  std::vector<Asked> asked;
  std::deque<QString> folderAnswers;
  std::vector<Asked> askedFolder;
  QStringList notices;
  QStringList errors;
  std::function<void()> onAsk;
  std::function<void(const QString&)> onNotify;
};

}  // namespace morvane::test
