// TMemTable: a small dataset held in memory, for lists a program edits before it writes
// them anywhere (the structure page's field list). Columns are defined with FieldDefs()
// before opening; rows can be kept ordered by one field (IndexFieldName): a posted row
// whose key changed moves to its place, after rows with an equal key; a row whose key did
// not change stays where it is. Everything a dataset offers works on it: navigation,
// Edit/Insert/Append/Post/Cancel/Delete, OnNewRecord, AfterInsert, AfterDelete, RecNo
// (1-based position), RecordCount, FieldValue by name, data sources and grids. The rows
// live while the table is open: Open starts empty, Close discards them.
#pragma once

#include <QString>
#include <QVariant>
#include <vector>

#include "dataset.h"

namespace fendral {

class TMemTable : public TDataSet {
 public:
  TMemTable();
  ~TMemTable() override;

  // The field that orders the rows; empty (the default) keeps them in the order added.
  // Setting it while open re-sorts the rows (stably) and goes to the first row.
  const QString& IndexFieldName() const { return indexFieldName_; }
  void SetIndexFieldName(const QString& name);
  // Removes every row (cancelling a pending edit first); the table stays open.
  void EmptyTable();

 protected:
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return open_; }
  void InternalInitFieldDefs() override {}  // defined by the program through FieldDefs()
  std::unique_ptr<TRecordBuffer> AllocRecordBuffer() override;
  void InternalInitRecord(TRecordBuffer& buffer) override;
  TGetResult GetRecord(TRecordBuffer& buffer, TGetMode mode, bool doCheck) override;
  void InternalFirst() override { cursor_ = -1; }
  void InternalLast() override { cursor_ = static_cast<int>(rows_.size()); }
  void InternalGotoBookmark(const TBookmark& bookmark) override;
  bool GetFieldData(const TField& field, const TRecordBuffer& buffer,
                    QVariant& value) const override;
  void SetFieldData(const TField& field, TRecordBuffer& buffer, const QVariant& value) override;
  void InternalPost() override;
  void InternalDelete() override;
  int GetRecordCount() const override { return static_cast<int>(rows_.size()); }
  int GetRecNo() const override;
  void SetRecNoHook(int recNo) override;
  bool GetIsSequenced() const override { return !Filtered(); }

 public:
  bool BookmarkValid(const TBookmark& bookmark) const override;
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) const override;

 private:
  struct Row {
    quint64 id;                    // stable identity, the row's bookmark
    std::vector<QVariant> values;  // by FieldNo - 1
  };
  int FindRow(quint64 id) const;  // index in rows_, -1 when gone
  int SortedPosition(const QVariant& key, int skip) const;
  int KeyColumn() const;  // -1 when unordered
  void SortRows();

  std::vector<Row> rows_;
  quint64 nextId_ = 1;
  int cursor_ = -1;  // row index; -1 before first, rows_.size() after last
  bool open_ = false;
  QString indexFieldName_;
};

}  // namespace fendral
