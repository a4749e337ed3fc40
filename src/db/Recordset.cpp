#include "db/Recordset.h"

#include <algorithm>
#include <cctype>

#include "db/criteria.h"
#include "db/german_text.h"
#include "platform/text.h"
#include "platform/vb.h"

namespace fern::db {

namespace {

[[noreturn]] void NoCurrentRecord() {
  throw HostError(dberr::kNoCurrentRecord,
                  "Either BOF or EOF is True, or the current record has been deleted. Requested "
                  "operation requires a current record.",
                  "Recordset");
}

[[noreturn]] void NotFound(std::string_view what) {
  throw HostError(dberr::kItemNotFound,
                  "Item cannot be found in the collection corresponding to the requested name "
                  "or ordinal: " +
                      std::string(what),
                  "Recordset");
}

[[noreturn]] void BadArgument(std::string_view what) {
  throw HostError(dberr::kArgument,
                  "Arguments are of the wrong type, are out of acceptable range, or are in "
                  "conflict with one another: " +
                      std::string(what),
                  "Recordset");
}

bool IsDateType(int t) { return t == adtype::kDate || t == adtype::kDBTimeStamp; }

}  // namespace

std::shared_ptr<Recordset> Recordset::Create(std::vector<FieldInfo> fields) {
  return std::make_shared<Recordset>(std::move(fields));
}

Recordset::Recordset(std::vector<FieldInfo> fields)
    : fields_(std::move(fields)), cache_(fields_.size()), cacheStamp_(fields_.size(), 0) {
  for (size_t i = 0; i < fields_.size(); ++i) byName_.emplace(FoldKey(fields_[i].name), i);
}

Recordset::~Recordset() = default;

// Reads a row's fields for criteria, one scratch Variant per field.
class RowAccess final : public FieldSource {
 public:
  explicit RowAccess(const Recordset& rs) : rs_(rs), scratch_(rs.fields_.size()) {}
  void SetRow(size_t row) { row_ = row; }
  const Variant& Get(size_t field) const override {
    return rs_.CellValue(row_, field, scratch_[field]);
  }

