// Every rule answers as the tree walk answers for the tree the reader would
// build. A value's identity for the recursion guard is the address of its
// first byte, distinct for every value of the document. A rule that walks a
// value again (union and intersection members, a complement, extras pairs,
// a failed member's rest) returns to the value's first byte and reads it
// again.
#include "check/walk/json_stream_walk.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "check/walk/check_tables.hpp"
#include "check/walk/json_walk.hpp"
#include "check/walk/record_keys.hpp"
#include "check/walk/sequence_shape.hpp"
#include "json/cursor.hpp"

namespace quillmar::ext {
namespace {

using core::Constraint;
using core::ConstraintKind;
using json_detail::PythonSink;
using json_detail::Step;
using json_detail::TokenSink;

enum class StreamVerdict : std::uint8_t { Member, NotMember, Malformed, Undecided };

// The records being read, innermost last: for each, the states of its
// declared keys (the last member with a key decides it, as the dict built
// from the document holds it) and the undeclared keys whose last member so
// far failed the extras, as slices of stacks the walk owns, so the frames of
// the walk's recursion stay small. A later member with a failed key replaces
// that verdict, so an object is decided only at its end; past a few failed
// keys the tree walk, whose key table is hashed, decides instead.
class RecordStacks {
 public:
  enum State : std::uint8_t { Absent, Passed, Failed };
  static constexpr std::size_t kMaxFailed = 8;
  struct Slice {
    std::size_t states;
    std::size_t failed;
  };

  Slice open(std::size_t keys) {
    Slice slice{states_.size(), failed_.size()};
    states_.resize(slice.states + keys, Absent);
    return slice;
  }
  void close(Slice slice) {
    states_.resize(slice.states);
    failed_.resize(slice.failed);
  }
  State& state(Slice slice, std::size_t key) { return states_[slice.states + key]; }

