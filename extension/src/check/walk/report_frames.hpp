// The frames of the reporting walk. A frame is one step in progress: it
// starts, asks for child walks one at a time, is resumed with each child's
// answer, and finishes with its own. The walk keeps the frames in a vector,
// so the report's depth costs heap, not native stack.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "check/walk/check_tables.hpp"
#include "check/walk/memoised_ref.hpp"
#include "check/walk/sequence_shape.hpp"
#include "check/walk/walk.hpp"
#include "py/dict_entries.hpp"
#include "py/ref.hpp"

namespace quillmar::ext {

class ReportWalk;

// The kinds whose reporting walk keeps a frame: those that walk an item of
// the value or walk it again under other nodes.
inline bool walks_in_frame(NodeKind kind) {
  switch (kind) {
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Object:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Ref:
    case NodeKind::Refined:
      return true;
    default:
      return false;
  }
}

// What a frame asks for next: a child walked, after which the frame resumes
// with the child's answer, or the frame's own answer.
struct Move {
  enum class Route : std::uint8_t {
    Plain,
    Shared,  // an item held elsewhere too: through the memo, keyed by the node
    Memoised,
  };

  bool descends = false;
  bool answer = false;
  Route route = Route::Plain;
  WalkMode mode = WalkMode::CollectAll;
  const SchemaNode* node = nullptr;
  PyObject* value = nullptr;
  MemoSubject subject{0};

  static Move finish(bool answer) {
    Move move;
    move.answer = answer;
    return move;
  }
  static Move walk(const SchemaNode& node, PyObject* value, WalkMode mode) {
    Move move;
    move.descends = true;
    move.mode = mode;
    move.node = &node;
    move.value = value;
    return move;
  }
  // An item of which the container's walk holds `held` references.
  static Move walk_held(const SchemaNode& node, PyObject* item, Py_ssize_t held, WalkMode mode) {
    Move move = walk(node, item, mode);
    if (is_shared_container(item, held)) move.route = Route::Shared;
    return move;
  }
  static Move walk_memoised(const SchemaNode& node, MemoSubject subject, PyObject* value, WalkMode mode) {
    Move move = walk(node, value, mode);
    move.route = Route::Memoised;
    move.subject = subject;
    return move;
  }
};

// Every frame holds the node and the value it walks, borrowed: the frame
// below it holds the value as long as the walk the frame stands for.
struct FrameBase {
  const SchemaNode* node;
  PyObject* value;
  WalkMode mode;
};

struct UnionFrame : FrameBase {
  std::size_t first = 0;  // where the members' items begin in the list
  std::size_t mine = 0;   // where the member being walked records
  std::size_t base = 0;   // the union's path length
  std::size_t best_depth = 0;
  std::size_t next = 0;
  std::size_t walked = 0;

  Move start(ReportWalk& walk);
  Move resume(ReportWalk& walk, bool child);
};

struct IntersectionFrame : FrameBase {
  std::size_t next = 0;
  std::uint64_t steps = 0;
  bool all_ok = true;

  Move start(ReportWalk& walk);
  Move resume(ReportWalk& walk, bool child);
};

struct RefinedFrame : FrameBase {
  Move start(ReportWalk& walk);
  Move resume(ReportWalk& walk, bool child);
};

// A Ref step whose pair the guard entered; it leaves the pair as it finishes.
struct RefFrame : FrameBase {
  std::uint64_t definition = 0;
  bool entered = false;

  Move start(ReportWalk& walk);
  Move resume(ReportWalk& walk, bool child);
  void leave(ReportWalk& walk);
};

// A walk answered from the memo, or walked and kept.
struct MemoFrame : FrameBase {
  MemoSubject subject{0};
  std::uint32_t step = 0;
  bool recording = false;

  Move start(ReportWalk& walk);
  Move resume(ReportWalk& walk, bool child);
};

struct SequenceFrame : FrameBase {
  ShapeView shape;
  Py_ssize_t size = 0;
  Py_ssize_t next = 0;
  PyRef item;  // a list's item, held while walked
  bool is_list = false;
  bool all_ok = true;

