// Scripting.Dictionary: insertion-ordered, hashed by key value.
#include <list>
#include <unordered_map>

#include "platform/text.h"
#include "script/runtime_util.h"

namespace fern::script::rt {

namespace {

// A key as the dictionary compares it: numbers by value whatever their width (1 and 1.0 meet),
// text by its characters (folded in text mode), objects by identity; "1" and 1 stay apart.
struct Key {
  enum Kind : uint8_t { kEmpty, kNull, kNumber, kDate, kBool, kText, kObject } kind = kEmpty;
  double number = 0;
  std::string text;
  const void* object = nullptr;

  bool operator==(const Key& o) const {
    return kind == o.kind && number == o.number && text == o.text && object == o.object;
  }
};

struct KeyHash {
  size_t operator()(const Key& k) const noexcept {
    size_t h = std::hash<int>()(k.kind);
    switch (k.kind) {
      case Key::kNumber:
      case Key::kDate:
      case Key::kBool:
        h ^= std::hash<double>()(k.number) * 31;
        break;
      case Key::kText:
        h ^= std::hash<std::string>()(k.text) * 31;
        break;
      case Key::kObject:
        h ^= std::hash<const void*>()(k.object) * 31;
        break;
      default:
        break;
    }
    return h;
  }
};

class Dictionary : public Dispatch {
 public:
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "Dictionary"; }
  bool Enumerate(std::vector<Variant>& items) override {
    for (const Entry& e : entries_) items.push_back(e.key);
    return true;
  }

 private:
  struct Entry {
    Variant key;
    Variant item;
  };
  using Iter = std::list<Entry>::iterator;

  Key MakeKey(const Variant& v) const;
  Iter Find(const Variant& key) {
    auto it = index_.find(MakeKey(key));
    return it == index_.end() ? entries_.end() : it->second;
  }
  Iter Insert(const Variant& key, Variant item) {
    entries_.push_back({key, std::move(item)});
    Iter it = std::prev(entries_.end());
    index_.emplace(MakeKey(key), it);
    return it;
  }
  Variant Array(bool keys) const {
    std::vector<Variant> out;
    out.reserve(entries_.size());
    for (const Entry& e : entries_) out.push_back(keys ? e.key : e.item);
    return MakeArray(std::move(out));
  }

  std::list<Entry> entries_;
  std::unordered_map<Key, Iter, KeyHash> index_;
  bool textMode_ = false;
  int32_t compareMode_ = 0;
};

Key Dictionary::MakeKey(const Variant& v) const {
  Key k;
  switch (v.type()) {
    case VType::Empty:
      k.kind = Key::kEmpty;
      break;
    case VType::Null:
      k.kind = Key::kNull;
      break;
    case VType::Integer:
      k.kind = Key::kNumber, k.number = v.intVal();
      break;
    case VType::Long:
      k.kind = Key::kNumber, k.number = v.longVal();
      break;
    case VType::Single:
      k.kind = Key::kNumber, k.number = v.singleVal();
      break;
    case VType::Double:
      k.kind = Key::kNumber, k.number = v.doubleVal();
      break;
    case VType::Byte:
      k.kind = Key::kNumber, k.number = v.byteVal();
      break;
    case VType::Currency:
      k.kind = Key::kNumber, k.number = static_cast<double>(v.currencyVal()) / 10000.0;
      break;
    case VType::Date:
      k.kind = Key::kDate, k.number = v.dateVal();
      break;
    case VType::Boolean:
      k.kind = Key::kBool, k.number = v.boolVal() ? 1 : 0;
      break;
    case VType::String:
      k.kind = Key::kText;
      k.text = textMode_ ? text::FoldCase(v.str()) : v.str();
      break;
    case VType::Object:
      k.kind = Key::kObject, k.object = v.obj().get();
      break;
    default:
      Raise(err::kTypeMismatch);
  }
  if (k.number == 0) k.number = 0;  // -0 and 0 are one key
  return k;
}

Variant Dictionary::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  if (name.empty() || NameIs(name, "Item")) {
    if (kind & (kPropLet | kPropSet)) {
      CheckArgCount(args, 2, 2, "Item");
      Iter it = Find(args[0]);
      if (it == entries_.end())
        Insert(args[0], args[1]);
      else
        it->item = args[1];
      return Variant();
    }
    CheckArgCount(args, 1, 1, "Item");
    Iter it = Find(args[0]);
    // Reading a missing key adds it with an Empty item, as VBScript's dictionary does.
    if (it == entries_.end()) it = Insert(args[0], Variant());
    return it->item;
  }
  if (NameIs(name, "Add")) {
    CheckArgCount(args, 2, 2, name);
    if (Find(args[0]) != entries_.end()) Raise(kDuplicateKey);
    Insert(args[0], args[1]);
    return Variant();
  }
  if (NameIs(name, "Exists")) {
    CheckArgCount(args, 1, 1, name);
    return Variant(Find(args[0]) != entries_.end());
  }
  if (NameIs(name, "Key")) {
    if (!(kind & (kPropLet | kPropSet))) ThrowNoMember(name);  // Key can only be assigned
    CheckArgCount(args, 2, 2, name);
    Iter it = Find(args[0]);
    if (it == entries_.end()) Raise(kElementNotFound);
    if (Find(args[1]) != entries_.end()) Raise(kDuplicateKey);
    index_.erase(MakeKey(it->key));
    Variant gone = std::move(it->key);
    it->key = args[1];
    index_.emplace(MakeKey(it->key), it);
    return Variant();
  }
  if (NameIs(name, "Items") || NameIs(name, "Keys")) {
    CheckArgCount(args, 0, 0, name);
    return Array(NameIs(name, "Keys"));
  }
  if (NameIs(name, "Remove")) {
    CheckArgCount(args, 1, 1, name);
    auto it = index_.find(MakeKey(args[0]));
    if (it == index_.end()) Raise(kElementNotFound);
    // The entry is gone before its values are: their Class_Terminate may use this dictionary.
    Entry gone = std::move(*it->second);
    entries_.erase(it->second);
    index_.erase(it);
    return Variant();
  }
  if (NameIs(name, "RemoveAll")) {
    CheckArgCount(args, 0, 0, name);
    std::list<Entry> gone;
    gone.swap(entries_);
    index_.clear();
    return Variant();
  }
  if (NameIs(name, "Count")) {
    CheckArgCount(args, 0, 0, name);
    return Variant::Whole(static_cast<int64_t>(entries_.size()));
  }
  if (NameIs(name, "CompareMode")) {
    if (kind & kPropLet) {
      CheckArgCount(args, 1, 1, name);
      int32_t mode = ArgLng(args, 0);
      // The mode decides how keys hash, so it can only change while the dictionary is empty.
      if (mode < 0 || !entries_.empty()) Raise(err::kInvalidArgument);
      compareMode_ = mode;
      textMode_ = mode != 0;
      return Variant();
    }
    CheckArgCount(args, 0, 0, name);
    return Variant(compareMode_);
  }
  ThrowNoMember(name);
}

}  // namespace

std::shared_ptr<Dispatch> NewDictionary() { return std::make_shared<Dictionary>(); }

}  // namespace fern::script::rt
