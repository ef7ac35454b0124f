#include "build/typing_cache.hpp"

#include "py/once.hpp"

namespace quillmar::ext {
namespace {

// Owned references taken while loading; released unless the load completes.
struct Loader {
  PyRef held[12];  // one per member
  int count = 0;

  PyObject* keep(PyRef object) {
    PyObject* raw = object.get();
    held[count++] = std::move(object);
    return raw;
  }
  void commit() {
    for (int i = 0; i < count; ++i) (void)held[i].release();
  }
};

Result<PyRef> import(const char* name) { return checked(PyImport_ImportModule(name)); }

Result<PyRef> read(PyObject* module, const char* name) { return checked(PyObject_GetAttrString(module, name)); }

PyObject* read_optional(Loader& loader, PyObject* module, const char* name) {
  PyObject* found = PyObject_GetAttrString(module, name);
  if (!found) {
    PyErr_Clear();
    return nullptr;
  }
  return loader.keep(PyRef::steal(found));
}

Result<TypingCache> load_typing_cache() {
  Loader loader;
  TypingCache cache{};
// The members are kept for the process; the modules read from are released.
#define QM_TRY(var, expr)                                               \
  auto var##_result = (expr);                                           \
  if (!var##_result) return fail_with(std::move(var##_result.error())); \
  PyObject* var = loader.keep(std::move(*var##_result));
#define QM_MODULE(var, name)                                            \
  auto var##_result = import(name);                                     \
  if (!var##_result) return fail_with(std::move(var##_result.error())); \
  PyObject* var = var##_result->get();
  QM_MODULE(typing, "typing");
  QM_MODULE(builtins, "builtins");
  QM_TRY(any, read(typing, "Any"));
  cache.any = any;
  cache.never = read_optional(loader, typing, "Never");
  cache.no_return = read_optional(loader, typing, "NoReturn");
  cache.type_alias_type = read_optional(loader, typing, "TypeAliasType");
  QM_TRY(union_, read(typing, "Union"));
  cache.union_ = union_;
  QM_TRY(optional, read(typing, "Optional"));
  cache.optional = optional;
  QM_MODULE(types, "types");
  QM_TRY(union_type, read(types, "UnionType"));
  cache.union_type = union_type;
  QM_TRY(literal, read(typing, "Literal"));
  cache.literal = literal;
  QM_TRY(object, read(builtins, "object"));
  cache.object = object;
  QM_MODULE(enum_module, "enum");
  QM_TRY(enum_, read(enum_module, "Enum"));
  cache.enum_ = enum_;
  QM_MODULE(abc, "collections.abc");
  QM_TRY(callable, read(abc, "Callable"));
  cache.callable = callable;
  QM_TRY(ellipsis, read(builtins, "Ellipsis"));
  cache.ellipsis = ellipsis;
#undef QM_TRY
#undef QM_MODULE
  loader.commit();
  return cache;
}

// Set while this thread runs the load. The load imports modules, so an import
// hook may compile a schema on the same thread; waiting on the cell there
// would wait for ourselves forever.
thread_local bool loading_on_this_thread = false;

class LoadingFlag {
 public:
  LoadingFlag() { loading_on_this_thread = true; }
  ~LoadingFlag() { loading_on_this_thread = false; }
  LoadingFlag(const LoadingFlag&) = delete;
  LoadingFlag& operator=(const LoadingFlag&) = delete;
};

}  // namespace

Result<const TypingCache*> typing_cache() {
  static OnceCell<TypingCache> cell;
  if (const TypingCache* ready = cell.get()) return ready;
  if (loading_on_this_thread) {
    return fail(PyExc_RuntimeError,
                "a schema cannot be compiled while this thread is loading the typing objects the compiler needs "
                "(the compile was started by code that this load ran, such as an import hook)");
  }
  return cell.get_or_init([] {
    LoadingFlag flag;
    return load_typing_cache();
  });
}

bool is_ellipsis(PyObject* object) {
  auto cache = typing_cache();
  if (!cache) return false;
  return object == (*cache)->ellipsis;
}

Result<bool> is_literal_form(PyObject* origin) {
  auto cache = typing_cache();
  QUILLMAR_RETURN_IF_FAILED(cache);
  return origin == (*cache)->literal;
}

}  // namespace quillmar::ext
