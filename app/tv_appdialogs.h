// The questions the main window asks: file dialogs, input boxes, messages and OK/Cancel
// confirmations. The running program answers them with Qt dialogs (TQtAppDialogs); tests
// and the screenshot program answer them from a script (TScriptedDialogs).
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <deque>
#include <functional>
#include <vector>

#include "tv_dialogs.h"

namespace fendral {

// The answers of the "Export as..." dialog.
struct TExportChoice {
  enum TFormat { kCsv, kJsonLines, kSqlite };
  TFormat format = kCsv;
  QString file;                                // the file to write
  QString delimiter = QStringLiteral(",");     // CSV: one character, or "Tab"
  bool header = true;                          // CSV: a first row of field names
  QString encoding = QStringLiteral("UTF-8");  // CSV: the file's character set
  bool withDeleted = false;                    // deleted records too, marked
  bool currentOrder = true;                    // the browse page's order and filter, or all
};

class TAppDialogs : public IDialogs {
 public:
  // The chosen file's path; empty when the user cancelled.
  virtual QString OpenFile(const QString& caption, const QString& directory,
                           const QString& filter) = 0;
  virtual QString SaveFile(const QString& caption, const QString& directory,
                           const QString& filter) = 0;
  // Asks for a text starting from `value`; false when the user cancelled, otherwise
  // `value` holds the confirmed text.
  virtual bool InputText(const QString& caption, const QString& prompt, QString& value) = 0;
  // An error or notice the user acknowledges.
  virtual void Message(const QString& caption, const QString& text) = 0;
  // The same with one more button, `choice`, beside OK (which stays the default); true
  // when the user pressed `choice`.
  virtual bool MessageOffering(const QString& caption, const QString& text,
                               const QString& choice) = 0;
  // A Yes/No question before something that cannot be undone; No is the default answer.
  virtual bool ConfirmDefaultNo(const QString& caption, const QString& text) = 0;
  // The export's format, file and options, starting from `choice`; false when the user
  // cancelled, otherwise `choice` holds the answers.
  virtual bool ChooseExport(const QString& caption, TExportChoice& choice) = 0;
};

// The name filter that offers xBase tables with ".dbf" in any letter case.
QString TableFileFilter();

class TQtAppDialogs : public TAppDialogs {
 public:
  explicit TQtAppDialogs(QWidget* parent) : parent_(parent) {}
  bool Confirm(const QString& caption, const QString& text) override;
  QString OpenFile(const QString& caption, const QString& directory,
                   const QString& filter) override;
  QString SaveFile(const QString& caption, const QString& directory,
                   const QString& filter) override;
  bool InputText(const QString& caption, const QString& prompt, QString& value) override;
  void Message(const QString& caption, const QString& text) override;
  bool MessageOffering(const QString& caption, const QString& text, const QString& choice) override;
  bool ConfirmDefaultNo(const QString& caption, const QString& text) override;
  bool ChooseExport(const QString& caption, TExportChoice& choice) override;

 private:
  QPointer<QWidget> parent_;
};

// Answers from queues filled in advance; an empty queue answers Cancel. Every question
// asked is recorded (caption and text), so a caller can check what the user was shown.
class TScriptedDialogs : public TAppDialogs {
 public:
  std::deque<QString> files;   // answers of OpenFile and SaveFile ("" cancels)
  std::deque<QString> inputs;  // answers of InputText (a null QString cancels)
  std::deque<bool> confirms;   // answers of Confirm and ConfirmDefaultNo
  // Answers of ChooseExport, each changing the offered choice (none left: Cancel); the
  // choices offered are kept in `offeredExports`.
  std::deque<std::function<void(TExportChoice&)>> exports;
  std::vector<TExportChoice> offeredExports;
  QStringList asked;           // "caption|text" of every question and message
  QStringList messages;        // texts of Message and MessageOffering
  std::deque<bool> choices;    // answers of MessageOffering (true: the choice; empty: OK)
  QStringList offered;         // the choices MessageOffering offered

  bool Confirm(const QString& caption, const QString& text) override;
  QString OpenFile(const QString& caption, const QString& directory,
                   const QString& filter) override;
  QString SaveFile(const QString& caption, const QString& directory,
                   const QString& filter) override;
  bool InputText(const QString& caption, const QString& prompt, QString& value) override;
  void Message(const QString& caption, const QString& text) override;
  bool MessageOffering(const QString& caption, const QString& text, const QString& choice) override;
  bool ConfirmDefaultNo(const QString& caption, const QString& text) override;
  bool ChooseExport(const QString& caption, TExportChoice& choice) override;
};

}  // namespace fendral
