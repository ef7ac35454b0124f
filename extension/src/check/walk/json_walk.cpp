// The boolean walk over a JsonValue tree. Every rule gives the answer the
// Python walk gives for json_to_python of the value; the tree is read
// directly wherever that answer needs no Python code, and a Python object is
// made only where a rule does (non-builtin classes, container literals,
// predicates, bounds of other types, attribute reads).
#include "check/walk/json_walk.hpp"
#include "check/walk/memoised_ref.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "check/walk/check_tables.hpp"
#include "check/walk/record_keys.hpp"
#include "check/walk/sequence_shape.hpp"
#include "keyed_hash.hpp"
#include "py/utf8_view.hpp"

namespace quillmar::ext {
namespace {

using core::Constraint;
using core::ConstraintKind;
using core::PatternKind;
using core::SeqPattern;

// The walk inside one check: the context never changes, so it is passed by reference.
bool walk_json_at(const SchemaNode& node, const JsonValue& value, const WalkContext& ctx);

// The class json_to_python gives the value.
PyTypeObject* python_type_of(const JsonValue& value) {
  switch (value.kind()) {
    case JsonKind::Null:
      return Py_TYPE(Py_None);
    case JsonKind::Bool:
      return &PyBool_Type;
    case JsonKind::Int:
    case JsonKind::BigInt:
      return &PyLong_Type;
    case JsonKind::Float:
      return &PyFloat_Type;
    case JsonKind::String:
      return &PyUnicode_Type;
    case JsonKind::Array:
      return &PyList_Type;
    case JsonKind::Object:
      return &PyDict_Type;
  }
  return Py_TYPE(Py_None);
}

// A failed conversion as the outcome of a Python operation: an ordinary
// exception means not a member, a fatal one ends the check.
bool fold_conversion_failure(Error error, CheckState& state) {
  PyRef exception = std::move(error).into_exception();
  if (exception && is_fatal_exception(exception.get())) store_fatal_error(std::move(exception), state);
  return false;
}

enum class OnConversionFailure { Fold, Discard };

// The Python walk of the node over the value's Python form.
bool walk_as_python(const SchemaNode& node, const JsonValue& value, const WalkContext& ctx, OnConversionFailure failure) {
  Result<PyRef> converted = json_to_python(value);
  if (!converted) {
    if (failure == OnConversionFailure::Fold) return fold_conversion_failure(std::move(converted.error()), *ctx.state);
    return false;
  }
  Path path;
  ErrorList errors;
  return walk(node, converted->get(), path, ctx.with_mode(WalkMode::BooleanOnly), errors);
}

// An exact int that fits 64 bits.
std::optional<std::int64_t> small_int_of(PyObject* object) {
  if (!PyLong_CheckExact(object)) return std::nullopt;
  int overflow = 0;
  long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
  if (overflow != 0 || (value == -1 && PyErr_Occurred())) {
    PyErr_Clear();
    return std::nullopt;
  }
  return static_cast<std::int64_t>(value);
}

// The literal rule asks for the literal's exact type before any comparison,
// and every converted value has a builtin type, so most pairs are decided by
// the literal's type alone; equal types compare by value as Python would.
[[gnu::noinline]] bool walk_literal_json(const SchemaNode& node, const JsonValue& value, const WalkContext& ctx) {
  PyObject* literal = ctx.schema()->pool.at(node.value_index());
  if (!literal) return false;
  if (Py_TYPE(literal) != python_type_of(value)) return false;
  switch (value.kind()) {
    case JsonKind::Null:
      return true;
    case JsonKind::Bool:
      return (literal == Py_True) == value.as_bool();
    case JsonKind::Int: {
      std::optional<std::int64_t> small = small_int_of(literal);
      return small && *small == value.as_int();
    }
    case JsonKind::BigInt:
      // A literal inside 64 bits cannot equal an integer outside them.
      if (small_int_of(literal)) return false;
      return walk_as_python(node, value, ctx, OnConversionFailure::Fold);
    case JsonKind::Float:
      return PyFloat_AS_DOUBLE(literal) == value.as_float();
    case JsonKind::String: {
      std::optional<std::string_view> text = utf8_view(literal);
      return text && *text == value.as_string();
    }
    case JsonKind::Array:
    case JsonKind::Object:
      return walk_as_python(node, value, ctx, OnConversionFailure::Fold);
  }
  return false;
}

// isinstance against a class whose metaclass is exactly type runs no
// __instancecheck__: it is the subtype test of the value's builtin class.
[[gnu::noinline]] bool walk_instance_json(const SchemaNode& node, const JsonValue& value, const WalkContext& ctx) {
  PyObject* cls = ctx.schema()->pool.at(node.class_index());
  if (!cls) return false;
  if (Py_IS_TYPE(cls, &PyType_Type)) {
    return PyType_IsSubtype(python_type_of(value), reinterpret_cast<PyTypeObject*>(cls)) != 0;
  }
  return walk_as_python(node, value, ctx, OnConversionFailure::Fold);
}

// JSON arrays are lists; they are never tuples.
[[gnu::noinline]] bool walk_sequence_json(const SchemaNode& node, const JsonValue& value, const WalkContext& ctx) {
  std::optional<ShapeView> shape = shape_of(node.seq_pattern());
  if (!shape) return false;
  if (node.seq_kind != core::SeqKind::List || value.kind() != JsonKind::Array) return false;
  std::span<const JsonValue> items = value.items();
  if (!shape->admits_length(items.size())) return false;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!walk_json_at(*shape->at(i), items[i], ctx)) return false;
  }
  return true;
}

