// Type specs, method tables and call wrappers of the ten classes.
//
// Every wrapper runs inside the internal-failure guard and follows one order:
// parse, borrow the object exclusively (0 -> -1), convert (renaming a
// conversion error after its parameter), run the class operation, make the
// output array and release the input, release the object (plain store of 0).
// The class code itself (src/demodulate, src/modulate) never sees Python.
#include "classes.hpp"

#include <atomic>
#include <iterator>
#include <new>

#include "errors.hpp"
#include "kernels/table.hpp"
#include "numpy_abi.hpp"
#include "numpy_exchange.hpp"
#include "parser.hpp"
#include "pyref.hpp"

namespace halvo {
namespace {

// Instance layout: object header, the class's state record, the borrow flag.
template <class T>
struct Instance {
    PyObject ob_base;
    T state;             // the class's state record
    Py_ssize_t borrowed;  // 0 free, -1 borrowed by a call in progress
};

template <class T>
Instance<T>* instance(PyObject* self) {
    return reinterpret_cast<Instance<T>*>(self);
}

template <class T>
bool try_borrow(Instance<T>* inst) {
    Py_ssize_t expected = 0;
    if (!std::atomic_ref<Py_ssize_t>(inst->borrowed).compare_exchange_strong(expected, -1)) {
        PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
        return false;
    }
    return true;
}

template <class T>
void end_borrow(Instance<T>* inst) {
    std::atomic_ref<Py_ssize_t>(inst->borrowed).store(0, std::memory_order_relaxed);
}

// The object is released on every path out of a method once borrowed.
template <class T>
struct BorrowGuard {
    Instance<T>* inst;
    ~BorrowGuard() { end_borrow(inst); }
};

enum class Kind { Number, Bool };

struct Value {
    double number;
    bool flag;
};

template <class T>
using MakeFn = T (*)(const Value*);

template <class T, const ArgDescriptor& D, const Kind* K, MakeFn<T> Make>
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* slots[kMaxParams];
        if (!parse_tuple_dict(D, args, kwargs, slots)) return nullptr;
        Value v[kMaxParams] = {};
        for (int i = 0; i < D.count; ++i) {
            if (!slots[i]) continue;  // an omitted optional flag is False, unconverted
            const bool ok = (K[i] == Kind::Number) ? convert_number(slots[i], &v[i].number)
                                                   : convert_bool(slots[i], &v[i].flag);
            if (!ok) {
                rename_conversion_error(D.names[i]);
                return nullptr;
            }
        }
        auto base_new = reinterpret_cast<newfunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_new));
        Ref empty(PyTuple_New(0));
        if (!empty) return nullptr;
        PyObject* self = base_new(type, empty.get(), nullptr);
        if (!self) return nullptr;
        Instance<T>* inst = instance<T>(self);
        new (&inst->state) T(Make(v));
        inst->borrowed = 0;
        return self;
    });
}

template <class T>
void instance_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    auto tp_free = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    tp_free(self);
    Py_DECREF(tp);
}

template <class T, class In, class Out>
using KernelSlot = void (*kernels::KernelTable::*)(T&, const In*, Out*, std::size_t);

template <class T, class In, class Out, KernelSlot<T, In, Out> Slot, const ArgDescriptor& D>
PyObject* process_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr int in_type = std::is_same_v<In, cf32> ? npy::kCFloat : npy::kFloat;
    constexpr int out_type = std::is_same_v<Out, cf32> ? npy::kCFloat : npy::kFloat;
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* slot[1];
        if (!parse_fastcall(D, args, nargs, kwnames, slot)) return nullptr;
        Instance<T>* inst = instance<T>(self);
        if (!try_borrow(inst)) return nullptr;
        BorrowGuard<T> unborrow{inst};
        InputView view;
        if (!view.accept(slot[0], in_type)) {
            rename_conversion_error(D.names[0]);
            add_array_note(slot[0], in_type, D.class_name, D.callable_name, D.names[0]);
            return nullptr;
        }
        const void* data = nullptr;
        std::size_t n = 0;
        if (!view.contiguous(&data, &n)) {
            add_array_note(slot[0], in_type, D.class_name, D.callable_name, D.names[0]);
            return nullptr;
        }
        // The output exists before the state moves: a failed allocation
        // leaves the object exactly as it was.
        SampleBuffer out;
        if (!allocate_samples(n, sizeof(Out), &out)) return nullptr;
        if (n != 0) {
            (kernels::active().*Slot)(inst->state, static_cast<const In*>(data), static_cast<Out*>(out.data), n);
        }
        PyObject* result = make_output(out, out_type);
        view.release();
        return result;
    });
}

