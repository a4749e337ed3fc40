// The disconnected recordset: every row of a query held in memory, navigated, filtered, sorted
// and edited there. Nothing reaches the database until Connection::UpdateRecordset writes the
// changed rows back by key. Scripts reach it by name through Dispatch (`rs("Name")`, `rs.EOF`,
// `rs.Fields(0).Value`, ...); C++ code calls the typed members.
//
// Errors are HostError with the numbers the host's data layer raised:
//   3021 no current record (BOF or EOF, or the row was deleted),
//   3265 no field of that name or index,
//   3001 a criteria, sort or position argument that does not parse or is out of range,
//   3704 the recordset is closed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/dispatch.h"

namespace fern::db {

namespace dberr {
inline constexpr int32_t kArgument = 3001;
inline constexpr int32_t kNoCurrentRecord = 3021;
inline constexpr int32_t kItemNotFound = 3265;
inline constexpr int32_t kClosed = 3704;
}  // namespace dberr

// The data layer's type codes (ADO DataTypeEnum), as Field::Type reports them.
namespace adtype {
inline constexpr int kEmpty = 0;
inline constexpr int kSmallInt = 2;
inline constexpr int kInteger = 3;
inline constexpr int kDouble = 5;
inline constexpr int kCurrency = 6;
inline constexpr int kDate = 7;
inline constexpr int kBoolean = 11;
inline constexpr int kUnsignedTinyInt = 17;
inline constexpr int kGuid = 72;
inline constexpr int kBinary = 205;
inline constexpr int kDBTimeStamp = 135;
inline constexpr int kVarWChar = 202;
inline constexpr int kLongVarWChar = 203;
}  // namespace adtype

struct FieldInfo {
  FieldInfo() = default;
  FieldInfo(std::string n, int t = adtype::kVarWChar) : name(std::move(n)), type(t) {}

  std::string name;  // as the query named the column
  int type = adtype::kVarWChar;
  int32_t definedSize = 0;  // declared length, 0 when none was declared
  std::string table;        // the table the column comes from ("" for an expression)
  std::string baseColumn;   // the column's name in that table
  bool key = false;         // part of that table's primary key
  bool guidKey = false;     // compared with the GUID collation in the database
};

enum class RowState : uint8_t { Unchanged, Modified, New, Deleted };

enum class SearchDirection { Forward = 1, Backward = -1 };
// Where Find starts: at the current row, or at the first or the last row.
enum class FindStart { Current = 0, First = 1, Last = 2 };

class Field;
class Fields;
class Criteria;

class Recordset : public Dispatch {
 public:
  // Always owned by a shared_ptr: fields handed to scripts keep their recordset alive.
  static std::shared_ptr<Recordset> Create(std::vector<FieldInfo> fields);
  explicit Recordset(std::vector<FieldInfo> fields);  // use Create
  ~Recordset() override;

  // --- building (the connection and C++ procedures) ---------------------------------------
  // Appends a row as read from the database (state Unchanged). `values` has one Variant per
  // field. Leaves the position on the first row.
  void LoadRow(std::vector<Variant> values);
  // The same, one value at a time in field order, EndLoadedRow after the last: values are kept
  // compactly and become Variants only when read, so that large results load cheaply.
  void LoadNull();
  void LoadLong(int32_t v);
  void LoadDouble(double v);
  void LoadDate(double serial);
  void LoadBool(bool v);
  void LoadByte(uint8_t v);
  void LoadCurrency(int64_t scaled);
  void LoadText(std::string_view v);
  void EndLoadedRow();
  void SetFieldType(size_t index, int type);
  // Its rows come from a join or a union, so they cannot be written back.
  void MarkJoined() { joined_ = true; }
  bool IsJoined() const { return joined_; }

  // --- state -------------------------------------------------------------------------------
  bool IsOpen() const { return open_; }
  int State() const { return open_ ? 1 : 0; }
  void Close();