// For each declared key of a record, the member that holds its value: the
// last one with that key, as the dict built from the document holds it.
class LastMembers {
 public:
  static constexpr std::size_t none = SIZE_MAX;

  explicit LastMembers(std::size_t keys) {
    if (keys > kInline) {
      heap_.assign(keys, none);
      at_ = heap_.data();
    } else {
      std::fill_n(inline_.begin(), keys, none);
    }
  }
  LastMembers(const LastMembers&) = delete;
  LastMembers& operator=(const LastMembers&) = delete;

  std::size_t& operator[](std::size_t key) { return at_[key]; }

 private:
  // Small: the table is live while the values below are walked.
  static constexpr std::size_t kInline = 16;
  std::array<std::size_t, kInline> inline_;
  std::vector<std::size_t> heap_;
  std::size_t* at_ = inline_.data();
};

// For a walk over an object's members from the last to the first: whether a
// member already passed (a later one) has the same key, so that the dict built
// from the document would hold that one instead. Small objects are scanned;
// larger ones get a table of the keys passed, built on first use.
class LaterKeys {
 public:
  explicit LaterKeys(std::span<const JsonMember> members) : members_(members), covered_(members.size()) {}

  bool has_later(std::size_t i) {
    std::string_view key = members_[i].key_bytes();
    if (members_.size() <= kScanLimit) {
      for (std::size_t j = i + 1; j < members_.size(); ++j) {
        if (members_[j].key_bytes() == key) return true;
      }
      return false;
    }
    if (slots_.empty()) slots_.assign(std::bit_ceil(members_.size() * 2), kEmpty);
    while (covered_ > i + 1) add(--covered_);
    // The member joins the table as it is asked about, with one hash of its
    // key: the questions come from the last member to the first.
    covered_ = i;
    return add(i);
  }

 private:
  static constexpr std::size_t kScanLimit = 16;
  static constexpr std::uint32_t kEmpty = UINT32_MAX;

  // Keyed: the keys are the document's, and keys made to share one unkeyed
  // hash would make every probe run the length of the table.
  static std::size_t hash(std::string_view key) { return static_cast<std::size_t>(keyed_text_hash(key)); }

  // Adds member j's key unless the table holds it already; answers whether it did.
  bool add(std::size_t j) {
    std::string_view key = members_[j].key_bytes();
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = hash(key) & mask;
    for (; slots_[at] != kEmpty; at = (at + 1) & mask) {
      if (members_[slots_[at]].key_bytes() == key) return true;
    }
    slots_[at] = static_cast<std::uint32_t>(j);
    return false;
  }

  std::span<const JsonMember> members_;
  std::size_t covered_;  // the table holds the keys of members [covered_, size)
  std::vector<std::uint32_t> slots_;
};