 private:
  const Recordset& rs_;
  size_t row_ = 0;
  mutable std::vector<Variant> scratch_;
};

void Recordset::LoadRow(std::vector<Variant> values) {
  values.resize(fields_.size());
  Row row;
  row.values = std::make_unique<std::vector<Variant>>(std::move(values));
  rows_.push_back(std::move(row));
  view_.push_back(static_cast<uint32_t>(rows_.size() - 1));
}

void Recordset::PushCell(VType t, uint32_t len, int64_t bits) {
  Cell c;
  c.type = t;
  c.len = len;
  c.u.i = bits;
  cells_.push_back(c);
  ++loadedCells_;
}

void Recordset::LoadNull() { PushCell(VType::Null, 0, 0); }
void Recordset::LoadLong(int32_t v) { PushCell(VType::Long, 0, v); }
void Recordset::LoadBool(bool v) { PushCell(VType::Boolean, 0, v ? 1 : 0); }
void Recordset::LoadByte(uint8_t v) { PushCell(VType::Byte, 0, v); }
void Recordset::LoadCurrency(int64_t scaled) { PushCell(VType::Currency, 0, scaled); }

void Recordset::LoadDouble(double v) {
  PushCell(VType::Double, 0, 0);
  cells_.back().u.d = v;
}

void Recordset::LoadDate(double serial) {
  PushCell(VType::Date, 0, 0);
  cells_.back().u.d = serial;
}

void Recordset::LoadText(std::string_view v) {
  uint64_t off = arena_.size();
  arena_.append(v);
  PushCell(VType::String, static_cast<uint32_t>(v.size()), 0);
  cells_.back().u.off = off;
}

void Recordset::EndLoadedRow() {
  while (loadedCells_ < fields_.size()) LoadNull();
  loadedCells_ = 0;
  Row row;
  if (fields_.empty())
    row.values = std::make_unique<std::vector<Variant>>();
  else
    row.cellRow = static_cast<uint32_t>(cells_.size() / fields_.size() - 1);
  rows_.push_back(std::move(row));
  view_.push_back(static_cast<uint32_t>(rows_.size() - 1));
}

void Recordset::Materialize(const Cell& c, Variant& into) const {
  switch (c.type) {
    case VType::String: {
      std::string_view sv(arena_.data() + c.u.off, c.len);
      if (into.IsString())
        into.str().assign(sv);  // reuses the buffer the slot already has
      else
        into = Variant(sv);
      return;
    }
    case VType::Long:
      into = Variant(static_cast<int32_t>(c.u.i));
      return;
    case VType::Double:
      into = Variant(c.u.d);
      return;
    case VType::Date:
      into = Variant::Date(c.u.d);
      return;
    case VType::Boolean:
      into = Variant(c.u.i != 0);
      return;
    case VType::Byte:
      into = Variant::Byte(static_cast<uint8_t>(c.u.i));
      return;
    case VType::Currency:
      into = Variant::Currency(c.u.i);
      return;
    default:
      into = Variant::Null();
      return;
  }
}

const Variant& Recordset::CellValue(size_t row, size_t field, Variant& scratch) const {
  const Row& r = rows_[row];
  if (r.values) return (*r.values)[field];
  Materialize(cells_[static_cast<size_t>(r.cellRow) * fields_.size() + field], scratch);
  return scratch;
}

std::vector<Variant>& Recordset::EnsureValues(Row& row) {
  if (!row.values) {
    auto values = std::make_unique<std::vector<Variant>>(fields_.size());
    for (size_t f = 0; f < fields_.size(); ++f)
      Materialize(cells_[static_cast<size_t>(row.cellRow) * fields_.size() + f], (*values)[f]);
    row.values = std::move(values);
  }
  return *row.values;
}

void Recordset::SetFieldType(size_t index, int type) { fields_.at(index).type = type; }

void Recordset::CheckOpen() const {
  if (!open_)
    throw HostError(dberr::kClosed, "Operation is not allowed when the object is closed.",
                    "Recordset");
}

void Recordset::Close() {
  CheckOpen();
  open_ = false;
  rows_.clear();
  view_.clear();
  cells_.clear();
  arena_.clear();
  filterCriteria_.reset();
  Invalidate();
}

size_t Recordset::FieldCount() const { return fields_.size(); }

const FieldInfo& Recordset::Info(size_t index) const {
  if (index >= fields_.size()) NotFound(std::to_string(index));
  return fields_[index];
}

int Recordset::FindField(std::string_view name) const {
  auto it = byName_.find(FoldKey(name));
  return it == byName_.end() ? -1 : static_cast<int>(it->second);
}

size_t Recordset::FieldIndex(std::string_view name) const {
  int i = FindField(name);
  if (i < 0) NotFound(name);
  return static_cast<size_t>(i);
}

int64_t Recordset::CurrentRowIndex() const {
  if (onDeleted_ || pos_ < 0 || pos_ >= ViewSize()) return -1;
  return view_[static_cast<size_t>(pos_)];
}

const Recordset::Row& Recordset::CurrentRow() const {
  CheckOpen();
  int64_t r = CurrentRowIndex();
  if (r < 0) NoCurrentRecord();
  return rows_[static_cast<size_t>(r)];
}

Recordset::Row& Recordset::CurrentRow() {
  return const_cast<Row&>(static_cast<const Recordset*>(this)->CurrentRow());
}

const Variant& Recordset::Value(size_t index) const {
  const Row& row = CurrentRow();
  if (index >= fields_.size()) NotFound(std::to_string(index));
  if (row.values) return (*row.values)[index];
  int64_t r = CurrentRowIndex();
  if (cacheRow_ != r) {
    cacheRow_ = r;
    ++stamp_;
  }
  if (cacheStamp_[index] != stamp_) {
    Materialize(cells_[static_cast<size_t>(row.cellRow) * fields_.size() + index], cache_[index]);
    cacheStamp_[index] = stamp_;
  }
  return cache_[index];
}

void Recordset::SetValue(size_t index, Variant v) {
  Row& row = CurrentRow();
  if (index >= fields_.size()) NotFound(std::to_string(index));
  int64_t r = CurrentRowIndex();
  // A date field keeps dates: text such as "31.12.2024" becomes the date it names.
  if (IsDateType(fields_[index].type) && v.IsString() && !v.str().empty())
    v = Variant::Date(vb::CDate(v));
  std::vector<Variant>& values = EnsureValues(row);
  if (editRow_ != r) {
    EndEdit();
    editRow_ = r;
    editIsNew_ = false;
    editBackup_ = values;
    editBackupState_ = row.state;
  }
  if (row.state == RowState::Unchanged) {
    row.original = std::make_unique<std::vector<Variant>>(values);
    row.state = RowState::Modified;
  }
  values[index] = std::move(v);
}

std::shared_ptr<Field> Recordset::FieldAt(size_t index) {
  CheckOpen();
  if (index >= fields_.size()) NotFound(std::to_string(index));
  return std::make_shared<Field>(std::static_pointer_cast<Recordset>(shared_from_this()), index);
}

std::shared_ptr<Fields> Recordset::GetFields() {
  CheckOpen();
  return std::make_shared<Fields>(std::static_pointer_cast<Recordset>(shared_from_this()));
}

// --- navigation ---------------------------------------------------------------------------

bool Recordset::Eof() const {
  CheckOpen();
  if (onDeleted_) return false;
  return view_.empty() || pos_ >= ViewSize();
}

bool Recordset::Bof() const {
  CheckOpen();
  if (onDeleted_) return false;
  return view_.empty() || pos_ < 0;
}

void Recordset::EndEdit() {
  editRow_ = -1;
  editIsNew_ = false;
  editBackup_.clear();
}

void Recordset::MoveFirst() {
  CheckOpen();
  EndEdit();
  onDeleted_ = false;
  pos_ = 0;
}

void Recordset::MoveLast() {
  CheckOpen();
  EndEdit();
  onDeleted_ = false;
  pos_ = ViewSize() - 1;
  if (pos_ < 0) pos_ = 0;
}

void Recordset::MoveNext() {
  CheckOpen();
  EndEdit();
  if (onDeleted_) {
    onDeleted_ = false;
    return;
  }
  if (Eof()) NoCurrentRecord();
  ++pos_;
}

void Recordset::MovePrevious() {
  CheckOpen();
  EndEdit();
  if (onDeleted_) {
    onDeleted_ = false;
    --pos_;
    return;
  }
  if (Bof()) NoCurrentRecord();
  --pos_;
}

void Recordset::Move(int64_t n) {
  CheckOpen();
  if (n == 0) return;
  EndEdit();
  if (onDeleted_ && n > 0) --n;
  onDeleted_ = false;
  pos_ = std::clamp<int64_t>(pos_ + n, -1, ViewSize());
}

int64_t Recordset::RecordCount() const {
  CheckOpen();
  return ViewSize();
}

int64_t Recordset::AbsolutePosition() const {
  CheckOpen();
  if (view_.empty()) return -1;
  if (pos_ < 0) return -2;
  if (pos_ >= ViewSize()) return -3;
  return pos_ + 1;
}

void Recordset::SetAbsolutePosition(int64_t pos) {
  CheckOpen();
  if (pos < 1 || pos > ViewSize()) BadArgument("AbsolutePosition " + std::to_string(pos));
  EndEdit();
  onDeleted_ = false;
  pos_ = pos - 1;
}

// --- filter, find, sort -------------------------------------------------------------------

void Recordset::Rebuild(int64_t keepRow) {
  view_.clear();
  RowAccess access(*this);
  for (size_t r = 0; r < rows_.size(); ++r) {
    if (rows_[r].state == RowState::Deleted) continue;
    if (filterCriteria_) {
      access.SetRow(r);
      if (!filterCriteria_->Matches(access)) continue;
    }
    view_.push_back(static_cast<uint32_t>(r));
  }
  if (!sortKeys_.empty()) {
    // The sort keys once per row, then a stable sort of positions over them.
    size_t k = sortKeys_.size();
    std::vector<Variant> keys(view_.size() * k);
    Variant scratch;
    for (size_t i = 0; i < view_.size(); ++i)
      for (size_t j = 0; j < k; ++j)
        keys[i * k + j] = CellValue(view_[i], sortKeys_[j].first, scratch);
    std::vector<uint32_t> order(view_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      for (size_t j = 0; j < k; ++j) {
        int c = CompareValues(keys[a * k + j], keys[b * k + j]);
        if (c != 0) return sortKeys_[j].second ? c > 0 : c < 0;
      }
      return false;
    });
    std::vector<uint32_t> sorted(view_.size());
    for (size_t i = 0; i < order.size(); ++i) sorted[i] = view_[order[i]];
    view_ = std::move(sorted);
  }
  onDeleted_ = false;
  pos_ = 0;
  if (keepRow >= 0) {
    auto it = std::find(view_.begin(), view_.end(), static_cast<uint32_t>(keepRow));
    if (it != view_.end()) pos_ = it - view_.begin();
  }
}

