#include "check/check.hpp"

#include "check/walk/check_tables.hpp"
#include "check/walk/report_walk.hpp"
#include "check/walk/walk.hpp"
#include "errors/distinct_items.hpp"
#include "errors/report.hpp"

namespace quillmar::ext {

Result<bool> check_membership(const CompiledSchema& schema, PyObject* value) {
  auto tables = ensure_check_tables(schema);
  QUILLMAR_RETURN_IF_FAILED(tables);
  CheckState state(schema, *tables);
  Path path;
  ErrorList errors;
  bool member = walk(schema.root, value, path, WalkContext{&state, WalkMode::BooleanOnly}, errors);
  if (state.first_fatal) return fail_with(Error::from_exception(std::move(state.first_fatal)));
  return member;
}

Result<void> check_or_raise(const CompiledSchema& schema, PyObject* value, bool fail_fast) {
  auto tables = ensure_check_tables(schema);
  QUILLMAR_RETURN_IF_FAILED(tables);
  CheckState state(schema, *tables);
  Path path;
  ErrorList errors;
  WalkMode mode = fail_fast ? WalkMode::FailFast : WalkMode::CollectAll;
  bool member = report_walk(schema.root, value, path, WalkContext{&state, mode}, errors);
  if (state.first_fatal) return fail_with(Error::from_exception(std::move(state.first_fatal)));
  if (member) return {};
  make_value_texts(errors);
  keep_distinct_items(errors);
  return fail_with(Error::from_exception(build_validation_error(errors)));
}

}  // namespace quillmar::ext
