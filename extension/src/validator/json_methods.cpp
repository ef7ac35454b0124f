#include "validator/json_methods.hpp"

#include <optional>

#include "check/check.hpp"
#include "check/walk/check_tables.hpp"
#include "check/walk/json_stream_walk.hpp"
#include "check/walk/json_walk.hpp"
#include "json/reader.hpp"
#include "py/args.hpp"
#include "validator/validator_type.hpp"

namespace quillmar::ext {
namespace {

constexpr const char* data_param[] = {"data"};
constexpr const char* fail_fast_param[] = {"fail_fast"};

const Signature validate_json_signature{"Validator", "validate_json", data_param, fail_fast_param, 1};
const Signature load_signature{"Validator", "load", data_param, fail_fast_param, 1};
const Signature is_valid_json_signature{"Validator", "is_valid_json", data_param, {}, 1};

// The parsed document once it is a member. fail_fast is read before the
// document is looked at, so a bad flag wins over a bad document.
Result<PyRef> parse_and_check(PyObject* self, const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  PyObject* parsed[2];
  QUILLMAR_TRY(parse_fastcall(signature, args, nargs, kwnames, parsed));
  auto fail_fast = read_fail_fast(parsed[1]);
  QUILLMAR_RETURN_IF_FAILED(fail_fast);
  Result<PyRef> document = parse_json_to_python(parsed[0]);
  if (!document) return document;
  QUILLMAR_TRY(check_or_raise(schema_of(self), document->get(), *fail_fast));
  return document;
}

// The check while reading, where the reading pass decides the schema: true
// for a member, false for a refused document, nullopt where the tree walk
// decides.
std::optional<bool> stream_accepts(const CompiledSchema& schema, const CheckTables& tables, PyObject* data) {
  if (!tables.reading_pass_decides) return std::nullopt;
  JsonInput input = json_input_bytes(data);
  if (input.status != JsonInput::Status::Ready) return std::nullopt;
  CheckState state(schema, &tables);
  switch (check_json_stream(schema.root, input.bytes, input.known_utf8, state)) {
    case StreamAnswer::Member:
      return true;
    case StreamAnswer::Refused:
      return false;
    case StreamAnswer::Undecided:
      break;
  }
  return std::nullopt;
}

// The document's objects, made while it is checked, when it is a member of a
// schema the reading pass decides; nullopt leaves it to the reporting path.
std::optional<PyRef> stream_load(const CompiledSchema& schema, PyObject* data) {
  auto tables = ensure_check_tables(schema);
  if (!tables || !(*tables)->reading_pass_decides) return std::nullopt;
  JsonInput input = json_input_bytes(data);
  if (input.status != JsonInput::Status::Ready) return std::nullopt;
  CheckState state(schema, *tables);
  PyRef loaded;
  if (load_json_stream(schema.root, input.bytes, input.known_utf8, state, loaded) != StreamAnswer::Member) {
    return std::nullopt;
  }
  return loaded;
}

// Whether the document is a member, where the reading pass decides the
// schema; the tree walk only where the check's course stopped that pass.
// False says only that the Python path must decide and report; any error
// here is left for that path to meet in its own order.
bool json_walk_accepts(const CompiledSchema& schema, PyObject* data) {
  auto tables = ensure_check_tables(schema);
  if (!tables || !(*tables)->reading_pass_decides) return false;
  if (std::optional<bool> streamed = stream_accepts(schema, **tables, data)) return *streamed;
  Result<std::optional<ParsedDocument>> document = parse_json_tree(data);
  if (!document || !*document) return false;
  CheckState state(schema, *tables);
  bool member = walk_json(schema.root, (*document)->root(), WalkContext{&state, WalkMode::BooleanOnly});
  return member && !state.first_fatal;
}

}  // namespace

// A member of a schema the reading pass decides needs no Python objects.
// Anything else takes the Python path, which reports exactly what validate
// reports.
Result<PyRef> validate_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* parsed[2];
  QUILLMAR_TRY(parse_fastcall(validate_json_signature, args, nargs, kwnames, parsed));
  QUILLMAR_TRY(read_fail_fast(parsed[1]));
  if (json_walk_accepts(schema_of(self), parsed[0])) return PyRef::borrow(Py_None);
  Result<PyRef> document = parse_and_check(self, validate_json_signature, args, nargs, kwnames);
  if (!document) return document;
  return PyRef::borrow(Py_None);
}