void Recordset::SetFilter(std::string_view criteria) {
  CheckOpen();
  EndEdit();
  const std::string trimmed(text::TrimWhiteSpace(criteria));
  if (trimmed.empty() || trimmed == "0") {
    filterCriteria_.reset();
    filter_.clear();
  } else {
    filterCriteria_ =
        std::make_shared<Criteria>(trimmed, [this](std::string_view n) { return FindField(n); });
    filter_ = std::string(criteria);
  }
  Rebuild(-1);
}

bool Recordset::Find(std::string_view criteria, int64_t skip, SearchDirection dir,
                     FindStart start) {
  CheckOpen();
  EndEdit();
  Criteria crit(criteria, [this](std::string_view n) { return FindField(n); });
  if (skip < 0) BadArgument("SkipRecords " + std::to_string(skip));
  int64_t n = ViewSize();
  bool forward = dir == SearchDirection::Forward;
  int64_t i;
  switch (start) {
    case FindStart::First:
      i = 0;
      break;
    case FindStart::Last:
      i = n - 1;
      break;
    default:
      i = pos_;
      if (onDeleted_ && !forward) --i;  // pos_ already names the row after the deleted one
      break;
  }
  onDeleted_ = false;
  RowAccess access(*this);
  auto matches = [&](int64_t at) {
    access.SetRow(view_[static_cast<size_t>(at)]);
    return crit.Matches(access);
  };
  if (forward) {
    for (i = std::max<int64_t>(i, 0) + skip; i < n; ++i)
      if (matches(i)) {
        pos_ = i;
        return true;
      }
    pos_ = n;
  } else {
    for (i = std::min<int64_t>(i, n - 1) - skip; i >= 0; --i)
      if (matches(i)) {
        pos_ = i;
        return true;
      }
    pos_ = -1;
  }
  return false;
}

