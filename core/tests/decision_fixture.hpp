// Tree builders and a scripted host oracle for the decision tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "quillmar/core/decision/oracle.hpp"
#include "quillmar/core/node.hpp"

namespace quillmar::core::decision_testing {

inline SchemaNode leaf(NodeKind kind) { return SchemaNode::leaf(kind); }
inline SchemaNode anything() { return leaf(NodeKind::Anything); }
inline SchemaNode any() { return leaf(NodeKind::Any); }
inline SchemaNode nothing() { return leaf(NodeKind::Nothing); }
inline SchemaNode none() { return leaf(NodeKind::None); }
inline SchemaNode boolean() { return leaf(NodeKind::Bool); }
inline SchemaNode int_() { return leaf(NodeKind::Int); }
inline SchemaNode float_() { return leaf(NodeKind::Float); }
inline SchemaNode str() { return leaf(NodeKind::Str); }
inline SchemaNode bytes() { return leaf(NodeKind::Bytes); }
inline SchemaNode literal(std::uint64_t index) { return SchemaNode::literal(index); }
inline SchemaNode instance(std::uint64_t index) { return SchemaNode::instance(index); }
inline SchemaNode ref(std::uint64_t definition) { return SchemaNode::ref(definition); }
inline SchemaNode not_(SchemaNode inner) { return SchemaNode::complement(std::move(inner)); }
inline SchemaNode set_of(SchemaNode element) { return SchemaNode::set(std::move(element)); }
inline SchemaNode frozen_set_of(SchemaNode element) { return SchemaNode::frozen_set(std::move(element)); }

template <class... Nodes>
std::vector<SchemaNode> nodes(Nodes... n) {
  std::vector<SchemaNode> out;
  (out.push_back(std::move(n)), ...);
  return out;
}
template <class... Nodes>
SchemaNode any_of(Nodes... n) {
  return SchemaNode::union_of(nodes(std::move(n)...));
}
template <class... Nodes>
SchemaNode all_of(Nodes... n) {
  return SchemaNode::intersection_of(nodes(std::move(n)...));
}

inline SeqPattern item(SchemaNode n) { return SeqPattern::item_of(std::move(n)); }
inline SeqPattern star(SeqPattern p) { return SeqPattern::star(std::move(p)); }
template <class... Patterns>
std::vector<SeqPattern> patterns(Patterns... p) {
  std::vector<SeqPattern> out;
  (out.push_back(std::move(p)), ...);
  return out;
}
template <class... Patterns>
SeqPattern concat(Patterns... p) {
  return SeqPattern::concat(patterns(std::move(p)...));
}
template <class... Patterns>
SeqPattern alt(Patterns... p) {
  return SeqPattern::alt(patterns(std::move(p)...));
}

inline SchemaNode list_of(SchemaNode element) { return SchemaNode::sequence(SeqKind::List, star_of_item(std::move(element))); }
inline SchemaNode list_pattern(SeqPattern p) { return SchemaNode::sequence(SeqKind::List, std::move(p)); }
inline SchemaNode tuple_pattern(SeqPattern p) { return SchemaNode::sequence(SeqKind::Tuple, std::move(p)); }
template <class... Nodes>
SchemaNode tuple_of(Nodes... n) {
  return tuple_pattern(concat(item(std::move(n))...));
}
// tuple[T, ...]
inline SchemaNode tuple_star(SchemaNode element) { return tuple_pattern(star_of_item(std::move(element))); }

inline RecordField req(std::string key, SchemaNode node) { return RecordField{std::move(key), std::move(node), true}; }
inline RecordField opt(std::string key, SchemaNode node) { return RecordField{std::move(key), std::move(node), false}; }
inline ExtrasPair extra(SchemaNode key, SchemaNode value) { return ExtrasPair{std::move(key), std::move(value)}; }

template <class... Fields>
std::vector<RecordField> fields(Fields... f) {
  std::vector<RecordField> out;
  (out.push_back(std::move(f)), ...);
  return out;
}
inline SchemaNode record(std::vector<RecordField> f, std::vector<ExtrasPair> extras = {}) {
  return SchemaNode::record(std::move(f), std::move(extras));
}
inline std::vector<ExtrasPair> extras(ExtrasPair p) {
  std::vector<ExtrasPair> out;
  out.push_back(std::move(p));
  return out;
}
inline SchemaNode object(std::uint64_t class_index, std::vector<RecordField> f) {
  return SchemaNode::object(class_index, std::move(f));
}
inline SchemaNode refined(SchemaNode base, std::vector<Constraint> constraints) {
  return SchemaNode::refined(std::move(base), std::move(constraints));
}

// Destroys a tree without recursion, for trees deeper than the native stack
// can unwind.
inline void dismantle(SchemaNode root) {
  std::vector<SchemaNode> work;
  std::vector<SeqPattern> pattern_work;
  work.push_back(std::move(root));
  while (!work.empty() || !pattern_work.empty()) {
    if (!pattern_work.empty()) {
      SeqPattern p = std::move(pattern_work.back());
      pattern_work.pop_back();
      for (SchemaNode& n : p.item) work.push_back(std::move(n));
      for (SeqPattern& part : p.parts) pattern_work.push_back(std::move(part));
      continue;
    }
    SchemaNode n = std::move(work.back());
    work.pop_back();
    for (SchemaNode& child : n.children) work.push_back(std::move(child));
    for (SeqPattern& p : n.pattern) pattern_work.push_back(std::move(p));
    for (RecordField& f : n.fields) work.push_back(std::move(f.node));
    for (ExtrasPair& e : n.extras) {
      work.push_back(std::move(e.key));
      work.push_back(std::move(e.value));
    }
  }
}

// Owns a deep tree and dismantles it on destruction.
class DeepTree {
 public:
  explicit DeepTree(SchemaNode root) : root_(std::move(root)) {}
  DeepTree(const DeepTree&) = delete;
  DeepTree& operator=(const DeepTree&) = delete;
  ~DeepTree() { dismantle(std::move(root_)); }
  const SchemaNode& operator*() const { return root_; }