bool some_pair_matches(const std::vector<core::ExtrasPair>& extras, const JsonMember& member, const WalkContext& ctx) {
  return std::any_of(extras.begin(), extras.end(), [&](const core::ExtrasPair& pair) {
    const std::uint64_t steps = ctx.state->guard.entered();
    if (walk_json_at(pair.key, member.key, ctx) && walk_json_at(pair.value, member.value, ctx)) return true;
    note_rewalk(steps, *ctx.state);
    return false;
  });
}

// The member a record's key stands for: documents mostly list a record's keys
// in declared order, so the key at the member's own position is tried before
// the hash lookup.
std::optional<std::size_t> declared_member_key(const RecordIndex& index, std::span<const JsonMember> members,
                                               std::size_t i) {
  std::span<const RecordKey> keys = index.keys();
  if (keys.empty()) return std::nullopt;
  if (i < keys.size() && keys[i].text == members[i].key_bytes()) return i;
  return index.find(members[i].key_bytes());
}

// The declared keys in declared order, each against its last member; sets
// has_undeclared when a member's key is not declared.
[[gnu::noinline]] bool declared_members_match(const SchemaNode& node, const RecordIndex& index,
                                              std::span<const JsonMember> members, const WalkContext& ctx,
                                              bool& has_undeclared) {
  std::span<const RecordKey> keys = index.keys();
  LastMembers last(keys.size());
  for (std::size_t i = members.size(); i-- > 0;) {
    if (std::optional<std::size_t> declared = declared_member_key(index, members, i)) {
      if (last[*declared] == LastMembers::none) last[*declared] = i;
    } else {
      has_undeclared = true;
    }
  }
  for (std::size_t k = 0; k < keys.size(); ++k) {
    if (last[k] == LastMembers::none) {
      if (keys[k].required) return false;
      continue;
    }
    const JsonValue& value = members[last[k]].value;
    if (keys[k].fields.size() == 1) {
      if (!walk_json_at(node.fields[keys[k].fields.front()].node, value, ctx)) return false;
      continue;
    }
    // The fields of one key walk one value, as union members do.
    for (std::uint32_t field : keys[k].fields) {
      const std::uint64_t steps = ctx.state->guard.entered();
      if (!walk_json_at(node.fields[field].node, value, ctx)) return false;
      note_rewalk(steps, *ctx.state);
    }
  }
  return true;
}

// Each distinct undeclared key, with its last value, against the extras.
[[gnu::noinline]] bool undeclared_members_match(const SchemaNode& node, const RecordIndex& index,
                                                std::span<const JsonMember> members, const WalkContext& ctx) {
  LaterKeys later(members);
  for (std::size_t i = members.size(); i-- > 0;) {
    if (declared_member_key(index, members, i) || later.has_later(i)) continue;
    if (!some_pair_matches(node.extras, members[i], ctx)) return false;
  }
  return true;
}

// Judged as the dict json.loads would build, each key once with its last
// value: the declared keys in declared order, a missing required one ending
// the check there, then each distinct undeclared key against the extras.
[[gnu::noinline]] bool walk_record_json(const SchemaNode& node, const JsonValue& value, const WalkContext& ctx) {
  if (value.kind() != JsonKind::Object) return false;
  std::unique_ptr<RecordIndex> local;
  const RecordIndex* index = record_keys(node, ctx, local);
  if (!index) return false;
  std::span<const JsonMember> members = value.members();
  bool has_undeclared = index->keys().empty() && !members.empty();
  if (!index->keys().empty() && !declared_members_match(node, *index, members, ctx, has_undeclared)) return false;
  if (!has_undeclared) return true;
  if (node.extras.empty()) return false;
  return undeclared_members_match(node, *index, members, ctx);
}

// Constraints over JSON values. Lengths of strings and arrays, patterns and
// same-type numeric bounds are read from the tree; the rest go to the
// Python rule over the value's Python form, made once.
class JsonConstraints {
 public:
  JsonConstraints(const JsonValue& value, const WalkContext& ctx) : value_(value), ctx_(ctx) {}

