// A compiled schema's check tables: lookups built once per validator from
// the finished schema, shared read-only by every thread that checks with it,
// and read by node slot (the numbers finalize_schema gives the nodes). The
// walk gives the same answers without them (an empty CheckTables is valid);
// they only save work.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "regex/pattern_dfa.hpp"
#include "py/error.hpp"
#include "py/ref.hpp"
#include "quillmar/core/node.hpp"
#include "regex/pattern.hpp"

namespace quillmar::ext {

struct CompiledSchema;

// Heterogeneous lookup: a std::string table probed with a string_view.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
};

// One distinct key of a record. A dict literal may declare a key twice
// ({'a': int, 'a?': str}): the key then stands for all its fields, a value
// under it must match each of them, and it is required when any of them is.
struct RecordKey {
  std::string text;
  std::vector<std::uint32_t> fields;  // indices into the record's fields, in declared order
  bool required = false;
};

// The declared keys of one record, found by text. A Python str key is found
// by its own cached hash (the hash of its text, whatever its class), so a
// lookup costs one probe and calls no Python code.
class RecordIndex {
 public:
  // Fails only with MemoryError.
  static Result<RecordIndex> build(std::span<const core::RecordField> fields);

  // The key whose text is that of a str (exact or subclass); nothing for an
  // undeclared text or a str without UTF-8 text (a lone surrogate). Leaves
  // no exception pending.
  std::optional<std::size_t> find(PyObject* str_key) const;
  std::optional<std::size_t> find(std::string_view text) const;

  std::span<const RecordKey> keys() const { return keys_; }
  // The interned str of declared key k, or nullptr: a dict built in declared
  // order meets its keys as these very objects, found without a probe.
  PyObject* key_object(std::size_t k) const { return key_objects_[k]; }
  // Distinct required keys: each is counted once however many fields declare it.
  std::uint64_t required_count() const { return required_count_; }

 private:
  struct Slot {
    Py_hash_t hash = 0;
    // The key's interned str: a dict key that is this very object needs no
    // text comparison (keys written in source code are interned).
    PyObject* object = nullptr;
    std::uint32_t key_plus_one = 0;  // 0: empty
  };
  std::vector<RecordKey> keys_;
  std::vector<PyRef> objects_;  // owns the slots' objects
  std::vector<PyObject*> key_objects_;  // by key, borrowed from objects_
  std::unordered_map<std::string, std::uint32_t, TextHash, std::equal_to<>> by_text_;
  std::vector<Slot> by_hash_;  // open addressing, power-of-two size
  std::uint64_t required_count_ = 0;
};

// The exact int values and str texts of a union whose members are all
// literals. A literal of any other type (bool, float, subclasses) is in
// neither set, nor is an int beyond 64 bits or a str with a lone surrogate:
// for values that could equal those, the sets cannot decide.
struct LiteralSets {
  std::unordered_set<std::int64_t> ints;
  std::unordered_set<std::string, TextHash, std::equal_to<>> strs;

  bool has_int(std::int64_t value) const { return ints.contains(value); }
  bool has_str(std::string_view text) const { return strs.find(text) != strs.end(); }
};

// How one Regex constraint is matched: by its byte automaton when the pattern
// has one, else by the compiled expression.
struct PatternMatcher {
  const re2::RE2* regex = nullptr;
  std::optional<PatternDfa> dfa;
};

struct CheckTables {
  // By node slot: the node the slot was given to, and its entry in the table
  // of its kind (records, literal unions, attribute names), NO_ENTRY where it
  // has none. A node is found only by its own address, so a node of another
  // tree never reads these tables.
  static constexpr std::uint32_t NO_ENTRY = UINT32_MAX;
  std::vector<const core::SchemaNode*> node_of_slot;
  std::vector<std::uint32_t> entry_of_slot;
  std::vector<RecordIndex> records;
  std::vector<LiteralSets> literal_unions;
  std::vector<std::vector<PyRef>> attribute_names;
  std::unordered_map<std::string, CompiledPattern, TextHash, std::equal_to<>> regex_cache;
  // By the address of a Regex constraint of the schema, sorted by it; found
  // without hashing the pattern text.
  std::vector<std::pair<const core::Constraint*, PatternMatcher>> matchers;
  // Whether the reading pass decides this schema's documents as it reads
  // them: no walk of them runs Python code, and no node leaves a container to
  // the tree walk (only the check's own course can: a memo, the stack's end).
  // Otherwise validate_json and load make the objects at once and is_valid_json
  // walks the tree: each document is read by one path that can finish it.
  bool reading_pass_decides = false;

  // Lookups by node; nullptr (or an empty span) when the table has no entry.
  const RecordIndex* record(const core::SchemaNode& record) const;
  const LiteralSets* literal_sets(const core::SchemaNode& union_node) const;
  const re2::RE2* pattern(std::string_view pattern_text) const;
  const PatternMatcher* matcher(const core::Constraint& regex) const;
  // Whether UTF-8 text matches a Regex constraint in full: through its
  // matcher, else its pattern compiled on the spot (a pattern the compiler
  // would refuse admits nothing).
  bool text_matches(const core::Constraint& regex, std::string_view text) const;
  std::span<const PyRef> attribute_names_of(const core::SchemaNode& object) const;

  std::uint32_t entry(const core::SchemaNode& node) const {
    const std::uint32_t slot = node.slot;
    if (slot >= node_of_slot.size() || node_of_slot[slot] != &node) return NO_ENTRY;
    return entry_of_slot[slot];
  }
};

// The schema's tables, built by the first check that finds the cell empty.
// Fails only with MemoryError.
Result<const CheckTables*> ensure_check_tables(const CompiledSchema& schema);

}  // namespace quillmar::ext
