// A class's Python block as data: its module, its constructor, its
// docstring and one row per method. Every parameter list is read, at compile
// time, from the text signature that opens the docstring ("set_offset($self,
// hz)", or "set_offset($self, hz)\n--\n\nmore text"): the names in order,
// the required count (those before the first "name=default"), and the
// defaults (decimal numbers, True or False). The docstring Python shows and
// the parameters the parser accepts therefore cannot disagree; the class's
// name is the one its signature opens with.
//
//   using NamePy = PyClass<Name, "halvo_radio", &Name::make, "Name(fs, n_taps=64)\n--\n\nWhat it does.",
//       Process<&kernels::RadioKernelTable::Name, "process($self, iq)">, Method<&Name::delay, "delay($self)">>;
//
// registers the type halvo_radio.Name (NamePy::type_spec).
#pragma once

#include "binding.hpp"

#include <array>
#include <cstddef>
#include <utility>

namespace halvo::binding {

// A string literal as a template argument.
template <std::size_t N>
struct Text {
    char s[N]{};
    constexpr Text() = default;
    constexpr Text(const char (&text)[N]) {  // implicit: a literal is written where a Text is wanted
        for (std::size_t i = 0; i < N; ++i) s[i] = text[i];
    }
};

// A text pieced together at compile time: Write(w) puts it into a Writer,
// once to measure it and once into a Text of exactly its length.
struct Writer {
    char* s = nullptr;  // nullptr: only counting
    std::size_t n = 0;
    constexpr void put(char c) {
        if (s != nullptr) s[n] = c;
        ++n;
    }
    constexpr void put(const char* t) {
        for (; *t != '\0'; ++t) put(*t);
    }
    // t up to, not including, the first `stop`; returns where it stopped.
    constexpr const char* put_until(const char* t, char stop) {
        for (; *t != '\0' && *t != stop; ++t) put(*t);
        return t;
    }
};

template <auto Write>
constexpr std::size_t written_size() {
    Writer w;
    Write(w);
    return w.n + 1;
}

template <auto Write>
constexpr Text<written_size<Write>()> written() {
    Text<written_size<Write>()> out;
    Writer w{out.s};
    Write(w);
    return out;
}

void text_signature_is_malformed();  // never defined: reached only in a constant expression that must fail

// A text signature cut into NUL-terminated pieces: the callable's name at
// the start of `text`, each parameter's name at its offset.
template <std::size_t N>
struct SplitSignature {
    char text[N]{};
    int param_at[kMaxParams]{};
    double defaults[kMaxParams]{};
    int count = 0;
    int required = 0;
};

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr bool starts_with(const char* s, const char* prefix) {
    for (; *prefix; ++s, ++prefix) {
        if (*s != *prefix) return false;
    }
    return true;
}

// A default's literal: True, False, or [-]digits[.digits]. The value is the
// digits as a whole number divided by a power of ten: one correctly rounded
// division of two exact doubles, the value the same literal has in C++.
constexpr double parse_default(const char* s) {
    if (starts_with(s, "True")) return 1.0;
    if (starts_with(s, "False")) return 0.0;
    bool negative = *s == '-';
    if (negative) ++s;
    if (!is_digit(*s)) text_signature_is_malformed();
    double whole = 0.0;
    double scale = 1.0;
    bool fraction = false;
    int digits = 0;
    for (; is_digit(*s) || (*s == '.' && !fraction); ++s) {
        if (*s == '.') {
            fraction = true;
            continue;
        }
        whole = whole * 10.0 + (*s - '0');
        if (fraction) scale *= 10.0;
        if (++digits > 15) text_signature_is_malformed();  // beyond exact doubles
    }
    const double value = whole / scale;
    return negative ? -value : value;
}

static_assert(parse_default("75.0") == 75.0 && parse_default("0.1") == 0.1 && parse_default("-2.5)") == -2.5 &&
              parse_default("300") == 300.0 && parse_default("False") == 0.0 && parse_default("True") == 1.0);

template <std::size_t N>
constexpr SplitSignature<N> split(const char (&signature)[N]) {
    SplitSignature<N> out{};
    for (std::size_t i = 0; i < N; ++i) out.text[i] = signature[i];
    std::size_t i = 0;
    while (i < N && out.text[i] != '(') ++i;
    if (i == N) text_signature_is_malformed();
    out.text[i++] = '\0';
    if (starts_with(out.text + i, "$self")) {
        i += 5;
        if (out.text[i] == ',') i += 2;
    }
    bool optional = false;
    while (out.text[i] != ')') {
        if (out.count == kMaxParams || i + 1 >= N) text_signature_is_malformed();
        out.param_at[out.count] = static_cast<int>(i);
        while (out.text[i] != ',' && out.text[i] != ')' && out.text[i] != '=') ++i;
        if (out.text[i] == '=') {
            out.text[i++] = '\0';
            out.defaults[out.count] = parse_default(out.text + i);
            optional = true;
            while (out.text[i] != ',' && out.text[i] != ')') ++i;
        } else if (optional) {
            text_signature_is_malformed();  // a required parameter after an optional one
        } else {
            out.required = out.count + 1;
        }
        ++out.count;
        if (out.text[i] == ')') {
            out.text[i] = '\0';
            break;
        }
        out.text[i] = '\0';
        i += 2;  // ", "
    }
    return out;
}

template <Text Sig>
inline constexpr auto kSplit = split(Sig.s);

static_assert(kSplit<"f($self, a, b=2.5, c=True)\n--\n\nText (x, y=1)">.count == 3 &&
              kSplit<"f($self, a, b=2.5, c=True)">.required == 1 && kSplit<"f($self, a, b=2.5, c=True)">.defaults[1] == 2.5 &&
              kSplit<"g($self)">.count == 0 && kSplit<"G(fs)">.required == 1);

template <std::size_t N>
constexpr std::array<const char*, kMaxParams> param_names(const SplitSignature<N>& s) {
    std::array<const char*, kMaxParams> names{};
    for (int i = 0; i < s.count; ++i) names[i] = s.text + s.param_at[i];
    return names;
}

template <Text Sig>
inline constexpr std::array<const char*, kMaxParams> kParamNames = param_names(kSplit<Sig>);

// A name cut from an owner's text: a class's docstring ("Name(...") gives
// Name, a module's name gives itself.
template <std::size_t N>
struct OwnerName {
    char s[N]{};
};

template <std::size_t N>
constexpr OwnerName<N> cut_owner(const char (&owner)[N]) {
    OwnerName<N> out{};
    for (std::size_t i = 0; i < N && owner[i] != '(' && owner[i] != '\0'; ++i) out.s[i] = owner[i];
    return out;
}

template <Text Owner>
inline constexpr auto kOwnerName = cut_owner(Owner.s);

// The descriptor of a callable of `Owner` (a class's docstring or a module's
// name); "__new__" for the constructor.
template <Text Owner, Text Sig, bool Constructor = false>
inline constexpr ArgDescriptor kDescriptor = {
    kOwnerName<Owner>.s,
    Constructor ? "__new__" : kSplit<Sig>.text,
    kParamNames<Sig>.data(),
    kSplit<Sig>.count,
    kSplit<Sig>.required,
};

// "module.Name" for a class whose docstring opens with "Name(".
template <std::size_t M, std::size_t N>
constexpr OwnerName<M + N> qualify(const char (&module)[M], const char (&doc)[N]) {
    OwnerName<M + N> out{};
    std::size_t k = 0;
    for (std::size_t i = 0; i + 1 < M; ++i) out.s[k++] = module[i];
    out.s[k++] = '.';
    for (std::size_t i = 0; i < N && doc[i] != '('; ++i) out.s[k++] = doc[i];
    return out;
}

template <Text Module, Text Doc>
inline constexpr auto kQualifiedName = qualify(Module.s, Doc.s);

// The docstring Python shows: a bare text signature gains the "\n--\n\n"
// that marks it as one; a text that goes on after its signature carries
// the mark itself.
template <std::size_t N>
constexpr OwnerName<N + 5> docstring(const char (&text)[N]) {
    OwnerName<N + 5> out{};
    bool bare = true;
    for (std::size_t i = 0; i < N; ++i) {
        out.s[i] = text[i];
        if (text[i] == '\n') bare = false;
    }
    if (bare) {
        const char mark[] = "\n--\n\n";
        for (std::size_t i = 0; i < 5; ++i) out.s[N - 1 + i] = mark[i];
    }
    return out;
}

template <Text Doc>
inline constexpr auto kDocstring = docstring(Doc.s);

// Method rows.
template <auto Slot, Text Doc>
struct Process {
    template <Text Owner>
    static PyMethodDef row() {
        return {kSplit<Doc>.text, fastcall<process_method<Slot, kDescriptor<Owner, Doc>>>(), kFastcallKeywords, kDocstring<Doc>.s};
    }
};

template <auto Member, Text Doc>
struct Method {
    template <Text Owner>
    static PyMethodDef row() {
        return {kSplit<Doc>.text, fastcall<method<Member, kDescriptor<Owner, Doc>>>(), kFastcallKeywords, kDocstring<Doc>.s};
    }
};

// A module-level function row.
template <Text Module, auto Fn, Text Doc>
PyMethodDef function_row() {
    return {kSplit<Doc>.text, fastcall<function<Fn, kDescriptor<Module, Doc>>>(), kFastcallKeywords, kDocstring<Doc>.s};
}

// The defaults by position, as one array object (a template argument).
template <Text Sig, class Seq = std::make_index_sequence<kMaxParams>>
struct Defaults;
template <Text Sig, std::size_t... I>
struct Defaults<Sig, std::index_sequence<I...>> {
    static constexpr double values[] = {kSplit<Sig>.defaults[I]...};
};

// A class of `Module` ("builtins", "halvo_radio", ...): its state record,
// its make function, its docstring (opening with its text signature) and its
// method rows; `type_spec` is the PyType_Spec the class list registers.
template <class T, Text Module, auto Make, Text Doc, class... Rows>
struct PyClass {
    static inline PyMethodDef methods[] = {Rows::template row<Doc>()..., {nullptr, nullptr, 0, nullptr}};
    static inline PyType_Slot slots[6];
    static inline PyType_Spec type_spec =
        make_spec<T>(kQualifiedName<Module, Doc>.s, kDocstring<Doc>.s,
                     construct<T, kDescriptor<Doc, Doc, true>, Make, Defaults<Doc>::values, kSplit<Doc>.count>, methods,
                     slots);
};

}  // namespace halvo::binding
