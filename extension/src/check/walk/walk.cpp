#include "check/walk/walk.hpp"

#include <fmt/format.h>

#include "quillmar/core/kinds.hpp"
#include "text.hpp"

namespace quillmar::ext {

bool walk(const SchemaNode& node, PyObject* value, Path& path, WalkContext ctx, ErrorList& errors) {
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
      return walk_type_kind(node, value, path, ctx, errors);
    case NodeKind::Literal:
      return walk_literal(node, value, path, ctx, errors);
    case NodeKind::Sequence:
      return walk_sequence(node, value, path, ctx, errors);
    case NodeKind::Set:
    case NodeKind::FrozenSet:
      return walk_set(node, value, path, ctx, errors);
    case NodeKind::Instance:
      return walk_instance(node, value, path, ctx, errors);
    case NodeKind::Record:
      return walk_record(node, value, path, ctx, errors);
    case NodeKind::Object:
      return walk_object(node, value, path, ctx, errors);
    case NodeKind::Union:
      return walk_union(node, value, path, ctx, errors);
    case NodeKind::Intersection:
      return walk_intersection(node, value, path, ctx, errors);
    case NodeKind::Complement:
      return walk_complement(node, value, path, ctx, errors);
    case NodeKind::Ref:
      return walk_ref(node, value, path, ctx, errors);
    case NodeKind::Placeholder:
      return walk_placeholder(node, value, path, ctx, errors);
    case NodeKind::Refined:
      return walk_refined(node, value, path, ctx, errors);
  }
  return false;
}

bool is_fatal_exception(PyObject* exception) {
  return !PyErr_GivenExceptionMatches(exception, PyExc_Exception) ||
         PyErr_GivenExceptionMatches(exception, PyExc_MemoryError) ||
         PyErr_GivenExceptionMatches(exception, PyExc_RecursionError);
}

void store_fatal_error(PyRef exception, CheckState& state) {
  if (!state.first_fatal) state.first_fatal = std::move(exception);
  state.fatal_seen = true;
}

[[gnu::noinline, gnu::cold]] bool fail_out_of_stack(CheckState& state) {
  PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded while checking a value");
  store_fatal_error(PyRef::steal(PyErr_GetRaisedException()), state);
  return false;
}

void abort_check(CheckState& state) {
  PyObject* raised = PyErr_GetRaisedException();
  if (!raised) {
    PyErr_SetString(PyExc_SystemError, "a container read failed without an exception");
    raised = PyErr_GetRaisedException();
  }
  store_fatal_error(PyRef::steal(raised), state);
}

bool fold_outcome(int outcome, CheckState& state) {
  if (outcome >= 0) return outcome > 0;
  PyRef exception = PyRef::steal(PyErr_GetRaisedException());
  if (exception && is_fatal_exception(exception.get())) store_fatal_error(std::move(exception), state);
  return false;
}

[[gnu::noinline]] void push_index_segment(Path& path, std::uint64_t index) { path.push_back(PathSegment::at(index)); }

[[gnu::noinline]] void push_key_segment(Path& path, const std::string& key) { path.push_back(PathSegment::named(key)); }

std::string value_text(PyObject* value) { return safe_repr(value); }

ErrorItem make_error_item(std::string_view code, std::string expected, PyObject* value, const Path& path) {
  return ErrorItem{path, std::move(expected), {}, code, PyRef::borrow(value)};
}

void make_value_texts(ErrorList& errors) {
  for (ErrorItem& item : errors) {
    if (!item.found) continue;
    item.value = value_text(item.found.get());
    item.found = PyRef();
  }
}

ErrorItem make_keyed_error_item(const Path& path, std::string key, std::string_view code, std::string expected,
                                std::string value) {
  ErrorItem item{path, std::move(expected), std::move(value), code, {}};
  item.path.push_back(PathSegment::named(std::move(key)));
  return item;
}

namespace {
// A failing value usually has a few items: room for them at the first one
// saves the list's regrowth.
void make_room(ErrorList& errors) {
  if (errors.capacity() == 0) errors.reserve(8);
}
}  // namespace

bool push_kind_error(bool ok, const SchemaNode& node, PyObject* value, const Path& path, WalkContext ctx,
                     ErrorList& errors) {
  if (!ok && ctx.reporting()) {
    make_room(errors);
    errors.push_back(make_error_item(core::error_code(node), std::string(core::kind_name(node)), value, path));
  }
  return ok;
}

void push_error(std::string_view code, std::string_view expected, PyObject* value, const Path& path,
                WalkContext ctx, ErrorList& errors) {
  if (!ctx.reporting()) return;
  make_room(errors);
  errors.push_back(make_error_item(code, std::string(expected), value, path));
}

void push_length_error(std::string_view code, std::string_view kind, std::uint64_t prefix_len, bool has_tail,
                       PyObject* value, const Path& path, WalkContext ctx, ErrorList& errors) {
  if (!ctx.reporting()) return;
  std::string expected = has_tail ? fmt::format("{} of length at least {}", kind, prefix_len)
                                  : fmt::format("{} of length {}", kind, prefix_len);
  errors.push_back(make_error_item(code, std::move(expected), value, path));
}

}  // namespace quillmar::ext
