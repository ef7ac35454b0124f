// The Python objects a compiled schema names by index, one strong reference
// each, in the order first interned.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

namespace quillmar::ext {

class ConstantPool {
 public:
  ConstantPool() = default;
  ConstantPool(const ConstantPool&) = delete;
  ConstantPool& operator=(const ConstantPool&) = delete;
  ConstantPool(ConstantPool&& other) noexcept : objects_(std::move(other.objects_)) { other.objects_.clear(); }
  ConstantPool& operator=(ConstantPool&& other) noexcept;
  ~ConstantPool();

  // A new pool of the same objects in the same order, each with a new reference.
  ConstantPool copy() const;

  // Takes a new reference to object and appends it; returns its index.
  std::uint64_t append(PyObject* object);

  std::size_t size() const { return objects_.size(); }
  // Borrowed; nullptr past the end.
  PyObject* at(std::uint64_t index) const { return index < objects_.size() ? objects_[index] : nullptr; }
  std::span<PyObject* const> objects() const { return objects_; }

 private:
  void release_all();
  std::vector<PyObject*> objects_;
};

// A pool being filled by a compile, with its identity index.
class ConstantPoolBuilder {
 public:
  ConstantPoolBuilder() = default;
  // Indexes an existing pool so further interning reuses its entries.
  explicit ConstantPoolBuilder(ConstantPool pool);

  // The object's index, interning it (one new reference) when it is new.
  std::uint64_t intern_constant(PyObject* object);
  std::vector<std::uint64_t> intern_constants(std::span<PyObject* const> objects);

  // Drops the identity index, keeping the pool.
  ConstantPool take_pool() &&;

 private:
  ConstantPool pool_;
  std::unordered_map<const PyObject*, std::uint64_t> index_;
};

// Pairwise: same object, or same exact type and Python ==; an exception counts
// as unequal and is cleared. Pools of different lengths are unequal.
bool pools_equal(const ConstantPool& a, const ConstantPool& b);

}  // namespace quillmar::ext
