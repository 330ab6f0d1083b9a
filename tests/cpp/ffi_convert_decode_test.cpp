// The shared conversion helpers that loads does not reach on its own paths
// (big-integer fallbacks, direct tag application).
#include <string>

#include "ffi/convert/decode.hpp"
#include "ffi_support.hpp"

namespace kestrine {
namespace {

using testing::repr;

TEST(FfiConvertDecode, BigIntegerFallbacks) {
  auto digits = bigint_to_py("-1_000_000_000_000_000_000_000");
  ASSERT_TRUE(digits);
  EXPECT_EQ(repr(digits->get()), "-1000000000000000000000");
  // Text that is not a number comes back as a str (without underscores).
  auto word = bigint_to_py("12_ab");
  ASSERT_TRUE(word);
  EXPECT_EQ(repr(word->get()), "'12ab'");
  auto nul = bigint_to_py(std::string_view("12\0" "3", 4));
  ASSERT_TRUE(nul);
  EXPECT_TRUE(PyUnicode_Check(nul->get()));
  EXPECT_FALSE(PyErr_Occurred());
}

TEST(FfiConvertDecode, TimestampsAndStrings) {
  auto date = timestamp_to_py(Date{2002, 12, 14});
  ASSERT_TRUE(date);
  EXPECT_EQ(repr(date->get()), "datetime.date(2002, 12, 14)");
  DateTime dt{2001, 12, 14, 21, 59, 43, 100000, -300};
  auto aware = timestamp_to_py(dt);
  ASSERT_TRUE(aware);
  EXPECT_EQ(repr(aware->get()),
            "datetime.datetime(2001, 12, 14, 21, 59, 43, 100000, "
            "tzinfo=datetime.timezone(datetime.timedelta(days=-1, seconds=68400)))");
  // Fields the interpreter rejects surface as its own error.
  auto bad = timestamp_to_py(Date{2002, 2, 30});
  ASSERT_FALSE(bad);
  EXPECT_TRUE(bad.error().is_instance_of(PyExc_ValueError));

  for (std::string_view text : {std::string_view(""), std::string_view("a"), std::string_view("ascii text"),
                                std::string_view("Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x9A\x80")}) {
    auto s = new_str(text);
    ASSERT_TRUE(s);
    Py_ssize_t n = 0;
    const char* back = PyUnicode_AsUTF8AndSize(s->get(), &n);
    EXPECT_EQ(std::string_view(back, static_cast<std::size_t>(n)), text);
  }
  EXPECT_FALSE(new_str("\xFF"));  // never a crash on bad bytes
}

TEST(FfiConvertDecode, ApplyTagWithoutHandlersKeepsTheValue) {
  OwnedRef value = OwnedRef::steal(PyLong_FromLong(7));
  PyObject* raw = value.get();
  auto same = apply_tag("!<!x>", value, TagHandlers{});
  ASSERT_TRUE(same);
  EXPECT_EQ(same->get(), raw);
  auto passed = apply_tag("!<!x>", *same, TagHandlers{nullptr, nullptr, true});
  ASSERT_TRUE(passed);
  EXPECT_EQ(repr(passed->get()), "KestrineTag('!x', ...)");
}

}  // namespace
}  // namespace kestrine
