// The reporting walk's loop, and its frames for unions, intersections,
// Refined nodes, Ref steps and memoised walks.
#include "check/walk/report_walk.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "check/walk/report_frames.hpp"
#include "quillmar/core/kinds.hpp"

namespace quillmar::ext {

bool report_walk(const SchemaNode& root, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
  if (!ctx.reporting()) return walk(root, value, path, ctx, errors);
  ReportWalk walk(*ctx.state, path, errors);
  return walk.run(root, value, ctx.mode);
}

ReportWalk::~ReportWalk() {
  while (!frames_.empty()) {
    if (auto* ref = std::get_if<RefFrame>(&frames_.back())) ref->leave(*this);
    frames_.pop_back();
  }
}

std::optional<bool> ReportWalk::leaf_answer(const Move& move) {
  if (move.route != Move::Route::Plain) return std::nullopt;
  if (state_.fatal_seen) return false;
  if (walks_in_frame(move.node->kind)) return std::nullopt;
  return walk(*move.node, move.value, path_, ctx(move.mode), errors_);
}

[[gnu::always_inline]] inline std::optional<bool> ReportWalk::enter_node(const SchemaNode& node, PyObject* value,
                                                                       WalkMode mode) {
  if (state_.fatal_seen) return false;
  switch (node.kind) {
    case NodeKind::Sequence:
      return enter_frame<SequenceFrame>(node, value, mode);
    case NodeKind::Set:
    case NodeKind::FrozenSet:
      return enter_frame<SetFrame>(node, value, mode);
    case NodeKind::Record:
      return enter_frame<RecordFrame>(node, value, mode);
    case NodeKind::Object:
      return enter_frame<ObjectFrame>(node, value, mode);
    case NodeKind::Union:
      return enter_frame<UnionFrame>(node, value, mode);
    case NodeKind::Intersection:
      return enter_frame<IntersectionFrame>(node, value, mode);
    case NodeKind::Ref:
      return enter_frame<RefFrame>(node, value, mode);
    case NodeKind::Refined:
      return enter_frame<RefinedFrame>(node, value, mode);
    default:
      // The other kinds walk no item of the value in a reporting mode: a
      // complement's inner walk is boolean.
      return walk(node, value, path_, ctx(mode), errors_);
  }
}

[[gnu::always_inline]] inline std::optional<bool> ReportWalk::enter(const Move& move) {
  switch (move.route) {
    case Move::Route::Plain:
      return enter_node(*move.node, move.value, move.mode);
    case Move::Route::Shared:
      // As walk_shared_item: the memo starts, and a Ref step keeps its own outcome.
      if (state_.fatal_seen) return false;
      state_.memo.start();
      if (move.node->kind == NodeKind::Ref) return enter_node(*move.node, move.value, move.mode);
      push<MemoFrame>(*move.node, move.value, move.mode).subject = MemoSubject::node(*move.node);
      return std::nullopt;
    case Move::Route::Memoised:
      push<MemoFrame>(*move.node, move.value, move.mode).subject = move.subject;
      return std::nullopt;
  }
  return false;
}

bool ReportWalk::run(const SchemaNode& root, PyObject* value, WalkMode mode) {
  std::optional<bool> answer = enter_node(root, value, mode);
  while (!frames_.empty()) {
    // A frame is resumed with the answer of the walk it asked for, and
    // started when it was just pushed.
    Move move = std::visit(
        [&](auto& frame) { return answer ? frame.resume(*this, *answer) : frame.start(*this); }, frames_.back());
    if (move.descends) {
      answer = enter(move);
      continue;
    }
    frames_.pop_back();
    answer = move.answer;
  }
  return *answer;
}

namespace {

// The report of a failing union walks at most this many members.
constexpr std::size_t MAX_UNION_REPORT_MEMBERS = 64;

std::string member_kind_names(const std::vector<SchemaNode>& members) {
  std::string names;
  for (const SchemaNode& member : members) {
    if (!names.empty()) names += ", ";
    names += core::kind_name(member);
  }
  return names;
}

void push_union_error(const std::vector<SchemaNode>& members, PyObject* value, const Path& path,
                      ErrorList& errors) {
  std::string expected = fmt::format("one of: {}", member_kind_names(members));
  errors.push_back(make_error_item("union_error", std::move(expected), value, path));
}

// How far below the union's own place the deepest item from first on reaches.
std::size_t report_depth(const ErrorList& errors, std::size_t first, std::size_t base) {
  std::size_t depth = 0;
  for (std::size_t i = first; i < errors.size(); ++i) {
    const std::size_t size = errors[i].path.size();
    depth = std::max(depth, size > base ? size - base : 0);
  }
  return depth;
}

void erase_items(ErrorList& errors, std::size_t from, std::size_t to) {
  errors.erase(errors.begin() + static_cast<std::ptrdiff_t>(from), errors.begin() + static_cast<std::ptrdiff_t>(to));
}

}  // namespace

// The report shows the member whose failures reach deepest: a value that
// fails inside a member gets that member's own items, one that fails every
// member at this level gets a single union_error. Ties keep the first. Each
// member records after the best so far, which it replaces or is dropped.
Move UnionFrame::start(ReportWalk& walk) {
  CheckState& state = walk.state();
  const WalkContext ctx = walk.ctx(mode);
  const std::uint64_t steps = state.guard.entered();
  if (union_accepts(*node, value, ctx)) return Move::finish(true);
  if (!ctx.recording()) return Move::finish(false);
  note_rewalk(steps, state);
  first = mine = walk.errors().size();
  base = walk.path().size();
  walked = std::min(node->members().size(), MAX_UNION_REPORT_MEMBERS);
  if (walked == 0) {
    push_union_error(node->members(), value, walk.path(), walk.errors());
    return Move::finish(false);
  }
  return Move::walk(node->members()[next++], value, WalkMode::CollectAll);
}

Move UnionFrame::resume(ReportWalk& walk, bool) {
  ErrorList& errors = walk.errors();
  const std::size_t depth = report_depth(errors, mine, base);
  if (next == 1 || depth > best_depth) {
    erase_items(errors, first, mine);
    best_depth = depth;
  } else {
    erase_items(errors, mine, errors.size());
  }
  if (next < walked) {
    mine = errors.size();
    return Move::walk(node->members()[next++], value, WalkMode::CollectAll);
  }
  if (best_depth == 0) {
    erase_items(errors, first, errors.size());
    push_union_error(node->members(), value, walk.path(), errors);
  }
  return Move::finish(false);
}

Move IntersectionFrame::start(ReportWalk& walk) {
  if (node->members().empty()) return Move::finish(true);
  steps = walk.state().guard.entered();
  return Move::walk(node->members()[next++], value, mode);
}

Move IntersectionFrame::resume(ReportWalk& walk, bool child) {
  CheckState& state = walk.state();
  note_rewalk(steps, state);
  if (!child) {
    all_ok = false;
    if (walk.ctx(mode).stops_at_first_failure()) return Move::finish(false);
  }
  if (next == node->members().size()) return Move::finish(all_ok);
  steps = state.guard.entered();
  return Move::walk(node->members()[next++], value, mode);
}

Move RefinedFrame::start(ReportWalk&) { return Move::walk(node->base(), value, mode); }

Move RefinedFrame::resume(ReportWalk& walk, bool child) {
  if (!child) return Move::finish(false);
  return Move::finish(constraints_hold(*node, value, walk.path(), walk.ctx(mode), walk.errors()));
}

Move RefFrame::start(ReportWalk& walk) {
  CheckState& state = walk.state();
  definition = node->definition();
  const RecursionGuard::Entry entry = state.guard.enter(value, definition, walk.path().size());
  if (entry != RecursionGuard::Entry::Entered) {
    return Move::finish(refuse_ref(entry, value, walk.path(), walk.ctx(mode), walk.errors()));
  }
  entered = true;
  const std::vector<SchemaNode>& definitions = state.schema->definitions;
  if (definition >= definitions.size()) {
    leave(walk);
    return Move::finish(false);
  }
  const SchemaNode& body = definitions[definition];
  if (!state.memo.on()) return Move::walk(body, value, mode);
  return Move::walk_memoised(body, MemoSubject::definition(definition), value, mode);
}

Move RefFrame::resume(ReportWalk& walk, bool child) {
  leave(walk);
  return Move::finish(child);
}

void RefFrame::leave(ReportWalk& walk) {
  if (!entered) return;
  entered = false;
  walk.state().guard.leave(value, definition);
}

Move MemoFrame::start(ReportWalk& walk) {
  CheckState& state = walk.state();
  const WalkContext ctx = walk.ctx(mode);
  recording = ctx.recording();
  const MemoReport report{value, walk.path(), walk.errors()};
  const MemoLookup lookup =
      begin_memo_step(state, subject, value, memo_mode(ctx, walk.errors()), recording ? &report : nullptr);
  if (lookup.known) return Move::finish(lookup.known->member);
  step = lookup.step;
  return Move::walk(*node, value, mode);
}

Move MemoFrame::resume(ReportWalk& walk, bool child) {
  const MemoReport report{value, walk.path(), walk.errors()};
  end_memo_step(walk.state(), step, value, child, recording ? &report : nullptr);
  return Move::finish(child);
}

}  // namespace quillmar::ext