template <class T, const ArgDescriptor& D, void (T::*Set)(double)>
PyObject* number_setter(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* slot[1];
        if (!parse_fastcall(D, args, nargs, kwnames, slot)) return nullptr;
        Instance<T>* inst = instance<T>(self);
        if (!try_borrow(inst)) return nullptr;
        BorrowGuard<T> unborrow{inst};
        double v = 0.0;
        if (!convert_number(slot[0], &v)) {
            rename_conversion_error(D.names[0]);
            return nullptr;
        }
        (inst->state.*Set)(v);
        Py_RETURN_NONE;
    });
}

template <class T, const ArgDescriptor& D, void (T::*Set)(bool)>
PyObject* bool_setter(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* slot[1];
        if (!parse_fastcall(D, args, nargs, kwnames, slot)) return nullptr;
        Instance<T>* inst = instance<T>(self);
        if (!try_borrow(inst)) return nullptr;
        BorrowGuard<T> unborrow{inst};
        bool v = false;
        if (!convert_bool(slot[0], &v)) {
            rename_conversion_error(D.names[0]);
            return nullptr;
        }
        (inst->state.*Set)(v);
        Py_RETURN_NONE;
    });
}

template <auto Fn>
PyCFunction fastcall() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Fn));
}

constexpr int kFastcallKeywords = METH_FASTCALL | METH_KEYWORDS;

// Method docstrings: text signatures.
const char kProcessIqDoc[] = "process($self, iq)\n--\n\n";
const char kProcessAudioDoc[] = "process($self, audio)\n--\n\n";
const char kProcessKeyingDoc[] = "process($self, audio)\n--\n\nInput: keying envelope 0..1 as float32 array.";
const char kSetGainDoc[] = "set_gain($self, g)\n--\n\n";
const char kSetClampDoc[] = "set_clamp($self, on)\n--\n\n";
const char kSetDeviationDoc[] = "set_deviation($self, hz)\n--\n\n";
const char kSetSensitivityDoc[] = "set_sensitivity($self, kp)\n--\n\n";

constexpr const char* kIq[] = {"iq"};
constexpr const char* kAudio[] = {"audio"};
constexpr const char* kG[] = {"g"};
constexpr const char* kOn[] = {"on"};
constexpr const char* kHz[] = {"hz"};
constexpr const char* kKp[] = {"kp"};

constexpr Kind N = Kind::Number;
constexpr Kind B = Kind::Bool;

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

// One block per class: constructor descriptor, parameter kinds, the call
// into the class's make(), the method descriptors and table, the PyType_Spec.
#define HALVO_DESCRIPTOR(var, cls, callable, names) \
    constexpr ArgDescriptor var = {cls, callable, names, static_cast<int>(std::size(names)), static_cast<int>(std::size(names))};

