// The Python module `vessarine`: the engine's answers as Python values,
// the members of each object those of the command line's JSON
// (registry/fields.h names them for both).
#include <pybind11/pybind11.h>

#include <array>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vessarine/db/cache_files.h"
#include "vessarine/engine/engine.h"
#include "vessarine/engine/finder.h"
#include "vessarine/text/utf8.h"
#include "vessarine/text/escape.h"
#include "docs.h"

namespace py = pybind11;

namespace {

// Every call names its prefixes file (None: the default one); each file's
// engine is opened on its first use and kept for the life of the process,
// never freed, so a thread still working at exit has its tables. Opened
// and looked up with the GIL held, which orders them; nothing here holds
// a lock of its own, so a fork at any moment leaves the child usable.
const engine::Engine& EngineFor(const py::object& prefixes) {
  static auto* engines = new std::map<std::string, const engine::Engine*>();
  const std::string path = prefixes.is_none() ? std::string() : py::cast<std::string>(py::str(prefixes));
  if (!prefixes.is_none() && path.empty()) throw py::value_error("prefixes: must not be empty");
  if (auto it = engines->find(path); it != engines->end()) return *it->second;
  // The process may run for hours beside an update: its own copy of the
  // cache files, as the window and the command line's streams keep.
  SetCacheHold(CacheHold::PrivateCopy);
  char* said = nullptr;
  size_t saidSize = 0;
  std::FILE* warnings = ::open_memstream(&said, &saidSize);
  std::string error;
  auto opened = engine::Engine::Open(engine::Options{path}, warnings, &error);
  if (warnings != nullptr) std::fclose(warnings);
  const std::string warned = said != nullptr ? std::string(said, saidSize) : std::string();
  std::free(said);
  if (!opened) throw py::value_error(error);
  const engine::Engine& result = *engines->emplace(path, opened.release()).first->second;
  // A damaged table, named as the command line names it on stderr.
  for (size_t from = 0; from < warned.size();) {
    size_t nl = warned.find('\n', from);
    if (nl == std::string::npos) nl = warned.size();
    const std::string line = warned.substr(from, nl - from);
    if (PyErr_WarnEx(PyExc_RuntimeWarning, line.c_str(), 1) != 0) throw py::error_already_set();
    from = nl + 1;
  }
  return result;
}

// A new reference to the str of `text`, invalid UTF-8 made U+FFFD as the
// JSON output makes it.
PyObject* Str(std::string_view text) {
  if (text::IsValidUtf8(text)) return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
  std::string valid;
  text::AppendValidUtf8(&valid, text);
  return PyUnicode_DecodeUTF8(valid.data(), static_cast<Py_ssize_t>(valid.size()), nullptr);
}

PyObject* Checked(PyObject* object) {
  if (object == nullptr) throw py::error_already_set();
  return object;
}

// A list of new str of the '\n'-separated lines.
PyObject* LinesList(std::string_view lines) {
  PyObject* list = Checked(PyList_New(0));
  for (bool more = !lines.empty(); more;) {
    const size_t nl = lines.find('\n');
    PyObject* line = Str(lines.substr(0, nl));
    if (line == nullptr || PyList_Append(list, line) != 0) {
      Py_XDECREF(line);
      Py_DECREF(list);
      throw py::error_already_set();
    }
    Py_DECREF(line);
    more = nl != std::string_view::npos;
    if (more) lines.remove_prefix(nl + 1);
  }
  return list;
}

// The key objects of one kind of object, by position: the visitor names
// its keys in the same order every time, as literals, so a pointer compare
// finds each one's interned str. Once a dict of them all was made, `shape`
// holds its keys (values None): a copy of it is a dict of the right size
// whose keys need only their values replaced, much cheaper than inserting
// each key into a growing dict.
struct Keys {
  std::array<const char*, 32> text{};
  std::array<PyObject*, 32> object{};
  PyObject* shape = nullptr;

  PyObject* At(size_t i, answer::Key whole) {
    const std::string_view key = whole.name();
    if (text[i] != key.data()) {
      PyObject* made = Checked(PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size())));
      PyUnicode_InternInPlace(&made);
      Py_XDECREF(object[i]);
      object[i] = made;
      text[i] = key.data();
      Py_CLEAR(shape);
    }
    return object[i];
  }

  // A new dict to fill: a copy of the shape, or an empty one.
  PyObject* NewDict() const { return Checked(shape != nullptr ? PyDict_Copy(shape) : PyDict_New()); }

  // After a dict of `count` keys was filled: keeps its shape when it has
  // none, and checks the dict holds no key the visitor did not name.
  void Filled(PyObject* dict, size_t count) {
    if (static_cast<size_t>(PyDict_GET_SIZE(dict)) != count) {
      Py_CLEAR(shape);
      throw std::logic_error("vessarine: a dict's keys changed between calls");
    }
    if (shape != nullptr) return;
    shape = Checked(PyDict_New());
    for (size_t i = 0; i < count; ++i) {
      if (PyDict_SetItem(shape, object[i], Py_None) != 0) {
        Py_CLEAR(shape);
        throw py::error_already_set();
      }
    }
  }
};