void Recordset::SetSort(std::string_view sort) {
  CheckOpen();
  EndEdit();
  std::vector<std::pair<size_t, bool>> keys;
  std::string_view rest = sort;
  while (!text::TrimWhiteSpace(rest).empty()) {
    size_t comma = rest.find(',');
    std::string item(text::TrimWhiteSpace(rest.substr(0, comma)));
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    if (item.empty()) BadArgument("Sort \"" + std::string(sort) + "\"");
    bool desc = false;
    size_t sp = item.find_last_of(" \t");
    if (sp != std::string::npos && item.back() != ']') {
      std::string dirWord = text::UpperAscii(item.substr(sp + 1));
      if (dirWord == "DESC" || dirWord == "ASC") {
        desc = dirWord == "DESC";
        item = std::string(text::TrimWhiteSpace(item.substr(0, sp)));
      }
    }
    if (item.size() >= 2 && item.front() == '[' && item.back() == ']')
      item = item.substr(1, item.size() - 2);
    int f = FindField(item);
    if (f < 0) NotFound(item);
    keys.emplace_back(static_cast<size_t>(f), desc);
  }
  sortKeys_ = std::move(keys);
  sort_ = std::string(sort);
  Rebuild(CurrentRowIndex());
}

// --- editing ------------------------------------------------------------------------------