// Where the reading pass decides the schema, the objects are made as the
// document is checked; anything else, or a document that is no member, takes
// the path that reports.
Result<PyRef> load(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* parsed[2];
  QUILLMAR_TRY(parse_fastcall(load_signature, args, nargs, kwnames, parsed));
  QUILLMAR_TRY(read_fail_fast(parsed[1]));
  if (std::optional<PyRef> loaded = stream_load(schema_of(self), parsed[0])) return std::move(*loaded);
  return parse_and_check(self, load_signature, args, nargs, kwnames);
}

// Input that is not a document, or does not parse, is simply no member; the
// document is checked as it is read where it can be, else the tree is
// walked without making Python objects for what the schema only type-checks.
Result<PyRef> is_valid_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* parsed[1];
  QUILLMAR_TRY(parse_fastcall(is_valid_json_signature, args, nargs, kwnames, parsed));
  const CompiledSchema& schema = schema_of(self);
  auto tables = ensure_check_tables(schema);
  QUILLMAR_RETURN_IF_FAILED(tables);
  if (std::optional<bool> streamed = stream_accepts(schema, **tables, parsed[0])) {
    return PyRef::borrow(*streamed ? Py_True : Py_False);
  }
  Result<std::optional<ParsedDocument>> document = parse_json_tree(parsed[0]);
  QUILLMAR_RETURN_IF_FAILED(document);
  if (!*document) return PyRef::borrow(Py_False);
  CheckState state(schema, *tables);
  bool member = walk_json(schema.root, (*document)->root(), WalkContext{&state, WalkMode::BooleanOnly});
  if (state.first_fatal) return fail_with(Error::from_exception(std::move(state.first_fatal)));
  return PyRef::borrow(member ? Py_True : Py_False);
}

const char validate_json_doc[] =
    "validate_json($self, data, *, fail_fast=False)\n--\n\n"
    "Validate a JSON document, parsing it on the C++ path.\n\n"
    "Parsing runs in C++, faster than the standard library, and the parsed\n"
    "value runs the same validation walk as a native object, so this reaches\n"
    "the same decision and the same errors as `validate` on the parsed object.\n"
    "`fail_fast` behaves as it does for `validate`.\n\n"
    "Args:\n"
    "    data: The JSON document, as `str` or `bytes`.\n"
    "    fail_fast: Stop at the first failure instead of aggregating.\n\n"
    "Returns:\n"
    "    `None` if the document parses and is a member of the schema's set.\n\n"
    "Raises:\n"
    "    ValidationError: If the document is malformed or undecodable JSON\n"
    "        (code `json_invalid`) or is not a member of the schema's set.\n"
    "    TypeError: If `data` is not `str` or `bytes`.";

const char load_doc[] =
    "load($self, data, *, fail_fast=False)\n--\n\n"
    "Validate a JSON document and return the parsed value.\n\n"
    "Like `validate_json`, but returns the parsed Python object instead of\n"
    "discarding it, so a caller that needs the data does not parse it again.\n"
    "Parsing runs in C++ (the module's own JSON reader), and the parsed value is validated by the\n"
    "same walk, reaching the same decision and errors as `validate`.\n\n"
    "Args:\n"
    "    data: The JSON document, as `str` or `bytes`.\n"
    "    fail_fast: Stop at the first failure instead of aggregating.\n\n"
    "Returns:\n"
    "    The parsed Python object, once it is confirmed a member of the set.\n\n"
    "Raises:\n"
    "    ValidationError: If the document is malformed or undecodable JSON\n"
    "        (code `json_invalid`) or is not a member of the schema's set.\n"
    "    TypeError: If `data` is not `str` or `bytes`.";

const char is_valid_json_doc[] =
    "is_valid_json($self, data)\n--\n\n"
    "Whether a JSON document parses and is a member of the schema's set.\n\n"
    "Check-only: malformed or undecodable JSON, or input that is neither `str`\n"
    "nor `bytes`, is simply not a member and returns `False`. The raising entries\n"
    "(`validate_json`/`load`) report the same undecodable input as a structured\n"
    "`json_invalid` error. The document is validated in place\n"
    "against the parsed value, with no intermediate Python objects for the\n"
    "structure it walks. It raises only if a membership comparison raises a\n"
    "fatal interpreter signal.\n\n"
    "Args:\n"
    "    data: The JSON document, as `str` or `bytes`.\n\n"
    "Returns:\n"
    "    `True` if `data` parses and is a member of the schema's set, else\n"
    "    `False`.\n\n"
    "Raises:\n"
    "    BaseException: If a membership comparison raises a fatal interpreter\n"
    "        signal, it propagates rather than being read as a non-member.";

}  // namespace quillmar::ext
