// The dataset base class over a vector-backed test dataset: navigation and the buffer window,
// editing, deleting, filtering, calculated fields, the order of events, searching.
#include <gtest/gtest.h>

#include <QIODevice>
#include <string>
#include <vector>

#include "recording_link.h"
#include "vector_dataset.h"

namespace fendral::test {
namespace {

int Id(const TDataSet& ds) { return ds.FieldByName("ID")->AsInteger(); }

std::vector<int> WalkForward(TDataSet& ds) {
  std::vector<int> ids;
  for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(Id(ds));
  return ids;
}

std::vector<int> WalkBackward(TDataSet& ds) {
  std::vector<int> ids;
  for (ds.Last(); !ds.Bof(); ds.Prior()) ids.push_back(Id(ds));
  return ids;
}

TEST(DataSetNavigation, EmptyDatasetIsAtBothEndsAndRefusesDelete) {
  VectorDataSet ds;
  ds.Open();
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.FieldByName("ID")->IsNull());
  EXPECT_EQ(ds.MoveBy(3), 0);
  EXPECT_THROW(ds.Delete(), EDatabaseError);
  ds.Last();
  EXPECT_TRUE(ds.Bof() && ds.Eof());
}

TEST(DataSetNavigation, ClosedDatasetRefusesWork) {
  VectorDataSet ds;
  try {
    ds.First();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot perform this operation on a closed dataset");
  }
  EXPECT_THROW(ds.RecordCount(), EDatabaseError);
  EXPECT_THROW(ds.Edit(), EDatabaseError);
}

TEST(DataSetNavigation, WalksBothWaysWithBofAndEof) {
  VectorDataSet ds;
  ds.Fill(5);
  ds.Open();
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(Id(ds), 1);
  EXPECT_EQ(WalkForward(ds), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(Id(ds), 5);  // Eof leaves the last record current
  EXPECT_EQ(WalkBackward(ds), (std::vector<int>{5, 4, 3, 2, 1}));
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(Id(ds), 1);
  ds.Next();
  EXPECT_FALSE(ds.Bof());
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_EQ(ds.RecordCount(), 5);
}

// A grid with a few rows makes the window smaller than the table: moves must read past
// the window's ends in both directions and keep the rows in order.
TEST(DataSetNavigation, MoveByCrossesTheBufferWindow) {
  VectorDataSet ds;
  ds.Fill(20);
  TDataSource source(&ds);
  RecordingLink grid;
  grid.SetBufferCount(4);
  grid.SetDataSource(&source);
  ds.Open();
  EXPECT_EQ(ds.BufferCount(), 4);
  EXPECT_EQ(grid.RowIds(), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(ds.MoveBy(6), 6);
  EXPECT_EQ(Id(ds), 7);
  EXPECT_EQ(grid.ActiveRecord(), 3);
  EXPECT_EQ(grid.RowIds(), (std::vector<int>{4, 5, 6, 7}));
  EXPECT_EQ(ds.MoveBy(-5), -5);
  EXPECT_EQ(Id(ds), 2);
  EXPECT_EQ(grid.ActiveRecord(), 0);
  EXPECT_EQ(grid.RowIds(), (std::vector<int>{2, 3, 4, 5}));
  EXPECT_EQ(ds.MoveBy(100), 18);
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(Id(ds), 20);
  EXPECT_EQ(grid.RowIds(), (std::vector<int>{17, 18, 19, 20}));
  EXPECT_EQ(ds.MoveBy(-100), -19);
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(Id(ds), 1);
  ds.Last();
  EXPECT_EQ(grid.RowIds(), (std::vector<int>{17, 18, 19, 20}));
  EXPECT_EQ(grid.ActiveRecord(), 3);
}

TEST(DataSetNavigation, ShrinkingTheWindowKeepsTheCurrentRecord) {
  VectorDataSet ds;
  ds.Fill(10);
  TDataSource source(&ds);
  RecordingLink grid;
  grid.SetBufferCount(6);
  grid.SetDataSource(&source);
  ds.Open();
  ds.MoveBy(5);
  EXPECT_EQ(Id(ds), 6);
  grid.SetBufferCount(2);
  EXPECT_EQ(ds.BufferCount(), 2);
  EXPECT_EQ(Id(ds), 6);
  ds.Next();
  EXPECT_EQ(Id(ds), 7);
  grid.SetBufferCount(5);
  EXPECT_EQ(Id(ds), 7);
  EXPECT_EQ(WalkForward(ds).size(), 10u);
}

TEST(DataSetNavigation, BookmarksAndRecNoReturnToARecord) {
  VectorDataSet ds;
  ds.Fill(10);
  ds.Open();
  ds.MoveBy(6);
  const TBookmark mark = ds.GetBookmark();
  ds.First();
  ds.GotoBookmark(mark);
  EXPECT_EQ(Id(ds), 7);
  ds.SetRecNo(3);
  EXPECT_EQ(Id(ds), 3);
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_THROW(ds.SetRecNo(11), EDatabaseError);
  EXPECT_EQ(Id(ds), 3);
}

TEST(DataSetEditing, EditPostStoresAndCancelRestores) {
  VectorDataSet ds;
  ds.Fill(3);
  ds.Open();
  ds.Next();
  ds.Edit();
  EXPECT_EQ(ds.State(), dsEdit);
  ds.FieldByName("NAME")->SetAsString("Changed");
  EXPECT_TRUE(ds.Modified());
  ds.Post();
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.rows[1].values[1].toString(), "Changed");
  EXPECT_EQ(Id(ds), 2);

  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("Dropped");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Changed");
  EXPECT_EQ(ds.rows[1].values[1].toString(), "Changed");
  EXPECT_EQ(ds.cancelCalls, 1);
}

TEST(DataSetEditing, FieldWritesNeedAnEditState) {
  VectorDataSet ds;
  ds.Fill(1);
  ds.Open();
  try {
    ds.FieldByName("NAME")->SetAsString("x");
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Dataset not in edit or insert mode");
  }
  ds.FieldByName("NAME")->SetReadOnly(true);
  ds.Edit();
  try {
    ds.FieldByName("NAME")->SetAsString("x");
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'NAME' cannot be modified");
  }
  ds.Cancel();
  ds.readOnly = true;
  EXPECT_THROW(ds.Edit(), EDatabaseError);
  EXPECT_THROW(ds.Append(), EDatabaseError);
}

TEST(DataSetEditing, MovingAwayPostsAChangedRecordAndDropsAnUnchangedNewOne) {
  VectorDataSet ds;
  ds.Fill(3);
  ds.Open();
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("Kept");
  ds.Next();  // posts
  EXPECT_EQ(ds.rows[0].values[1].toString(), "Kept");
  EXPECT_EQ(Id(ds), 2);
  ds.Append();
  ds.First();  // nothing typed: the new record is dropped
  EXPECT_EQ(ds.rows.size(), 3u);
}

TEST(DataSetEditing, InsertGoesBeforeTheCurrentRecordAppendAtTheEnd) {
  VectorDataSet ds;
  ds.Fill(8);
  TDataSource source(&ds);
  RecordingLink grid;
  grid.SetBufferCount(3);
  grid.SetDataSource(&source);
  ds.Open();
  ds.MoveBy(4);  // on 5
  ds.Insert();
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_TRUE(ds.FieldByName("ID")->IsNull());
  ds.FieldByName("ID")->SetAsInteger(100);
  ds.Post();
  EXPECT_EQ(ds.Ids(), (std::vector<int>{1, 2, 3, 4, 100, 5, 6, 7, 8}));
  EXPECT_EQ(Id(ds), 100);
  ds.Next();
  EXPECT_EQ(Id(ds), 5);

  ds.First();
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(200);
  ds.Post();
  EXPECT_EQ(ds.Ids().back(), 200);
  EXPECT_EQ(Id(ds), 200);
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  ds.Prior();
  EXPECT_EQ(Id(ds), 8);
  EXPECT_EQ(WalkForward(ds).size(), 10u);
}

TEST(DataSetEditing, CancelledInsertLeavesTheWindowAsItWas) {
  VectorDataSet ds;
  ds.Fill(6);
  TDataSource source(&ds);
  RecordingLink grid;
  grid.SetBufferCount(3);
  grid.SetDataSource(&source);
  ds.Open();
  ds.MoveBy(2);
  const std::vector<int> before = grid.RowIds();
  ds.Insert();
  ds.FieldByName("ID")->SetAsInteger(99);
  ds.Cancel();
  EXPECT_EQ(ds.rows.size(), 6u);
  EXPECT_EQ(Id(ds), 3);
  EXPECT_EQ(grid.RowIds(), before);

  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(99);
  ds.Cancel();
  EXPECT_EQ(ds.rows.size(), 6u);
  EXPECT_EQ(Id(ds), 6);
}

TEST(DataSetEditing, InsertIntoAnEmptyDataset) {
  VectorDataSet ds;
  ds.Open();
  ds.Insert();
  EXPECT_FALSE(ds.IsEmpty());
  ds.FieldByName("ID")->SetAsInteger(1);
  ds.Post();
  EXPECT_EQ(ds.rows.size(), 1u);
  EXPECT_EQ(Id(ds), 1);
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  ds.Edit();  // on an empty dataset Edit starts a new record
  EXPECT_EQ(ds.State(), dsInsert);
  ds.Cancel();
  EXPECT_TRUE(ds.IsEmpty());
}

TEST(DataSetEditing, DeleteMovesToTheNextRecordOrTheNewLast) {
  VectorDataSet ds;
  ds.Fill(4);
  ds.Open();
  ds.Next();
  ds.Delete();
  EXPECT_EQ(Id(ds), 3);
  ds.Last();
  ds.Delete();
  EXPECT_EQ(Id(ds), 3);
  EXPECT_EQ(ds.Ids(), (std::vector<int>{1, 3}));
  ds.Insert();
  ds.Delete();  // deleting a new record cancels it
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.rows.size(), 2u);
}

TEST(DataSetEditing, RequiredFieldsMustHaveAValue) {
  VectorDataSet ds;
  ds.Open();
  ds.Close();
  ds.Open();
  ds.FieldByName("NAME")->SetRequired(true);
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(1);
  try {
    ds.Post();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'NAME' must have a value");
  }
  EXPECT_EQ(ds.State(), dsInsert);
  ds.FieldByName("NAME")->SetAsString("n");
  ds.Post();
  EXPECT_EQ(ds.rows.size(), 1u);
}

TEST(DataSetEditing, PostErrorEventDecidesFailRetryOrAbort) {
  VectorDataSet ds;
  ds.Fill(1);
  ds.Open();
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("A");
  ds.failPost = true;
  EXPECT_THROW(ds.Post(), std::runtime_error);
  EXPECT_EQ(ds.State(), dsEdit);  // nothing lost: still editing

  std::string seen;
  ds.OnPostError = [&](TDataSet&, const std::exception& e, TDataAction& action) {
    seen = e.what();
    action = daRetry;
  };
  ds.failPost = true;
  ds.Post();
  EXPECT_EQ(seen, "disk full");
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.rows[0].values[1].toString(), "A");

