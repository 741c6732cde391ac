// The short control messages: the general answer (a control word and name=value
// items), the data-set answer (a table sent as an object) and the wait notice of
// a pending remote request. Not thread-safe; the object's lock guards its state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "model/zel_cols.h"
#include "model/zel_object.h"
#include "objects/enums.h"

namespace quorvane {

class TZelSObjectAnswer : public TZelObject {
 public:
  explicit TZelSObjectAnswer(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_Answer; }
  void DeclareProps() override;

  // Appends the line name=value (an empty value still gives "name=").
  void AddItem(std::string_view name, std::string_view value);

  std::unique_ptr<TStringList> ZelItems = std::make_unique<TStringList>();
  std::string ZelWhat;  // compared exactly by its readers
};

class TZelSObjectDataSetAnswer : public TZelObject {
 public:
  explicit TZelSObjectDataSetAnswer(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_DataSetAnswer; }

  int RecNo() const { return current_row_ + 1; }
  int RecordCount() const { return static_cast<int>(xRecords->Count()); }
  bool IsValidRow(int row) const { return row >= 0 && row < RecordCount(); }
  void SetCurrentRow(int row) { current_row_ = row; }

  std::int32_t xMaxRecordSize = 0;
  std::unique_ptr<TZelCols> xCols;
  std::unique_ptr<TZelRecords> xRecords;
  TTypeZelObject xItemType = tvo_Nop;
  bool xIsSearchResult = false;

 private:
  int current_row_ = 0;
};

class TZelSObjectWait : public TZelObject {
 public:
  explicit TZelSObjectWait(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_Wait; }
  void DeclareProps() override;
  std::string Caption() const override;

  // Takes source's identifier; when file is a remote file description, also its
  // description, size and owner.
  void FillFromRemoteFile(const TZelObject& file, const TZelObject& source);

  std::string xsMERXIDOwner;
  std::string xWhat;
  std::string xFacProgress;  // never stored
  std::int32_t xMax = 0;     // never stored
  TTypeWaitProcessing xTypeProcessing = towp_Queued;
};

}  // namespace quorvane
