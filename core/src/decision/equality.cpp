#include <array>
#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

#include "detail.hpp"

namespace quillmar::core::decision_detail {

namespace {

// One pair still to compare: two nodes, or two patterns.
struct Pending {
  const SchemaNode* node_a = nullptr;
  const SchemaNode* node_b = nullptr;
  const SeqPattern* pattern_a = nullptr;
  const SeqPattern* pattern_b = nullptr;
};

bool fields_shallow_equal(const std::vector<RecordField>& a, const std::vector<RecordField>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].required != b[i].required || a[i].key != b[i].key) return false;
  }
  return true;
}

// Compares what the two nodes hold themselves and queues their children.
bool node_shallow_equal(const SchemaNode& a, const SchemaNode& b, std::vector<Pending>& todo) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Nothing:
    case NodeKind::None:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
      return true;
    case NodeKind::Literal:
    case NodeKind::Instance:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return a.word == b.word;
    case NodeKind::Sequence:
      if (a.seq_kind != b.seq_kind) return false;
      todo.push_back({nullptr, nullptr, &a.seq_pattern(), &b.seq_pattern()});
      return true;
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Complement:
      todo.push_back({&a.children.front(), &b.children.front(), nullptr, nullptr});
      return true;
    case NodeKind::Union:
    case NodeKind::Intersection:
      if (a.children.size() != b.children.size()) return false;
      for (std::size_t i = 0; i < a.children.size(); ++i) todo.push_back({&a.children[i], &b.children[i]});
      return true;
    case NodeKind::Record:
      if (a.extras.size() != b.extras.size() || !fields_shallow_equal(a.fields, b.fields)) return false;
      for (std::size_t i = 0; i < a.fields.size(); ++i) todo.push_back({&a.fields[i].node, &b.fields[i].node});
      for (std::size_t i = 0; i < a.extras.size(); ++i) {
        todo.push_back({&a.extras[i].key, &b.extras[i].key});
        todo.push_back({&a.extras[i].value, &b.extras[i].value});
      }
      return true;
    case NodeKind::Object:
      if (a.word != b.word || !fields_shallow_equal(a.fields, b.fields)) return false;
      for (std::size_t i = 0; i < a.fields.size(); ++i) todo.push_back({&a.fields[i].node, &b.fields[i].node});
      return true;
    case NodeKind::Refined:
      if (!constraint_lists_equal(a.constraints, b.constraints)) return false;
      todo.push_back({&a.base(), &b.base()});
      return true;
  }
  return false;
}

bool pattern_shallow_equal(const SeqPattern& a, const SeqPattern& b, std::vector<Pending>& todo) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case PatternKind::Empty:
      return true;
    case PatternKind::Item:
      todo.push_back({&a.item_node(), &b.item_node()});
      return true;
    case PatternKind::Concat:
    case PatternKind::Alt:
    case PatternKind::Star:
      if (a.parts.size() != b.parts.size()) return false;
      for (std::size_t i = 0; i < a.parts.size(); ++i) todo.push_back({nullptr, nullptr, &a.parts[i], &b.parts[i]});
      return true;
  }
  return false;
}

bool drain(std::vector<Pending>& todo) {
  while (!todo.empty()) {
    Pending next = todo.back();
    todo.pop_back();
    if (next.node_a != nullptr) {
      if (next.node_a != next.node_b && !node_shallow_equal(*next.node_a, *next.node_b, todo)) return false;
    } else if (next.pattern_a != next.pattern_b && !pattern_shallow_equal(*next.pattern_a, *next.pattern_b, todo)) {
      return false;
    }
  }
  return true;
}

constexpr std::uint64_t mix(std::uint64_t seed, std::uint64_t value) {
  // splitmix64 finaliser over the running seed.
  std::uint64_t z = seed ^ (value + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2));
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Nodes the hash looks at, in preorder from the root, and items of each
// vector it mixes in; both bounds depend on the shape alone, so equal trees
// always hash the same parts.
constexpr std::size_t HASHED_NODES = 32;
constexpr std::size_t HASHED_ITEMS = 8;

}  // namespace

bool trees_equal(const SchemaNode& a, const SchemaNode& b) {
  if (&a == &b) return true;
  std::vector<Pending> todo;
  return node_shallow_equal(a, b, todo) && drain(todo);
}

bool pattern_trees_equal(const SeqPattern& a, const SeqPattern& b) {
  if (&a == &b) return true;
  std::vector<Pending> todo;
  return pattern_shallow_equal(a, b, todo) && drain(todo);
}

std::uint64_t shallow_hash(const SchemaNode& root) {
  std::array<const SchemaNode*, HASHED_NODES> pending{};
  std::size_t top = 0;
  std::size_t visited = 0;
  std::uint64_t h = 0;
  pending[top++] = &root;
  auto queue = [&](const SchemaNode& child) {
    if (top < pending.size()) pending[top++] = &child;
  };
  while (top > 0 && visited < HASHED_NODES) {
    const SchemaNode& node = *pending[--top];
    ++visited;
    h = mix(h, static_cast<std::uint64_t>(node.kind));
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
        break;
      case NodeKind::Literal:
      case NodeKind::Instance:
      case NodeKind::Ref:
      case NodeKind::Placeholder:
        h = mix(h, node.word);
        break;
      case NodeKind::Sequence: {
        const SeqPattern& pattern = node.seq_pattern();
        h = mix(h, static_cast<std::uint64_t>(node.seq_kind));
        h = mix(h, static_cast<std::uint64_t>(pattern.kind));
        h = mix(h, pattern.parts.size());
        if (pattern.kind == PatternKind::Item) queue(pattern.item_node());
        break;
      }
      case NodeKind::Set:
      case NodeKind::FrozenSet:
      case NodeKind::Complement:
      case NodeKind::Union:
      case NodeKind::Intersection:
        h = mix(h, node.children.size());
        for (std::size_t i = 0; i < node.children.size() && i < HASHED_ITEMS; ++i) queue(node.children[i]);
        break;
      case NodeKind::Object:
        h = mix(h, node.word);
        [[fallthrough]];
      case NodeKind::Record:
        h = mix(h, node.fields.size());
        h = mix(h, node.extras.size());
        for (std::size_t i = 0; i < node.fields.size() && i < HASHED_ITEMS; ++i) {
          const RecordField& field = node.fields[i];
          h = mix(h, std::hash<std::string_view>{}(field.key));
          h = mix(h, field.required ? 1 : 0);
          queue(field.node);
        }
        break;
      case NodeKind::Refined:
        h = mix(h, node.constraints.size());
        for (std::size_t i = 0; i < node.constraints.size() && i < HASHED_ITEMS; ++i) {
          const Constraint& c = node.constraints[i];
          h = mix(h, static_cast<std::uint64_t>(c.kind));
          h = mix(h, c.kind == ConstraintKind::Regex ? std::hash<std::string>{}(c.pattern_text) : c.word);
        }
        queue(node.base());
        break;
    }
  }
  return h;
}

}  // namespace quillmar::core::decision_detail