  ds.OnPostError = [](TDataSet&, const std::exception&, TDataAction& action) { action = daAbort; };
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("B");
  ds.failPost = true;
  EXPECT_THROW(ds.Post(), EAbort);
}

TEST(DataSetEvents, OperationsRaiseTheirEventsInOrder) {
  VectorDataSet ds;
  ds.Fill(3);
  std::vector<std::string> log;
  auto note = [&log](const char* name) { return [&log, name](TDataSet&) { log.push_back(name); }; };
  ds.BeforeOpen = note("BeforeOpen");
  ds.AfterOpen = note("AfterOpen");
  ds.BeforeClose = note("BeforeClose");
  ds.AfterClose = note("AfterClose");
  ds.BeforeInsert = note("BeforeInsert");
  ds.AfterInsert = note("AfterInsert");
  ds.BeforeEdit = note("BeforeEdit");
  ds.AfterEdit = note("AfterEdit");
  ds.BeforePost = note("BeforePost");
  ds.AfterPost = note("AfterPost");
  ds.BeforeCancel = note("BeforeCancel");
  ds.AfterCancel = note("AfterCancel");
  ds.BeforeDelete = note("BeforeDelete");
  ds.AfterDelete = note("AfterDelete");
  ds.BeforeScroll = note("BeforeScroll");
  ds.AfterScroll = note("AfterScroll");
  ds.OnNewRecord = note("OnNewRecord");

  ds.Open();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeOpen", "AfterOpen"}));
  log.clear();
  ds.Next();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeScroll", "AfterScroll"}));
  log.clear();
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("x");
  ds.Post();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost"}));
  log.clear();
  ds.Append();
  ds.Cancel();
  EXPECT_EQ(log,
            (std::vector<std::string>{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert",
                                      "AfterScroll", "BeforeCancel", "AfterCancel"}));
  log.clear();
  ds.Delete();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeDelete", "BeforeScroll", "AfterDelete",
                                           "AfterScroll"}));
  log.clear();
  ds.Close();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeClose", "AfterClose"}));
}