void Recordset::AddNew() {
  CheckOpen();
  EndEdit();
  beforeAddNew_ = CurrentRowIndex();
  Row row;
  row.state = RowState::New;
  row.added = true;
  row.values = std::make_unique<std::vector<Variant>>(fields_.size());
  rows_.push_back(std::move(row));
  view_.push_back(static_cast<uint32_t>(rows_.size() - 1));
  onDeleted_ = false;
  pos_ = ViewSize() - 1;
  editRow_ = static_cast<int64_t>(rows_.size() - 1);
  editIsNew_ = true;
}

void Recordset::Update() {
  CheckOpen();
  EndEdit();
}

void Recordset::CancelUpdate() {
  CheckOpen();
  if (editRow_ < 0) return;
  size_t r = static_cast<size_t>(editRow_);
  if (editIsNew_) {
    // The added row is always the last one: nothing else can happen before its edit ends.
    view_.erase(std::remove(view_.begin(), view_.end(), static_cast<uint32_t>(r)), view_.end());
    rows_.pop_back();
    EndEdit();
    Invalidate();
    Rebuild(beforeAddNew_);
    return;
  }
  Row& row = rows_[r];
  *row.values = std::move(editBackup_);
  row.state = editBackupState_;
  if (row.state == RowState::Unchanged) row.original.reset();
  EndEdit();
}

void Recordset::Delete() {
  Row& row = CurrentRow();
  EndEdit();
  EnsureValues(row);  // the write-back needs its key
  row.state = RowState::Deleted;
  Invalidate();
  view_.erase(view_.begin() + pos_);
  onDeleted_ = true;
}

RowState Recordset::CurrentRowState() const { return CurrentRow().state; }

// --- write-back ---------------------------------------------------------------------------

std::vector<Recordset::Change> Recordset::PendingChanges() {
  CheckOpen();
  EndEdit();
  std::vector<Change> out;
  for (size_t r = 0; r < rows_.size(); ++r) {
    const Row& row = rows_[r];
    if (row.state == RowState::Unchanged) continue;
    if (row.state == RowState::Deleted && row.added) continue;
    RowState st = row.added ? RowState::New : row.state;
    out.push_back({r, st, row.values.get(), row.original ? row.original.get() : nullptr});
  }
  return out;
}

bool Recordset::HasChanges() const {
  for (const Row& row : rows_)
    if (row.state != RowState::Unchanged && !(row.state == RowState::Deleted && row.added))
      return true;
  return false;
}

void Recordset::SetRowValue(size_t row, size_t field, Variant v) {
  EnsureValues(rows_.at(row)).at(field) = std::move(v);
}

void Recordset::AcceptChanges() {
  CheckOpen();
  EndEdit();
  int64_t current = CurrentRowIndex();
  std::vector<int64_t> newIndex(rows_.size(), -1);
  std::vector<Row> kept;
  kept.reserve(rows_.size());
  for (size_t r = 0; r < rows_.size(); ++r) {
    if (rows_[r].state == RowState::Deleted) continue;
    newIndex[r] = static_cast<int64_t>(kept.size());
    Row row = std::move(rows_[r]);
    row.state = RowState::Unchanged;
    row.added = false;
    row.original.reset();
    kept.push_back(std::move(row));
  }
  rows_ = std::move(kept);
  Invalidate();
  int64_t keep = current >= 0 ? newIndex[static_cast<size_t>(current)] : -1;
  int64_t oldPos = pos_;
  Rebuild(keep);
  if (keep < 0) pos_ = std::clamp<int64_t>(oldPos, 0, ViewSize());
}