// What goes into a dict for a member whose value is mutable: each dict gets
// its own copy of a kept list.
enum class Kind : uint8_t { Value, Lines, Holders };

PyObject* Fresh(Kind kind, PyObject* kept) {
  switch (kind) {
    case Kind::Value: Py_INCREF(kept); return kept;
    case Kind::Lines: return Checked(PyList_GetSlice(kept, 0, PyList_GET_SIZE(kept)));
    case Kind::Holders: {
      // Each holder's dict copied, and each list in it.
      const Py_ssize_t n = PyList_GET_SIZE(kept);
      if (n == 0) return Checked(PyList_New(0));
      py::list list(n);
      for (Py_ssize_t i = 0; i < n; ++i) {
        py::dict holder = py::reinterpret_steal<py::dict>(Checked(PyDict_Copy(PyList_GET_ITEM(kept, i))));
        for (auto [key, value] : py::reinterpret_borrow<py::dict>(PyList_GET_ITEM(kept, i))) {
          if (PyList_Check(value.ptr())) holder[key] = py::list(py::reinterpret_borrow<py::list>(value));
        }
        list[static_cast<size_t>(i)] = holder;
      }
      return list.release().ptr();
    }
  }
  return nullptr;
}

// Calls sink(key, kind, new reference) for each member the visitor names.
template <class Sink>
class ValueFields {
 public:
  explicit ValueFields(Sink& sink) : sink_(sink) {}
  void String(answer::Key key, std::string_view text) { sink_(key, Kind::Value, Checked(Str(text))); }
  template <class F>
  void Ascii(answer::Key key, F&& append) {
    // Called with the GIL held: one buffer serves every call.
    static std::string text;
    text.clear();
    append(&text);
    sink_(key, Kind::Value, Checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()))));
  }
  void Null(answer::Key key) { sink_(key, Kind::Value, Py_NewRef(Py_None)); }
  void Bool(answer::Key key, bool value) { sink_(key, Kind::Value, Py_NewRef(value ? Py_True : Py_False)); }
  void Number(answer::Key key, uint64_t value) {
    sink_(key, Kind::Value, Checked(PyLong_FromUnsignedLongLong(value)));
  }
  void Lines(answer::Key key, std::string_view lines) { sink_(key, Kind::Lines, LinesList(lines)); }
  void Holders(answer::Key key, const registry::Match* m);
  void Entry(const registry::Match* m) { sink_.Entry(m, *this); }
  void Class(const answer::Description& d) { answer::VisitClassFields(d, *this); }

 private:
  Sink& sink_;
};

// The Python values of a registry entry's members, kept per entry in a
// small direct-mapped cache: inputs name the same holders again and again,
// and making their strs and lists is most of a dict's cost. The tables an
// engine maps are never let go, so an entry's texts' addresses name it.
class EntryValues {
 public:
  struct Member {
    answer::Key key;
    Kind kind;
    PyObject* value;
  };
  static constexpr size_t kMembers = 7;

  const std::array<Member, kMembers>& Get(const registry::Match& m) {
    Slot& slot = slots_[((m.prefix ^ reinterpret_cast<uintptr_t>(m.organization.data())) * 0x9E3779B97F4A7C15u) >>
                        (64 - kBits)];
    const Key key{m.prefix, m.bits, m.user != nullptr ? -1 : static_cast<int>(m.registry), m.organization.data(),
                  m.organization.size(), m.address.data()};
    if (!slot.filled || !(slot.key == key)) {
      for (Member& member : slot.members) Py_CLEAR(member.value);
      slot.filled = false;
      Collector collector{&slot.members};
      ValueFields<Collector> fields(collector);
      answer::VisitEntryFields(&m, fields);
      slot.key = key;
      slot.filled = true;
    }
    return slot.members;
  }

