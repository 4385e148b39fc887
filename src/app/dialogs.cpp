#include "app/dialogs.h"

#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace morvane {

namespace {

// A filter is a list of pairs, display text and pattern, each followed by
// "|". "*.*" stands for every file, with or without a dot in its name.
struct FilterEntry {
  QString display;
  QString pattern;
};

QList<FilterEntry> ParseFilter(const QString& filter) {
  const QStringList parts = filter.split(u'|');
  QList<FilterEntry> entries;
  for (qsizetype at = 0; at + 1 < parts.size(); at += 2) {
    QString pattern = parts[at + 1];
    pattern.replace(QStringLiteral("*.*"), QStringLiteral("*"));
    pattern.replace(u';', u' ');
    entries.append({parts[at], pattern});
  }
  return entries;
}

// Message boxes show CR LF line breaks as plain line breaks.
QString ForDisplay(QString text) { return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

void ShowBox(QWidget* parent, const QString& text, QMessageBox::Icon icon) {
  QMessageBox box(icon, QStringLiteral("Morvane"), ForDisplay(text), QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace

QString QtDialogs::AskOpenFileName(const QString& title, const QString& folder, const QString& filter) {
  QFileDialog dialog(parent_, title, folder);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  const QList<FilterEntry> entries = ParseFilter(filter);
  QStringList qtFilters;
  for (const FilterEntry& entry : entries)
    qtFilters << entry.display + QStringLiteral(" (") + entry.pattern + u')';
  dialog.setNameFilters(qtFilters);
  // Show each entry under its own display text only (Qt's own dialog; a
  // desktop's dialog, where one is offered, shows the filters its own way).
  if (auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
    for (int i = 0; i < combo->count() && i < entries.size(); ++i) combo->setItemText(i, entries[i].display);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

QString QtDialogs::AskFolder(const QString& title, const QString& folder) {
  QFileDialog dialog(parent_, title, folder);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

void QtDialogs::NotifyUser(const QString& text) { ShowBox(parent_, text, QMessageBox::NoIcon); }

void QtDialogs::ShowError(const QString& text) { ShowBox(parent_, text, QMessageBox::Critical); }

}  // namespace morvane
