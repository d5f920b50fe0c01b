// A small concrete dataset over an in-memory vector of rows, for exercising the record-set
// layer's base class: it implements exactly the hooks a concrete dataset must, no more.
#pragma once

#include <QtEndian>
#include <algorithm>
#include <stdexcept>
#include <vector>

#include "dataset.h"

namespace fendral::test {

class VectorDataSet : public TDataSet {
 public:
  struct Row {
    int id;
    std::vector<QVariant> values;
  };

  VectorDataSet() = default;
  ~VectorDataSet() override { Close(); }

  // Columns: ID integer, NAME string(10), PRICE float, BORN date, OK boolean, NOTE memo.
  static std::vector<QVariant> Values(int id, const QString& name, double price = 0) {
    return {id, name, price, QVariant(), QVariant(), QVariant()};
  }
  void AddRow(const std::vector<QVariant>& values) { rows.push_back({nextId++, values}); }
  // Fills rows with ID 1..count and NAME "R<id>".
  void Fill(int count) {
    for (int i = 1; i <= count; ++i) AddRow(Values(i, QStringLiteral("R%1").arg(i), i * 1.5));
  }
  std::vector<int> Ids() const {
    std::vector<int> ids;
    for (const Row& row : rows) ids.push_back(row.values[0].toInt());
    return ids;
  }

  std::vector<Row> rows;
  int nextId = 1;
  bool readOnly = false;
  bool failPost = false;  // InternalPost throws once when set
  int postCalls = 0;
  int editCalls = 0;
  int cancelCalls = 0;

 protected:
  struct Buffer : TRecordBuffer {
    std::vector<QVariant> values;
  };
  static Buffer& B(TRecordBuffer& b) { return static_cast<Buffer&>(b); }
  static const Buffer& B(const TRecordBuffer& b) { return static_cast<const Buffer&>(b); }
  static TBookmark Mark(int id) {
    TBookmark m(4, '\0');
    qToBigEndian<qint32>(id, m.data());
    return m;
  }
  int RowOf(const TBookmark& m) const {
    if (m.size() != 4) return -1;
    const int id = qFromBigEndian<qint32>(m.constData());
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].id == id) return static_cast<int>(i);
    return -1;
  }

  void InternalOpen() override {
    open_ = true;
    cursor_ = -1;
  }
  void InternalClose() override { open_ = false; }
  bool IsCursorOpen() const override { return open_; }
  void InternalInitFieldDefs() override {
    FieldDefs().Clear();
    FieldDefs().Add("ID", ftInteger);
    FieldDefs().Add("NAME", ftString, 10);
    FieldDefs().Add("PRICE", ftFloat);
    FieldDefs().Add("BORN", ftDate);
    FieldDefs().Add("OK", ftBoolean);
    FieldDefs().Add("NOTE", ftMemo);
  }
  std::unique_ptr<TRecordBuffer> AllocRecordBuffer() override { return std::make_unique<Buffer>(); }
  void InternalInitRecord(TRecordBuffer& buffer) override {
    B(buffer).values.assign(6, QVariant());
  }
  TGetResult GetRecord(TRecordBuffer& buffer, TGetMode mode, bool doCheck) override {
    const int count = static_cast<int>(rows.size());
    for (;;) {
      if (mode == gmNext) {
        if (cursor_ < count) ++cursor_;
        if (cursor_ >= count) return grEOF;
      } else if (mode == gmPrior) {
        if (cursor_ >= 0) --cursor_;
        if (cursor_ < 0) return grBOF;
      } else if (cursor_ < 0 || cursor_ >= count) {
        if (doCheck) DatabaseError("Record request beyond range of table");
        return grError;
      }
      const Row& row = rows[static_cast<size_t>(cursor_)];
      B(buffer).values = row.values;
      buffer.Bookmark = Mark(row.id);
      if (FilterAccepts(buffer)) return grOK;
      if (mode == gmCurrent) return grError;
    }
  }
  void InternalFirst() override { cursor_ = -1; }
  void InternalLast() override { cursor_ = static_cast<int>(rows.size()); }
  void InternalGotoBookmark(const TBookmark& bookmark) override {
    const int row = RowOf(bookmark);
    if (row < 0) DatabaseError("Bookmark not found");
    cursor_ = row;
  }
  bool GetFieldData(const TField& field, const TRecordBuffer& buffer,
                    QVariant& value) const override {
    const QVariant& v = B(buffer).values.at(static_cast<size_t>(field.FieldNo() - 1));
    if (!v.isValid()) return false;
    value = v;
    return true;
  }
  void SetFieldData(const TField& field, TRecordBuffer& buffer, const QVariant& value) override {
    B(buffer).values.at(static_cast<size_t>(field.FieldNo() - 1)) = value;
  }
  void InternalEdit() override { ++editCalls; }
  void InternalCancel() override { ++cancelCalls; }
  void InternalPost() override {
    ++postCalls;
    if (failPost) {
      failPost = false;
      throw std::runtime_error("disk full");
    }
    TRecordBuffer& buffer = *ActiveBuffer();
    if (State() == dsEdit) {
      const int row = RowOf(buffer.Bookmark);
      rows.at(static_cast<size_t>(row)).values = B(buffer).values;
      cursor_ = row;
    } else {
      const int at = buffer.BookmarkFlag == bfEOF
                         ? static_cast<int>(rows.size())
                         : std::clamp(cursor_, 0, static_cast<int>(rows.size()));
      rows.insert(rows.begin() + at, Row{nextId++, B(buffer).values});
      cursor_ = at;
    }
  }
  void InternalDelete() override {
    rows.erase(rows.begin() + cursor_);
    if (cursor_ >= static_cast<int>(rows.size())) cursor_ = static_cast<int>(rows.size()) - 1;
  }
  int GetRecordCount() const override { return static_cast<int>(rows.size()); }
  int GetRecNo() const override {
    const TRecordBuffer* buffer = ActiveBuffer();
    if (!buffer || buffer->BookmarkFlag != bfCurrent) return -1;
    return RowOf(buffer->Bookmark) + 1;
  }
  void SetRecNoHook(int recNo) override {
    if (recNo < 1 || recNo > static_cast<int>(rows.size())) DatabaseError("No such record");
    cursor_ = recNo - 1;
  }
  bool GetIsSequenced() const override { return !Filtered(); }
  bool GetCanModify() const override { return !readOnly; }

 private:
  bool open_ = false;
  int cursor_ = -1;
};

}  // namespace fendral::test