// ---- CwEnvelopeDemod ------------------------------------------------------
constexpr const char* CwEnvelopeDemod_params[] = {"sample_rate", "tone_hz", "env_bw_hz"};
HALVO_DESCRIPTOR(CwEnvelopeDemod_new_desc, "CwEnvelopeDemod", "__new__", CwEnvelopeDemod_params)
constexpr Kind CwEnvelopeDemod_kinds[] = {N, N, N};
CwEnvelopeDemod CwEnvelopeDemod_make(const Value* v) { return CwEnvelopeDemod::make(v[0].number, v[1].number, v[2].number); }
HALVO_DESCRIPTOR(CwEnvelopeDemod_set_gain_desc, "CwEnvelopeDemod", "set_gain", kG)
HALVO_DESCRIPTOR(CwEnvelopeDemod_process_desc, "CwEnvelopeDemod", "process", kIq)
PyMethodDef CwEnvelopeDemod_methods[] = {
    {"set_gain", fastcall<number_setter<CwEnvelopeDemod, CwEnvelopeDemod_set_gain_desc, &CwEnvelopeDemod::set_gain>>(), kFastcallKeywords, kSetGainDoc},
    {"process", fastcall<process_method<CwEnvelopeDemod, cf32, float, &kernels::KernelTable::CwEnvelopeDemod, CwEnvelopeDemod_process_desc>>(), kFastcallKeywords, kProcessIqDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot CwEnvelopeDemod_slots[6];
PyType_Spec CwEnvelopeDemod_spec = make_spec<CwEnvelopeDemod>(
    "builtins.CwEnvelopeDemod", "CwEnvelopeDemod(sample_rate, tone_hz, env_bw_hz)\n--\n\n",
    construct<CwEnvelopeDemod, CwEnvelopeDemod_new_desc, CwEnvelopeDemod_kinds, CwEnvelopeDemod_make>,
    CwEnvelopeDemod_methods, CwEnvelopeDemod_slots);

// ---- AmEnvelopeDemod ------------------------------------------------------
constexpr const char* AmEnvelopeDemod_params[] = {"fs", "audio_bw_hz", "abs_approx"};
constexpr ArgDescriptor AmEnvelopeDemod_new_desc = {"AmEnvelopeDemod", "__new__", AmEnvelopeDemod_params, 3, 2};
constexpr Kind AmEnvelopeDemod_kinds[] = {N, N, B};
AmEnvelopeDemod AmEnvelopeDemod_make(const Value* v) { return AmEnvelopeDemod::make(v[0].number, v[1].number, v[2].flag); }
HALVO_DESCRIPTOR(AmEnvelopeDemod_process_desc, "AmEnvelopeDemod", "process", kIq)
PyMethodDef AmEnvelopeDemod_methods[] = {
    {"process", fastcall<process_method<AmEnvelopeDemod, cf32, float, &kernels::KernelTable::AmEnvelopeDemod, AmEnvelopeDemod_process_desc>>(), kFastcallKeywords, kProcessIqDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot AmEnvelopeDemod_slots[6];
PyType_Spec AmEnvelopeDemod_spec = make_spec<AmEnvelopeDemod>(
    "builtins.AmEnvelopeDemod", "AmEnvelopeDemod(fs, audio_bw_hz, abs_approx=False)\n--\n\n",
    construct<AmEnvelopeDemod, AmEnvelopeDemod_new_desc, AmEnvelopeDemod_kinds, AmEnvelopeDemod_make>,
    AmEnvelopeDemod_methods, AmEnvelopeDemod_slots);

// ---- SsbProductDemod ------------------------------------------------------
constexpr const char* SsbProductDemod_params[] = {"fs", "bfo_hz", "audio_bw_hz"};
HALVO_DESCRIPTOR(SsbProductDemod_new_desc, "SsbProductDemod", "__new__", SsbProductDemod_params)
constexpr Kind SsbProductDemod_kinds[] = {N, N, N};
SsbProductDemod SsbProductDemod_make(const Value* v) { return SsbProductDemod::make(v[0].number, v[1].number, v[2].number); }
HALVO_DESCRIPTOR(SsbProductDemod_process_desc, "SsbProductDemod", "process", kIq)
PyMethodDef SsbProductDemod_methods[] = {
    {"process", fastcall<process_method<SsbProductDemod, cf32, float, &kernels::KernelTable::SsbProductDemod, SsbProductDemod_process_desc>>(), kFastcallKeywords, kProcessIqDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot SsbProductDemod_slots[6];
PyType_Spec SsbProductDemod_spec = make_spec<SsbProductDemod>(
    "builtins.SsbProductDemod", "SsbProductDemod(fs, bfo_hz, audio_bw_hz)\n--\n\n",
    construct<SsbProductDemod, SsbProductDemod_new_desc, SsbProductDemod_kinds, SsbProductDemod_make>,
    SsbProductDemod_methods, SsbProductDemod_slots);

// ---- FmQuadratureDemod ----------------------------------------------------
constexpr const char* FmQuadratureDemod_params[] = {"fs", "dev_hz", "audio_bw_hz"};
HALVO_DESCRIPTOR(FmQuadratureDemod_new_desc, "FmQuadratureDemod", "__new__", FmQuadratureDemod_params)
constexpr Kind FmQuadratureDemod_kinds[] = {N, N, N};
FmQuadratureDemod FmQuadratureDemod_make(const Value* v) { return FmQuadratureDemod::make(v[0].number, v[1].number, v[2].number); }
HALVO_DESCRIPTOR(FmQuadratureDemod_process_desc, "FmQuadratureDemod", "process", kIq)
PyMethodDef FmQuadratureDemod_methods[] = {
    {"process", fastcall<process_method<FmQuadratureDemod, cf32, float, &kernels::KernelTable::FmQuadratureDemod, FmQuadratureDemod_process_desc>>(), kFastcallKeywords, kProcessIqDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot FmQuadratureDemod_slots[6];
PyType_Spec FmQuadratureDemod_spec = make_spec<FmQuadratureDemod>(
    "builtins.FmQuadratureDemod", "FmQuadratureDemod(fs, dev_hz, audio_bw_hz)\n--\n\n",
    construct<FmQuadratureDemod, FmQuadratureDemod_new_desc, FmQuadratureDemod_kinds, FmQuadratureDemod_make>,
    FmQuadratureDemod_methods, FmQuadratureDemod_slots);

// ---- PmQuadratureDemod ----------------------------------------------------
constexpr const char* PmQuadratureDemod_params[] = {"fs", "k", "audio_bw_hz"};
HALVO_DESCRIPTOR(PmQuadratureDemod_new_desc, "PmQuadratureDemod", "__new__", PmQuadratureDemod_params)
constexpr Kind PmQuadratureDemod_kinds[] = {N, N, N};
PmQuadratureDemod PmQuadratureDemod_make(const Value* v) { return PmQuadratureDemod::make(v[0].number, v[1].number, v[2].number); }
HALVO_DESCRIPTOR(PmQuadratureDemod_process_desc, "PmQuadratureDemod", "process", kIq)
PyMethodDef PmQuadratureDemod_methods[] = {
    {"process", fastcall<process_method<PmQuadratureDemod, cf32, float, &kernels::KernelTable::PmQuadratureDemod, PmQuadratureDemod_process_desc>>(), kFastcallKeywords, kProcessIqDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot PmQuadratureDemod_slots[6];
PyType_Spec PmQuadratureDemod_spec = make_spec<PmQuadratureDemod>(
    "builtins.PmQuadratureDemod", "PmQuadratureDemod(fs, k, audio_bw_hz)\n--\n\n",
    construct<PmQuadratureDemod, PmQuadratureDemod_new_desc, PmQuadratureDemod_kinds, PmQuadratureDemod_make>,
    PmQuadratureDemod_methods, PmQuadratureDemod_slots);

// ---- AmDsbMod -------------------------------------------------------------
constexpr const char* AmDsbMod_params[] = {"fs", "rf_hz", "carrier_level", "modulation_index"};
HALVO_DESCRIPTOR(AmDsbMod_new_desc, "AmDsbMod", "__new__", AmDsbMod_params)
constexpr Kind AmDsbMod_kinds[] = {N, N, N, N};
AmDsbMod AmDsbMod_make(const Value* v) { return AmDsbMod::make(v[0].number, v[1].number, v[2].number, v[3].number); }
HALVO_DESCRIPTOR(AmDsbMod_set_gain_desc, "AmDsbMod", "set_gain", kG)
HALVO_DESCRIPTOR(AmDsbMod_set_clamp_desc, "AmDsbMod", "set_clamp", kOn)
HALVO_DESCRIPTOR(AmDsbMod_process_desc, "AmDsbMod", "process", kAudio)
PyMethodDef AmDsbMod_methods[] = {
    {"set_gain", fastcall<number_setter<AmDsbMod, AmDsbMod_set_gain_desc, &AmDsbMod::set_gain>>(), kFastcallKeywords, kSetGainDoc},
    {"set_clamp", fastcall<bool_setter<AmDsbMod, AmDsbMod_set_clamp_desc, &AmDsbMod::set_clamp>>(), kFastcallKeywords, kSetClampDoc},
    {"process", fastcall<process_method<AmDsbMod, float, cf32, &kernels::KernelTable::AmDsbMod, AmDsbMod_process_desc>>(), kFastcallKeywords, kProcessAudioDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot AmDsbMod_slots[6];
PyType_Spec AmDsbMod_spec = make_spec<AmDsbMod>(
    "builtins.AmDsbMod", "AmDsbMod(fs, rf_hz, carrier_level, modulation_index)\n--\n\n",
    construct<AmDsbMod, AmDsbMod_new_desc, AmDsbMod_kinds, AmDsbMod_make>, AmDsbMod_methods, AmDsbMod_slots);

// ---- CwKeyedMod -----------------------------------------------------------
constexpr const char* CwKeyedMod_params[] = {"sample_rate", "tone_hz", "rise_ms", "fall_ms"};
HALVO_DESCRIPTOR(CwKeyedMod_new_desc, "CwKeyedMod", "__new__", CwKeyedMod_params)
constexpr Kind CwKeyedMod_kinds[] = {N, N, N, N};
CwKeyedMod CwKeyedMod_make(const Value* v) { return CwKeyedMod::make(v[0].number, v[1].number, v[2].number, v[3].number); }
HALVO_DESCRIPTOR(CwKeyedMod_set_gain_desc, "CwKeyedMod", "set_gain", kG)
HALVO_DESCRIPTOR(CwKeyedMod_process_desc, "CwKeyedMod", "process", kAudio)
PyMethodDef CwKeyedMod_methods[] = {
    {"set_gain", fastcall<number_setter<CwKeyedMod, CwKeyedMod_set_gain_desc, &CwKeyedMod::set_gain>>(), kFastcallKeywords, kSetGainDoc},
    {"process", fastcall<process_method<CwKeyedMod, float, cf32, &kernels::KernelTable::CwKeyedMod, CwKeyedMod_process_desc>>(), kFastcallKeywords, kProcessKeyingDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot CwKeyedMod_slots[6];
PyType_Spec CwKeyedMod_spec = make_spec<CwKeyedMod>(
    "builtins.CwKeyedMod", "CwKeyedMod(sample_rate, tone_hz, rise_ms, fall_ms)\n--\n\n",
    construct<CwKeyedMod, CwKeyedMod_new_desc, CwKeyedMod_kinds, CwKeyedMod_make>, CwKeyedMod_methods, CwKeyedMod_slots);

// ---- SsbPhasingMod --------------------------------------------------------
constexpr const char* SsbPhasingMod_params[] = {"fs", "audio_bw_hz", "audio_if_hz", "rf_hz", "usb"};
HALVO_DESCRIPTOR(SsbPhasingMod_new_desc, "SsbPhasingMod", "__new__", SsbPhasingMod_params)
constexpr Kind SsbPhasingMod_kinds[] = {N, N, N, N, B};
SsbPhasingMod SsbPhasingMod_make(const Value* v) {
    return SsbPhasingMod::make(v[0].number, v[1].number, v[2].number, v[3].number, v[4].flag);
}
HALVO_DESCRIPTOR(SsbPhasingMod_process_desc, "SsbPhasingMod", "process", kAudio)
PyMethodDef SsbPhasingMod_methods[] = {
    {"process", fastcall<process_method<SsbPhasingMod, float, cf32, &kernels::KernelTable::SsbPhasingMod, SsbPhasingMod_process_desc>>(), kFastcallKeywords, kProcessAudioDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot SsbPhasingMod_slots[6];
PyType_Spec SsbPhasingMod_spec = make_spec<SsbPhasingMod>(
    "builtins.SsbPhasingMod", "SsbPhasingMod(fs, audio_bw_hz, audio_if_hz, rf_hz, usb)\n--\n\n",
    construct<SsbPhasingMod, SsbPhasingMod_new_desc, SsbPhasingMod_kinds, SsbPhasingMod_make>,
    SsbPhasingMod_methods, SsbPhasingMod_slots);

// ---- FmPhaseAccumMod ------------------------------------------------------
constexpr const char* FmPhaseAccumMod_params[] = {"sample_rate", "deviation_hz", "rf_hz"};
HALVO_DESCRIPTOR(FmPhaseAccumMod_new_desc, "FmPhaseAccumMod", "__new__", FmPhaseAccumMod_params)
constexpr Kind FmPhaseAccumMod_kinds[] = {N, N, N};
FmPhaseAccumMod FmPhaseAccumMod_make(const Value* v) { return FmPhaseAccumMod::make(v[0].number, v[1].number, v[2].number); }
HALVO_DESCRIPTOR(FmPhaseAccumMod_set_deviation_desc, "FmPhaseAccumMod", "set_deviation", kHz)
HALVO_DESCRIPTOR(FmPhaseAccumMod_set_gain_desc, "FmPhaseAccumMod", "set_gain", kG)
HALVO_DESCRIPTOR(FmPhaseAccumMod_process_desc, "FmPhaseAccumMod", "process", kAudio)
PyMethodDef FmPhaseAccumMod_methods[] = {
    {"set_deviation", fastcall<number_setter<FmPhaseAccumMod, FmPhaseAccumMod_set_deviation_desc, &FmPhaseAccumMod::set_deviation>>(), kFastcallKeywords, kSetDeviationDoc},
    {"set_gain", fastcall<number_setter<FmPhaseAccumMod, FmPhaseAccumMod_set_gain_desc, &FmPhaseAccumMod::set_gain>>(), kFastcallKeywords, kSetGainDoc},
    {"process", fastcall<process_method<FmPhaseAccumMod, float, cf32, &kernels::KernelTable::FmPhaseAccumMod, FmPhaseAccumMod_process_desc>>(), kFastcallKeywords, kProcessAudioDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot FmPhaseAccumMod_slots[6];
PyType_Spec FmPhaseAccumMod_spec = make_spec<FmPhaseAccumMod>(
    "builtins.FmPhaseAccumMod", "FmPhaseAccumMod(sample_rate, deviation_hz, rf_hz)\n--\n\n",
    construct<FmPhaseAccumMod, FmPhaseAccumMod_new_desc, FmPhaseAccumMod_kinds, FmPhaseAccumMod_make>,
    FmPhaseAccumMod_methods, FmPhaseAccumMod_slots);

// ---- PmDirectPhaseMod -----------------------------------------------------
constexpr const char* PmDirectPhaseMod_params[] = {"sample_rate", "kp_rad_per_unit", "rf_hz"};
HALVO_DESCRIPTOR(PmDirectPhaseMod_new_desc, "PmDirectPhaseMod", "__new__", PmDirectPhaseMod_params)
constexpr Kind PmDirectPhaseMod_kinds[] = {N, N, N};
PmDirectPhaseMod PmDirectPhaseMod_make(const Value* v) { return PmDirectPhaseMod::make(v[0].number, v[1].number, v[2].number); }
HALVO_DESCRIPTOR(PmDirectPhaseMod_set_gain_desc, "PmDirectPhaseMod", "set_gain", kG)
HALVO_DESCRIPTOR(PmDirectPhaseMod_set_sensitivity_desc, "PmDirectPhaseMod", "set_sensitivity", kKp)
HALVO_DESCRIPTOR(PmDirectPhaseMod_process_desc, "PmDirectPhaseMod", "process", kAudio)
PyMethodDef PmDirectPhaseMod_methods[] = {
    {"set_gain", fastcall<number_setter<PmDirectPhaseMod, PmDirectPhaseMod_set_gain_desc, &PmDirectPhaseMod::set_gain>>(), kFastcallKeywords, kSetGainDoc},
    {"set_sensitivity", fastcall<number_setter<PmDirectPhaseMod, PmDirectPhaseMod_set_sensitivity_desc, &PmDirectPhaseMod::set_sensitivity>>(), kFastcallKeywords, kSetSensitivityDoc},
    {"process", fastcall<process_method<PmDirectPhaseMod, float, cf32, &kernels::KernelTable::PmDirectPhaseMod, PmDirectPhaseMod_process_desc>>(), kFastcallKeywords, kProcessAudioDoc},
    {nullptr, nullptr, 0, nullptr},
};
PyType_Slot PmDirectPhaseMod_slots[6];
PyType_Spec PmDirectPhaseMod_spec = make_spec<PmDirectPhaseMod>(
    "builtins.PmDirectPhaseMod", "PmDirectPhaseMod(sample_rate, kp_rad_per_unit, rf_hz)\n--\n\n",
    construct<PmDirectPhaseMod, PmDirectPhaseMod_new_desc, PmDirectPhaseMod_kinds, PmDirectPhaseMod_make>,
    PmDirectPhaseMod_methods, PmDirectPhaseMod_slots);

}  // namespace

const ClassEntry kClasses[kClassCount] = {
    {"CwEnvelopeDemod", &CwEnvelopeDemod_spec},
    {"AmEnvelopeDemod", &AmEnvelopeDemod_spec},
    {"SsbProductDemod", &SsbProductDemod_spec},
    {"FmQuadratureDemod", &FmQuadratureDemod_spec},
    {"PmQuadratureDemod", &PmQuadratureDemod_spec},
    {"AmDsbMod", &AmDsbMod_spec},
    {"CwKeyedMod", &CwKeyedMod_spec},
    {"FmPhaseAccumMod", &FmPhaseAccumMod_spec},
    {"PmDirectPhaseMod", &PmDirectPhaseMod_spec},
    {"SsbPhasingMod", &SsbPhasingMod_spec},
};

}  // namespace halvo