TEST(DataSetEvents, ABeforeEventRefusesTheOperation) {
  VectorDataSet ds;
  ds.Fill(2);
  ds.Open();
  ds.BeforeDelete = [](TDataSet&) { Abort(); };
  EXPECT_THROW(ds.Delete(), EAbort);
  EXPECT_EQ(ds.rows.size(), 2u);
  ds.BeforeEdit = [](TDataSet&) { DatabaseError("locked"); };
  EXPECT_THROW(ds.Edit(), EDatabaseError);
  EXPECT_EQ(ds.State(), dsBrowse);
  ds.BeforePost = [](TDataSet&) { Abort(); };
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(5);
  EXPECT_THROW(ds.Post(), EAbort);
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(ds.rows.size(), 2u);
}

TEST(DataSetEvents, OnNewRecordValuesDoNotCountAsChanges) {
  VectorDataSet ds;
  ds.Fill(2);
  ds.OnNewRecord = [](TDataSet& d) { d.FieldByName("ID")->SetAsInteger(42); };
  ds.Open();
  ds.Append();
  EXPECT_EQ(Id(ds), 42);
  EXPECT_FALSE(ds.Modified());
  ds.Post();  // an explicit post keeps it
  EXPECT_EQ(ds.Ids().back(), 42);
}

