#include "runtime_test_support.h"

namespace fern::script {
namespace {

using testing::ErrorOf;
using testing::Get;
using testing::Let;

std::shared_ptr<Dispatch> NewDict() { return CreateRuntimeObject("Scripting.Dictionary"); }

std::vector<Variant> ForEach(const std::shared_ptr<Dispatch>& o) {
  std::vector<Variant> items;
  EXPECT_TRUE(o->Enumerate(items));
  return items;
}

TEST(RuntimeDictionary, ReadingAMissingKeyAddsIt) {
  auto d = NewDict();
  EXPECT_TRUE(Get(d, "", {"nope"}).IsEmpty());
  EXPECT_EQ(Get(d, "Count").longVal(), 1);
  EXPECT_TRUE(Get(d, "Exists", {"nope"}).boolVal());
  // Exists itself adds nothing.
  EXPECT_FALSE(Get(d, "Exists", {"other"}).boolVal());
  EXPECT_EQ(Get(d, "Count").longVal(), 1);
}

TEST(RuntimeDictionary, KeysCompareByValueAndType) {
  auto d = NewDict();
  Get(d, "Add", {int32_t{1}, "long"});
  EXPECT_EQ(ErrorOf([&] { Get(d, "Add", {int16_t{1}, "int"}); }), 457);
  EXPECT_EQ(ErrorOf([&] { Get(d, "Add", {1.0, "double"}); }), 457);
  Get(d, "Add", {"1", "text"});  // text and number stay apart
  Get(d, "Add", {"A", "upper"});
  Get(d, "Add", {"a", "lower"});  // binary mode tells case apart
  Get(d, "Add", {Variant(), "empty"});
  auto key = NewDict();
  auto twin = NewDict();
  Get(d, "Add", {Variant(key), "object"});
  Get(d, "Add", {Variant(twin), "twin"});  // objects by identity
  EXPECT_EQ(Get(d, "Item", {1.0}).str(), "long");
  EXPECT_EQ(Get(d, "Item", {"1"}).str(), "text");
  EXPECT_EQ(Get(d, "Item", {Variant(key)}).str(), "object");
  EXPECT_EQ(Get(d, "Count").longVal(), 7);
}

TEST(RuntimeDictionary, TextCompareModeFoldsUmlauts) {
  auto d = NewDict();
  Let(d, "CompareMode", {int32_t{1}});
  Get(d, "Add", {"Straße Ä", int32_t{1}});
  EXPECT_TRUE(Get(d, "Exists", {"straße ä"}).boolVal());
  EXPECT_EQ(ErrorOf([&] { Get(d, "Add", {"STRAßE ä", int32_t{2}}); }), 457);
  // The first spelling stays the key.
  EXPECT_EQ(Get(d, "Keys").arr().data[0].str(), "Straße Ä");
  // The mode decides hashing: it cannot change once keys are in.
  EXPECT_EQ(ErrorOf([&] { Let(d, "CompareMode", {int32_t{0}}); }), 5);
  EXPECT_EQ(Get(d, "CompareMode").longVal(), 1);
}

TEST(RuntimeDictionary, OrderSurvivesRemoveAndRename) {
  auto d = NewDict();
  for (const char* k : {"c", "a", "b", "d"}) Get(d, "Add", {k, std::string(k) + "!"});
  Get(d, "Remove", {"a"});
  Let(d, "Key", {"b", "B2"});
  Let(d, "Item", {"d", "changed"});
  Let(d, "", {"e", "new"});
  Variant keys = Get(d, "Keys");
  Variant items = Get(d, "Items");
  ASSERT_EQ(keys.arr().data.size(), 4u);
  EXPECT_EQ(keys.arr().data[0].str(), "c");
  EXPECT_EQ(keys.arr().data[1].str(), "B2");
  EXPECT_EQ(keys.arr().data[3].str(), "e");
  EXPECT_EQ(items.arr().data[1].str(), "b!");
  EXPECT_EQ(items.arr().data[2].str(), "changed");
  std::vector<Variant> each = ForEach(d);
  ASSERT_EQ(each.size(), 4u);
  EXPECT_EQ(each[1].str(), "B2");  // For Each walks the keys
  EXPECT_FALSE(Get(d, "Exists", {"b"}).boolVal());
  EXPECT_EQ(ErrorOf([&] { Get(d, "Remove", {"zz"}); }), 32811);
  EXPECT_EQ(ErrorOf([&] { Let(d, "Key", {"zz", "y"}); }), 32811);
  EXPECT_EQ(ErrorOf([&] { Let(d, "Key", {"c", "e"}); }), 457);
  Get(d, "RemoveAll");
  EXPECT_EQ(Get(d, "Count").longVal(), 0);
  EXPECT_EQ(Get(d, "Keys").arr().UBound(), -1);
  EXPECT_EQ(ErrorOf([&] { Get(d, "NoSuchMember"); }), 438);
}

TEST(RuntimeDictionary, ObjectItemsAndOtherKeyTypes) {
  auto d = NewDict();
  auto inner = NewDict();
  std::vector<Variant> set{Variant("obj"), Variant(inner)};
  d->Invoke("Item", kPropSet, set);  // Set d("obj") = inner
  EXPECT_EQ(Get(d, "", {"obj"}).obj(), inner);
  Get(d, "Add", {Variant::Date(45292.0), "Neujahr"});
  Get(d, "Add", {Variant::Currency(15000), "1,5"});
  Get(d, "Add", {true, "wahr"});
  EXPECT_EQ(Get(d, "", {Variant::Date(45292.0)}).str(), "Neujahr");
  EXPECT_EQ(Get(d, "", {1.5}).str(), "1,5");  // Currency 1.5 meets Double 1.5
  EXPECT_EQ(Get(d, "", {true}).str(), "wahr");
  EXPECT_FALSE(Get(d, "Exists", {int32_t{-1}}).boolVal());  // True is no number here
  EXPECT_EQ(ErrorOf([&] { Get(d, "Add", {Variant(VArray::OneDim(1)), 1}); }), 13);
}

TEST(RuntimeDictionary, ManyKeysStayReachable) {
  auto d = NewDict();
  for (int32_t i = 0; i < 20000; ++i) Get(d, "Add", {i, i * 2});
  for (int32_t i = 0; i < 20000; i += 997) EXPECT_EQ(Get(d, "", {i}).longVal(), i * 2);
  for (int32_t i = 0; i < 20000; i += 2) Get(d, "Remove", {i});
  EXPECT_EQ(Get(d, "Count").longVal(), 10000);
  EXPECT_EQ(Get(d, "Keys").arr().data[0].longVal(), 1);
}

std::shared_ptr<Dispatch> Coll() { return NewCollection(); }

TEST(RuntimeCollection, KeysPositionsAndInsertion) {
  auto c = Coll();
  Get(c, "Add", {"eins", "K1"});
  Get(c, "Add", {"drei", "K3"});
  Get(c, "Add", {"zwei", "Zwölf", Variant::Missing(), int32_t{1}});  // after the first
  Get(c, "Add", {"null", Variant::Missing(), "k1"});                 // before key K1
  EXPECT_EQ(Get(c, "Count").longVal(), 4);
  EXPECT_EQ(Get(c, "", {int32_t{1}}).str(), "null");
  EXPECT_EQ(Get(c, "Item", {int32_t{3}}).str(), "zwei");
  EXPECT_EQ(Get(c, "", {"ZWÖLF"}).str(), "zwei");  // keys without regard to case
  EXPECT_EQ(Get(c, "", {2.0}).str(), "eins");
  Get(c, "Remove", {"k3"});
  Get(c, "Remove", {int32_t{1}});
  std::vector<Variant> each = ForEach(c);
  ASSERT_EQ(each.size(), 2u);
  EXPECT_EQ(each[0].str(), "eins");
  EXPECT_EQ(each[1].str(), "zwei");
  Get(c, "Add", {"wieder", "K3"});  // a removed key is free again
}

TEST(RuntimeCollection, ErrorsAsVb) {
  auto c = Coll();
  Get(c, "Add", {int32_t{1}, "a"});
  EXPECT_EQ(ErrorOf([&] { Get(c, "Add", {int32_t{2}, "A"}); }), 457);
  EXPECT_EQ(ErrorOf([&] { Get(c, "Item", {int32_t{0}}); }), 9);
  EXPECT_EQ(ErrorOf([&] { Get(c, "Item", {int32_t{2}}); }), 9);
  EXPECT_EQ(ErrorOf([&] { Get(c, "Item", {"b"}); }), 5);
  EXPECT_EQ(ErrorOf([&] { Get(c, "Remove", {"b"}); }), 5);
  EXPECT_EQ(ErrorOf([&] { Get(c, "Item", {Variant::Null()}); }), 13);
  EXPECT_EQ(ErrorOf([&] {
              Get(c, "Add", {int32_t{3}, Variant::Missing(), int32_t{1}, int32_t{1}});
            }),
            5);
  EXPECT_EQ(ErrorOf([&] { Get(c, "Add", {int32_t{3}, Variant::Missing(), int32_t{5}}); }), 9);
  EXPECT_EQ(Get(c, "Count").longVal(), 1);  // failed adds leave nothing behind
  // Objects go in as themselves.
  auto inner = CreateRuntimeObject("Scripting.Dictionary");
  Get(c, "Add", {Variant(inner), "obj"});
  EXPECT_EQ(Get(c, "", {"obj"}).obj(), inner);
}

}  // namespace
}  // namespace fern::script
