// The schemas of `loads(schema=...)`, converted and compiled once for as
// long as the schema object stays the same.
//
// A schema reaches validation as Python data: it is converted with the
// dump-side conversion under all-zero options (anything `dumps` cannot write
// is refused with the same error) and compiled (schema/schema.hpp).  Doing
// that costs more than validating a small file, and an application hands
// the same schema object over for file after file, so the last few schemas
// are kept, keyed by the identity of the schema object, together with a
// trace of what they were converted from: the identity of every container
// (dict, list, tuple), its size, and the identity of every key, value and
// item in it, in the conversion's order.  Before reuse the objects are
// checked against the record, without converting anything: up to Python
// 3.13 each recorded dict by the version the interpreter changes with every
// edit of it and each list by its items, later the whole trace taken again.
// str, int and float objects are immutable, so an unchanged identity is an
// unchanged value; an edit anywhere (an entry added, replaced, removed or
// reordered, at any depth) fails the check, and the schema is converted
// anew.  The cache holds strong references to every
// traced object, so no identity can pass to another object meanwhile.
// Only schemas made of exactly dict, list, tuple, str, int, float, bool and
// None are kept: the conversion of any other object may call Python code
// whose answer can change from one call to the next.  An entry whose schema
// nobody else holds any longer is dropped at the next call.
//
// Everything here runs with the interpreter lock held.
#pragma once

#include <memory>
#include <optional>

#include "decode/value.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/py.hpp"
#include "schema/schema.hpp"

namespace kestrine {

// A converted and compiled schema.  Release with the interpreter lock held.
class PreparedSchema {
 public:
  // Converts and compiles `schema`; the conversion's error when it cannot
  // be converted.
  static PyResult<std::unique_ptr<PreparedSchema>> convert(PyObject* schema);
  PreparedSchema(const PreparedSchema&) = delete;
  PreparedSchema& operator=(const PreparedSchema&) = delete;

  const SchemaSet& compiled() const noexcept { return *compiled_; }

 private:
  PreparedSchema() : encoder_(options_) {}

  EncodeOptions options_;  // all zero: no default, no serializers, no flags
  PyEncoder encoder_;      // keeps the objects whose texts the value borrows
  YamlValue root_;
  std::optional<SchemaSet> compiled_;
};

// Schemas kept between calls.
inline constexpr std::size_t kPreparedSchemaEntries = 8;

// The prepared form of `schema`: the one kept from an earlier call when the
// object is unchanged, else a new one (kept when the schema is plain data,
// has been handed over before, and no `NotKeptScope` is open).
PyResult<std::shared_ptr<const PreparedSchema>> prepare_schema(PyObject* schema);

// While one is open on the calling thread, new schemas are not kept: a
// schema that a `schema_resolver` callback returned is the callback's
// result, which outlives no call.  Scopes nest.
class NotKeptScope {
 public:
  explicit NotKeptScope(bool active) noexcept;
  ~NotKeptScope();
  NotKeptScope(const NotKeptScope&) = delete;
  NotKeptScope& operator=(const NotKeptScope&) = delete;

 private:
  bool was_;
};

}  // namespace kestrine