  bool check(const Constraint& constraint) {
    if (std::optional<bool> native = check_natively(constraint)) return *native;
    PyObject* object = python_value();
    if (!object) return false;
    Path path;
    ErrorList errors;
    return check_constraint(constraint, object, path, ctx_.with_mode(WalkMode::BooleanOnly), errors);
  }

 private:
  // A conversion failure makes the value a non-member; its error is dropped.
  PyObject* python_value() {
    if (!converted_ && !conversion_failed_) {
      Result<PyRef> made = json_to_python(value_);
      if (made) {
        converted_ = std::move(*made);
      } else {
        conversion_failed_ = true;
      }
    }
    return converted_.get();
  }

  std::optional<bool> check_natively(const Constraint& constraint) {
    switch (constraint.kind) {
      case ConstraintKind::MinLen:
      case ConstraintKind::MaxLen: {
        std::optional<std::uint64_t> size = length();
        if (!size) return std::nullopt;
        return constraint.kind == ConstraintKind::MinLen ? *size >= constraint.length()
                                                         : *size <= constraint.length();
      }
      case ConstraintKind::Regex:
        return matches(constraint);
      case ConstraintKind::Ge:
        return compare(constraint, [](auto a, auto b) { return a >= b; });
      case ConstraintKind::Gt:
        return compare(constraint, [](auto a, auto b) { return a > b; });
      case ConstraintKind::Le:
        return compare(constraint, [](auto a, auto b) { return a <= b; });
      case ConstraintKind::Lt:
        return compare(constraint, [](auto a, auto b) { return a < b; });
      case ConstraintKind::MultipleOf:
        return multiple_of(constraint);
      case ConstraintKind::Predicate:
        return std::nullopt;
    }
    return std::nullopt;
  }

  // len() of the Python form; an object's duplicate keys collapse, so it is
  // left to Python. Scalars have no len(): the TypeError means not a member.
  std::optional<std::uint64_t> length() const {
    switch (value_.kind()) {
      case JsonKind::String:
        return value_.char_count();
      case JsonKind::Array:
        return value_.size();
      case JsonKind::Object:
        return std::nullopt;
      case JsonKind::Null:
      case JsonKind::Bool:
      case JsonKind::Int:
      case JsonKind::BigInt:
      case JsonKind::Float:
        return std::nullopt;
    }
    return std::nullopt;
  }

  // Only a str can match; a JSON string's bytes are its UTF-8 text.
  bool matches(const Constraint& constraint) const {
    return value_.kind() == JsonKind::String && ctx_.tables()->text_matches(constraint, value_.as_string());
  }

  // int against an exact int bound and float against an exact float bound
  // compare as the machine numbers they are; mixed pairs go to Python, whose
  // int-float comparison is exact.
  template <class Op>
  std::optional<bool> compare(const Constraint& constraint, Op op) const {
    PyObject* bound = ctx_.schema()->pool.at(constraint.bound_index());
    if (!bound) return false;
    if (value_.kind() == JsonKind::Int) {
      if (std::optional<std::int64_t> small = small_int_of(bound)) return op(value_.as_int(), *small);
    } else if (value_.kind() == JsonKind::Float && PyFloat_CheckExact(bound)) {
      return op(value_.as_float(), PyFloat_AS_DOUBLE(bound));
    }
    return std::nullopt;
  }

  std::optional<bool> multiple_of(const Constraint& constraint) const {
    PyObject* divisor = ctx_.schema()->pool.at(constraint.divisor_index());
    if (!divisor) return false;
    if (value_.kind() != JsonKind::Int) return std::nullopt;
    std::optional<std::int64_t> small = small_int_of(divisor);
    if (!small) return std::nullopt;
    if (*small == 0) return false;  // ZeroDivisionError, an ordinary exception
    if (*small == -1) return true;
    return value_.as_int() % *small == 0;
  }

  const JsonValue& value_;
  WalkContext ctx_;
  PyRef converted_;
  bool conversion_failed_ = false;
};

[[gnu::noinline]] bool walk_refined_json(const SchemaNode& node, const JsonValue& value, const WalkContext& ctx) {
  if (!walk_json_at(node.base(), value, ctx)) return false;
  JsonConstraints constraints(value, ctx);
  for (const Constraint& constraint : node.constraints) {
    if (ctx.state->fatal_seen) return false;
    if (!constraints.check(constraint)) return false;
  }
  return true;
}

