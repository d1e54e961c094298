// The generic binding of a class to Python: instance layout, exclusive
// borrow, constructor, process, methods and module functions, all derived
// from the C++ signatures they call.
//
// Every wrapper runs inside the internal-failure guard and follows one order:
// parse, borrow the object exclusively (0 -> -1), convert (renaming a
// conversion error after its parameter), run the class operation, make the
// output array and release the input, release the object (plain store of 0).
// Parameter conversion follows the C++ parameter type: double and float take
// the number rule, int the integer rule, bool the boolean rule. A return
// value becomes float, bool or int; a std::vector<float> a new float32 array.
// The class code itself (src/demodulate, src/modulate, src/radio) never sees
// Python.
#pragma once

#include "py_limited.hpp"

#include <atomic>
#include <cstring>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "errors.hpp"
#include "kernels/output_size.hpp"
#include "kernels/table.hpp"
#include "numpy_abi.hpp"
#include "numpy_exchange.hpp"
#include "parser.hpp"
#include "pyref.hpp"

namespace halvo::binding {

// Instance layout: object header, the class's state record, the borrow flag.
template <class T>
struct Instance {
    // Python allocates objects 16-byte aligned; a state record that asks for
    // more (a 32-byte vector member) would be misaligned, and an aligned
    // vector load of it would fault.
    static_assert(alignof(T) <= 16, "a class's state record must not need more than 16-byte alignment");
    PyObject ob_base;
    T state;              // the class's state record
    Py_ssize_t borrowed;  // 0 free, -1 borrowed by a call in progress
};

template <class T>
Instance<T>* instance(PyObject* self) {
    return reinterpret_cast<Instance<T>*>(self);
}

// The object is released on every path out of a method once borrowed.
template <class T>
struct Borrow {
    Instance<T>* inst;
    bool held;
    explicit Borrow(PyObject* self) : inst(instance<T>(self)) {
        Py_ssize_t expected = 0;
        held = std::atomic_ref<Py_ssize_t>(inst->borrowed).compare_exchange_strong(expected, -1);
        if (!held) PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    }
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    ~Borrow() {
        if (held) std::atomic_ref<Py_ssize_t>(inst->borrowed).store(0, std::memory_order_relaxed);
    }
};

// ---- conversion by C++ type ------------------------------------------------
template <class A>
bool convert(PyObject* obj, A* out) {
    if constexpr (std::is_same_v<A, bool>) {
        return convert_bool(obj, out);
    } else if constexpr (std::is_same_v<A, int>) {
        return convert_int(obj, out);
    } else if constexpr (std::is_same_v<A, double>) {
        return convert_number(obj, out);
    } else {
        static_assert(std::is_same_v<A, float>, "parameters are double, float, int or bool");
        double v = 0.0;
        if (!convert_number(obj, &v)) return false;
        *out = static_cast<float>(v);
        return true;
    }
}

template <class R>
PyObject* to_python(R&& value) {
    using V = std::remove_cvref_t<R>;
    if constexpr (std::is_same_v<V, bool>) {
        return PyBool_FromLong(value ? 1 : 0);
    } else if constexpr (std::is_floating_point_v<V>) {
        return PyFloat_FromDouble(static_cast<double>(value));
    } else if constexpr (std::is_integral_v<V>) {
        return PyLong_FromLongLong(static_cast<long long>(value));
    } else {
        static_assert(std::is_same_v<V, std::vector<float>>, "results are numbers, bool or std::vector<float>");
        SampleBuffer out;
        if (!allocate_samples(value.size(), Element::kFloat32, &out)) return nullptr;
        if (!value.empty()) std::memcpy(out.data, value.data(), value.size() * sizeof(float));
        return make_output(out);
    }
}

// The parameters of a callable, decayed: Signature<F>::Args is a std::tuple.
template <class F>
struct Signature;
template <class R, class... A>
struct Signature<R (*)(A...)> {
    using Result = R;
    using Args = std::tuple<std::decay_t<A>...>;
};
template <class R, class T, class... A>
struct Signature<R (T::*)(A...)> {
    using Result = R;
    using Args = std::tuple<std::decay_t<A>...>;
};
template <class R, class T, class... A>
struct Signature<R (T::*)(A...) const> {
    using Result = R;
    using Args = std::tuple<std::decay_t<A>...>;
};

// Fills `values` from the parsed slots. An omitted optional parameter keeps
// the value `values` holds (its default). Renames a conversion error after
// the parameter.
template <class Tuple, std::size_t... I>
bool convert_all(const ArgDescriptor& d, PyObject* const* slots, Tuple& values, std::index_sequence<I...>) {
    const auto one = [&](auto* out, std::size_t i) {
        if (!slots[i] || convert(slots[i], out)) return true;
        rename_conversion_error(d.names[i]);
        return false;
    };
    (void)one;  // unused for a function without parameters
    return (one(&std::get<I>(values), I) && ...);
}

// Defaults by position (count of them, from the first parameter; only the
// optional ones matter); without, an omitted optional parameter is 0/false.
template <class Tuple>
void fill_defaults(Tuple& values, const double* defaults, int count) {
    int i = 0;
    std::apply([&](auto&... v) { ((v = static_cast<std::remove_reference_t<decltype(v)>>(i < count ? defaults[i] : 0.0), ++i), ...); },
               values);
}

// ---- constructor and dealloc -----------------------------------------------
// T::make may throw ArgumentError (a ValueError for the caller); it runs
// before the object is allocated, so a rejected argument leaves nothing.
template <class T, const ArgDescriptor& D, auto Make, const double* Dflt = nullptr, int NDflt = 0>
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        using Args = typename Signature<decltype(Make)>::Args;
        static_assert(std::tuple_size_v<Args> <= kMaxParams);
        PyObject* slots[kMaxParams];
        if (!parse_tuple_dict(D, args, kwargs, slots)) return nullptr;
        Args values{};
        if constexpr (NDflt > 0) fill_defaults(values, Dflt, NDflt);
        if (!convert_all(D, slots, values, std::make_index_sequence<std::tuple_size_v<Args>>{})) return nullptr;
        T made = std::apply(Make, values);
        auto base_new = reinterpret_cast<newfunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_new));
        Ref empty(PyTuple_New(0));
        if (!empty) return nullptr;
        PyObject* self = base_new(type, empty.get(), nullptr);
        if (!self) return nullptr;
        Instance<T>* inst = instance<T>(self);
        new (&inst->state) T(std::move(made));
        inst->borrowed = 0;
        return self;
    });
}

