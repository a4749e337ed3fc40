// A value with the semantics of a VB Variant. Strings are UTF-8; every conversion that turns text
// into numbers or dates, or back, follows German regional settings (decimal comma, dd.MM.yyyy)
// whatever the process locale is. The conversions and operators live in vb.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fern {

class Dispatch;
struct VArray;

// The numbers are VB's VarType codes.
enum class VType : uint16_t {
  Empty = 0,
  Null = 1,
  Integer = 2,  // 16-bit
  Long = 3,     // 32-bit
  Single = 4,
  Double = 5,
  Currency = 6,  // 64-bit, scaled by 10,000
  Date = 7,      // OLE serial: days since 30.12.1899, time as the fraction
  String = 8,
  Object = 9,  // Nothing is an Object holding no pointer
  Error = 10,  // also the "missing optional argument" marker
  Boolean = 11,
  Byte = 17,
  Array = 0x2000,
};

class Variant {
 public:
  Variant() noexcept : t_(VType::Empty) { u_.l = 0; }
  Variant(bool v) noexcept : t_(VType::Boolean) { u_.b = v; }
  Variant(int16_t v) noexcept : t_(VType::Integer) { u_.i = v; }
  Variant(int32_t v) noexcept : t_(VType::Long) { u_.l = v; }
  Variant(double v) noexcept : t_(VType::Double) { u_.d = v; }
  Variant(const char* s);
  Variant(std::string_view s);
  Variant(std::string s);
  Variant(std::shared_ptr<Dispatch> o);
  Variant(VArray a);

  static Variant Null() noexcept;
  static Variant Nothing();
  static Variant Missing() noexcept;  // VB's vbError with DISP_E_PARAMNOTFOUND
  static Variant Byte(uint8_t v) noexcept;
  static Variant Single(float v) noexcept;
  static Variant Date(double serial) noexcept;
  static Variant Currency(int64_t scaled) noexcept;  // value * 10,000
  static Variant Error(int32_t code) noexcept;
  // A whole number as Long when it fits, else as Double (VB's promotion).
  static Variant Whole(int64_t v) noexcept;

  // Numbers, dates, Booleans, Empty and Null copy and vanish without a call; only texts,
  // objects and arrays reach the out-of-line parts. A move is two words.
  Variant(const Variant& o) : t_(o.t_), u_(o.u_) {
    if (o.Owns()) CopyFrom(o);
  }
  Variant(Variant&& o) noexcept : t_(o.t_), u_(o.u_) { o.t_ = VType::Empty; }
  Variant& operator=(const Variant& o);
  // The new value is in place before the old one goes: what the old one's release runs (a
  // script's Class_Terminate) finds this value already assigned, and may assign it again.
  Variant& operator=(Variant&& o) noexcept {
    if (this != &o) {
      Variant old(std::move(*this));  // keeps alive what `o` may live inside
      MoveFrom(o);
    }
    return *this;
  }
  ~Variant() {
    if (Owns()) Release();
  }

  VType type() const noexcept { return t_; }
  bool IsEmpty() const noexcept { return t_ == VType::Empty; }
  bool IsNull() const noexcept { return t_ == VType::Null; }
  bool IsString() const noexcept { return t_ == VType::String; }
  bool IsObject() const noexcept { return t_ == VType::Object; }
  bool IsNothing() const noexcept;
  bool IsArray() const noexcept { return t_ == VType::Array; }
  bool IsMissing() const noexcept;
  // Integer, Long, Single, Double, Currency, Byte (not Boolean, Date or String).
  bool IsNumber() const noexcept;

  // Raw access; the caller has checked the type. Use vb.h to convert.
  bool boolVal() const noexcept { return u_.b; }
  int16_t intVal() const noexcept { return u_.i; }
  int32_t longVal() const noexcept { return u_.l; }
  float singleVal() const noexcept { return u_.f; }
  double doubleVal() const noexcept { return u_.d; }
  double dateVal() const noexcept { return u_.d; }
  int64_t currencyVal() const noexcept { return u_.cy; }
  uint8_t byteVal() const noexcept { return u_.by; }
  int32_t errorVal() const noexcept { return u_.l; }
  const std::string& str() const noexcept;
  // Writable text: a text shared with copies is copied first.
  std::string& str();
  // Facts about the text, worked out once per text: whether it is plain ASCII (then
  // characters are bytes) and its length in characters.
  bool TextIsAscii() const noexcept;
  size_t TextChars() const noexcept;
  // Byte offset of character `index` (from 0; the text's size beyond its end). The last place
  // asked for is remembered, so a walk through a non-ASCII text costs what it would on ASCII.
  size_t TextOffset(size_t index) const noexcept;
  const std::shared_ptr<Dispatch>& obj() const noexcept;
  const VArray& arr() const noexcept { return *u_.a; }
  VArray& arr() noexcept { return *u_.a; }

