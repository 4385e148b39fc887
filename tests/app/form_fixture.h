#pragma once

#include <QPushButton>
#include <QString>
#include <memory>

#include "app/form1.h"
#include "scripted_dialogs.h"

namespace morvane::test {

// A window whose dialogs answer from a script, whose player records, and
// whose pump looks at the queue at every call.
struct FormFixture {
  SharedState state;
  ScriptedDialogs* dialogs = new ScriptedDialogs;
  RecordingPlayer* player = new RecordingPlayer;
  std::unique_ptr<Form1> form;
  FormFixture()
      : form(std::make_unique<Form1>(state, std::unique_ptr<Dialogs>(dialogs),
                                     std::unique_ptr<SoundPlayer>(player))) {
    form->SetPumpInterval(0);
  }
  void Pick(const std::string& path) { dialogs->answers.push_back(QString::fromStdString(path)); }
};

// Enabled state of Analyze, Extract, SDX2 to WAV, STOP, PLAY, as a word.
inline QString ButtonStates(const Form1& form) {
  QString word;
  for (const QPushButton* b : {form.BitBtn1, form.BitBtn2, form.BitBtn3, form.Button1, form.Button2}) {
    word += b->isEnabled() ? u'E' : u'd';
  }
  return word;
}

}  // namespace morvane::test
