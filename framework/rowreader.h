// TRowReader: reads the rows of a dataset for painting without moving its current record.
//
// A grid model asks the dataset for a reader (TDataSet::CreateRowReader) and reads only the
// rows it paints. Row i is the i-th record (0-based) of the dataset's current order, with
// whatever the dataset hides (a filter, deleted records, a range) left out. A concrete
// dataset with a cheap positioned read supplies its own reader; the default one walks the
// dataset's cursor once to learn the rows and reads each through its bookmark.
#pragma once

#include "dataset.h"

namespace fendral {

class TRowReader {
 public:
  virtual ~TRowReader() = default;
  // Number of rows in the current order.
  virtual int RowCount() = 0;
  // Fills `buffer` (made by TDataSet::NewRecordBuffer) with row `row`, including its
  // Bookmark; false when there is no such row.
  virtual bool ReadRow(int row, TRecordBuffer& buffer) = 0;
  // Row of the record with `bookmark`, -1 when it is not in the order.
  virtual int RowOf(const TBookmark& bookmark) = 0;
  // The dataset's records changed (post, append, delete, refresh, new order): what the
  // reader remembers about rows is stale.
  virtual void Invalidate() = 0;
};

}  // namespace fendral