TEST(DataSetFilter, OnFilterRecordHidesRecordsWhileFiltered) {
  VectorDataSet ds;
  ds.Fill(10);
  TDataSetState stateSeen = dsInactive;
  ds.OnFilterRecord = [&](TDataSet& d, bool& accept) {
    stateSeen = d.State();
    accept = d.FieldByName("ID")->AsInteger() % 3 == 0;
  };
  ds.Open();
  EXPECT_EQ(WalkForward(ds).size(), 10u);
  ds.SetFiltered(true);
  EXPECT_EQ(stateSeen, dsFilter);
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(WalkForward(ds), (std::vector<int>{3, 6, 9}));
  EXPECT_EQ(WalkBackward(ds), (std::vector<int>{9, 6, 3}));
  // A record edited out of the filter leaves the view after the post.
  ds.First();
  ds.Edit();
  ds.FieldByName("ID")->SetAsInteger(4);
  ds.Post();
  EXPECT_EQ(Id(ds), 6);
  ds.SetFiltered(false);
  EXPECT_EQ(WalkForward(ds).size(), 10u);
}

TEST(DataSetCalcFields, CalculatedFieldsFollowTheRecordAndItsEdits) {
  VectorDataSet ds;
  ds.Fill(3);
  auto& doubled = ds.AddField(std::make_unique<TFloatField>("DOUBLE"));
  doubled.SetFieldKind(fkCalculated);
  TDataSetState stateSeen = dsInactive;
  ds.OnCalcFields = [&](TDataSet& d) {
    stateSeen = d.State();
    if (!d.FieldByName("PRICE")->IsNull())
      d.FieldByName("DOUBLE")->SetAsFloat(d.FieldByName("PRICE")->AsFloat() * 2);
  };
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 7);
  EXPECT_EQ(ds.Field(6), &doubled);
  EXPECT_EQ(stateSeen, dsCalcFields);
  EXPECT_DOUBLE_EQ(doubled.AsFloat(), 3.0);
  ds.Next();
  EXPECT_DOUBLE_EQ(doubled.AsFloat(), 6.0);
  ds.Edit();
  ds.FieldByName("PRICE")->SetAsFloat(10);
  EXPECT_DOUBLE_EQ(doubled.AsFloat(), 20.0);
  ds.Cancel();
  EXPECT_DOUBLE_EQ(doubled.AsFloat(), 6.0);
  EXPECT_THROW(doubled.SetAsFloat(1), EDatabaseError);  // not while browsing
  ds.Append();
  EXPECT_TRUE(doubled.IsNull());
  ds.Cancel();
  // Writing a data field from OnCalcFields is refused.
  ds.OnCalcFields = [](TDataSet& d) { d.FieldByName("NAME")->SetAsString("no"); };
  EXPECT_THROW(ds.Refresh(), EDatabaseError);
  ds.OnCalcFields = nullptr;
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 1);  // default fields go, the calculated one stays
}