  Move start(ReportWalk& walk);
  Move resume(ReportWalk& walk, bool child);
  Move next_item(ReportWalk& walk);
  bool item_walked(ReportWalk& walk, bool child);
};

struct SetFrame : FrameBase {
  PyRef iterator;
  PyRef item;
  bool all_ok = true;

  Move start(ReportWalk& walk);
  Move resume(ReportWalk& walk, bool child);
  Move next_item(ReportWalk& walk);
  Move end(ReportWalk& walk);
};

// A record whose boolean pass failed, reported in two passes over its dict:
// the declared keys in declared order, then the undeclared entries.
struct RecordFrame : FrameBase {
  enum class Phase : std::uint8_t { Declared, UndeclaredKey, UndeclaredValue };

  PyRef held;
  std::unique_ptr<RecordIndex> local;
  const RecordIndex* index = nullptr;
  std::vector<std::pair<std::size_t, PyRef>> found;  // (declared key, value), by declared key
  std::size_t key = 0;       // the declared key being reported
  std::size_t entry = 0;     // its entry in found
  std::size_t key_end = 0;   // past its last entry
  std::size_t field = 0;     // the field of the key walking the entry
  bool key_started = false;
  Phase phase = Phase::Declared;
  std::uint64_t steps = 0;
  std::optional<DictEntries> entries;
  PyRef entry_key;
  PyRef entry_value;

  Move start(ReportWalk& walk);
  Move resume(ReportWalk& walk, bool child);

 private:
  bool done(ReportWalk& walk) const;
  bool collect_declared(ReportWalk& walk);
  Move next_declared(ReportWalk& walk);
  bool declared_field_walked(ReportWalk& walk);
  Move start_undeclared(ReportWalk& walk);
  Move next_undeclared(ReportWalk& walk);
};

struct ObjectFrame : FrameBase {
  PyRef held_value;
  PyRef held_class;
  std::span<const PyRef> names;
  std::size_t next = 0;
  PyRef attribute;
  bool all_ok = true;

  Move start(ReportWalk& walk);
  Move resume(ReportWalk& walk, bool child);
  Move next_field(ReportWalk& walk);
};

using Frame = std::variant<UnionFrame, IntersectionFrame, RefinedFrame, RefFrame, MemoFrame, SequenceFrame, SetFrame,
                           RecordFrame, ObjectFrame>;

class ReportWalk {
 public:
  ReportWalk(CheckState& state, Path& path, ErrorList& errors) : state_(state), path_(path), errors_(errors) {}
  ReportWalk(const ReportWalk&) = delete;
  ReportWalk& operator=(const ReportWalk&) = delete;
  // After an exception: the Ref pairs still entered are left, newest first.
  ~ReportWalk();

  bool run(const SchemaNode& root, PyObject* value, WalkMode mode);

  // The answer of a child that takes no frame, walked now: a plain walk of
  // a kind that walks no item of the value. A frame's loop goes on with it
  // in place of a round through the walk's loop.
  std::optional<bool> leaf_answer(const Move& move);

  CheckState& state() { return state_; }
  Path& path() { return path_; }
  ErrorList& errors() { return errors_; }
  WalkContext ctx(WalkMode mode) { return {&state_, mode}; }

 private:
  // The child's answer when it is a leaf, walked now; none when a frame was
  // pushed for it.
  std::optional<bool> enter(const Move& move);
  std::optional<bool> enter_node(const SchemaNode& node, PyObject* value, WalkMode mode);
  template <class F>
  F& push(const SchemaNode& node, PyObject* value, WalkMode mode) {
    // Room for a report a few levels deep at the first push, in one block
    // the allocator keeps at hand.
    if (frames_.capacity() == 0) frames_.reserve(4);
    F& frame = std::get<F>(frames_.emplace_back(std::in_place_type<F>));
    frame.node = &node;
    frame.value = value;
    frame.mode = mode;
    return frame;
  }
  template <class F>
  std::optional<bool> enter_frame(const SchemaNode& node, PyObject* value, WalkMode mode) {
    push<F>(node, value, mode);
    return std::nullopt;
  }

  CheckState& state_;
  Path& path_;
  ErrorList& errors_;
  std::vector<Frame> frames_;
};

}  // namespace quillmar::ext
