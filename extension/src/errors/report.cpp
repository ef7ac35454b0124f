#include "errors/report.hpp"

#include <fmt/format.h>

#include "exception/validation_error.hpp"
#include "text.hpp"

namespace quillmar::ext {

namespace {

// Stands in for the items of a failed check that recorded none.
ErrorItem synthetic_item() { return ErrorItem{{}, "a member of the schema's set", "", "validation_error"}; }

// Item texts are UTF-8 made by the text functions; replacement only guards
// against a malformed one, so this fails only when memory runs out.
Result<PyRef> text_object(std::string_view text) {
  return checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

Result<void> set_attr(PyObject* object, const char* name, Result<PyRef> value) {
  if (!value) return fail_with(std::move(value.error()));
  if (PyObject_SetAttrString(object, name, value->get()) < 0) return fetched();
  return {};
}

// The value of an errors dict's k-th key: code, path, message, expected, value.
Result<PyRef> error_dict_value(const ErrorItem& item, std::size_t k) {
  switch (k) {
    case 0: return text_object(item.code);
    case 1: return path_to_tuple(item.path);
    case 2: return text_object(error_line(item));
    case 3: return text_object(item.expected);
    default: return text_object(item.value);
  }
}

std::string path_text(const Path& path) {
  std::string text;
  for (const PathSegment& segment : path) {
    switch (segment.kind) {
      case PathSegment::Kind::Index:
        fmt::format_to(std::back_inserter(text), "[{}]", segment.index);
        break;
      case PathSegment::Kind::Key:
        if (!text.empty()) text.push_back('.');
        text.append(segment.key);
        break;
    }
  }
  return text;
}

std::string message_text(std::span<const ErrorItem> items) {
  if (items.size() == 1) return error_line(items.front());
  std::string message = fmt::format("{} validation errors:", items.size());
  for (const ErrorItem& item : items) {
    message.push_back('\n');
    message.append(error_line(item));
  }
  return message;
}

Result<PyRef> build(std::span<const ErrorItem> items) {
  Result<PyRef> type = validation_error_type();
  if (!type) return type;
  Result<PyRef> message = text_object(message_text(items));
  if (!message) return message;
  Result<PyRef> error = checked(PyObject_CallOneArg(type->get(), message->get()));
  if (!error) return error;

  const ErrorItem& first = items.front();
  PyObject* target = error->get();
  Result<void> set = set_attr(target, "code", text_object(first.code));
  if (set) set = set_attr(target, "expected", text_object(first.expected));
  if (set) set = set_attr(target, "value", text_object(first.value));
  if (set) set = set_attr(target, "message", text_object(error_line(first)));
  if (set) set = set_attr(target, "path", path_to_tuple(first.path));
  if (set) set = set_attr(target, "errors", errors_tuple(items));
  if (!set) return fail_with(std::move(set.error()));
  return error;
}

}  // namespace

std::string error_line(const ErrorItem& item) {
  std::string path = path_text(item.path);
  if (path.empty()) return fmt::format("expected {}, got {} [{}]", item.expected, item.value, item.code);
  return fmt::format("at {}: expected {}, got {} [{}]", path, item.expected, item.value, item.code);
}

Result<PyRef> path_to_tuple(const Path& path) {
  Result<PyRef> tuple = checked(PyTuple_New(static_cast<Py_ssize_t>(path.size())));
  if (!tuple) return tuple;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const PathSegment& segment = path[i];
    Result<PyRef> part = segment.kind == PathSegment::Kind::Index
                             ? checked(PyLong_FromUnsignedLongLong(segment.index))
                             : text_object(segment.key);
    if (!part) return part;
    PyTuple_SET_ITEM(tuple->get(), static_cast<Py_ssize_t>(i), part->release());
  }
  return tuple;
}

Result<PyRef> errors_tuple(std::span<const ErrorItem> items) {
  static constexpr const char* kKeys[] = {"code", "path", "message", "expected", "value"};
  PyRef keys[std::size(kKeys)];
  for (std::size_t k = 0; k < std::size(kKeys); ++k) {
    keys[k] = PyRef::steal(PyUnicode_InternFromString(kKeys[k]));
    if (!keys[k]) return fetched();
  }

  Result<PyRef> tuple = checked(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
  if (!tuple) return tuple;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ErrorItem& item = items[i];
    Result<PyRef> dict = checked(PyDict_New());
    if (!dict) return dict;
    for (std::size_t k = 0; k < std::size(kKeys); ++k) {
      Result<PyRef> value = error_dict_value(item, k);
      if (!value) return value;
      if (PyDict_SetItem(dict->get(), keys[k].get(), value->get()) < 0) return fetched();
    }
    PyTuple_SET_ITEM(tuple->get(), static_cast<Py_ssize_t>(i), dict->release());
  }
  return tuple;
}

PyRef build_validation_error(std::span<const ErrorItem> items) {
  Result<PyRef> error;
  if (items.empty()) {
    const ErrorItem synthetic = synthetic_item();
    error = build(std::span(&synthetic, 1));
  } else {
    error = build(items);
  }
  if (error) return std::move(*error);
  return std::move(error.error()).into_exception();
}

PyRef json_invalid_error(std::string_view message) {
  const ErrorItem item{{}, "valid JSON", truncate_text(message, VALUE_TEXT_MAX_CHARS), "json_invalid"};
  return build_validation_error(std::span(&item, 1));
}

}  // namespace quillmar::ext