  // --- fields ------------------------------------------------------------------------------
  size_t FieldCount() const;
  const FieldInfo& Info(size_t index) const;
  // Index of the first field of that name (case-insensitive, umlauts and ß/SS too), -1 if none.
  int FindField(std::string_view name) const;
  // Index of the field or HostError 3265.
  size_t FieldIndex(std::string_view name) const;
  // Value at the current row; 3021 without one. The reference holds until the recordset
  // moves or changes.
  const Variant& Value(size_t index) const;
  const Variant& Value(std::string_view name) const { return Value(FieldIndex(name)); }
  // Writes into the current row in memory (the row becomes Modified unless it is New).
  void SetValue(size_t index, Variant v);
  void SetValue(std::string_view name, Variant v) { SetValue(FieldIndex(name), std::move(v)); }
  // By-name objects for scripts.
  std::shared_ptr<Field> FieldAt(size_t index);
  std::shared_ptr<Fields> GetFields();

  // --- navigation --------------------------------------------------------------------------
  bool Eof() const;
  bool Bof() const;
  void MoveFirst();
  void MoveLast();
  void MoveNext();       // 3021 at EOF
  void MovePrevious();   // 3021 at BOF
  void Move(int64_t n);  // relative to the current row; past either end stops at BOF/EOF
  // Rows in the current view (filter applied, deleted rows gone).
  int64_t RecordCount() const;
  // 1-based position in the view; -1 for an empty recordset, -2 at BOF, -3 at EOF.
  int64_t AbsolutePosition() const;
  void SetAbsolutePosition(int64_t pos);  // 3001 outside 1..RecordCount

  // --- filter, find, sort ------------------------------------------------------------------
  // Criteria as `Field op value` joined by AND/OR with parentheses; op is = <> < > <= >= or
  // LIKE (* and % as wildcards); values are 'text' (apostrophes doubled), numbers, #date#
  // or Null. Text compares without regard to case (German letters too). "" clears it. The
  // rows stay; the view shows the matching ones and moves to the first.
  void SetFilter(std::string_view criteria);
  void ClearFilter() { SetFilter({}); }
  const std::string& Filter() const { return filter_; }
  // Moves to the next row (from the start row, skipping `skip` rows first) that meets one
  // criterion set (same syntax as the filter). Returns false and leaves EOF (forward) or BOF
  // (backward) when none does.
  bool Find(std::string_view criteria, int64_t skip = 0,
            SearchDirection dir = SearchDirection::Forward, FindStart start = FindStart::Current);
  // "Field [ASC|DESC], ..." ; stable; Null first ascending; text in German order without
  // regard to case. "" returns to the order of the rows. Keeps the current row when it is
  // still in view.
  void SetSort(std::string_view sort);
  const std::string& Sort() const { return sort_; }

  // --- editing in memory -------------------------------------------------------------------
  void AddNew();  // a New row at the end of the view, made current; values Empty
  void Update();  // ends the current edit (moving away ends it too)
  void
  CancelUpdate();  // drops the current edit: a new row goes, a changed row gets its values back
  void Delete();   // the current row; it stays current (reading it gives 3021) until a move
  RowState CurrentRowState() const;

  // --- write-back support ------------------------------------------------------------------
  struct Change {
    size_t row;  // for SetRowValue
    RowState state;
    const std::vector<Variant>* values;    // current values
    const std::vector<Variant>* original;  // as loaded (Modified, Deleted), else null
  };
  // Ends a pending edit first. The rows that are New, Modified or Deleted, in row order.
  std::vector<Change> PendingChanges();
  bool HasChanges() const;
  // Sets a value the database assigned (a generated key) without changing the row's state.
  void SetRowValue(size_t row, size_t field, Variant v);
  // After a successful write-back: deleted rows go, all others become Unchanged.
  void AcceptChanges();

  // --- Dispatch ----------------------------------------------------------------------------
  // By name: the default member and Fields/Collect take a field name or index (a Field object;
  // Let writes the value), EOF, BOF, MoveFirst/Last/Next/Previous, Move, RecordCount,
  // AbsolutePosition, Filter (text, or 0 to clear; reads 0 when none), Find(criteria[, skip[,
  // direction[, start]]]), Sort, AddNew/Update([field(s), value(s)]), CancelUpdate, Delete,
  // Close, State.
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "Recordset"; }