// --- Dispatch -----------------------------------------------------------------------------

size_t ResolveField(const Recordset& rs, const Variant& key) {
  if (key.IsString()) return rs.FieldIndex(key.str());
  if (key.IsNumber()) {
    int32_t i = vb::CLng(key);
    if (i < 0 || static_cast<size_t>(i) >= rs.FieldCount()) NotFound(std::to_string(i));
    return static_cast<size_t>(i);
  }
  NotFound("(no name)");
}

namespace {

FindStart StartFrom(const Variant& v) {
  if (v.IsMissing() || v.IsEmpty()) return FindStart::Current;
  switch (vb::CLng(v)) {
    case 0:
      return FindStart::Current;
    case 1:
      return FindStart::First;
    case 2:
      return FindStart::Last;
    default:
      BadArgument("Find start");
  }
}

bool Given(std::span<Variant> args, size_t i) {
  return args.size() > i && !args[i].IsMissing() && !args[i].IsEmpty();
}

}  // namespace

Variant Recordset::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  auto self = std::static_pointer_cast<Recordset>(shared_from_this());
  if (name.empty() || NameIs(name, "Fields") || NameIs(name, "Collect")) {
    if (args.empty()) {
      if (kind & (kPropLet | kPropSet)) ThrowNoMember(name);
      return Variant(std::static_pointer_cast<Dispatch>(GetFields()));
    }
    size_t f = ResolveField(*this, args[0]);
    if (kind & kPropLet) {
      CheckArgCount(args, 2, 2, name);
      SetValue(f, args[1]);
      return Variant();
    }
    CheckArgCount(args, 1, 1, name);
    if (NameIs(name, "Collect")) return Value(f);
    return Variant(std::static_pointer_cast<Dispatch>(FieldAt(f)));
  }
  if (NameIs(name, "EOF")) return Variant(Eof());
  if (NameIs(name, "BOF")) return Variant(Bof());
  if (NameIs(name, "MoveFirst")) return MoveFirst(), Variant();
  if (NameIs(name, "MoveLast")) return MoveLast(), Variant();
  if (NameIs(name, "MoveNext")) return MoveNext(), Variant();
  if (NameIs(name, "MovePrevious")) return MovePrevious(), Variant();
  if (NameIs(name, "Move")) {
    CheckArgCount(args, 1, 2, name);
    Move(vb::CLng(args[0]));
    return Variant();
  }
  if (NameIs(name, "RecordCount")) return Variant::Whole(RecordCount());
  if (NameIs(name, "AbsolutePosition")) {
    if (kind & kPropLet) {
      CheckArgCount(args, 1, 1, name);
      SetAbsolutePosition(vb::CLng(args[0]));
      return Variant();
    }
    return Variant::Whole(AbsolutePosition());
  }
  if (NameIs(name, "Filter")) {
    if (kind & kPropLet) {
      CheckArgCount(args, 1, 1, name);
      const Variant& v = args[0];
      if (v.IsString()) {
        SetFilter(v.str());
      } else if (v.IsEmpty() || (v.IsNumber() && vb::CLng(v) == 0)) {
        ClearFilter();
      } else {
        BadArgument("Filter");
      }
      return Variant();
    }
    if (filter_.empty()) return Variant(int32_t{0});
    return Variant(filter_);
  }
  if (NameIs(name, "Find")) {
    CheckArgCount(args, 1, 4, name);
    int64_t skip = Given(args, 1) ? vb::CLng(args[1]) : 0;
    SearchDirection dir = SearchDirection::Forward;
    if (Given(args, 2) && vb::CLng(args[2]) < 0) dir = SearchDirection::Backward;
    FindStart start = args.size() > 3 ? StartFrom(args[3]) : FindStart::Current;
    Find(vb::CStr(args[0]), skip, dir, start);
    return Variant();
  }
  if (NameIs(name, "Sort")) {
    if (kind & kPropLet) {
      CheckArgCount(args, 1, 1, name);
      SetSort(vb::CStr(args[0]));
      return Variant();
    }
    return Variant(sort_);
  }
  if (NameIs(name, "AddNew") || NameIs(name, "Update")) {
    CheckArgCount(args, 0, 2, name);
    if (NameIs(name, "AddNew")) AddNew();
    if (Given(args, 0)) {
      if (args[0].IsArray()) {
        const VArray& names = args[0].arr();
        if (!args[1].IsArray() || args[1].arr().data.size() != names.data.size())
          BadArgument(std::string(name) + " values");
        for (size_t i = 0; i < names.data.size(); ++i)
          SetValue(ResolveField(*this, names.data[i]), args[1].arr().data[i]);
      } else {
        if (args.size() < 2) BadArgument(std::string(name) + " values");
        SetValue(ResolveField(*this, args[0]), args[1]);
      }
    }
    if (NameIs(name, "Update")) Update();
    return Variant();
  }
  if (NameIs(name, "CancelUpdate")) return CancelUpdate(), Variant();
  if (NameIs(name, "Delete")) {
    CheckArgCount(args, 0, 1, name);
    Delete();
    return Variant();
  }
  if (NameIs(name, "Close")) return Close(), Variant();
  if (NameIs(name, "State")) return Variant(int32_t{State()});
  ThrowNoMember(name);
}

