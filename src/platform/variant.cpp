#include "platform/variant.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <new>

#include "platform/dispatch.h"
#include "platform/host_error.h"

namespace fern {

namespace {
constexpr int32_t kParamNotFound = static_cast<int32_t>(0x80020004u);
const std::string kNoText;
}  // namespace

// Copies of a Variant share its text: passing a long text around costs no copy of it.
struct Variant::Text {
  explicit Text(std::string s) : text(std::move(s)) {}
  std::atomic<int32_t> refs{1};
  std::string text;
  // -1: not yet known. Reset whenever the text may change.
  mutable std::atomic<int64_t> chars{-1};
  mutable std::atomic<int8_t> ascii{-1};
  // The last character index asked for (high half) and its byte offset (low half).
  mutable std::atomic<uint64_t> cursor{0};
};

struct Variant::Object {
  explicit Object(std::shared_ptr<Dispatch> o) : p(std::move(o)) {}
  std::atomic<int32_t> refs{1};
  std::shared_ptr<Dispatch> p;
};

namespace {
const std::shared_ptr<Dispatch> kNoObject;
}  // namespace

// Values are moved about all the time: a type tag and one word.
static_assert(sizeof(Variant) == 16);

Variant::Variant(const char* s) : t_(VType::String) { u_.s = new Text(s ? s : ""); }
Variant::Variant(std::string_view s) : t_(VType::String) { u_.s = new Text(std::string(s)); }
Variant::Variant(std::string s) : t_(VType::String) { u_.s = new Text(std::move(s)); }

const std::string& Variant::str() const noexcept {
  return t_ == VType::String && u_.s ? u_.s->text : kNoText;
}

std::string& Variant::str() {
  if (t_ != VType::String) {
    // Only texts are written to; anything else becomes an empty one.
    if (Owns()) Release();
    t_ = VType::String;
    u_.s = nullptr;
  }
  Text*& tx = u_.s;
  if (!tx) {
    tx = new Text(std::string());
  } else if (tx->refs.load(std::memory_order_acquire) > 1) {
    Text* own = new Text(tx->text);
    if (tx->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete tx;
    tx = own;
  } else {
    tx->chars.store(-1, std::memory_order_relaxed);
    tx->ascii.store(-1, std::memory_order_relaxed);
    tx->cursor.store(0, std::memory_order_relaxed);
  }
  return tx->text;
}

bool Variant::TextIsAscii() const noexcept {
  if (t_ != VType::String || !u_.s) return true;
  Text* tx = u_.s;
  int8_t known = tx->ascii.load(std::memory_order_relaxed);
  if (known >= 0) return known == 1;
  bool ascii = true;
  for (char c : tx->text)
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  tx->ascii.store(ascii ? 1 : 0, std::memory_order_relaxed);
  return ascii;
}

size_t Variant::TextChars() const noexcept {
  if (t_ != VType::String || !u_.s) return 0;
  Text* tx = u_.s;
  int64_t known = tx->chars.load(std::memory_order_relaxed);
  if (known >= 0) return static_cast<size_t>(known);
  size_t n = 0;
  if (TextIsAscii()) {
    n = tx->text.size();
  } else {
    for (char c : tx->text)
      if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  tx->chars.store(static_cast<int64_t>(n), std::memory_order_relaxed);
  return n;
}
size_t Variant::TextOffset(size_t index) const noexcept {
  if (t_ != VType::String || !u_.s) return 0;
  Text* tx = u_.s;
  const std::string& t = tx->text;
  if (TextIsAscii()) return index < t.size() ? index : t.size();
  uint64_t c = tx->cursor.load(std::memory_order_relaxed);
  size_t ch = c >> 32, at = c & 0xFFFFFFFFu;
  if (index < ch && index < ch - index) ch = at = 0;  // nearer the start than the place
  auto follows = [&t](size_t i) { return (static_cast<unsigned char>(t[i]) & 0xC0) == 0x80; };
  while (ch < index && at < t.size()) {
    ++at;
    while (at < t.size() && follows(at)) ++at;
    ++ch;
  }
  while (ch > index) {
    --at;
    while (at > 0 && follows(at)) --at;
    --ch;
  }
  if (t.size() <= 0xFFFFFFFFu) {
    uint64_t high = ch;
    tx->cursor.store((high << 32) | at, std::memory_order_relaxed);
  }
  return at;
}

Variant::Variant(std::shared_ptr<Dispatch> o) : t_(VType::Object) {
  u_.o = o ? new Object(std::move(o)) : nullptr;
}
Variant::Variant(VArray a) : t_(VType::Array) { u_.a = new VArray(std::move(a)); }

const std::shared_ptr<Dispatch>& Variant::obj() const noexcept {
  return t_ == VType::Object && u_.o ? u_.o->p : kNoObject;
}

Variant Variant::Null() noexcept {
  Variant v;
  v.t_ = VType::Null;
  return v;
}
Variant Variant::Nothing() { return Variant(std::shared_ptr<Dispatch>()); }
Variant Variant::Missing() noexcept { return Error(kParamNotFound); }
Variant Variant::Byte(uint8_t b) noexcept {
  Variant v;
  v.t_ = VType::Byte;
  v.u_.by = b;
  return v;
}
Variant Variant::Single(float f) noexcept {
  Variant v;
  v.t_ = VType::Single;
  v.u_.f = f;
  return v;
}
Variant Variant::Date(double serial) noexcept {
  Variant v;
  v.t_ = VType::Date;
  v.u_.d = serial;
  return v;
}
Variant Variant::Currency(int64_t scaled) noexcept {
  Variant v;
  v.t_ = VType::Currency;
  v.u_.cy = scaled;
  return v;
}
Variant Variant::Error(int32_t code) noexcept {
  Variant v;
  v.t_ = VType::Error;
  v.u_.l = code;
  return v;
}
Variant Variant::Whole(int64_t x) noexcept {
  if (x >= INT32_MIN && x <= INT32_MAX) return Variant(static_cast<int32_t>(x));
  return Variant(static_cast<double>(x));
}

bool Variant::IsNothing() const noexcept { return t_ == VType::Object && !u_.o; }
bool Variant::IsMissing() const noexcept { return t_ == VType::Error && u_.l == kParamNotFound; }
bool Variant::IsNumber() const noexcept {
  switch (t_) {
    case VType::Integer:
    case VType::Long:
    case VType::Single:
    case VType::Double:
    case VType::Currency:
    case VType::Byte:
      return true;
    default:
      return false;
  }
}

Variant& Variant::operator=(const Variant& o) {
  if (this != &o) {
    // Copied first, as `o` may live inside the value being replaced; in place before that one
    // goes (see the move).
    Variant copy(o);
    Variant old(std::move(*this));
    MoveFrom(copy);
  }
  return *this;
}

// Only for texts, objects and arrays; the caller has copied type and value.
void Variant::CopyFrom(const Variant& o) {
  switch (o.t_) {
    case VType::String:
      if (u_.s) u_.s->refs.fetch_add(1, std::memory_order_relaxed);
      break;
    case VType::Object:
      if (u_.o) u_.o->refs.fetch_add(1, std::memory_order_relaxed);
      break;
    case VType::Array:
      u_.a = CopyArray(*o.u_.a);
      break;
    default:
      break;
  }
}

void Variant::Release() noexcept {
  // Empty before anything goes: a Class_Terminate run from here may look at this value.
  VType t = t_;
  auto u = u_;
  t_ = VType::Empty;
  switch (t) {
    case VType::String:
      if (u.s && u.s->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete u.s;
      break;
    case VType::Object:
      if (u.o && u.o->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) Free(t, u.o);
      break;
    case VType::Array:
      Free(t, u.a);
      break;
    default:
      break;
  }
}

namespace {

struct Pending {
  VType type;
  void* p;
};
// What the values freed so far held, waiting their turn; nullptr when no freeing is in
// progress on this thread. Kept by the outermost Free: nothing of it outlives that call.
thread_local std::vector<Pending>* pending = nullptr;
// The scopes open on this thread, and the freeing in progress (see FreeingRound).
thread_local int scopes = 0;
thread_local uint64_t round = 0;

}  // namespace

void Variant::Drain(void* list) noexcept {
  auto& waiting = *static_cast<std::vector<Pending>*>(list);
  auto destroy = [](Pending item) {
    if (item.type == VType::Object)
      delete static_cast<Object*>(item.p);
    else
      delete static_cast<VArray*>(item.p);
  };
  // What one value held was pushed in order; reversed, its first is taken next, so that each
  // goes before what it held itself and that before the next one its holder held.
  std::reverse(waiting.begin(), waiting.end());
  while (!waiting.empty()) {
    const Pending next = waiting.back();
    waiting.pop_back();
    const size_t held = waiting.size();
    destroy(next);
    std::reverse(waiting.begin() + static_cast<ptrdiff_t>(held), waiting.end());
  }
}

void Variant::Free(VType t, void* p) noexcept {
  if (pending) {
    try {
      pending->push_back({t, p});
      return;
    } catch (...) {
      // Out of memory: freed here, one level deeper.
    }
  }
  if (!pending && scopes == 0) ++round;
  std::vector<Pending> waiting;
  std::vector<Pending>* const outer = pending;
  pending = &waiting;
  if (t == VType::Object)
    delete static_cast<Object*>(p);
  else
    delete static_cast<VArray*>(p);
  Drain(&waiting);
  pending = outer;
}

uint64_t Variant::FreeingRound() noexcept { return round; }

Variant::FreeingScope::FreeingScope(bool now) noexcept : outer_(pending) {
  if (!pending && scopes == 0) ++round;
  ++scopes;
  if (!now && pending) return;
  auto* own = now ? nullptr : new (std::nothrow) std::vector<Pending>;
  own_ = own;
  pending = own;  // out of memory: freed as it goes after all
}

Variant::FreeingScope::~FreeingScope() {
  if (auto* own = static_cast<std::vector<Pending>*>(own_)) {
    Drain(own);
    delete own;
  }
  pending = static_cast<std::vector<Pending>*>(outer_);
  --scopes;
}

namespace {
// The arrays still to be copied into the copy in progress on this thread: source and target.
thread_local std::vector<std::pair<const VArray*, VArray*>>* copying = nullptr;
}  // namespace

VArray* Variant::CopyArray(const VArray& from) {
  if (copying) {
    // An array inside the one being copied: an empty one now, filled in its turn.
    auto target = std::make_unique<VArray>();
    copying->emplace_back(&from, target.get());
    return target.release();
  }
  std::vector<std::pair<const VArray*, VArray*>> todo;
  Variant copy{VArray()};  // frees what was copied if the copy fails half-way
  todo.emplace_back(&from, copy.u_.a);
  copying = &todo;
  struct Done {
    ~Done() { copying = nullptr; }
  } done;
  while (!todo.empty()) {
    const auto [src, dst] = todo.back();
    todo.pop_back();
    dst->dims = src->dims;
    dst->fixed = src->fixed;
    dst->data = src->data;
  }
  VArray* out = copy.u_.a;
  copy.t_ = VType::Empty;
  return out;
}

// --- VArray ----------------------------------------------------------------------------------

VArray VArray::OneDim(int32_t ubound) {
  VArray a;
  a.dims.push_back({0, ubound + 1 > 0 ? ubound + 1 : 0});
  a.data.resize(a.dims[0].count);
  return a;
}

VArray VArray::FromList(std::vector<Variant> items) {
  VArray a;
  a.dims.push_back({0, static_cast<int32_t>(items.size())});
  a.data = std::move(items);
  return a;
}

int32_t VArray::LBound(int dim) const {
  if (dim < 1 || dim > static_cast<int>(dims.size()))
    throw HostError(err::kSubscript, "Subscript out of range");
  return dims[dim - 1].lbound;
}

int32_t VArray::UBound(int dim) const {
  if (dim < 1 || dim > static_cast<int>(dims.size()))
    throw HostError(err::kSubscript, "Subscript out of range");
  return dims[dim - 1].lbound + dims[dim - 1].count - 1;
}

size_t VArray::Offset(const std::vector<int32_t>& idx) const {
  if (idx.size() != dims.size()) throw HostError(err::kSubscript, "Subscript out of range");
  size_t off = 0;
  size_t stride = 1;
  for (size_t d = 0; d < dims.size(); ++d) {
    int64_t rel = static_cast<int64_t>(idx[d]) - dims[d].lbound;
    if (rel < 0 || rel >= dims[d].count) throw HostError(err::kSubscript, "Subscript out of range");
    off += static_cast<size_t>(rel) * stride;
    stride *= static_cast<size_t>(dims[d].count);
  }
  return off;
}

void VArray::Redim(const std::vector<Dim>& newDims, bool preserve) {
  size_t total = 1;
  for (const Dim& d : newDims) total *= static_cast<size_t>(d.count > 0 ? d.count : 0);
  // The elements let go of are freed once the array has its new shape, and nothing here
  // touches it after that: their Class_Terminate may change or replace the array.
  std::vector<Variant> gone;
  if (!preserve || data.empty() || dims.empty()) {
    std::vector<Variant> fresh(newDims.empty() ? 0 : total);
    gone.swap(data);
    data.swap(fresh);
    dims = newDims;
    return;
  }
  if (newDims.size() != dims.size()) throw HostError(err::kSubscript, "Subscript out of range");
  for (size_t d = 0; d + 1 < dims.size(); ++d)
    if (newDims[d].count != dims[d].count || newDims[d].lbound != dims[d].lbound)
      throw HostError(err::kSubscript, "Subscript out of range");
  // Only the last dimension changes, so the old elements form a prefix in storage order.
  if (total < data.size()) {
    gone.reserve(data.size() - total);
    std::move(data.begin() + static_cast<ptrdiff_t>(total), data.end(), std::back_inserter(gone));
    data.resize(total);  // only Empty values go here
  }
  data.resize(total);
  dims = newDims;
}

}  // namespace fern
