// A read-only view of one memo field of a data source's current record.
#pragma once

#include <QPlainTextEdit>

#include "datasource.h"

namespace fendral {

class TMemoView : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TMemoView(QWidget* parent = nullptr);
  ~TMemoView() override;
  void SetDataSource(TDataSource* source) { link_.SetDataSource(source); }
  // Binds the view to `fieldName` (empty: unbound, shows nothing).
  void SetFieldName(const QString& fieldName);
  const QString& FieldName() const { return link_.FieldName(); }

 private:
  void ShowField();
  TFieldDataLink link_;
};

}  // namespace fendral