// A union of literals answers a JSON int or string with one lookup: the sets
// hold every exact int literal inside 64 bits and every exact str literal
// with a UTF-8 text, the only literals such a value can equal.
std::optional<bool> literal_union_lookup(const SchemaNode& node, const JsonValue& value, const WalkContext& ctx) {
  const LiteralSets* sets = ctx.tables()->literal_sets(node);
  if (!sets) return std::nullopt;
  if (value.kind() == JsonKind::Int) return sets->has_int(value.as_int());
  if (value.kind() == JsonKind::String) return sets->has_str(value.as_string());
  return std::nullopt;
}

[[gnu::noinline]] bool walk_union_json(const SchemaNode& node, const JsonValue& value, const WalkContext& ctx) {
  if (std::optional<bool> decided = literal_union_lookup(node, value, ctx)) return *decided;
  for (const SchemaNode& member : node.members()) {
    const std::uint64_t steps = ctx.state->guard.entered();
    if (walk_json_at(member, value, ctx)) return true;
    note_rewalk(steps, *ctx.state);
  }
  return false;
}

[[gnu::noinline]] bool walk_intersection_json(const SchemaNode& node, const JsonValue& value, const WalkContext& ctx) {
  for (const SchemaNode& member : node.members()) {
    const std::uint64_t steps = ctx.state->guard.entered();
    if (!walk_json_at(member, value, ctx)) return false;
    note_rewalk(steps, *ctx.state);
  }
  return true;
}

[[gnu::noinline]] bool walk_complement_json(const SchemaNode& node, const JsonValue& value, const WalkContext& ctx) {
  bool inner_accepts = walk_json_at(node.inner(), value, ctx);
  // A fatal exception inside made the inner answer meaningless.
  if (ctx.state->fatal_seen) return false;
  return !inner_accepts;
}

// Tree values live as long as the check: nothing to hold.
[[gnu::noinline]] bool walk_json_memoised_body(const SchemaNode& body, std::uint64_t definition, const JsonValue& value,
                                               const WalkContext& ctx) {
  CheckState& state = *ctx.state;
  const MemoLookup lookup =
      begin_memo_step(state, MemoSubject::definition(definition), &value, MemoMode::BooleanOnly, nullptr);
  if (lookup.known) return lookup.known->member;
  const bool member = walk_json_at(body, value, ctx);
  end_memo_step(state, lookup.step, nullptr, member, nullptr);
  return member;
}

[[gnu::noinline]] bool walk_ref_json(const SchemaNode& node, const JsonValue& value, const WalkContext& ctx) {
  const std::uint64_t definition = node.definition();
  CheckState& state = *ctx.state;
  if (state.guard.enter(&value, definition) != RecursionGuard::Entry::Entered) return false;
  const ActivePair active(state.guard, &value, definition);
  const std::vector<SchemaNode>& definitions = ctx.schema()->definitions;
  if (definition >= definitions.size()) return false;
  const SchemaNode& body = definitions[definition];
  if (!state.memo.on()) return walk_json_at(body, value, ctx);
  return walk_json_memoised_body(body, definition, value, ctx);
}

bool walk_json_at(const SchemaNode& node, const JsonValue& value, const WalkContext& ctx) {
  if (ctx.state->fatal_seen) return false;
  if (ctx.state->stack.exhausted()) [[unlikely]] return fail_out_of_stack(*ctx.state);
  switch (node.kind) {
    case NodeKind::Anything:
    case NodeKind::Any:
      return true;
    case NodeKind::Nothing:
    case NodeKind::None:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
      return has_plain_type(plain_type(node.kind).value_or(PlainType::Nothing), value.kind());
    case NodeKind::Literal:
      return walk_literal_json(node, value, ctx);
    case NodeKind::Sequence:
      return walk_sequence_json(node, value, ctx);
    case NodeKind::Set:
    case NodeKind::FrozenSet:
      return false;  // no JSON value is a set
    case NodeKind::Instance:
      return walk_instance_json(node, value, ctx);
    case NodeKind::Record:
      return walk_record_json(node, value, ctx);
    case NodeKind::Object:
      // Attributes are read through Python; a failed conversion is simply no member.
      return walk_as_python(node, value, ctx, OnConversionFailure::Discard);
    case NodeKind::Union:
      return walk_union_json(node, value, ctx);
    case NodeKind::Intersection:
      return walk_intersection_json(node, value, ctx);
    case NodeKind::Complement:
      return walk_complement_json(node, value, ctx);
    case NodeKind::Ref:
      return walk_ref_json(node, value, ctx);
    case NodeKind::Placeholder:
      return false;
    case NodeKind::Refined:
      return walk_refined_json(node, value, ctx);
  }
  return false;
}

