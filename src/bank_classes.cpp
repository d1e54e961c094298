// The Python side of the banks (radio/bank.hpp) in halvo_radio._native, each
// made from its class's block (sdr_classes.hpp): the constructor takes
// n_channels, then the class's own parameters; process runs over channels x
// samples given flat (python/halvo_radio/bank.py checks the shape and makes
// the view); set_channel takes a channel index, then the class's
// parameters; the class's setters gain a channel index in front (-1: every
// channel); n_channels. The index is named `channel` (a class's own
// parameters may use k or n).
#include "classes.hpp"
#include "kernels/bank_table.hpp"
#include "sdr_classes.hpp"

namespace halvo {
namespace {

using binding::Method;
using binding::Process;
using binding::PyClass;
using binding::Text;
using binding::Writer;
using binding::written;

// The parameter list of a signature, from just after its "(" (and "$self",
// if any) up to its ")": each piece of text below splices it somewhere.
constexpr const char* params_of(const char* signature) {
    while (*signature != '(') ++signature;
    ++signature;
    if (*signature == '$') {
        while (*signature != ',' && *signature != ')') ++signature;
        if (*signature == ',') signature += 2;
    }
    return signature;
}

// ", a, b" for the parameters a, b; nothing when there are none.
constexpr void put_more_params(Writer& w, const char* signature) {
    const char* p = params_of(signature);
    if (*p == ')') return;
    w.put(", ");
    w.put_until(p, ')');
}

// "NameBank(n, a, b)" from "Name(a, b)", with the bank's docstring.
template <Text Doc>
constexpr void write_bank_doc(Writer& w) {
    w.put_until(Doc.s, '(');
    w.put("Bank(n");
    put_more_params(w, Doc.s);
    w.put(")\n--\n\nn channels of ");
    w.put_until(Doc.s, '(');
    w.put(", one per row; use halvo_radio.Bank.");
}

// "name($self, channel, a, b)" and then `Tail`: the name and the parameters
// a, b from two signatures (set_channel's name, the class's parameters; or
// a setter's own name and parameter).
template <Text Name, Text Params, Text Tail>
constexpr void write_channel_method_doc(Writer& w) {
    w.put_until(Name.s, '(');
    w.put("($self, channel");
    put_more_params(w, Params.s);
    w.put(")\n--\n\n");
    w.put(Tail.s);
}

// "process($self, iq)" (the class's argument name), then the bank's text.
template <Text Doc>
constexpr void write_process_doc(Writer& w) {
    w.put_until(Doc.s, ')');
    w.put(")\n--\n\nRow by row, channels x samples given flat.");
}

// A row of the class's block as the bank's row: its process on the bank's
// kernel slot, each setter on one channel or all.
template <class Row, class B, auto BankSlot>
struct BankRow;
template <auto Slot, Text Doc, class B, auto BankSlot>
struct BankRow<Process<Slot, Doc>, B, BankSlot> {
    using type = Process<BankSlot, written<&write_process_doc<Doc>>()>;
};
template <auto Setter, Text Doc, class B, auto BankSlot>
struct BankRow<Method<Setter, Doc>, B, BankSlot> {
    using type = Method<&B::template set<Setter>, written<&write_channel_method_doc<Doc, Doc, "">>()>;
};

template <class ClassPy, auto BankSlot>
struct BankOf;
template <class T, Text Module, auto Make, Text Doc, class... Rows, auto BankSlot>
struct BankOf<PyClass<T, Module, Make, Doc, Rows...>, BankSlot> {
    using B = radio::Bank<T>;
    using type = PyClass<B, "halvo_radio._native", &B::make, written<&write_bank_doc<Doc>>(),
                         typename BankRow<Rows, B, BankSlot>::type...,
                         Method<&B::set_channel,
                                written<&write_channel_method_doc<"set_channel(", Doc,
                                                                  "The channel anew with these parameters and fresh state.">>()>,
                         Method<&B::n_channels, "n_channels($self)">>;
};

}  // namespace

// The type specs (classes.hpp lists them among halvo_radio._native's).
#define HALVO_BANK_SPEC(Class, In, Out) \
    PyType_Spec& Class##Bank_spec = BankOf<sdr::Class##Py, &kernels::BankKernelTable::Class##Bank>::type::type_spec;
HALVO_CLASSES(HALVO_BANK_SPEC)
#undef HALVO_BANK_SPEC

}  // namespace halvo