template <class T>
void instance_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    // Classes that own memory (taps, delay lines) release it here.
    if constexpr (!std::is_trivially_destructible_v<T>) instance<T>(self)->state.~T();
    auto tp_free = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    tp_free(self);
    Py_DECREF(tp);
}

// ---- process ---------------------------------------------------------------
template <class Slot>
struct SlotTraits;
template <class Table, class T, class In, class Out>
struct SlotTraits<void (*Table::*)(T&, const In*, Out*, std::size_t)> {
    using Tab = Table;
    using State = T;
    using Input = In;
    using Output = Out;
};

template <class E>
constexpr int numpy_type() {
    return std::is_same_v<E, cf32> ? npy::kCFloat : npy::kFloat;
}

template <class E>
constexpr Element element() {
    static_assert(std::is_same_v<E, cf32> || std::is_same_v<E, float>, "elements are float or cf32");
    return std::is_same_v<E, cf32> ? Element::kComplex64 : Element::kFloat32;
}

// process(samples): the kernel of the active level on the input viewed in
// place; the output (its size from the class, see output_size.hpp) exists
// before the state moves, so a failed allocation leaves the object as it was.
template <auto Slot, const ArgDescriptor& D>
PyObject* process_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    using S = SlotTraits<decltype(Slot)>;
    using T = typename S::State;
    using In = typename S::Input;
    using Out = typename S::Output;
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* slot[1];
        if (!parse_fastcall(D, args, nargs, kwnames, slot)) return nullptr;
        Borrow<T> borrow(self);
        if (!borrow.held) return nullptr;
        T& state = borrow.inst->state;
        InputView view;
        if (!view.accept(slot[0], numpy_type<In>())) {
            rename_conversion_error(D.names[0]);
            add_array_note(slot[0], numpy_type<In>(), D.class_name, D.callable_name, D.names[0]);
            return nullptr;
        }
        const void* data = nullptr;
        std::size_t n = 0;
        if (!view.contiguous(&data, &n)) {
            add_array_note(slot[0], numpy_type<In>(), D.class_name, D.callable_name, D.names[0]);
            return nullptr;
        }
        const std::size_t rows = kernels::output_rows(state);
        SampleBuffer out;
        if (!allocate_samples(kernels::output_elements(state, n), element<Out>(), &out)) return nullptr;
        if (n != 0) {
            (kernels::active<typename S::Tab>().*Slot)(state, static_cast<const In*>(data), static_cast<Out*>(out.data), n);
        }
        PyObject* result = make_output(out, rows);
        view.release();
        return result;
    });
}

