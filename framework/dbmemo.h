// TDBMemo: a plain-text editor bound to one field of a data source (a memo field as a rule).
//
// It shows the field of the current record and follows the record as the dataset moves.
// Typing puts the dataset into edit state first (through the data source's AutoEdit); when
// it cannot edit (read-only field or dataset), the keystroke is refused. The text is written
// into the field when the dataset posts, or when the editor loses the focus; Esc throws the
// typed text away and shows the field again.
#pragma once

#include <QPlainTextEdit>
#include <exception>
#include <functional>

#include "datasource.h"

namespace fendral {

class TDBMemo : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TDBMemo(QWidget* parent = nullptr);
  ~TDBMemo() override;

  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(TDataSource* source);
  const QString& DataField() const { return link_.FieldName(); }
  void SetDataField(const QString& fieldName);
  TField* Field() const { return link_.Field(); }

  // Errors of writing the text into the field (refused text, a failed edit).
  std::function<void(const std::exception& error)> OnError;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;

 private:
  void ShowField();
  bool BeginEdit();
  void ReportError(const std::exception& error);

  TFieldDataLink link_;
  bool showing_ = false;
};

}  // namespace fendral
