#include "tv_appdialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include "tv_exportdialog.h"

namespace fendral {

QString TableFileFilter() {
  // Name filters match by letter case on Linux: offer every spelling of the extension.
  QStringList patterns;
  for (int mask = 0; mask < 8; ++mask) {
    QString ext = QStringLiteral("dbf");
    for (int i = 0; i < 3; ++i)
      if (mask & (1 << i)) ext[i] = ext[i].toUpper();
    patterns << QStringLiteral("*.") + ext;
  }
  return QObject::tr("xBase tables") + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
         QLatin1Char(')');
}

bool TQtAppDialogs::Confirm(const QString& caption, const QString& text) {
  return QMessageBox::question(parent_, caption, text, QMessageBox::Ok | QMessageBox::Cancel,
                               QMessageBox::Ok) == QMessageBox::Ok;
}

bool TQtAppDialogs::ConfirmDefaultNo(const QString& caption, const QString& text) {
  return QMessageBox::question(parent_, caption, text, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

QString TQtAppDialogs::OpenFile(const QString& caption, const QString& directory,
                                const QString& filter) {
  return QFileDialog::getOpenFileName(parent_, caption, directory, filter);
}

QString TQtAppDialogs::SaveFile(const QString& caption, const QString& directory,
                                const QString& filter) {
  return QFileDialog::getSaveFileName(parent_, caption, directory, filter);
}

bool TQtAppDialogs::InputText(const QString& caption, const QString& prompt, QString& value) {
  bool ok = false;
  const QString text =
      QInputDialog::getText(parent_, caption, prompt, QLineEdit::Normal, value, &ok);
  if (ok) value = text;
  return ok;
}

void TQtAppDialogs::Message(const QString& caption, const QString& text) {
  QMessageBox::warning(parent_, caption, text);
}

bool TQtAppDialogs::MessageOffering(const QString& caption, const QString& text,
                                    const QString& choice) {
  QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent_);
  QPushButton* offered = box.addButton(choice, QMessageBox::ActionRole);
  box.setDefaultButton(QMessageBox::Ok);
  box.exec();
  return box.clickedButton() == offered;
}

bool TQtAppDialogs::ChooseExport(const QString& caption, TExportChoice& choice) {
  TExportDialog dialog(parent_);
  dialog.setWindowTitle(caption);
  dialog.SetChoice(choice);
  if (dialog.exec() != QDialog::Accepted) return false;
  choice = dialog.Choice();
  return true;
}

bool TScriptedDialogs::ChooseExport(const QString& caption, TExportChoice& choice) {
  asked << caption + QLatin1Char('|') + choice.file;
  offeredExports.push_back(choice);
  if (exports.empty()) return false;
  exports.front()(choice);
  exports.pop_front();
  return true;
}

bool TScriptedDialogs::Confirm(const QString& caption, const QString& text) {
  asked << caption + QLatin1Char('|') + text;
  if (confirms.empty()) return false;
  const bool answer = confirms.front();
  confirms.pop_front();
  return answer;
}

bool TScriptedDialogs::ConfirmDefaultNo(const QString& caption, const QString& text) {
  return Confirm(caption, text);
}

QString TScriptedDialogs::OpenFile(const QString& caption, const QString&, const QString& filter) {
  asked << caption + QLatin1Char('|') + filter;
  if (files.empty()) return {};
  QString answer = files.front();
  files.pop_front();
  return answer;
}

QString TScriptedDialogs::SaveFile(const QString& caption, const QString& directory,
                                   const QString& filter) {
  return OpenFile(caption, directory, filter);
}

bool TScriptedDialogs::InputText(const QString& caption, const QString& prompt, QString& value) {
  asked << caption + QLatin1Char('|') + prompt;
  if (inputs.empty()) return false;
  const QString answer = inputs.front();
  inputs.pop_front();
  if (answer.isNull()) return false;
  value = answer;
  return true;
}

void TScriptedDialogs::Message(const QString& caption, const QString& text) {
  asked << caption + QLatin1Char('|') + text;
  messages << text;
}

bool TScriptedDialogs::MessageOffering(const QString& caption, const QString& text,
                                       const QString& choice) {
  Message(caption, text);
  offered << choice;
  if (choices.empty()) return false;
  const bool answer = choices.front();
  choices.pop_front();
  return answer;
}

}  // namespace fendral