// ---- methods and functions ---------------------------------------------------
template <class M>
struct MemberOf;
template <class R, class T, class... A>
struct MemberOf<R (T::*)(A...)> {
    using Class = T;
};
template <class R, class T, class... A>
struct MemberOf<R (T::*)(A...) const> {
    using Class = T;
};

// Any member function without arrays: setters (returning nothing) and
// queries (returning a number or bool). A setter may throw ArgumentError.
template <auto Member, const ArgDescriptor& D>
PyObject* method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    using T = typename MemberOf<decltype(Member)>::Class;
    using Sig = Signature<decltype(Member)>;
    using Args = typename Sig::Args;
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* slots[kMaxParams + 1] = {};
        if (!parse_fastcall(D, args, nargs, kwnames, slots)) return nullptr;
        Borrow<T> borrow(self);
        if (!borrow.held) return nullptr;
        Args values{};
        if (!convert_all(D, slots, values, std::make_index_sequence<std::tuple_size_v<Args>>{})) return nullptr;
        T& state = borrow.inst->state;
        if constexpr (std::is_void_v<typename Sig::Result>) {
            std::apply([&](auto... v) { (state.*Member)(v...); }, values);
            Py_RETURN_NONE;
        } else {
            return to_python(std::apply([&](auto... v) { return (state.*Member)(v...); }, values));
        }
    });
}

// A module-level function: numbers in, a number or a new float32 array out.
template <auto Fn, const ArgDescriptor& D>
PyObject* function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    using Args = typename Signature<decltype(Fn)>::Args;
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* slots[kMaxParams + 1] = {};
        if (!parse_fastcall(D, args, nargs, kwnames, slots)) return nullptr;
        Args values{};
        if (!convert_all(D, slots, values, std::make_index_sequence<std::tuple_size_v<Args>>{})) return nullptr;
        return to_python(std::apply(Fn, values));
    });
}

template <auto Fn>
PyCFunction fastcall() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Fn));
}

inline constexpr int kFastcallKeywords = METH_FASTCALL | METH_KEYWORDS;

// The PyType_Spec of a class: base object, docstring (its text signature), constructor,
// dealloc, methods.
template <class T>
PyType_Spec make_spec(const char* name, const char* doc, newfunc tp_new, PyMethodDef* methods,
                      PyType_Slot (&slots)[6]) {
    slots[0] = {Py_tp_base, &PyBaseObject_Type};
    slots[1] = {Py_tp_doc, const_cast<char*>(doc)};
    slots[2] = {Py_tp_new, reinterpret_cast<void*>(tp_new)};
    slots[3] = {Py_tp_dealloc, reinterpret_cast<void*>(instance_dealloc<T>)};
    slots[4] = {Py_tp_methods, methods};
    slots[5] = {0, nullptr};
    return {name, static_cast<int>(sizeof(Instance<T>)), 0, Py_TPFLAGS_DEFAULT, slots};
}

// A descriptor for a callable whose parameters are all required.
#define HALVO_DESCRIPTOR(var, cls, callable, names) \
    constexpr ArgDescriptor var = {cls, callable, names, static_cast<int>(std::size(names)), static_cast<int>(std::size(names))};

}  // namespace halvo::binding
