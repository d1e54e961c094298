// Where a failure was raised: file, line and function, taken at the call
// site through the compiler builtins that std::source_location is made of.
// (libstdc++'s <source_location> needs __builtin_source_location, which clang
// has only from version 15 on; __builtin_FILE and friends are older and are
// there in GCC, clang, Apple clang and MSVC alike.)
#pragma once

namespace halvo::port {

class SourceLocation {
public:
    static constexpr SourceLocation current(const char* file = __builtin_FILE(), unsigned line = __builtin_LINE(),
                                            const char* function = __builtin_FUNCTION()) noexcept {
        return SourceLocation(file, line, function);
    }
    constexpr const char* file_name() const noexcept { return file_; }
    constexpr unsigned line() const noexcept { return line_; }
    constexpr const char* function_name() const noexcept { return function_; }

private:
    constexpr SourceLocation(const char* file, unsigned line, const char* function) noexcept
        : file_(file), line_(line), function_(function) {}
    const char* file_;
    unsigned line_;
    const char* function_;
};

}  // namespace halvo::port