 private:
  // A loaded value in 16 bytes; text lives in arena_.
  struct Cell {
    VType type;
    uint32_t len;
    union {
      int64_t i;
      double d;
      uint64_t off;
    } u;
  };
  static constexpr uint32_t kNoCells = UINT32_MAX;
  struct Row {
    uint32_t cellRow = kNoCells;  // its loaded values: cells_[cellRow * fields .. + fields)
    RowState state = RowState::Unchanged;
    bool added = false;  // came from AddNew: deleting it leaves nothing to write
    // Once a row is edited (or was built from Variants) these are its values.
    std::unique_ptr<std::vector<Variant>> values;
    std::unique_ptr<std::vector<Variant>> original;  // as loaded, once the row changed
  };
  friend class RowAccess;

  void CheckOpen() const;
  Row& CurrentRow();
  const Row& CurrentRow() const;
  void EndEdit();
  // Recomputes the view from filter and sort; stays on row `keepRow` when it is in view,
  // else goes to the first row.
  void Rebuild(int64_t keepRow);
  int64_t CurrentRowIndex() const;  // row index, -1 without a current row
  int64_t ViewSize() const { return static_cast<int64_t>(view_.size()); }
  void PushCell(VType t, uint32_t len, int64_t bits);
  void Materialize(const Cell& c, Variant& into) const;
  // A field of a row: the row's own Variant, or the loaded value made into `scratch`.
  const Variant& CellValue(size_t row, size_t field, Variant& scratch) const;
  std::vector<Variant>& EnsureValues(Row& row);
  void Invalidate() { cacheRow_ = -1; }

  std::vector<FieldInfo> fields_;
  std::unordered_map<std::string, size_t> byName_;  // folded name -> first index
  std::vector<Cell> cells_;
  std::string arena_;
  size_t loadedCells_ = 0;  // cells of the row being loaded
  std::vector<Row> rows_;
  std::vector<uint32_t> view_;  // row indices in view order
  int64_t pos_ = 0;             // index into view_; -1 = BOF, view_.size() = EOF
  bool open_ = true;
  bool joined_ = false;
  // The current row was deleted: it has left the view and pos_ already names the row after
  // it, so the next MoveNext only clears this.
  bool onDeleted_ = false;
  int64_t beforeAddNew_ = -1;  // row index that was current before AddNew
  std::string filter_;
  std::string sort_;
  std::shared_ptr<Criteria> filterCriteria_;
  std::vector<std::pair<size_t, bool>> sortKeys_;  // field, descending
  // The current edit: the row being edited and its values before the edit.
  int64_t editRow_ = -1;
  bool editIsNew_ = false;
  std::vector<Variant> editBackup_;
  RowState editBackupState_ = RowState::Unchanged;
  // The current row's loaded values as Variants, made on first read.
  mutable std::vector<Variant> cache_;
  mutable std::vector<uint64_t> cacheStamp_;
  mutable uint64_t stamp_ = 0;
  mutable int64_t cacheRow_ = -1;
};

// One column at the current row of its recordset. Value is the default member.
class Field : public Dispatch {
 public:
  Field(std::shared_ptr<Recordset> rs, size_t index) : rs_(std::move(rs)), index_(index) {}
  const std::string& Name() const { return rs_->Info(index_).name; }
  int Type() const { return rs_->Info(index_).type; }
  int32_t DefinedSize() const { return rs_->Info(index_).definedSize; }
  int32_t ActualSize() const;  // bytes of the current value (text in UTF-8)
  const Variant& Value() const { return rs_->Value(index_); }
  void SetValue(Variant v) { rs_->SetValue(index_, std::move(v)); }

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "Field"; }

 private:
  std::shared_ptr<Recordset> rs_;
  size_t index_;
};

// The recordset's field collection: Count, Item(index or name) as default member, For Each.
class Fields : public Dispatch {
 public:
  explicit Fields(std::shared_ptr<Recordset> rs) : rs_(std::move(rs)) {}
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "Fields"; }
  bool Enumerate(std::vector<Variant>& items) override;

 private:
  std::shared_ptr<Recordset> rs_;
};

// Field index from a by-name argument: a number (0-based) or a name; 3265 when there is none.
size_t ResolveField(const Recordset& rs, const Variant& key);

}  // namespace fern::db