 private:
  struct Collector {
    std::array<Member, kMembers>* members;
    size_t next = 0;
    void operator()(answer::Key key, Kind kind, PyObject* value) { (*members)[next++] = Member{key, kind, value}; }
    template <class V>
    void Entry(const registry::Match*, V&) {}
  };
  struct Key {
    uint64_t prefix;
    int bits, registry;
    const char* organization;
    size_t organizationSize;
    const char* address;
    bool operator==(const Key&) const = default;
  };
  struct Slot {
    bool filled = false;
    Key key{};
    std::array<Member, kMembers> members{};
  };
  static constexpr int kBits = 12;
  std::array<Slot, size_t{1} << kBits> slots_{};
};

EntryValues& Entries() {
  static auto* entries = new EntryValues();
  return *entries;
}

// Builds one dict of the members a visitor names. `input`, when its text
// is named as a member, is given as `inputObject` (the caller's own str).
class DictBuilder {
 public:
  DictBuilder(Keys& keys, std::string_view input = {}, PyObject* inputObject = nullptr)
      : keys_(keys), input_(input), inputObject_(inputObject), dict_(keys.NewDict()) {}
  ~DictBuilder() { Py_XDECREF(dict_); }

  void operator()(answer::Key key, Kind, PyObject* value) { Set(key, value); }

  template <class V>
  void Entry(const registry::Match* m, V& fields) {
    if (m == nullptr) return answer::VisitEntryFields(nullptr, fields);
    for (const EntryValues::Member& member : Entries().Get(*m)) Set(member.key, Fresh(member.kind, member.value));
  }

  // The input's member, without making a new str of it.
  bool IsInput(std::string_view text) const {
    return inputObject_ != nullptr && text.data() == input_.data() && text.size() == input_.size();
  }
  PyObject* InputObject() const { return Py_NewRef(inputObject_); }

  PyObject* Release() {
    keys_.Filled(dict_, next_);
    PyObject* dict = dict_;
    dict_ = nullptr;
    return dict;
  }

 private:
  void Set(answer::Key key, PyObject* value) {
    const int status = PyDict_SetItem(dict_, keys_.At(next_++, key), value);
    Py_DECREF(value);
    if (status != 0) throw py::error_already_set();
  }

  Keys& keys_;
  std::string_view input_;
  PyObject* inputObject_;
  PyObject* dict_;
  size_t next_ = 0;
};

// ValueFields over a DictBuilder, the input's text given as its own str.
class DictFields : public ValueFields<DictBuilder> {
 public:
  explicit DictFields(DictBuilder& dict) : ValueFields<DictBuilder>(dict), dict_(dict) {}
  void String(answer::Key key, std::string_view text) {
    if (dict_.IsInput(text)) return dict_(key, Kind::Value, dict_.InputObject());
    ValueFields<DictBuilder>::String(key, text);
  }

 private:
  DictBuilder& dict_;
};

// A visit's dict, as a new reference.
template <class Visit>
PyObject* MakeDict(Keys& keys, std::string_view input, PyObject* inputObject, Visit&& visit) {
  DictBuilder dict(keys, input, inputObject);
  DictFields fields(dict);
  visit(fields);
  return dict.Release();
}

// The kinds of object made, each with its own keys.
enum class Object { Lookup, Error, Found, Assignment, Holder, Count };

Keys& KeysOf(Object object) {
  static auto* keys = new std::array<Keys, static_cast<size_t>(Object::Count)>();
  return (*keys)[static_cast<size_t>(object)];
}

template <class Sink>
void ValueFields<Sink>::Holders(answer::Key key, const registry::Match* m) {
  py::list list;
  if (m != nullptr) {
    for (const listing::TableView::Holder& h : registry::FurtherHolders(*m)) {
      list.append(py::reinterpret_steal<py::object>(
          MakeDict(KeysOf(Object::Holder), {}, nullptr, [&](DictFields& fields) { answer::VisitHolderFields(h, fields); })));
    }
  }
  sink_(key, Kind::Holders, list.release().ptr());
}