class PurityScan {
 public:
  explicit PurityScan(const CompiledSchema& schema) : schema_(schema), entered_(schema.definitions.size(), false) {}

  bool node(const SchemaNode& node) {
    switch (node.kind) {
      case NodeKind::Anything:
      case NodeKind::Any:
      case NodeKind::Nothing:
      case NodeKind::None:
      case NodeKind::Bool:
      case NodeKind::Int:
      case NodeKind::Float:
      case NodeKind::Str:
      case NodeKind::Bytes:
      case NodeKind::Set:
      case NodeKind::FrozenSet:
      case NodeKind::Placeholder:
        return true;
      case NodeKind::Literal: {
        // Only a list or dict literal is compared through Python.
        PyObject* literal = schema_.pool.at(node.value_index());
        return !literal || (!PyList_CheckExact(literal) && !PyDict_CheckExact(literal));
      }
      case NodeKind::Instance: {
        PyObject* cls = schema_.pool.at(node.class_index());
        return !cls || Py_IS_TYPE(cls, &PyType_Type);
      }
      case NodeKind::Object:
        return false;
      case NodeKind::Sequence:
        return pattern(node.seq_pattern());
      case NodeKind::Record:
        for (const core::RecordField& field : node.fields) {
          if (!this->node(field.node)) return false;
        }
        for (const core::ExtrasPair& pair : node.extras) {
          if (!this->node(pair.key) || !this->node(pair.value)) return false;
        }
        return true;
      case NodeKind::Union:
      case NodeKind::Intersection:
      case NodeKind::Complement:
        for (const SchemaNode& child : node.children) {
          if (!this->node(child)) return false;
        }
        return true;
      case NodeKind::Refined:
        for (const Constraint& constraint : node.constraints) {
          if (!this->constraint(constraint)) return false;
        }
        return this->node(node.base());
      case NodeKind::Ref: {
        const std::uint64_t definition = node.definition();
        if (definition >= entered_.size() || entered_[definition]) return true;
        entered_[definition] = true;
        return this->node(schema_.definitions[definition]);
      }
    }
    return false;
  }

 private:
  bool pattern(const SeqPattern& pattern) {
    for (const SchemaNode& item : pattern.item) {
      if (!node(item)) return false;
    }
    for (const SeqPattern& part : pattern.parts) {
      if (!this->pattern(part)) return false;
    }
    return true;
  }

  bool exact_number(std::uint64_t index) const {
    PyObject* number = schema_.pool.at(index);
    return !number || PyLong_CheckExact(number) || PyFloat_CheckExact(number);
  }

  bool constraint(const Constraint& constraint) const {
    switch (constraint.kind) {
      case ConstraintKind::MinLen:
      case ConstraintKind::MaxLen:
      case ConstraintKind::Regex:
        return true;
      case ConstraintKind::Ge:
      case ConstraintKind::Gt:
      case ConstraintKind::Le:
      case ConstraintKind::Lt:
        return exact_number(constraint.bound_index());
      case ConstraintKind::MultipleOf:
        return exact_number(constraint.divisor_index());
      case ConstraintKind::Predicate:
        return false;
    }
    return false;
  }

  const CompiledSchema& schema_;
  std::vector<bool> entered_;
};

}  // namespace

bool walk_json(const SchemaNode& node, const JsonValue& value, WalkContext ctx) {
  return walk_json_at(node, value, ctx);
}

bool json_walk_runs_no_python(const CompiledSchema& schema) {
  return PurityScan(schema).node(schema.root);
}

}  // namespace quillmar::ext
