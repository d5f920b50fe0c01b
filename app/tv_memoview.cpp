#include "tv_memoview.h"

#include "Tolvern6DB.h"

namespace fendral {

TMemoView::TMemoView(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  link_.OnDataChange = [this] { ShowField(); };
  link_.OnActiveChange = [this] { ShowField(); };
}

TMemoView::~TMemoView() { link_.SetDataSource(nullptr); }

void TMemoView::SetFieldName(const QString& fieldName) {
  link_.SetFieldName(fieldName);
  setAccessibleName(fieldName);
  ShowField();
}

void TMemoView::ShowField() {
  TField* field = link_.Field();
  auto* table = field ? dynamic_cast<TTolvernDataSet*>(field->DataSet()) : nullptr;
  if (!table || !link_.Active() || table->BusyState() != 0 || table->IsEmpty()) {
    clear();
    return;
  }
  try {
    setPlainText(table->BlobToText(*field, table->ActiveMemo(*field)));
  } catch (const std::exception& error) {
    setPlainText(QString::fromUtf8(error.what()));
  }
}

}  // namespace fendral
