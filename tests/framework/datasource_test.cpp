// Data sources and data links: what a grid, a navigator and a single-field editor hear.
#include <gtest/gtest.h>

#include "recording_link.h"
#include "vector_dataset.h"

namespace fendral::test {
namespace {

using Log = std::vector<std::string>;

TEST(DataLink, FollowsOpenCloseAndTheSourcesSwitches) {
  VectorDataSet ds;
  ds.Fill(3);
  TDataSource source;
  RecordingLink link;
  link.SetDataSource(&source);
  EXPECT_FALSE(link.Active());
  source.SetDataSet(&ds);
  EXPECT_FALSE(link.Active());
  ds.Open();
  EXPECT_TRUE(link.Active());
  EXPECT_EQ(link.log, (Log{"active", "changed"}));
  link.Clear();
  source.SetEnabled(false);
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(source.State(), dsInactive);
  ds.Next();
  source.SetEnabled(true);
  EXPECT_EQ(link.log, (Log{"inactive", "active"}));
  link.Clear();
  ds.Close();
  EXPECT_EQ(link.log, (Log{"inactive"}));
  ds.Open();
  link.Clear();
  source.SetDataSet(nullptr);
  EXPECT_EQ(link.log, (Log{"inactive"}));
}

TEST(DataLink, HearsRecordsReplacedOnceControlsAreEnabledAgain) {
  VectorDataSet ds;
  ds.Fill(3);
  TDataSource source(&ds);
  RecordingLink link;
  link.SetDataSource(&source);
  int dataChanges = 0;
  source.OnDataChange = [&](TDataSource&, TField* field) { dataChanges += field == nullptr; };
  ds.Open();
  link.Clear();
  dataChanges = 0;
  ds.DataEvent(deRecordsReplaced);
  EXPECT_EQ(link.log, (Log{"replaced"}));
  EXPECT_EQ(dataChanges, 1);

  link.Clear();
  ds.DisableControls();
  ds.DataEvent(deRecordsReplaced);
  ds.DataEvent(deDataSetChange);
  EXPECT_TRUE(link.log.empty());
  ds.EnableControls();
  EXPECT_EQ(link.log, (Log{"replaced"})) << "one announcement, instead of the plain change";

  link.Clear();
  ds.DisableControls();
  ds.DataEvent(deDataSetChange);
  ds.EnableControls();
  EXPECT_EQ(link.log, (Log{"changed"})) << "nothing replaced since the last enable";
}

TEST(DataLink, CloseAndReopenBehindDisabledControlsLeavesTheLinkActive) {
  VectorDataSet ds;
  ds.Fill(3);
  TDataSource source(&ds);
  RecordingLink link;
  link.SetDataSource(&source);
  ds.Open();
  link.Clear();
  ds.DisableControls();
  ds.Close();
  EXPECT_FALSE(link.Active()) << "a link learns at once that its dataset closed";
  ds.Open();
  ds.EnableControls();
  EXPECT_TRUE(link.Active());
  EXPECT_EQ(source.State(), dsBrowse);
  ASSERT_FALSE(link.log.empty());
  EXPECT_EQ(link.log.front(), "inactive");
  EXPECT_EQ(link.log.back(), "changed");
  EXPECT_EQ(link.RowIds(), (std::vector<int>{1}));
}

TEST(DataLink, HearsEditingRecordAndScrollChanges) {
  VectorDataSet ds;
  ds.Fill(10);
  TDataSource source(&ds);
  RecordingLink grid;
  grid.SetBufferCount(3);
  grid.SetDataSource(&source);
  ds.Open();
  grid.Clear();
  ds.Next();
  EXPECT_EQ(grid.log, (Log{"scrolled 0"}));  // the current row moved inside the window
  grid.Clear();
  ds.MoveBy(3);  // window 1-3 becomes 3-5: its first row moved 2 records
  EXPECT_EQ(grid.log, (Log{"scrolled 2"}));
  grid.Clear();
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("x");
  ds.Post();
  EXPECT_EQ(grid.log,
            (Log{"editing", "record -", "record NAME", "update", "changed", "not editing"}));
  grid.Clear();
  ds.First();
  EXPECT_EQ(grid.log, (Log{"changed"}));
}

TEST(DataLink, UpdateDataWritesPendingControlTextBeforeThePost) {
  VectorDataSet ds;
  ds.Fill(2);
  TDataSource source(&ds);
  RecordingLink editor;
  editor.SetDataSource(&source);
  int updates = 0;
  source.OnUpdateData = [&](TDataSource&) { ++updates; };
  ds.Open();
  EXPECT_TRUE(editor.Edit());  // through AutoEdit
  EXPECT_EQ(ds.State(), dsEdit);
  editor.pendingName = "typed";
  ds.Post();
  EXPECT_EQ(ds.rows[0].values[1].toString(), "typed");
  EXPECT_EQ(updates, 1);
  source.SetAutoEdit(false);
  EXPECT_FALSE(editor.Edit());
  EXPECT_EQ(ds.State(), dsBrowse);
}

TEST(DataSource, StateAndDataChangeEvents) {
  VectorDataSet ds;
  ds.Fill(2);
  TDataSource source(&ds);
  std::vector<TDataSetState> states;
  std::vector<std::string> changes;
  source.OnStateChange = [&](TDataSource& s) { states.push_back(s.State()); };
  source.OnDataChange = [&](TDataSource&, TField* field) {
    changes.push_back(field ? field->FieldName().toStdString() : "-");
  };
  ds.Open();
  ds.Edit();
  ds.FieldByName("ID")->SetAsInteger(9);
  ds.Cancel();
  ds.Close();
  EXPECT_EQ(states, (std::vector<TDataSetState>{dsBrowse, dsEdit, dsBrowse, dsInactive}));
  EXPECT_EQ(changes, (std::vector<std::string>{"-", "-", "-", "ID", "-"}));
}

TEST(DataSource, DestroyingEitherEndDetachesSafely) {
  RecordingLink link;
  {
    VectorDataSet ds;
    ds.Fill(1);
    auto source = std::make_unique<TDataSource>(&ds);
    link.SetDataSource(source.get());
    ds.Open();
    EXPECT_TRUE(link.Active());
    source.reset();  // the link forgets it
    EXPECT_EQ(link.DataSource(), nullptr);
    EXPECT_FALSE(link.Active());
  }
  TDataSource source;
  link.SetDataSource(&source);
  {
    VectorDataSet ds;
    ds.Fill(1);
    source.SetDataSet(&ds);
    ds.Open();
    EXPECT_TRUE(link.Active());
  }  // the dataset goes first
  EXPECT_EQ(source.DataSet(), nullptr);
  EXPECT_FALSE(link.Active());
}

TEST(FieldDataLink, BindsOneFieldAndWritesItsControlsText) {
  VectorDataSet ds;
  ds.Fill(3);
  TDataSource source(&ds);
  TFieldDataLink link;
  QString shown;
  QString typed;
  int editingChanges = 0;
  link.OnDataChange = [&] { shown = link.Field() ? link.Field()->DisplayText() : QString(); };
  link.OnUpdateData = [&] { link.Field()->SetAsString(typed); };
  link.OnEditingChange = [&] { ++editingChanges; };
  link.SetFieldName("NAME");
  link.SetDataSource(&source);
  EXPECT_EQ(link.Field(), nullptr);
  ds.Open();
  ASSERT_EQ(link.Field(), ds.FieldByName("NAME"));
  EXPECT_EQ(shown, "R1");
  ds.Next();
  EXPECT_EQ(shown, "R2");
  typed = "Edited";
  EXPECT_TRUE(link.Modify());
  EXPECT_EQ(editingChanges, 1);
  ds.Post();
  EXPECT_EQ(ds.rows[1].values[1].toString(), "Edited");
  EXPECT_FALSE(link.Modified());
  // Reset drops the control's text.
  typed = "Lost";
  link.Modify();
  link.Reset();
  ds.Post();
  EXPECT_EQ(ds.rows[1].values[1].toString(), "Edited");
  // Read-only fields cannot be modified through the link.
  ds.FieldByName("NAME")->SetReadOnly(true);
  EXPECT_FALSE(link.Modify());
  link.SetFieldName("NOPE");
  EXPECT_EQ(link.Field(), nullptr);
  ds.Close();
  EXPECT_EQ(link.Field(), nullptr);
}

}  // namespace
}  // namespace fendral::test

namespace fendral::test {
namespace {

// A dataset that follows a master through a data source.
class DetailDataSet : public VectorDataSet {
 public:
  TDataSource* master = nullptr;
  TDataSource* MasterDataSource() const override { return master; }
};

TEST(DataSource, MasterChainsRevealCircularLinks) {
  DetailDataSet a, b, c;
  TDataSource sa(&a), sb(&b), sc(&c);
  b.master = &sa;                  // b follows a
  c.master = &sb;                  // c follows b
  EXPECT_TRUE(sc.IsLinkedTo(&a));  // a following c would close a circle
  EXPECT_TRUE(sc.IsLinkedTo(&c));
  EXPECT_FALSE(sa.IsLinkedTo(&c));  // a's chain does not reach c: c may follow a
  EXPECT_FALSE(sa.IsLinkedTo(nullptr));
  a.master = &sc;  // a circle made anyway must not hang the walk
  EXPECT_TRUE(sb.IsLinkedTo(&c));
  DetailDataSet other;
  EXPECT_FALSE(sb.IsLinkedTo(&other));
}

}  // namespace
}  // namespace fendral::test
