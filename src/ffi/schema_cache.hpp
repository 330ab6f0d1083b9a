// The schemas of `loads(schema=...)`, converted and compiled once for as
// long as the schema object stays the same.
//
// A schema reaches validation as Python data: it is converted with the
// dump-side conversion under all-zero options (anything `dumps` cannot write
// is refused with the same error) and compiled (schema/schema.hpp).  Doing
// that costs more than validating a small file, and an application hands
// the same schema objects over for file after file (a tool that checks a
// repository rotates through hundreds), so converted schemas are kept,
// keyed by the identity of the schema object, together with a trace of what
// they were converted from: the identity of every container (dict, list,
// tuple), its size, and the identity of every key, value and item in it, in
// the conversion's order.  Before reuse the objects are checked against the
// record, without converting anything: up to Python 3.13 each recorded dict
// by the version the interpreter changes with every edit of it and each
// list by its items, later the whole trace taken again.  str, int and float
// objects are immutable, so an unchanged identity is an unchanged value; an
// edit anywhere (an entry added, replaced, removed or reordered, at any
// depth) fails the check, and the schema is converted anew.  The cache
// holds strong references to every traced object, so no identity can pass
// to another object while its entry lives.
// Only schemas made of exactly dict, list, tuple, str, int, float, bool and
// None are kept: the conversion of any other object may call Python code
// whose answer can change from one call to the next.
//
// What is kept, and for how long:
//   * a schema object is kept once it is handed over a second time (the
//     last kRecentSchemaIds objects handed over are remembered): one used
//     once is not worth tracing, nor holding on to;
//   * an entry lives while the application holds its schema object: one
//     that only the cache still holds is dropped at the next conversion, or
//     within kUnheldSweepCalls calls;
//   * the entries together stay within kPreparedSchemaBudget bytes (their
//     compiled form and trace, estimated) and kPreparedSchemaEntries
//     entries, for the whole process whatever the number of threads; the
//     least recently used go first, and a schema larger than the budget is
//     never kept.
//
// Everything here runs with the interpreter lock held, which serialises the
// threads that use the cache (free-threaded builds are not supported).
#pragma once

#include <cstdint>
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
  // Bytes held (an estimate): the value tree and the compiled set.
  std::size_t footprint() const noexcept;

 private:
  PreparedSchema() : encoder_(options_) {}

  EncodeOptions options_;  // all zero: no default, no serializers, no flags
  PyEncoder encoder_;      // keeps the objects whose texts the value borrows
  YamlValue root_;
  std::optional<SchemaSet> compiled_;
};

// Bounds of the schemas kept between calls (see above).
inline constexpr std::size_t kPreparedSchemaBudget = std::size_t{64} << 20;
inline constexpr std::size_t kPreparedSchemaEntries = 4096;
inline constexpr std::size_t kRecentSchemaIds = 1024;
inline constexpr std::uint32_t kUnheldSweepCalls = 64;

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
