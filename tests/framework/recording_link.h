// A data link that writes down every notification it receives, for tests of the order and
// content of notifications.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "datasource.h"

namespace fendral::test {

class RecordingLink : public TDataLink {
 public:
  std::vector<std::string> log;
  void Clear() { log.clear(); }
  // Names of the rows this link would paint now, read through the dataset's buffers.
  std::vector<int> RowIds() {
    std::vector<int> ids;
    const int saved = ActiveRecord();
    for (int row = 0; row < RecordCount(); ++row) {
      SetActiveRecord(row);
      ids.push_back(DataSet()->FieldByName("ID")->AsInteger());
    }
    if (RecordCount() > 0) SetActiveRecord(saved);
    return ids;
  }

 protected:
  void ActiveChanged() override { log.push_back(Active() ? "active" : "inactive"); }
  void DataSetChanged() override { log.push_back("changed"); }
  void DataSetScrolled(int distance) override {
    log.push_back("scrolled " + std::to_string(distance));
  }
  void LayoutChanged() override { log.push_back("layout"); }
  void RecordsReplaced() override { log.push_back("replaced"); }
  void RecordChanged(TField* field) override {
    log.push_back("record " + (field ? field->FieldName().toStdString() : std::string("-")));
  }
  void EditingChanged() override { log.push_back(Editing() ? "editing" : "not editing"); }
  void UpdateData() override {
    log.push_back("update");
    if (pendingName.has_value()) {
      DataSet()->FieldByName("NAME")->SetAsString(*pendingName);
      pendingName.reset();
    }
  }

 public:
  std::optional<QString> pendingName;  // written into NAME by UpdateData
};

}  // namespace fendral::test
