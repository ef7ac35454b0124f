#include <array>
#include <cstddef>
#include <functional>
#include <limits>
#include <optional>
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

// Compares what is queued. With a limit, stops after that many pairs with
// the rest still queued and no answer.
std::optional<bool> drain(std::vector<Pending>& todo, std::size_t limit) {
  for (std::size_t done = 0; !todo.empty(); ++done) {
    if (done == limit) return std::nullopt;
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

bool drain(std::vector<Pending>& todo) { return *drain(todo, std::numeric_limits<std::size_t>::max()); }

// Pairs compared directly before whole-tree hashes are worth their upkeep.
constexpr std::size_t DIRECT_PAIRS = 64;

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

namespace {

std::uint64_t constraint_hash(std::uint64_t h, const std::vector<Constraint>& constraints) {
  h = mix(h, constraints.size());
  for (const Constraint& c : constraints) {
    h = mix(h, static_cast<std::uint64_t>(c.kind));
    h = mix(h, c.kind == ConstraintKind::Regex ? std::hash<std::string>{}(c.pattern_text) : c.word);
  }
  return h;
}

}  // namespace

bool StructureCache::equal(const SchemaNode& a, const SchemaNode& b) {
  if (&a == &b) return true;
  std::vector<Pending> todo;
  if (!node_shallow_equal(a, b, todo)) return false;
  if (std::optional<bool> direct = drain(todo, DIRECT_PAIRS)) return *direct;
  // Large trees: unequal whole-tree hashes settle it; equal ones are
  // confirmed by comparing the rest.
  if (hash(a) != hash(b)) return false;
  return drain(todo);
}

bool StructureCache::equal(const SeqPattern& a, const SeqPattern& b) {
  if (&a == &b) return true;
  std::vector<Pending> todo;
  if (!pattern_shallow_equal(a, b, todo)) return false;
  if (std::optional<bool> direct = drain(todo, DIRECT_PAIRS)) return *direct;
  // Large trees: unequal whole-tree hashes settle it; equal ones are
  // confirmed by comparing the rest.
  if (hash(a) != hash(b)) return false;
  return drain(todo);
}

std::uint64_t StructureCache::hash(const SeqPattern& pattern) {
  if (auto it = pattern_hashes_.find(&pattern); it != pattern_hashes_.end()) return it->second;
  // Every item node first, so that the post-order below only looks them up.
  std::vector<const SeqPattern*> work{&pattern};
  while (!work.empty()) {
    const SeqPattern* p = work.back();
    work.pop_back();
    for (const SchemaNode& n : p->item) hash(n);
    for (const SeqPattern& part : p->parts) work.push_back(&part);
  }
  work.push_back(&pattern);
  std::vector<bool> ready{false};
  while (!work.empty()) {
    const SeqPattern* p = work.back();
    if (pattern_hashes_.contains(p)) {
      work.pop_back();
      ready.pop_back();
      continue;
    }
    if (!ready.back()) {
      ready.back() = true;
      for (const SeqPattern& part : p->parts) {
        if (!pattern_hashes_.contains(&part)) {
          work.push_back(&part);
          ready.push_back(false);
        }
      }
      continue;
    }
    std::uint64_t h = mix(0x5E, static_cast<std::uint64_t>(p->kind));
    for (const SchemaNode& n : p->item) h = mix(h, node_hashes_.at(&n));
    h = mix(h, p->parts.size());
    for (const SeqPattern& part : p->parts) h = mix(h, pattern_hashes_.at(&part));
    pattern_hashes_.emplace(p, h);
    work.pop_back();
    ready.pop_back();
  }
  return pattern_hashes_.at(&pattern);
}

std::uint64_t StructureCache::hash(const SchemaNode& root) {
  if (auto it = node_hashes_.find(&root); it != node_hashes_.end()) return it->second;
  // Post-order over the nodes with an explicit stack. Patterns nest only
  // patterns and item nodes; an item node is hashed before its pattern.
  struct Frame {
    const SchemaNode* node;
    bool ready;
  };
  std::vector<Frame> work{{&root, false}};
  auto queue = [&](const SchemaNode& child) {
    if (!node_hashes_.contains(&child)) work.push_back({&child, false});
  };
  auto queue_pattern_items = [&](const SeqPattern& pattern) {
    std::vector<const SeqPattern*> patterns{&pattern};
    while (!patterns.empty()) {
      const SeqPattern* p = patterns.back();
      patterns.pop_back();
      for (const SchemaNode& n : p->item) queue(n);
      for (const SeqPattern& part : p->parts) patterns.push_back(&part);
    }
  };
  while (!work.empty()) {
    const Frame frame = work.back();
    const SchemaNode& n = *frame.node;
    if (!frame.ready) {
      work.back().ready = true;
      for (const SchemaNode& child : n.children) queue(child);
      for (const SeqPattern& p : n.pattern) queue_pattern_items(p);
      for (const RecordField& f : n.fields) queue(f.node);
      for (const ExtrasPair& e : n.extras) {
        queue(e.key);
        queue(e.value);
      }
      continue;
    }
    work.pop_back();
    std::uint64_t h = mix(0xA1, static_cast<std::uint64_t>(n.kind));
    switch (n.kind) {
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
        h = mix(h, n.word);
        break;
      case NodeKind::Sequence:
        h = mix(h, static_cast<std::uint64_t>(n.seq_kind));
        // Every item node below is hashed by now, so this does not nest.
        h = mix(h, hash(n.seq_pattern()));
        break;
      case NodeKind::Set:
      case NodeKind::FrozenSet:
      case NodeKind::Complement:
      case NodeKind::Union:
      case NodeKind::Intersection:
        h = mix(h, n.children.size());
        for (const SchemaNode& child : n.children) h = mix(h, node_hashes_.at(&child));
        break;
      case NodeKind::Object:
        h = mix(h, n.word);
        [[fallthrough]];
      case NodeKind::Record:
        h = mix(h, n.fields.size());
        for (const RecordField& f : n.fields) {
          h = mix(h, std::hash<std::string_view>{}(f.key));
          h = mix(h, f.required ? 1 : 0);
          h = mix(h, node_hashes_.at(&f.node));
        }
        h = mix(h, n.extras.size());
        for (const ExtrasPair& e : n.extras) {
          h = mix(h, node_hashes_.at(&e.key));
          h = mix(h, node_hashes_.at(&e.value));
        }
        break;
      case NodeKind::Refined:
        h = constraint_hash(mix(h, node_hashes_.at(&n.base())), n.constraints);
        break;
    }
    node_hashes_.emplace(&n, h);
  }
  return node_hashes_.at(&root);
}

}  // namespace quillmar::core::decision_detail