TEST(DataSetSearch, LocateMovesAndLookupDoesNot) {
  VectorDataSet ds;
  ds.Fill(6);
  ds.Open();
  ds.Next();
  EXPECT_TRUE(ds.Locate("NAME", "r5", loCaseInsensitive));
  EXPECT_EQ(Id(ds), 5);
  EXPECT_FALSE(ds.Locate("NAME", "r5", 0));
  EXPECT_EQ(Id(ds), 5);
  ds.Next();  // the window still works after a failed search
  EXPECT_EQ(Id(ds), 6);
  EXPECT_TRUE(ds.Locate("ID;PRICE", QVariantList{3, 4.5}, 0));
  EXPECT_EQ(Id(ds), 3);
  EXPECT_TRUE(ds.Locate("NAME", "R", loPartialKey));
  EXPECT_EQ(Id(ds), 1);
  ds.Last();
  EXPECT_EQ(ds.Lookup("ID", 2, "NAME").toString(), "R2");
  EXPECT_FALSE(ds.Lookup("ID", 99, "NAME").isValid());
  EXPECT_EQ(Id(ds), 6);
  ds.Prior();
  EXPECT_EQ(Id(ds), 5);
  EXPECT_THROW(ds.Locate("NOPE", 1, 0), EDatabaseError);
}

TEST(DataSetBlobs, MemoTextTravelsThroughTheBlobStream) {
  VectorDataSet ds;
  ds.Fill(1);
  ds.Open();
  auto* memo = static_cast<TMemoField*>(ds.FieldByName("NOTE"));
  EXPECT_TRUE(memo->IsNull());
  EXPECT_EQ(memo->DisplayText(), "");
  EXPECT_THROW(ds.CreateBlobStream(*memo, bmWrite), EDatabaseError);
  ds.Edit();
  memo->SetText(QString::fromUtf8("line one\nzwei \xc3\xbc"));
  ds.Post();
  EXPECT_EQ(memo->Text(), QString::fromUtf8("line one\nzwei \xc3\xbc"));
  EXPECT_EQ(memo->DisplayText(), "(Memo)");
  auto stream = ds.CreateBlobStream(*memo, bmRead);
  EXPECT_EQ(stream->readAll(), QByteArray("line one\nzwei \xc3\xbc"));
  ds.Edit();
  {
    auto writer = ds.CreateBlobStream(*memo, bmWrite);
    writer->write("unclosed");
  }  // destroyed without close(): nothing stored
  EXPECT_EQ(memo->Text().left(8), "line one");
  memo->Clear();
  ds.Post();
  EXPECT_TRUE(memo->IsNull());
}

TEST(DataSetControls, DisabledControlsHearOneChangeAtTheEnd) {
  VectorDataSet ds;
  ds.Fill(5);
  TDataSource source(&ds);
  RecordingLink link;
  link.SetDataSource(&source);
  ds.Open();
  link.Clear();
  ds.DisableControls();
  ds.DisableControls();
  for (ds.First(); !ds.Eof(); ds.Next()) {
  }
  ds.EnableControls();
  EXPECT_TRUE(link.log.empty());
  ds.EnableControls();
  EXPECT_EQ(link.log, (std::vector<std::string>{"changed"}));
  link.Clear();
  ds.DisableControls();
  ds.EnableControls();
  EXPECT_TRUE(link.log.empty());
}

}  // namespace
}  // namespace fendral::test

