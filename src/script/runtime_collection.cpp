// VB's Collection: 1-based positions, optional text keys compared without regard to case.
#include <algorithm>
#include <unordered_set>

#include "platform/text.h"
#include "platform/vb.h"
#include "script/runtime_util.h"

namespace fern::script {

namespace {

using rt::Raise;

class Collection : public Dispatch {
 public:
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "Collection"; }
  bool Enumerate(std::vector<Variant>& items) override {
    for (const Entry& e : entries_) items.push_back(e.item);
    return true;
  }

 private:
  struct Entry {
    Variant item;
    std::string foldedKey;  // empty when the item has no key
  };

  // Position (0-based) of an index or key: error 9 for an index out of range, 5 for an unknown
  // key, 13 for anything that is neither.
  size_t Locate(const Variant& indexOrKey) const;
  void Add(std::span<Variant> args);

  std::vector<Entry> entries_;
  std::unordered_set<std::string> keys_;  // folded keys in use
};

size_t Collection::Locate(const Variant& raw) const {
  Variant v = rt::ValueOf(raw);
  if (v.IsString()) {
    std::string folded = text::FoldCase(v.str());
    if (!folded.empty() && keys_.count(folded)) {
      for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].foldedKey == folded) return i;
    }
    Raise(err::kInvalidArgument);
  }
  if (!v.IsNumber() && v.type() != VType::Boolean && v.type() != VType::Date && !v.IsEmpty())
    Raise(err::kTypeMismatch);
  int32_t index = vb::CLng(v, CallerLocale());
  if (index < 1 || static_cast<size_t>(index) > entries_.size()) Raise(err::kSubscript);
  return static_cast<size_t>(index - 1);
}

void Collection::Add(std::span<Variant> args) {
  CheckArgCount(args, 1, 4, "Add");
  Entry entry{args[0], {}};
  if (rt::Given(args, 1)) {
    Variant key = rt::ValueOf(args[1]);
    if (!key.IsString()) Raise(err::kTypeMismatch);
    entry.foldedKey = text::FoldCase(key.str());
    if (keys_.count(entry.foldedKey)) Raise(rt::kDuplicateKey);
  }
  bool before = rt::Given(args, 2), after = rt::Given(args, 3);
  if (before && after) Raise(err::kInvalidArgument);
  size_t pos = entries_.size();
  if (before) pos = Locate(args[2]);
  if (after) pos = Locate(args[3]) + 1;
  if (!entry.foldedKey.empty()) keys_.insert(entry.foldedKey);
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(entry));
}

Variant Collection::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  if (name.empty() || NameIs(name, "Item")) {
    if (kind & (kPropLet | kPropSet)) Raise(err::kInvalidArgument);  // items are read-only
    CheckArgCount(args, 1, 1, "Item");
    return entries_[Locate(args[0])].item;
  }
  if (NameIs(name, "Add")) {
    Add(args);
    return Variant();
  }
  if (NameIs(name, "Count")) {
    CheckArgCount(args, 0, 0, name);
    return Variant::Whole(static_cast<int64_t>(entries_.size()));
  }
  if (NameIs(name, "Remove")) {
    CheckArgCount(args, 1, 1, name);
    size_t pos = Locate(args[0]);
    if (!entries_[pos].foldedKey.empty()) keys_.erase(entries_[pos].foldedKey);
    // Out of the collection before it goes: its Class_Terminate may use the collection.
    Entry gone = std::move(entries_[pos]);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(pos));
    return Variant();
  }
  ThrowNoMember(name);
}

}  // namespace

std::shared_ptr<Dispatch> NewCollection() { return std::make_shared<Collection>(); }

}  // namespace fern::script