  // Freeing never recurses once per level, so that a chain of objects or arrays of any length
  // goes on any stack: what a value being freed held waits its turn and is freed after it,
  // depth first in the order held, all before the outermost release returns. Code that runs
  // while values are freed (a script's Class_Terminate) opens a scope: what it lets go of is
  // freed before it goes on, as anywhere else (`now`), or, where such code nests too deep,
  // waits with the rest and is freed after it (`!now`: the freeing in progress takes it, or the
  // scope itself when it ends).
  class FreeingScope {
   public:
    explicit FreeingScope(bool now = true) noexcept;
    ~FreeingScope();
    FreeingScope(const FreeingScope&) = delete;
    FreeingScope& operator=(const FreeingScope&) = delete;

   private:
    void* outer_;          // the freeing this scope interrupts
    void* own_ = nullptr;  // what waits for this scope's end, when nothing else was freeing
  };
  // Which freeing this thread is in: a number that changes with each one begun while nothing
  // else is freed or in a scope (a last holder let go of, or a scope opened), and stays the same
  // for all that runs in it, scopes and what waits included.
  static uint64_t FreeingRound() noexcept;

 private:
  struct Text;    // shared, copied on write
  struct Object;  // the object, shared between copies

  bool Owns() const noexcept {
    return t_ == VType::String || t_ == VType::Object || t_ == VType::Array;
  }
  void CopyFrom(const Variant& o);
  void MoveFrom(Variant& o) noexcept {
    t_ = o.t_;
    u_ = o.u_;
    o.t_ = VType::Empty;
  }
  void Release() noexcept;
  // The object or array `p` whose last holder went (see FreeingScope).
  static void Free(VType t, void* p) noexcept;
  // Frees what waits in `list` (see Free) and what that held in turn.
  static void Drain(void* list) noexcept;
  // Arrays nest as deep as a script makes them: copied level by level, not by recursion.
  static VArray* CopyArray(const VArray& from);

  VType t_;
  union {
    bool b;
    int16_t i;
    int32_t l;
    float f;
    double d;
    int64_t cy;
    uint8_t by;
    Text* s;    // String; nullptr: ""
    Object* o;  // Object; nullptr: Nothing
    VArray* a;  // Array; owned, copied deeply as VB copies arrays
  } u_;
};

// A VB array of Variants, one or more dimensions, each with its own lower bound. Elements are
// stored with the first dimension varying fastest, as VB stores them.
struct VArray {
  struct Dim {
    int32_t lbound = 0;
    int32_t count = 0;  // elements; UBound = lbound + count - 1
  };
  std::vector<Dim> dims;
  std::vector<Variant> data;
  bool fixed = false;  // declared with bounds (Dim a(3)): ReDim refuses it

  VArray() = default;
  // One dimension 0..ubound (ubound -1 gives an empty array).
  static VArray OneDim(int32_t ubound);
  static VArray FromList(std::vector<Variant> items);

  int32_t LBound(int dim = 1) const;  // dim counts from 1; throws 9 when out of range
  int32_t UBound(int dim = 1) const;
  // Index of an element in data; throws HostError 9 "Subscript out of range".
  size_t Offset(const std::vector<int32_t>& idx) const;
  Variant& At(const std::vector<int32_t>& idx) { return data[Offset(idx)]; }
  Variant& At(int32_t i) { return data[Offset({i})]; }
  // ReDim [Preserve]: preserve keeps elements whose indices still exist (VB allows only the
  // last dimension to change then; we check that and throw 9 otherwise).
  void Redim(const std::vector<Dim>& newDims, bool preserve);
};

}  // namespace fern