namespace fendral::test {
namespace {

TEST(DataSetSetKey, KeyValuesGoToTheirOwnBufferAndLeaveTheRecordAlone) {
  VectorDataSet ds;
  ds.Fill(2);
  ds.AddField(std::make_unique<TIntegerField>("CALC")).SetFieldKind(fkCalculated);
  ds.Open();
  ds.SetKey();
  EXPECT_EQ(ds.State(), dsSetKey);
  EXPECT_TRUE(ds.FieldByName("ID")->IsNull());  // fields show the empty key buffer
  ds.FieldByName("ID")->SetAsInteger(2);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
  try {
    ds.FieldByName("CALC")->SetAsInteger(1);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'CALC' is not indexed and cannot be modified");
  }
  ds.Cancel();
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 1);
  EXPECT_EQ(ds.rows[0].values[0].toInt(), 1);
}

}  // namespace
}  // namespace fendral::test

namespace fendral::test {
namespace {

TEST(DataSetWindow, GrowingTheWindowAtTheEndShowsTheRecordsBefore) {
  VectorDataSet ds;
  ds.Fill(10);
  TDataSource source(&ds);
  RecordingLink grid;
  grid.SetDataSource(&source);
  ds.Open();
  ds.Last();
  grid.SetBufferCount(4);
  EXPECT_EQ(grid.RowIds(), (std::vector<int>{7, 8, 9, 10}));
  EXPECT_EQ(Id(ds), 10);
  EXPECT_EQ(grid.ActiveRecord(), 3);
}

TEST(DataSetWindow, GrowingTheWindowDuringAnAppendKeepsTheNewRecord) {
  VectorDataSet ds;
  ds.Fill(10);
  TDataSource source(&ds);
  RecordingLink grid;
  grid.SetBufferCount(2);
  grid.SetDataSource(&source);
  ds.Open();
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(11);
  grid.SetBufferCount(5);
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(Id(ds), 11);
  ds.Post();
  EXPECT_EQ(grid.RowIds(), (std::vector<int>{7, 8, 9, 10, 11}));
  // Cancelling after the window moved underneath returns to the right record.
  ds.Append();
  grid.SetBufferCount(7);
  ds.Cancel();
  EXPECT_EQ(Id(ds), 11);
  ds.SetRecNo(3);
  ds.Insert();
  grid.SetBufferCount(9);
  ds.Cancel();
  EXPECT_EQ(Id(ds), 3);
  EXPECT_EQ(ds.rows.size(), 11u);
}

}  // namespace
}  // namespace fendral::test

namespace fendral::test {
namespace {

// A dataset whose records cannot be read: opening fails cleanly and can be retried.
class BrokenDataSet : public VectorDataSet {
 public:
  bool broken = true;

 protected:
  TGetResult GetRecord(TRecordBuffer& buffer, TGetMode mode, bool doCheck) override {
    if (broken) DatabaseError("Record 1 is damaged");
    return VectorDataSet::GetRecord(buffer, mode, doCheck);
  }
};

TEST(DataSetOpen, AnUnreadableFirstRecordLeavesTheDatasetClosed) {
  BrokenDataSet ds;
  ds.Fill(3);
  TDataSource source(&ds);
  RecordingLink link;
  link.SetDataSource(&source);
  bool afterOpen = false;
  ds.AfterOpen = [&](TDataSet&) { afterOpen = true; };
  EXPECT_THROW(ds.Open(), EDatabaseError);
  EXPECT_FALSE(ds.Active());
  EXPECT_FALSE(link.Active());
  EXPECT_FALSE(afterOpen);
  EXPECT_EQ(ds.FieldCount(), 0);
  ds.broken = false;
  ds.Open();
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 1);
}

}  // namespace
}  // namespace fendral::test

namespace fendral::test {
namespace {

TEST(DataSetEditing, ANewRecordIsPostedEvenWhenItsAnchorWentAway) {
  VectorDataSet ds;
  ds.Fill(3);
  ds.Open();
  ds.Next();
  ds.Insert();
  ds.FieldByName("ID")->SetAsInteger(9);
  ds.rows.erase(ds.rows.begin() + 1);  // another writer removed the record it went before
  ds.Post();
  EXPECT_EQ(ds.rows.size(), 3u);
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 9);
}

}  // namespace
}  // namespace fendral::test
