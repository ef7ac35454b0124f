// The nodes that ask only for a value's type: which type each asks for, and
// how a Python value and a JSON scalar are tested for it. Every walk reads
// this one table.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>

#include "json/value.hpp"
#include "quillmar/core/node.hpp"

namespace quillmar::ext {

enum class PlainType : std::uint8_t { Anything, Nothing, None, Bool, Int, Float, Str, Bytes };

// nullopt for a node that asks for more than a type.
[[gnu::always_inline]] constexpr std::optional<PlainType> plain_type(core::NodeKind kind) {
  using core::NodeKind;
  switch (kind) {
    case NodeKind::Anything:
    case NodeKind::Any:
      return PlainType::Anything;
    case NodeKind::Nothing:
      return PlainType::Nothing;
    case NodeKind::None:
      return PlainType::None;
    case NodeKind::Bool:
      return PlainType::Bool;
    case NodeKind::Int:
      return PlainType::Int;
    case NodeKind::Float:
      return PlainType::Float;
    case NodeKind::Str:
      return PlainType::Str;
    case NodeKind::Bytes:
      return PlainType::Bytes;
    case NodeKind::Literal:
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Instance:
    case NodeKind::Object:
    case NodeKind::Refined:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return std::nullopt;
  }
  return std::nullopt;
}

// Judged by the type object alone, so no Python code runs; subclasses count
// but for bool, which has none.
[[gnu::always_inline]] inline bool has_plain_type(PlainType type, PyObject* value) {
  switch (type) {
    case PlainType::Anything:
      return true;
    case PlainType::Nothing:
      return false;
    case PlainType::None:
      return value == Py_None;
    case PlainType::Bool:
      return Py_IS_TYPE(value, &PyBool_Type);
    case PlainType::Int:
      return PyLong_Check(value);
    case PlainType::Float:
      return PyFloat_Check(value);
    case PlainType::Str:
      return PyUnicode_Check(value);
    case PlainType::Bytes:
      return PyBytes_Check(value);
  }
  return false;
}

// The JSON kinds of a type, one bit each, as for their Python forms: bool is
// an int subclass, and no JSON value is bytes. Constants, so the test below
// is a table read and a shift.
constexpr std::uint8_t json_kinds_of(PlainType type) {
  constexpr auto bit = [](JsonKind kind) { return static_cast<std::uint8_t>(1u << static_cast<unsigned>(kind)); };
  switch (type) {
    case PlainType::Anything:
      return 0xFF;
    case PlainType::Nothing:
    case PlainType::Bytes:
      return 0;
    case PlainType::None:
      return bit(JsonKind::Null);
    case PlainType::Bool:
      return bit(JsonKind::Bool);
    case PlainType::Int:
      return bit(JsonKind::Int) | bit(JsonKind::BigInt) | bit(JsonKind::Bool);
    case PlainType::Float:
      return bit(JsonKind::Float);
    case PlainType::Str:
      return bit(JsonKind::String);
  }
  return 0;
}

static_assert(static_cast<unsigned>(JsonKind::Object) < 8, "one bit a JSON kind");

[[gnu::always_inline]] inline bool has_plain_type(PlainType type, JsonKind kind) {
  return (json_kinds_of(type) >> static_cast<unsigned>(kind)) & 1u;
}

}  // namespace quillmar::ext
