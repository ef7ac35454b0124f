// The inclusion decision: whether every member of one schema is a member of
// another.
//
// Sound, not complete: true only when proven. Structure is compared first,
// empty subtypes and full supertypes are settled by the emptiness decision,
// recursion is handled coinductively over the assumption stack, and leaves
// are left to the host oracle.
#pragma once

#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

#include "quillmar/core/decision/field_map.hpp"
#include "quillmar/core/decision/oracle.hpp"
#include "quillmar/core/node.hpp"

namespace quillmar::core {

// The (sub, sup) pairs whose Ref unfoldings are in progress on the current
// path; meeting one again proves it. Entries borrow the two nodes: each is
// owned by the step that pushed it, which pops before it returns.
class AssumptionStack {
 public:
  void push(const SchemaNode& sub, const SchemaNode& sup);
  void pop();
  // Some entry is structurally equal to (sub, sup).
  bool holds(const SchemaNode& sub, const SchemaNode& sup) const;
  bool holds(const SchemaNode& sub, const SchemaNode& sup, decision_detail::StructureCache& structure) const;
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

 private:
  struct Entry {
    const SchemaNode* sub;
    const SchemaNode* sup;
    std::uint64_t hash;
  };
  template <class Equal>
  bool holds_by(const SchemaNode& sub, const SchemaNode& sup, Equal equal) const;

  std::vector<Entry> entries_;
  // Entry positions by pair hash, so that a deep stack is not scanned at
  // every step.
  std::unordered_multimap<std::uint64_t, std::size_t> by_hash_;
};

bool is_subtype(const SchemaNode& sub, const SchemaNode& sup, DecisionContext ctx, AssumptionStack& stack);

// Two Sequence patterns of the same SeqKind.
bool pattern_subtype(const SeqPattern& sub, const SeqPattern& sup, DecisionContext ctx, AssumptionStack& stack);

bool record_subtype(std::span<const RecordField> sub_fields, std::span<const ExtrasPair> sub_extras,
                    std::span<const RecordField> sup_fields, std::span<const ExtrasPair> sup_extras,
                    DecisionContext ctx, AssumptionStack& stack);

// sub lies within Complement(inner): sub and inner share no value.
bool within_complement(const SchemaNode& sub, const SchemaNode& inner, DecisionContext ctx);

// Every attribute the supertype declares is declared by the subtype with a
// value schema included in the supertype's.
bool attributes_subtype(std::span<const RecordField> sup_fields, const FieldMap& sub_fields, DecisionContext ctx,
                        AssumptionStack& stack);

// The subtype's constraints imply every one of the supertype's.
bool constraints_imply(std::span<const Constraint> sup_constraints, std::span<const Constraint> sub_constraints,
                       HostOracle& oracle);

// a within b, and then b within a, on the context's one counter: the second
// direction runs only when the first holds, on what the first left.
bool is_equivalent(const SchemaNode& a, const SchemaNode& b, DecisionContext ctx);

// Whole queries: a fresh counter at WORK_BUDGET and empty stacks.
bool query_is_subtype(const SchemaNode& sub, const SchemaNode& sup, HostOracle& oracle,
                      std::span<const SchemaNode> definitions);
bool query_is_equivalent(const SchemaNode& a, const SchemaNode& b, HostOracle& oracle,
                         std::span<const SchemaNode> definitions);

}  // namespace quillmar::core
