#include "dbmemo.h"

#include <QKeyEvent>

#include "tv_log.h"

namespace fendral {

TDBMemo::TDBMemo(QWidget* parent) : QPlainTextEdit(parent) {
  link_.OnDataChange = [this] { ShowField(); };
  link_.OnActiveChange = [this] { ShowField(); };
  link_.OnEditingChange = [this] { setReadOnly(!link_.CanModify()); };
  link_.OnUpdateData = [this] {
    if (TField* field = link_.Field()) {
      const QString text = toPlainText();
      if (auto* memo = dynamic_cast<TMemoField*>(field))
        memo->SetText(text);
      else
        field->SetAsString(text);
    }
  };
  link_.OnFocusControl = [this] { setFocus(); };
  connect(this, &QPlainTextEdit::textChanged, this, [this] {
    if (!showing_) link_.Modify();
  });
  ShowField();
}

TDBMemo::~TDBMemo() {
  // No callbacks into a half-destroyed widget.
  link_.OnDataChange = nullptr;
  link_.OnActiveChange = nullptr;
  link_.OnEditingChange = nullptr;
  link_.OnUpdateData = nullptr;
  link_.OnFocusControl = nullptr;
}

void TDBMemo::SetDataSource(TDataSource* source) {
  link_.SetDataSource(source);
  ShowField();
}

void TDBMemo::SetDataField(const QString& fieldName) {
  link_.SetFieldName(fieldName);
  ShowField();
}

void TDBMemo::ShowField() {
  showing_ = true;
  QString text;
  try {
    if (TField* field = link_.Field()) {
      auto* memo = dynamic_cast<TMemoField*>(field);
      text = memo ? memo->Text() : field->AsString();
    }
  } catch (const std::exception& error) {
    ReportError(error);
  }
  // Re-showing the same text (the dataset entered edit state) keeps the cursor where it is.
  if (text != toPlainText()) setPlainText(text);
  setReadOnly(!link_.CanModify());
  showing_ = false;
}

bool TDBMemo::BeginEdit() {
  if (link_.Editing()) return true;
  try {
    return link_.CanModify() && link_.Edit();
  } catch (const std::exception& error) {
    ReportError(error);
    return false;
  }
}

void TDBMemo::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && link_.Modified()) {
    link_.Reset();
    event->accept();
    return;
  }
  static const int kNavigation[] = {
      Qt::Key_Left, Qt::Key_Right,  Qt::Key_Up,       Qt::Key_Down,  Qt::Key_Home,
      Qt::Key_End,  Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Shift, Qt::Key_Control,
      Qt::Key_Alt,  Qt::Key_Meta,   Qt::Key_Escape,   Qt::Key_Tab,   Qt::Key_Backtab};
  const bool navigation = std::find(std::begin(kNavigation), std::end(kNavigation), event->key()) !=
                              std::end(kNavigation) ||
                          event->matches(QKeySequence::Copy) ||
                          event->matches(QKeySequence::SelectAll);
  if (!navigation && !BeginEdit()) {
    event->ignore();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

void TDBMemo::insertFromMimeData(const QMimeData* source) {
  if (BeginEdit()) QPlainTextEdit::insertFromMimeData(source);
}

void TDBMemo::focusOutEvent(QFocusEvent* event) {
  try {
    link_.UpdateRecord();
  } catch (const std::exception& error) {
    ReportError(error);
  }
  QPlainTextEdit::focusOutEvent(event);
}

void TDBMemo::ReportError(const std::exception& error) {
  if (OnError) {
    OnError(error);
  } else {
    qCWarning(lcFendral, "memo view: %s", error.what());
  }
}

}  // namespace fendral