 private:
  SchemaNode root_;
};

// The host, scripted: pool constants are numbers (a missing index cannot be
// ordered), leaf answers are listed by (sub, sup), and every call is counted.
class FakeOracle final : public HostOracle {
 public:
  struct GapCall {
    std::uint64_t lo;
    bool lo_strict;
    std::uint64_t hi;
    bool hi_strict;
    bool operator==(const GapCall&) const = default;
  };

  std::map<std::uint64_t, double> constants;
  std::vector<std::pair<std::pair<SchemaNode, SchemaNode>, Verdict>> leaf_answers;
  std::optional<Verdict> gap_answer;  // otherwise worked out from the constants

  int leaf_calls = 0;
  std::vector<std::pair<SchemaNode, SchemaNode>> leaf_log;
  int compare_calls = 0;
  std::vector<GapCall> gap_calls;

  void answer_leaf(SchemaNode sub, SchemaNode sup, Verdict verdict) {
    leaf_answers.push_back({{std::move(sub), std::move(sup)}, verdict});
  }
  int calls() const { return leaf_calls + compare_calls + static_cast<int>(gap_calls.size()); }

  Verdict leaf_subtype(const SchemaNode& sub, const SchemaNode& sup) override {
    ++leaf_calls;
    leaf_log.push_back({sub, sup});
    for (const auto& [pair, verdict] : leaf_answers) {
      if (nodes_equal(pair.first, sub) && nodes_equal(pair.second, sup)) return verdict;
    }
    return Verdict::Unknown;
  }

  ConstOrder compare_constants(std::uint64_t a, std::uint64_t b) override {
    ++compare_calls;
    auto x = constants.find(a);
    auto y = constants.find(b);
    if (x == constants.end() || y == constants.end()) return ConstOrder::Unknown;
    if (x->second < y->second) return ConstOrder::Less;
    if (x->second > y->second) return ConstOrder::Greater;
    return ConstOrder::Equal;
  }

  Verdict no_integer_between(std::uint64_t lo, bool lo_strict, std::uint64_t hi, bool hi_strict) override {
    gap_calls.push_back({lo, lo_strict, hi, hi_strict});
    if (gap_answer) return *gap_answer;
    auto x = constants.find(lo);
    auto y = constants.find(hi);
    if (x == constants.end() || y == constants.end()) return Verdict::Unknown;
    const double first = lo_strict ? std::floor(x->second) + 1 : std::ceil(x->second);
    const bool fits = hi_strict ? first < y->second : first <= y->second;
    return fits ? Verdict::No : Verdict::Yes;
  }
};

}  // namespace quillmar::core::decision_testing