  bool none_failed(Slice slice) const { return failed_.size() == slice.failed; }
  bool too_many_failed(Slice slice) const { return failed_.size() - slice.failed > kMaxFailed; }
  // The member with this undeclared key passed or failed.
  void settle(Slice slice, std::string_view key, bool passed) {
    if (passed && none_failed(slice)) return;
    for (std::size_t i = slice.failed; i < failed_.size(); ++i) {
      if (failed_[i] != key) continue;
      if (passed) failed_.erase(failed_.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
    if (!passed) failed_.emplace_back(key);
  }

  // A key's bytes kept while its value is read (which may reuse the buffer
  // they were decoded into); found again by offset, as holding more may move them.
  std::size_t hold(std::string_view key) {
    const std::size_t at = held_.size();
    held_.append(key);
    return at;
  }
  std::string_view held(std::size_t at, std::size_t size) const { return std::string_view(held_).substr(at, size); }
  void release(std::size_t at) { held_.resize(at); }

 private:
  std::vector<State> states_;
  std::vector<std::string> failed_;
  std::string held_;
};

// Over a cursor that builds objects, a member leaves exactly its object on the
// sink's stack; any other verdict may leave part of one, which a rule that
// goes on drops first.
template <class Cursor>
class StreamWalk {
 public:
  static constexpr bool builds = Cursor::builds_objects;

  StreamWalk(Cursor& cursor, CheckState& state) : cursor_(cursor), ctx_{&state, WalkMode::BooleanOnly} {}

  // The value at the cursor, at this nesting level; a member leaves the
  // cursor just past it.
  StreamVerdict value(const SchemaNode& node, unsigned level) {
    // Near the stack's end the tree walk decides, and fails there.
    if (state().stack.exhausted()) [[unlikely]] return StreamVerdict::Undecided;
    if (!cursor_.at_container()) return scalar(node, level);
    if (level > JSON_RECURSION_LIMIT) return StreamVerdict::Malformed;
    return container(node, level);
  }

 private:
  CheckState& state() const { return *ctx_.state; }

  StreamVerdict skip(unsigned level) { return cursor_.pass_value(level) ? StreamVerdict::Member : read_failure(); }
  // A value some rule walked (and perhaps refused) is read again from its
  // start, whatever the walk made of it dropped.
  [[gnu::noinline]] StreamVerdict skip_from(std::size_t start, std::size_t mark, unsigned level) {
    cursor_.discard_to(mark);
    cursor_.seek(start);
    return skip(level);
  }
  // Back to a value's start for another rule to walk it.
  void rewind(std::size_t start, std::size_t mark) {
    cursor_.discard_to(mark);
    cursor_.seek(start);
  }

  // A plain type decides a scalar here; the tree walk (the Python walk over
  // the object, where the cursor makes them) decides the rest. A memo keys
  // on a value's address, and the token's is every scalar's, so a check that
  // needs one is left to the tree walk.
  [[gnu::noinline]] StreamVerdict scalar(const SchemaNode& node, unsigned level) {
    if (std::optional<PlainType> type = plain_type(node.kind)) {
      return plain_item(*type, level, level <= JSON_RECURSION_LIMIT);
    }
    if (!cursor_.read_value(level)) return read_failure();
    if constexpr (builds) {
      return decide(node, cursor_.sink().top());
    } else {
      return decide(node, cursor_.sink().token);
    }
  }

  // The kind of the scalar just read; the reader makes only these exact types.
  JsonKind scalar_kind() const {
    if constexpr (builds) {
      PyTypeObject* type = Py_TYPE(cursor_.sink().top());
      if (type == &PyUnicode_Type) return JsonKind::String;
      if (type == &PyLong_Type) return JsonKind::Int;
      if (type == &PyFloat_Type) return JsonKind::Float;
      if (type == &PyBool_Type) return JsonKind::Bool;
      return JsonKind::Null;
    } else {
      return cursor_.sink().token.kind();
    }
  }

  // Out of line, as are the key's and the rest of a refused value's: the
  // walk's recursive frames stay small.
  [[gnu::noinline]] StreamVerdict decide(const SchemaNode& node, const JsonValue& token) {
    if (state().memo.on()) return StreamVerdict::Undecided;
    return verdict_of(walk_json(node, token, ctx_));
  }
  [[gnu::noinline]] StreamVerdict decide(const SchemaNode& node, PyObject* object) {
    if (state().memo.on()) return StreamVerdict::Undecided;
    Path path;
    ErrorList errors;
    return verdict_of(walk(node, object, path, ctx_, errors));
  }
  StreamVerdict verdict_of(bool member) const {
    if (state().memo.on() || state().fatal_seen) return StreamVerdict::Undecided;
    return member ? StreamVerdict::Member : StreamVerdict::NotMember;
  }

  // Out of line: a dispatch its callers would otherwise each carry.
  [[gnu::noinline]] StreamVerdict container(const SchemaNode& node, unsigned level) {
    switch (node.kind) {
      case NodeKind::Anything:
      case NodeKind::Any:
        return skip(level);
      case NodeKind::Sequence:
        return sequence(node, level);
      case NodeKind::Record:
        return record(node, level);
      case NodeKind::Union:
        return union_of(node, level);
      case NodeKind::Intersection:
        return intersection(node, level);
      case NodeKind::Complement:
        return complement(node, level);
      case NodeKind::Ref:
        return ref(node, level);
      case NodeKind::Refined:
        return refined(node, level);
      case NodeKind::Instance:
        return instance(node, level);
      case NodeKind::Literal:
        return literal(node);
      case NodeKind::Object:
        return StreamVerdict::Undecided;
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
        return StreamVerdict::NotMember;
    }
    return StreamVerdict::NotMember;
  }

  PyTypeObject* container_type() const { return cursor_.at_array() ? &PyList_Type : &PyDict_Type; }

  // A schema this check runs for holds no list or dict literal, and no other
  // literal equals a list or a dict.
  StreamVerdict literal(const SchemaNode& node) const {
    PyObject* literal = ctx_.schema()->pool.at(node.value_index());
    if (literal && Py_TYPE(literal) == container_type()) return StreamVerdict::Undecided;
    return StreamVerdict::NotMember;
  }

  StreamVerdict instance(const SchemaNode& node, unsigned level) {
    PyObject* cls = ctx_.schema()->pool.at(node.class_index());
    if (!cls) return StreamVerdict::NotMember;
    if (!Py_IS_TYPE(cls, &PyType_Type)) return StreamVerdict::Undecided;
    if (!PyType_IsSubtype(container_type(), reinterpret_cast<PyTypeObject*>(cls))) return StreamVerdict::NotMember;
    return skip(level);
  }

  StreamVerdict closed(bool folded) const { return folded ? StreamVerdict::Member : StreamVerdict::Undecided; }

  // JSON arrays are lists; they are never tuples.
  [[gnu::noinline]] StreamVerdict sequence(const SchemaNode& node, unsigned level) {
    std::optional<ShapeView> shape = shape_of(node.seq_pattern());
    if (!shape || node.seq_kind != core::SeqKind::List || !cursor_.at_array()) return StreamVerdict::NotMember;
    if (shape->prefix == 0 && shape->tail) {
      if (std::optional<PlainType> type = plain_type(shape->tail->kind)) return plain_items(*type, level);
    }
    const std::size_t mark = cursor_.mark();
    std::size_t count = 0;
    Step step = cursor_.open_array();
    for (; step == Step::Item; step = cursor_.next_array_item(), ++count) {
      if (!shape->tail && count == shape->prefix) return StreamVerdict::NotMember;
      StreamVerdict item = value(*shape->at(count), level + 1);
      if (item != StreamVerdict::Member) return item;
    }
    if (step == Step::Fail) return StreamVerdict::Malformed;
    if (count < shape->prefix) return StreamVerdict::NotMember;
    return closed(cursor_.close_array(mark));
  }

  // A list of one plain type, the commonest array schema, in one loop.
  StreamVerdict plain_items(PlainType item, unsigned level) {
    const std::size_t mark = cursor_.mark();
    Step step = cursor_.open_array();
    const bool within_limit = level + 1 <= JSON_RECURSION_LIMIT;
    for (; step == Step::Item; step = cursor_.next_array_item()) {
      StreamVerdict member = plain_item(item, level + 1, within_limit);
      if (member != StreamVerdict::Member) return member;
    }
    if (step == Step::Fail) return StreamVerdict::Malformed;
    return closed(cursor_.close_array(mark));
  }

  // A plain type's value. Numbers and strings, most of them, are read by
  // their first byte alone (past the nesting limit the reader refuses them).
  [[gnu::always_inline]] StreamVerdict plain_item(PlainType item, unsigned level, bool within_limit) {
    if (item == PlainType::Anything) return skip(level);
    switch (within_limit ? cursor_.peek() : 0) {
      case '"':
        if (item == PlainType::Str) return cursor_.pass_string() ? StreamVerdict::Member : read_failure();
        break;
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        if (item == PlainType::Int || item == PlainType::Float) {
          if (!cursor_.read_number()) return read_failure();
          return has_plain_type(item, scalar_kind()) ? StreamVerdict::Member : StreamVerdict::NotMember;
        }
        break;
      default:
        break;
    }
    if (cursor_.at_container()) return StreamVerdict::NotMember;
    if (!cursor_.read_value(level)) return read_failure();
    return has_plain_type(item, scalar_kind()) ? StreamVerdict::Member : StreamVerdict::NotMember;
  }

  StreamVerdict read_failure() const {
    return cursor_.sink_failed() ? StreamVerdict::Undecided : StreamVerdict::Malformed;
  }

  // Each member's value is checked as it is read, and a declared key or a
  // failed undeclared one keeps the verdict of its last member: the object
  // is decided at its end, as the dict built from it would be.
  [[gnu::noinline]] StreamVerdict record(const SchemaNode& node, unsigned level) {
    if (!cursor_.at_object()) return StreamVerdict::NotMember;
    std::unique_ptr<RecordIndex> local;
    const RecordIndex* index = record_keys(node, ctx_, local);
    if (!index) return StreamVerdict::Undecided;
    std::span<const RecordKey> keys = index->keys();
    struct Open {
      RecordStacks& stacks;
      RecordStacks::Slice slice;
      ~Open() { stacks.close(slice); }
    } open{records_, records_.open(keys.size())};
    const RecordStacks::Slice& slice = open.slice;
    const std::size_t mark = cursor_.mark();
    std::size_t position = 0;
    Step step = cursor_.open_object();
    for (; step == Step::Item; step = cursor_.next_object_member(), ++position) {
      const std::size_t key_mark = cursor_.mark();
      if (!cursor_.member_key()) return read_failure();
      const std::size_t start = cursor_.offset();
      const std::size_t value_mark = cursor_.mark();
      std::optional<std::size_t> declared = declared_key(*index, position, cursor_.last_string());
      StreamVerdict member;
      if (declared) {
        member = declared_value(node, keys[*declared], start, value_mark, level + 1);
        if (member == StreamVerdict::Member || member == StreamVerdict::NotMember) {
          records_.state(slice, *declared) =
              member == StreamVerdict::Member ? RecordStacks::Passed : RecordStacks::Failed;
        }
      } else {
        // The dict holds the key whatever its value: a closed record refuses it.
        if (node.extras.empty()) return StreamVerdict::NotMember;
        member = undeclared_value(node, key_mark, start, value_mark, level + 1, slice);
        if (records_.too_many_failed(slice)) return StreamVerdict::Undecided;
      }
      if (member == StreamVerdict::NotMember) member = skip_from(start, value_mark, level + 1);
      if (member != StreamVerdict::Member) return member;
    }
    if (step == Step::Fail) return StreamVerdict::Malformed;
    for (std::size_t k = 0; k < keys.size(); ++k) {
      const RecordStacks::State state = records_.state(slice, k);
      if (state == RecordStacks::Failed || (state == RecordStacks::Absent && keys[k].required)) {
        return StreamVerdict::NotMember;
      }
    }
    if (!records_.none_failed(slice)) return StreamVerdict::NotMember;
    return closed(cursor_.close_object(mark));
  }

  // Documents mostly list a record's keys in declared order, so the key at
  // the member's own position is tried before the lookup.
  static std::optional<std::size_t> declared_key(const RecordIndex& index, std::size_t position,
                                                 std::string_view key) {
    std::span<const RecordKey> keys = index.keys();
    if (keys.empty()) return std::nullopt;
    if (position < keys.size() && keys[position].text == key) return position;
    return index.find(key);
  }

  // Mostly one field; the others (records met in an intersection) read the value again.
  StreamVerdict declared_value(const SchemaNode& node, const RecordKey& key, std::size_t start, std::size_t mark,
                         unsigned level) {
    if (key.fields.size() == 1) return value(node.fields[key.fields.front()].node, level);
    for (std::size_t i = 0; i < key.fields.size(); ++i) {
      if (i > 0) rewind(start, mark);
      // The fields of one key read one value, as union members do.
      const std::uint64_t steps = state().guard.entered();
      StreamVerdict member = value(node.fields[key.fields[i]].node, level);
      if (member != StreamVerdict::Member) return member;
      note_rewalk(steps, state());
    }
    return StreamVerdict::Member;
  }

  // The member against each extras pair until one takes it, its verdict
  // settled in the record's failed keys.
  [[gnu::noinline]] StreamVerdict undeclared_value(const SchemaNode& node, std::size_t key_mark, std::size_t start,
                                             std::size_t mark, unsigned level, RecordStacks::Slice slice) {
    const std::string_view read = cursor_.last_string();
    const bool transient = cursor_.last_string_is_transient();
    const std::size_t held_at = transient ? records_.hold(read) : 0;
    const auto key = [&] { return transient ? records_.held(held_at, read.size()) : read; };
    StreamVerdict member = StreamVerdict::NotMember;
    for (const core::ExtrasPair& pair : node.extras) {
      const std::uint64_t steps = state().guard.entered();
      member = decide_key(pair.key, key_mark, key());
      if (member == StreamVerdict::Member) {
        rewind(start, mark);
        member = value(pair.value, level);
      }
      if (member != StreamVerdict::NotMember) break;
      note_rewalk(steps, state());
    }
    if (member == StreamVerdict::Member || member == StreamVerdict::NotMember) {
      records_.settle(slice, key(), member == StreamVerdict::Member);
    }
    if (transient) records_.release(held_at);
    return member;
  }

  // The key is the str the sink made, else a string node of its bytes.
  [[gnu::noinline]] StreamVerdict decide_key(const SchemaNode& node, std::size_t key_mark, std::string_view key_text) {
    if (std::optional<PlainType> type = plain_type(node.kind)) {
      return has_plain_type(*type, JsonKind::String) ? StreamVerdict::Member : StreamVerdict::NotMember;
    }
    if constexpr (builds) {
      return decide(node, cursor_.sink().at(key_mark));
    } else {
      const JsonValue key = JsonValue::string(key_text, is_ascii(key_text));
      return decide(node, key);
    }
  }

  static bool is_ascii(std::string_view text) {
    for (char c : text) {
      if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
  }

  [[gnu::noinline]] StreamVerdict union_of(const SchemaNode& node, unsigned level) {
    return each_member(node, level, StreamVerdict::NotMember);
  }

  [[gnu::noinline]] StreamVerdict intersection(const SchemaNode& node, unsigned level) {
    if (node.members().empty()) return skip(level);
    return each_member(node, level, StreamVerdict::Member);
  }

  // The members in turn over the value, each reading it from its start, while
  // they answer go_on: a union goes on past a refusal, an intersection past a
  // member. The first other answer is the node's.
  StreamVerdict each_member(const SchemaNode& node, unsigned level, StreamVerdict go_on) {
    const std::size_t start = cursor_.offset();
    const std::size_t mark = cursor_.mark();
    for (const SchemaNode& member : node.members()) {
      const std::uint64_t steps = state().guard.entered();
      rewind(start, mark);
      StreamVerdict verdict = value(member, level);
      if (verdict != go_on) return verdict;
      note_rewalk(steps, state());
    }
    return go_on;
  }

  [[gnu::noinline]] StreamVerdict complement(const SchemaNode& node, unsigned level) {
    const std::size_t start = cursor_.offset();
    const std::size_t mark = cursor_.mark();
    StreamVerdict inner = value(node.inner(), level);
    if (inner == StreamVerdict::Member) return StreamVerdict::NotMember;
    if (inner == StreamVerdict::NotMember) return skip_from(start, mark, level);
    return inner;
  }

  [[gnu::noinline]] StreamVerdict ref(const SchemaNode& node, unsigned level) {
    if (state().memo.on()) return StreamVerdict::Undecided;
    const std::uint64_t definition = node.definition();
    RecursionGuard& guard = state().guard;
    const void* identity = cursor_.address();
    if (guard.enter(identity, definition) != RecursionGuard::Entry::Entered) return StreamVerdict::NotMember;
    const ActivePair active(guard, identity, definition);
    const std::vector<SchemaNode>& definitions = ctx_.schema()->definitions;
    return definition < definitions.size() ? value(definitions[definition], level) : StreamVerdict::NotMember;
  }

  // Only an array's length is read here; every other constraint over a
  // container is the tree walk's (regex alone refuses it outright).
  [[gnu::noinline]] StreamVerdict refined(const SchemaNode& node, unsigned level) {
    const std::size_t start = cursor_.offset();
    const bool array = cursor_.at_array();
    StreamVerdict base = value(node.base(), level);
    if (base != StreamVerdict::Member) return base;
    std::optional<std::size_t> length;
    for (const Constraint& constraint : node.constraints) {
      switch (constraint.kind) {
        case ConstraintKind::MinLen:
        case ConstraintKind::MaxLen:
          if (!array) return StreamVerdict::Undecided;
          if (!length) length = array_length(start, level);
          if (!length) return StreamVerdict::Undecided;
          if (!(constraint.kind == ConstraintKind::MinLen ? *length >= constraint.length()
                                                          : *length <= constraint.length())) {
            return StreamVerdict::NotMember;
          }
          break;
        case ConstraintKind::Regex:
          return StreamVerdict::NotMember;
        case ConstraintKind::Ge:
        case ConstraintKind::Gt:
        case ConstraintKind::Le:
        case ConstraintKind::Lt:
        case ConstraintKind::MultipleOf:
        case ConstraintKind::Predicate:
          return StreamVerdict::Undecided;
      }
    }
    return StreamVerdict::Member;
  }

  // The element count of the array the base just took: the list made of
  // it, or its text read again, leaving the cursor where the walk left it.
  // Nothing if the text fails where the base read it whole: the tree walk decides.
  std::optional<std::size_t> array_length(std::size_t start, unsigned level) {
    if constexpr (builds) {
      (void)start;
      (void)level;
      return static_cast<std::size_t>(PyList_GET_SIZE(cursor_.sink().top()));
    } else {
      cursor_.seek(start);
      std::size_t count = 0;
      Step step = cursor_.open_array();
      for (; step == Step::Item; step = cursor_.next_array_item()) {
        if (!cursor_.read_value(level + 1)) return std::nullopt;
        ++count;
      }
      if (step == Step::Fail) return std::nullopt;
      return count;
    }
  }

  Cursor& cursor_;
  WalkContext ctx_;
  RecordStacks records_;
};

template <class Sink>
StreamAnswer run_stream_check(JsonCursor<Sink>& cursor, const SchemaNode& root, CheckState& state) {
  if (!cursor.start_document()) return StreamAnswer::Refused;
  switch (StreamWalk<JsonCursor<Sink>>(cursor, state).value(root, 0)) {
    case StreamVerdict::Member:
      return cursor.finish_document() ? StreamAnswer::Member : StreamAnswer::Refused;
    case StreamVerdict::NotMember:
    case StreamVerdict::Malformed:
      return StreamAnswer::Refused;
    case StreamVerdict::Undecided:
      break;
  }
  return StreamAnswer::Undecided;
}

// The path that decides after this one meets any shortage of memory again.
StreamAnswer without_error(StreamAnswer answer) {
  if (answer != StreamAnswer::Member && PyErr_Occurred()) {
    PyErr_Clear();
    return StreamAnswer::Undecided;
  }
  return answer;
}

// The containers a node can take as the reading walk meets them. A list or
// dict literal runs Python code, so the walk never meets one.
enum class Takes : std::uint8_t { NoContainer, Arrays, Any };

Takes containers_taken(const SchemaNode& node) {
  switch (node.kind) {
    case NodeKind::Nothing:
    case NodeKind::None:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
    case NodeKind::Literal:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Placeholder:
      return Takes::NoContainer;
    case NodeKind::Sequence:
      return Takes::Arrays;
    case NodeKind::Refined:
      return containers_taken(node.base());
    case NodeKind::Union: {
      Takes taken = Takes::NoContainer;
      for (const SchemaNode& member : node.members()) taken = std::max(taken, containers_taken(member));
      return taken;
    }
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Record:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Instance:
    case NodeKind::Object:
    case NodeKind::Ref:
      return Takes::Any;
  }
  return Takes::Any;
}

}  // namespace

bool reading_walk_decides(const SchemaNode& refined) {
  const Takes taken = containers_taken(refined.base());
  for (const Constraint& constraint : refined.constraints) {
    switch (constraint.kind) {
      case ConstraintKind::MinLen:
      case ConstraintKind::MaxLen:
        if (taken == Takes::Any) return false;
        break;
      case ConstraintKind::Regex:
        break;
      case ConstraintKind::Ge:
      case ConstraintKind::Gt:
      case ConstraintKind::Le:
      case ConstraintKind::Lt:
      case ConstraintKind::MultipleOf:
      case ConstraintKind::Predicate:
        if (taken != Takes::NoContainer) return false;
        break;
    }
  }
  return true;
}

StreamAnswer check_json_stream(const SchemaNode& root, std::string_view bytes, bool known_utf8, CheckState& state) {
  try {
    JsonCursor<TokenSink> cursor(bytes, known_utf8);
    return without_error(run_stream_check(cursor, root, state));
  } catch (const std::bad_alloc&) {
    return StreamAnswer::Undecided;
  }
}

StreamAnswer load_json_stream(const SchemaNode& root, std::string_view bytes, bool known_utf8, CheckState& state,
                              PyRef& loaded) {
  try {
    JsonCursor<PythonSink> cursor(bytes, known_utf8);
    StreamAnswer answer = without_error(run_stream_check(cursor, root, state));
    if (answer == StreamAnswer::Member) loaded = cursor.sink().take_root();
    return answer;
  } catch (const std::bad_alloc&) {
    PyErr_Clear();
    return StreamAnswer::Undecided;
  }
}

}  // namespace quillmar::ext