int32_t Field::ActualSize() const {
  const Variant& v = Value();
  if (v.IsNull() || v.IsEmpty()) return 0;
  if (v.IsString()) return static_cast<int32_t>(v.str().size());
  switch (v.type()) {
    case VType::Byte:
    case VType::Boolean:
      return v.type() == VType::Byte ? 1 : 2;
    case VType::Integer:
      return 2;
    case VType::Long:
    case VType::Single:
      return 4;
    default:
      return 8;
  }
}

Variant Field::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  if (name.empty() || NameIs(name, "Value")) {
    if (kind & kPropLet) {
      CheckArgCount(args, 1, 1, name);
      SetValue(args[0]);
      return Variant();
    }
    CheckArgCount(args, 0, 0, name.empty() ? "Value" : name);
    return Value();
  }
  if (NameIs(name, "Name")) return Variant(Name());
  if (NameIs(name, "Type")) return Variant(int32_t{Type()});
  if (NameIs(name, "DefinedSize")) return Variant(DefinedSize());
  if (NameIs(name, "ActualSize")) return Variant(ActualSize());
  ThrowNoMember(name);
}

Variant Fields::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  if (NameIs(name, "Count")) return Variant::Whole(static_cast<int64_t>(rs_->FieldCount()));
  if (name.empty() || NameIs(name, "Item")) {
    if (args.empty()) CheckArgCount(args, 1, 2, "Item");
    size_t f = ResolveField(*rs_, args[0]);
    if (kind & kPropLet) {
      CheckArgCount(args, 2, 2, name);
      rs_->SetValue(f, args[1]);
      return Variant();
    }
    CheckArgCount(args, 1, 1, "Item");
    return Variant(std::static_pointer_cast<Dispatch>(rs_->FieldAt(f)));
  }
  ThrowNoMember(name);
}

bool Fields::Enumerate(std::vector<Variant>& items) {
  items.clear();
  for (size_t i = 0; i < rs_->FieldCount(); ++i)
    items.emplace_back(std::static_pointer_cast<Dispatch>(rs_->FieldAt(i)));
  return true;
}

}  // namespace fern::db
