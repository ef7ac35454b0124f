// The compiled schema model: plain data with value semantics.
//
// A node holds no Python object. Constants are named by their index into the
// schema's constant pool, recursive bodies by their index into its definitions.
// Every node owns its children; copying a node copies the whole tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillmar::core {

// The order is fixed: it is the first key of the canonical order and the first
// word of the hash stream.
enum class NodeKind : std::uint8_t {
  Anything,
  Any,
  Nothing,
  None,
  Bool,
  Int,
  Float,
  Str,
  Bytes,
  Literal,
  Sequence,
  Set,
  FrozenSet,
  Record,
  Union,
  Intersection,
  Complement,
  Instance,
  Object,
  Refined,
  Ref,
  Placeholder,
};
inline constexpr std::size_t NODE_KIND_COUNT = 22;

enum class SeqKind : std::uint8_t { List, Tuple };

enum class PatternKind : std::uint8_t { Empty, Item, Concat, Alt, Star };

enum class ConstraintKind : std::uint8_t {
  Ge,
  Gt,
  Le,
  Lt,
  MinLen,
  MaxLen,
  MultipleOf,
  Predicate,
  Regex,
};

struct SeqPattern;
struct RecordField;
struct ExtrasPair;

// One refinement of a `Refined` node. `word` carries the payload of every
// variant but `Regex`, which carries `pattern_text`.
struct Constraint {
  ConstraintKind kind = ConstraintKind::Ge;
  std::uint64_t word = 0;
  std::string pattern_text;

  std::uint64_t bound_index() const { return word; }
  std::uint64_t length() const { return word; }
  std::uint64_t divisor_index() const { return word; }
  std::uint64_t predicate_index() const { return word; }

  static Constraint ge(std::uint64_t bound_index) { return {ConstraintKind::Ge, bound_index, {}}; }
  static Constraint gt(std::uint64_t bound_index) { return {ConstraintKind::Gt, bound_index, {}}; }
  static Constraint le(std::uint64_t bound_index) { return {ConstraintKind::Le, bound_index, {}}; }
  static Constraint lt(std::uint64_t bound_index) { return {ConstraintKind::Lt, bound_index, {}}; }
  static Constraint min_len(std::uint64_t length) { return {ConstraintKind::MinLen, length, {}}; }
  static Constraint max_len(std::uint64_t length) { return {ConstraintKind::MaxLen, length, {}}; }
  static Constraint multiple_of(std::uint64_t divisor_index) {
    return {ConstraintKind::MultipleOf, divisor_index, {}};
  }
  static Constraint predicate(std::uint64_t predicate_index) {
    return {ConstraintKind::Predicate, predicate_index, {}};
  }
  static Constraint regex(std::string pattern_text) {
    return {ConstraintKind::Regex, 0, std::move(pattern_text)};
  }
};

// A node's place in the check tables of the finished schema that holds it.
inline constexpr std::uint32_t NO_SLOT = UINT32_MAX;

// One schema node: a kind and the payload fields that kind uses. Fields a kind
// does not use stay empty; the accessors below name each payload as the model
// does.
struct SchemaNode {
  NodeKind kind = NodeKind::Anything;
  SeqKind seq_kind = SeqKind::List;  // Sequence
  // Numbered when a schema is finished (number_nodes); no part of the node's
  // meaning, so equality, order and hash never read it.
  std::uint32_t slot = NO_SLOT;
  std::uint64_t word = 0;            // value_index, class_index, definition or placeholder_id
  std::vector<SchemaNode> children;  // element, inner or base (one); Union/Intersection members
  std::vector<SeqPattern> pattern;   // Sequence: exactly one
  std::vector<RecordField> fields;   // Record, Object
  std::vector<ExtrasPair> extras;    // Record
  std::vector<Constraint> constraints;  // Refined

  std::uint64_t value_index() const { return word; }
  std::uint64_t class_index() const { return word; }
  std::uint64_t definition() const { return word; }
  std::uint64_t placeholder_id() const { return word; }
  const SeqPattern& seq_pattern() const { return pattern.front(); }
  const SchemaNode& element() const { return children.front(); }
  const SchemaNode& inner() const { return children.front(); }
  const SchemaNode& base() const { return children.front(); }
  const std::vector<SchemaNode>& members() const { return children; }

  static SchemaNode leaf(NodeKind kind);
  static SchemaNode literal(std::uint64_t value_index);
  static SchemaNode sequence(SeqKind seq_kind, SeqPattern seq_pattern);
  static SchemaNode set(SchemaNode element);
  static SchemaNode frozen_set(SchemaNode element);
  static SchemaNode record(std::vector<RecordField> fields, std::vector<ExtrasPair> extras);
  static SchemaNode union_of(std::vector<SchemaNode> members);
  static SchemaNode intersection_of(std::vector<SchemaNode> members);
  static SchemaNode complement(SchemaNode inner);
  static SchemaNode instance(std::uint64_t class_index);
  static SchemaNode object(std::uint64_t class_index, std::vector<RecordField> fields);
  static SchemaNode refined(SchemaNode base, std::vector<Constraint> constraints);
  static SchemaNode ref(std::uint64_t definition);
  static SchemaNode placeholder(std::uint64_t placeholder_id);
};

// The element pattern of a `Sequence`: a regular expression over element
// schemas. `Item` keeps its node in `item`; `Concat` and `Alt` keep their parts
// and `Star` its one inner pattern in `parts`.
struct SeqPattern {
  PatternKind kind = PatternKind::Empty;
  std::vector<SchemaNode> item;
  std::vector<SeqPattern> parts;

  const SchemaNode& item_node() const { return item.front(); }
  const SeqPattern& star_inner() const { return parts.front(); }

  static SeqPattern empty();
  static SeqPattern item_of(SchemaNode node);
  static SeqPattern concat(std::vector<SeqPattern> parts);
  static SeqPattern alt(std::vector<SeqPattern> alternatives);
  static SeqPattern star(SeqPattern inner);
};

struct RecordField {
  std::string key;
  SchemaNode node;
  bool required = true;
};

struct ExtrasPair {
  SchemaNode key;
  SchemaNode value;
};

// A pattern read as a fixed prefix plus an optional repeated tail. It borrows
// from the pattern it was read from.
struct TupleShape {
  std::vector<const SchemaNode*> prefix;
  const SchemaNode* tail = nullptr;
};

// Deep copies; equal to the source and sharing no storage with it.
SchemaNode clone_node(const SchemaNode& node);
SeqPattern clone_pattern(const SeqPattern& pattern);

bool nodes_equal(const SchemaNode& a, const SchemaNode& b);
bool patterns_equal(const SeqPattern& a, const SeqPattern& b);
bool constraint_equal(const Constraint& a, const Constraint& b);
bool constraint_lists_equal(const std::vector<Constraint>& a, const std::vector<Constraint>& b);

std::optional<TupleShape> tuple_shape(const SeqPattern& pattern);

// dict[K, V]: a record with no fields and the single extras pair (K, V).
SchemaNode dict_of(SchemaNode key, SchemaNode value);
// Star(Item node): a sequence of any length whose elements match node.
SeqPattern star_of_item(SchemaNode node);

}  // namespace quillmar::core
