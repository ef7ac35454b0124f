#include "constant_pool.hpp"

namespace quillmar::ext {

ConstantPool& ConstantPool::operator=(ConstantPool&& other) noexcept {
  if (this != &other) {
    release_all();
    objects_ = std::move(other.objects_);
    other.objects_.clear();
  }
  return *this;
}

ConstantPool::~ConstantPool() { release_all(); }

void ConstantPool::release_all() {
  for (PyObject* object : objects_) Py_DECREF(object);
  objects_.clear();
}

ConstantPool ConstantPool::copy() const {
  ConstantPool out;
  out.objects_.reserve(objects_.size());
  for (PyObject* object : objects_) out.objects_.push_back(Py_NewRef(object));
  return out;
}

std::uint64_t ConstantPool::append(PyObject* object) {
  objects_.push_back(Py_NewRef(object));
  return objects_.size() - 1;
}

ConstantPoolBuilder::ConstantPoolBuilder(ConstantPool pool) : pool_(std::move(pool)) {
  index_.reserve(pool_.size());
  for (std::size_t i = 0; i < pool_.size(); ++i) index_[pool_.at(i)] = i;
}

std::uint64_t ConstantPoolBuilder::intern_constant(PyObject* object) {
  auto [it, inserted] = index_.try_emplace(object, pool_.size());
  if (inserted) pool_.append(object);
  return it->second;
}

std::vector<std::uint64_t> ConstantPoolBuilder::intern_constants(std::span<PyObject* const> objects) {
  std::vector<std::uint64_t> table;
  table.reserve(objects.size());
  for (PyObject* object : objects) table.push_back(intern_constant(object));
  return table;
}

ConstantPool ConstantPoolBuilder::take_pool() && {
  index_.clear();
  return std::move(pool_);
}

// 1 and True, or 1 and 1.0, compare equal in Python but are different
// literals: the type must match too.
static bool pool_items_equal(PyObject* a, PyObject* b) {
  if (a == b) return true;
  if (Py_TYPE(a) != Py_TYPE(b)) return false;
  int equal = PyObject_RichCompareBool(a, b, Py_EQ);
  if (equal < 0) {
    PyErr_Clear();
    return false;
  }
  return equal == 1;
}

bool pools_equal(const ConstantPool& a, const ConstantPool& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!pool_items_equal(a.at(i), b.at(i))) return false;
  }
  return true;
}

}  // namespace quillmar::ext