// A str's UTF-8 bytes. A str that has none (lone surrogates, as
// os.fsdecode makes of undecodable bytes) gives its bytes as
// surrogateescape would write them, else as surrogatepass would: invalid
// UTF-8, which is answered as the command line answers those bytes.
// `holder` keeps what the text points into.
std::string_view Utf8Of(PyObject* text, py::object* holder) {
  Py_ssize_t size = 0;
  if (const char* data = PyUnicode_AsUTF8AndSize(text, &size)) return {data, static_cast<size_t>(size)};
  PyErr_Clear();
  PyObject* bytes = PyUnicode_AsEncodedString(text, "utf-8", "surrogateescape");
  if (bytes == nullptr) {
    PyErr_Clear();
    bytes = Checked(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
  }
  *holder = py::reinterpret_steal<py::object>(bytes);
  return {PyBytes_AS_STRING(bytes), static_cast<size_t>(PyBytes_GET_SIZE(bytes))};
}

// An answer's dict; the input's own str is its "input" when its bytes are
// the str's.
PyObject* AnswerDict(std::string_view input, PyObject* inputObject, const engine::Answer& answer) {
  Keys& keys = answer.description ? KeysOf(Object::Lookup) : KeysOf(Object::Error);
  return MakeDict(keys, input, inputObject,
                  [&](DictFields& fields) { engine::Engine::Visit(input, answer, fields); });
}

py::str RequireStr(const py::handle& text, const char* what) {
  if (!PyUnicode_Check(text.ptr())) {
    throw py::type_error(std::string(what) + " must be str, not " + std::string(py::str(py::type::handle_of(text).attr("__name__"))));
  }
  return py::reinterpret_borrow<py::str>(text);
}

py::object Lookup(const py::handle& text, const py::object& prefixes, bool wwn) {
  const py::str input = RequireStr(text, "text");
  const engine::Engine& engine = EngineFor(prefixes);
  py::object holder;
  const std::string_view bytes = Utf8Of(input.ptr(), &holder);
  const engine::Answer answer = engine.Lookup(bytes, {wwn});
  return py::reinterpret_steal<py::object>(AnswerDict(bytes, holder ? nullptr : input.ptr(), answer));
}

// Holds the cyclic garbage collector off while a result is built: each
// answer adds a few containers, and the collections their count sets off
// would go over every one made so far, again and again. None of them can
// be in a cycle.
class NoCollection {
 public:
  NoCollection() : was_(PyGC_Disable()) {}
  ~NoCollection() {
    if (was_) PyGC_Enable();
  }
  NoCollection(const NoCollection&) = delete;
  NoCollection& operator=(const NoCollection&) = delete;

 private:
  int was_;
};

// Inputs are looked up this many at a time with the GIL released, then
// their dicts made with it held: memory stays bounded however many.
constexpr size_t kChunk = 4096;

py::list LookupMany(const py::iterable& texts, const py::object& prefixes, bool wwn) {
  const engine::Engine& engine = EngineFor(prefixes);
  struct Input {
    PyObject* object;  // borrowed from `items`
    std::string_view bytes;
    bool own;  // bytes are the str's UTF-8
  };
  std::vector<py::object> items;
  std::vector<py::object> holders;
  std::vector<Input> inputs;
  if (const Py_ssize_t hint = PyObject_LengthHint(texts.ptr(), 0); hint > 0) {
    inputs.reserve(static_cast<size_t>(hint));
    items.reserve(static_cast<size_t>(hint));
  } else if (hint < 0) {
    PyErr_Clear();
  }
  for (py::handle item : texts) {
    if (!PyUnicode_Check(item.ptr())) {
      throw py::type_error("lookup_many: item " + std::to_string(inputs.size()) + " is " +
                           std::string(py::str(py::type::handle_of(item).attr("__name__"))) + ", not str");
    }
    items.push_back(py::reinterpret_borrow<py::object>(item));
    py::object holder;
    const std::string_view bytes = Utf8Of(item.ptr(), &holder);
    inputs.push_back(Input{item.ptr(), bytes, !holder});
    if (holder) holders.push_back(std::move(holder));
  }
  const NoCollection noCollection;
  PyObject* result = Checked(PyList_New(static_cast<Py_ssize_t>(inputs.size())));
  py::list list = py::reinterpret_steal<py::list>(result);
  std::vector<engine::Answer> answers(std::min(inputs.size(), kChunk));
  for (size_t from = 0; from < inputs.size(); from += kChunk) {
    const size_t n = std::min(kChunk, inputs.size() - from);
    {
      py::gil_scoped_release released;
      for (size_t i = 0; i < n; ++i) answers[i] = engine.Lookup(inputs[from + i].bytes, {wwn});
    }
    for (size_t i = 0; i < n; ++i) {
      const Input& in = inputs[from + i];
      PyList_SET_ITEM(result, static_cast<Py_ssize_t>(from + i),
                      AnswerDict(in.bytes, in.own ? in.object : nullptr, answers[i]));
    }
  }
  return list;
}

// The finder's finds, kept for their dicts.
struct KeptFind {
  std::string text;
  answer::Description description;
  uint64_t line, column;
};

struct FindCollector {
  static constexpr bool kCountsLines = true;
  std::vector<KeptFind> finds;
  void Text(std::string_view) {}
  void Found(const engine::Found& f) { finds.push_back(KeptFind{std::string(f.text), f.description, f.line, f.column}); }
};

py::str Annotate(const py::handle& text, const py::object& prefixes) {
  const py::str input = RequireStr(text, "text");
  const engine::Engine& engine = EngineFor(prefixes);
  py::object holder;
  const std::string_view bytes = Utf8Of(input.ptr(), &holder);
  engine::LabelWriter writer;
  {
    py::gil_scoped_release released;
    engine::Finder<engine::LabelWriter>(engine, writer).All(bytes);
  }
  // The text's own bytes go through as they were: a str of lone
  // surrogates comes back with them.
  return py::reinterpret_steal<py::str>(Checked(PyUnicode_DecodeUTF8(
      writer.text.data(), static_cast<Py_ssize_t>(writer.text.size()), "surrogateescape")));
}

py::list Find(const py::handle& text, const py::object& prefixes) {
  const py::str input = RequireStr(text, "text");
  const engine::Engine& engine = EngineFor(prefixes);
  py::object holder;
  const std::string_view bytes = Utf8Of(input.ptr(), &holder);
  FindCollector collector;
  {
    py::gil_scoped_release released;
    engine::Finder<FindCollector>(engine, collector).All(bytes);
  }
  const NoCollection noCollection;
  py::list list;
  for (const KeptFind& f : collector.finds) {
    list.append(py::reinterpret_steal<py::object>(MakeDict(KeysOf(Object::Found), {}, nullptr, [&](DictFields& fields) {
      answer::VisitFoundFields(f.text, f.description, f.line, f.column, fields);
    })));
  }
  return list;
}

py::list Assignments(const engine::Engine& engine, const answer::HolderFilter* filter) {
  std::vector<registry::Match> matches;
  {
    py::gil_scoped_release released;
    engine.ForEachAssignment(filter, [&](const registry::Match& m) { matches.push_back(m); });
  }
  const NoCollection noCollection;
  py::list list;
  for (const registry::Match& m : matches) {
    list.append(py::reinterpret_steal<py::object>(MakeDict(
        KeysOf(Object::Assignment), {}, nullptr, [&](DictFields& fields) { answer::VisitAssignmentFields(m, fields); })));
  }
  return list;
}

py::list Search(const py::handle& text, const py::object& prefixes) {
  const py::str input = RequireStr(text, "text");
  py::object holder;
  const std::string_view bytes = Utf8Of(input.ptr(), &holder);
  if (bytes.empty()) throw py::value_error("search: text must not be empty");
  const engine::Engine& engine = EngineFor(prefixes);
  const answer::HolderFilter filter(bytes);
  return Assignments(engine, &filter);
}

py::list Export(const py::object& prefixes) { return Assignments(EngineFor(prefixes), nullptr); }

py::list Tables(const py::object& prefixes) {
  py::list list;
  for (const engine::TableInfo& t : EngineFor(prefixes).Tables()) {
    py::dict table;
    table["registry"] = py::str(std::string(t.registry));
    table["entries"] = py::int_(t.entries);
    table["source"] = py::str(std::string(t.source));
    table["path"] = t.path.empty() ? py::object(py::none()) : py::object(py::str(t.path));
    list.append(table);
  }
  return list;
}

}  // namespace

PYBIND11_MODULE(vessarine, m) {
  m.doc() = kModuleDoc;
  m.def("lookup", &Lookup, py::arg("text"), py::kw_only(), py::arg("prefixes") = py::none(), py::arg("wwn") = false, kLookupDoc);
  m.def("lookup_many", &LookupMany, py::arg("texts"), py::kw_only(), py::arg("prefixes") = py::none(), py::arg("wwn") = false, kLookupManyDoc);
  m.def("annotate", &Annotate, py::arg("text"), py::kw_only(), py::arg("prefixes") = py::none(), kAnnotateDoc);
  m.def("find", &Find, py::arg("text"), py::kw_only(), py::arg("prefixes") = py::none(), kFindDoc);
  m.def("search", &Search, py::arg("text"), py::kw_only(), py::arg("prefixes") = py::none(), kSearchDoc);
  m.def("export", &Export, py::kw_only(), py::arg("prefixes") = py::none(), kExportDoc);
  m.def("tables", &Tables, py::kw_only(), py::arg("prefixes") = py::none(), kTablesDoc);
  m.attr("__version__") = VESSARINE_VERSION;
}
