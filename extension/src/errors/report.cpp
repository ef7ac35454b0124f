#include "errors/report.hpp"

#include <algorithm>
#include <atomic>
#include <array>
#include <cstdint>
#include <cstring>
#include <charconv>
#include <initializer_list>
#include <iterator>
#include <vector>

#include "exception/validation_error.hpp"
#include "py/once.hpp"
#include "text.hpp"

namespace quillmar::ext {

namespace {

// The attribute and dict-key names of a report, interned once for the
// process. Raw pointers on purpose: they are never released, not even by
// static destruction after the interpreter ends.
// Each dict a report makes is a copy of a template with its keys in their
// order, so the copy is one block copy and each value a replacement.
enum Name : std::size_t { kCode, kPath, kMessage, kExpected, kValue, kErrors, kNameCount };
struct Names {
  std::array<PyObject*, kNameCount> text{};
  PyObject* item_template = nullptr;       // code, path, message, expected, value
  PyObject* attribute_template = nullptr;  // code, expected, value, message, path, errors

  PyObject* operator[](Name name) const { return text[name]; }
};
OnceCell<Names> names_cell;

PyObject* template_dict(const Names& names, std::initializer_list<Name> keys) {
  PyObject* dict = PyDict_New();
  if (!dict) return nullptr;
  for (Name key : keys) {
    if (PyDict_SetItem(dict, names[key], Py_None) < 0) {
      Py_DECREF(dict);
      return nullptr;
    }
  }
  return dict;
}

Result<const Names*> report_names() {
  return names_cell.get_or_init([]() -> Result<Names> {
    static constexpr const char* kTexts[kNameCount] = {"code", "path", "message", "expected", "value", "errors"};
    Names names;
    auto release = [&names] {
      for (PyObject* text : names.text) Py_XDECREF(text);
      Py_XDECREF(names.item_template);
    };
    for (std::size_t k = 0; k < kNameCount; ++k) {
      names.text[k] = PyUnicode_InternFromString(kTexts[k]);
      if (!names.text[k]) {
        release();
        return fetched();
      }
    }
    names.item_template = template_dict(names, {kCode, kPath, kMessage, kExpected, kValue});
    if (names.item_template) {
      names.attribute_template = template_dict(names, {kCode, kExpected, kValue, kMessage, kPath, kErrors});
    }
    if (!names.attribute_template) {
      Result<Names> failed = fetched();
      release();
      return failed;
    }
    return names;
  });
}

// A copy of the template with the values given in its key order.
Result<PyRef> filled_dict(PyObject* template_of, const Names& names, std::span<const std::pair<Name, PyObject*>> values) {
  Result<PyRef> dict = checked(PyDict_Copy(template_of));
  if (!dict) return dict;
  for (const auto& [name, value] : values) {
    if (PyDict_SetItem(dict->get(), names[name], value) < 0) return fetched();
  }
  return dict;
}

// Stands in for the items of a failed check that recorded none.
ErrorItem synthetic_item() { return ErrorItem{{}, "a member of the schema's set", "", "validation_error", {}}; }

// Eight bytes per test: a text is ASCII when no byte has its top bit set.
bool is_ascii(std::string_view text) {
  const char* at = text.data();
  std::size_t left = text.size();
  std::uint64_t high = 0;
  for (; left >= 8; at += 8, left -= 8) {
    std::uint64_t word;
    std::memcpy(&word, at, 8);
    high |= word;
  }
  for (; left > 0; ++at, --left) high |= static_cast<unsigned char>(*at);
  return (high & 0x8080808080808080ull) == 0;
}

// Item texts are UTF-8 made by the text functions; replacement only guards
// against a malformed one, so this fails only when memory runs out.
Result<PyRef> text_object(std::string_view text) {
  // Nearly every text is ASCII: copied straight into a compact str.
  if (is_ascii(text)) {
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
    if (!str) return fetched();
    if (!text.empty()) std::memcpy(PyUnicode_DATA(str), text.data(), text.size());
    return PyRef::steal(str);
  }
  return checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

// The few short texts that recur in every report (codes, expected kinds such
// as 'int'), made once per process and shared. Raw pointers on purpose, as
// for the names above; the table stops growing when full.
struct SharedTexts {
  static constexpr std::size_t kMaxChars = 24;
  static constexpr std::size_t kCapacity = 64;
  struct Entry {
    std::array<char, kMaxChars> text;
    std::size_t size;
    PyObject* object;
  };
  PyMutex lock{};
  std::size_t count = 0;
  std::array<Entry, kCapacity> entries{};
};
SharedTexts shared_texts;

// A str for a text that may recur: shared when short, else made as text_object does.
Result<PyRef> recurring_text_object(std::string_view text) {
  if (text.size() > SharedTexts::kMaxChars) return text_object(text);
  SharedTexts& shared = shared_texts;
  PyObject* found = nullptr;
  PyMutex_Lock(&shared.lock);
  for (std::size_t i = 0; i < shared.count; ++i) {
    const SharedTexts::Entry& entry = shared.entries[i];
    if (entry.size == text.size() && std::memcmp(entry.text.data(), text.data(), text.size()) == 0) {
      found = entry.object;
      break;
    }
  }
  PyMutex_Unlock(&shared.lock);
  if (found) return PyRef::borrow(found);
  Result<PyRef> made = text_object(text);
  if (!made) return made;
  PyMutex_Lock(&shared.lock);
  if (shared.count < SharedTexts::kCapacity) {
    SharedTexts::Entry& entry = shared.entries[shared.count++];
    std::memcpy(entry.text.data(), text.data(), text.size());
    entry.size = text.size();
    entry.object = made->clone().release();
  }
  PyMutex_Unlock(&shared.lock);
  return made;
}

void append_number(std::string& out, std::uint64_t number) {
  char digits[24];
  const auto result = std::to_chars(std::begin(digits), std::end(digits), number);
  out.append(digits, result.ptr);
}

void append_path(std::string& text, const Path& path) {
  for (const PathSegment& segment : path) {
    switch (segment.kind) {
      case PathSegment::Kind::Index:
        text.push_back('[');
        append_number(text, segment.index);
        text.push_back(']');
        break;
      case PathSegment::Kind::Key:
        if (!text.empty()) text.push_back('.');
        text.append(segment.key);
        break;
    }
  }
}

void append_error_line(std::string& out, const ErrorItem& item) {
  if (!item.path.empty()) {
    // The "at" part only when the path has some text.
    const std::size_t start = out.size();
    out.append("at ");
    std::string path;
    append_path(path, item.path);
    if (path.empty()) {
      out.resize(start);
    } else {
      out.append(path);
      out.append(": ");
    }
  }
  out.append("expected ");
  out.append(item.expected);
  out.append(", got ");
  out.append(item.value);
  out.append(" [");
  out.append(item.code);
  out.push_back(']');
}

// One item's objects. The first item's texts also serve as the exception's
// own attributes (they are immutable).
struct ItemObjects {
  PyRef code;
  PyRef path;
  PyRef message;
  PyRef expected;
  PyRef value;
};

Result<ItemObjects> item_objects(const ErrorItem& item, std::string_view line) {
  ItemObjects objects;
  Result<PyRef> made = recurring_text_object(item.code);
  QUILLMAR_RETURN_IF_FAILED(made);
  objects.code = std::move(*made);
  if (!(made = path_to_tuple(item.path))) return fail_with(std::move(made.error()));
  objects.path = std::move(*made);
  if (!(made = text_object(line))) return fail_with(std::move(made.error()));
  objects.message = std::move(*made);
  if (!(made = recurring_text_object(item.expected))) return fail_with(std::move(made.error()));
  objects.expected = std::move(*made);
  if (!(made = text_object(item.value))) return fail_with(std::move(made.error()));
  objects.value = std::move(*made);
  return objects;
}

Result<PyRef> error_dict(const ItemObjects& objects, const Names& names) {
  const std::pair<Name, PyObject*> values[] = {{kCode, objects.code.get()},
                                               {kPath, objects.path.get()},
                                               {kMessage, objects.message.get()},
                                               {kExpected, objects.expected.get()},
                                               {kValue, objects.value.get()}};
  return filled_dict(names.item_template, names, values);
}

// No class attribute of the class or its heap bases stands under one of the
// six names (a descriptor would take its set; the builtin bases cannot gain one).
bool class_sets_are_plain(PyTypeObject* type, const Names& names) {
  PyObject* mro = type->tp_mro;
  if (!mro || !PyTuple_Check(mro)) return false;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
    auto* base = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i));
    if (!PyType_HasFeature(base, Py_TPFLAGS_HEAPTYPE)) continue;
    PyRef dict = PyRef::steal(PyType_GetDict(base));
    if (!dict) return false;
    for (std::size_t k = 0; k < kNameCount; ++k) {
      int found = PyDict_Contains(dict.get(), names.text[k]);
      if (found < 0) PyErr_Clear();
      if (found != 0) return false;
    }
  }
  return true;
}

// Whether the six attribute sets would only fill a new instance dict, so that
// installing a prepared one is the same: the instance is of the class itself
// (a replaced __new__ may return anything), the class keeps the default
// __setattr__ and its attributes plain, and the instance has no dict yet (a
// replaced __init__ may have filled one).
bool sets_are_plain(PyObject* error, PyTypeObject* type, const Names& names) {
  if (Py_TYPE(error) != type || type->tp_setattro != PyObject_GenericSetAttr) return false;
  if (reinterpret_cast<PyBaseExceptionObject*>(error)->dict) return false;
  // The class's answer is kept under its version tag, which any change to
  // the class or its bases replaces.
  static std::atomic<unsigned int> proven_version{0};
  const unsigned int version = PyUnstable_Type_AssignVersionTag(type) ? type->tp_version_tag : 0;
  if (version != 0 && proven_version.load(std::memory_order_relaxed) == version) return true;
  if (!class_sets_are_plain(type, names)) return false;
  if (version != 0) proven_version.store(version, std::memory_order_relaxed);
  return true;
}

Result<PyRef> build(std::span<const ErrorItem> items) {
  Result<const Names*> names = report_names();
  QUILLMAR_RETURN_IF_FAILED(names);
  Result<PyRef> type = validation_error_type();
  if (!type) return type;

  // Each item's line is made once, in place in the message text: it is also
  // the item's own message.
  std::string text;
  text.reserve(32 + 96 * items.size());  // a typical line fits, so the text grows rarely
  std::vector<std::pair<std::size_t, std::size_t>> lines;  // (start, size) in text
  lines.reserve(items.size());
  if (items.size() > 1) {
    append_number(text, items.size());
    text.append(" validation errors:");
  }
  for (const ErrorItem& item : items) {
    if (items.size() > 1) text.push_back('\n');
    const std::size_t start = text.size();
    append_error_line(text, item);
    lines.emplace_back(start, text.size() - start);
  }
  auto line = [&](std::size_t i) { return std::string_view(text).substr(lines[i].first, lines[i].second); };

  Result<ItemObjects> first = item_objects(items.front(), line(0));
  QUILLMAR_RETURN_IF_FAILED(first);
  Result<PyRef> message = items.size() == 1 ? Result<PyRef>(first->message.clone()) : text_object(text);
  if (!message) return message;
  Result<PyRef> error = checked(PyObject_CallOneArg(type->get(), message->get()));
  if (!error) return error;

  Result<PyRef> tuple = checked(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
  if (!tuple) return tuple;
  for (std::size_t i = 0; i < items.size(); ++i) {
    Result<PyRef> dict;
    if (i == 0) {
      dict = error_dict(*first, **names);
    } else {
      Result<ItemObjects> made = item_objects(items[i], line(i));
      QUILLMAR_RETURN_IF_FAILED(made);
      dict = error_dict(*made, **names);
    }
    if (!dict) return dict;
    PyTuple_SET_ITEM(tuple->get(), static_cast<Py_ssize_t>(i), dict->release());
  }

  // The exception's path is a tuple of its own, not the first dict's.
  Result<PyRef> path = path_to_tuple(items.front().path);
  if (!path) return path;
  const std::pair<Name, PyObject*> attributes[] = {
      {kCode, first->code.get()},       {kExpected, first->expected.get()}, {kValue, first->value.get()},
      {kMessage, first->message.get()}, {kPath, path->get()},               {kErrors, tuple->get()}};
  if (!sets_are_plain(error->get(), reinterpret_cast<PyTypeObject*>(type->get()), **names)) {
    for (const auto& [name, value] : attributes) {
      if (PyObject_SetAttr(error->get(), (**names)[name], value) < 0) return fetched();
    }
    return error;
  }
  // The sets would make the instance a dict with these entries in this
  // order: it gets that dict at once.
  Result<PyRef> dict = filled_dict((*names)->attribute_template, **names, attributes);
  if (!dict) return dict;
  if (PyObject_GenericSetDict(error->get(), dict->get(), nullptr) < 0) return fetched();
  return error;
}

}  // namespace

std::string error_line(const ErrorItem& item) {
  std::string line;
  append_error_line(line, item);
  return line;
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
  Result<const Names*> names = report_names();
  QUILLMAR_RETURN_IF_FAILED(names);
  Result<PyRef> tuple = checked(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
  if (!tuple) return tuple;
  for (std::size_t i = 0; i < items.size(); ++i) {
    Result<ItemObjects> objects = item_objects(items[i], error_line(items[i]));
    QUILLMAR_RETURN_IF_FAILED(objects);
    Result<PyRef> dict = error_dict(*objects, **names);
    if (!dict) return dict;
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
  const ErrorItem item{{}, "valid JSON", truncate_text(message, VALUE_TEXT_MAX_CHARS), "json_invalid", {}};
  return build_validation_error(std::span(&item, 1));
}

}  // namespace quillmar::ext
