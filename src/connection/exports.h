// The rows of the table of exported functions (src/exports.def) as
// constants: qv::rows::qvGetDiskList and so on. A function writes the lines
// its row names, so every line stands in one place, next to the facts the
// tests check it by.
#pragma once

#include <cstdint>

#include "quarvane.h"

namespace qv {

enum class Shape {
    kObjectOperation,
    kGroupOperation,
    kTokenOperation,
    kObjectReader,
    kGroupReader,
    kReader,
    kRequest,
    kList,
    kConfigEdit,  // reads a protection's configuration, writes it back changed
};

// What the request's token field carries.
enum class Token {
    kLoginToken,  // the handle's login token
    kZeroToken,   // 0: the service answers the procedure without a login
};

// Which value a function's error line prints.
enum class LogOn {
    kNone,          // the function writes no line of its own
    kServiceWord,   // the reply's status word when nonzero; transport failures
                    // leave it 0 and write only the rpc-call-error line
    kWordOnFailure, // the reply's status word whenever the call fails, 0
                    // after a transport failure or for lack of memory
    kMappedStatus,  // the status the call ends with when nonzero, transport
                    // failures and lack of memory included
};

// What the function returns for the status its call ends with (an invalid
// handle is QV_STATUS_NO_HANDLE whatever the answer).
enum class Answer {
    kStatus,  // the status itself
    kTruth,    // 1 when it is 0, else 0
    kNonzero,  // 1 when it is not 0, else 0
    kValue,   // the reply's value word when it is 0, else 0
};

// What a failed call leaves in the caller's output: all zero, as it was, or
// cleared before even the handle is checked (so an invalid handle leaves it
// zero too); kPartial: as it was after a failed call, but a conversion that
// runs out of memory may leave fields it had written (the family's tests
// say which); kKeptOnConversion: zero after a failed call and untouched
// when the request cannot be built, but a list whose entries run out of
// memory while converted keeps them all, to be given back by its release.
enum class Output { kNone, kCleared, kUntouched, kClearedFirst, kPartial, kKeptOnConversion };

// Whether quarvane-sim answers the procedure.
enum class Sim { kModelled, kNotModelled };

// What a function writes when it cannot build its request for lack of
// memory: nothing, its error line with 0xEFFC0001, or a line of its own.
struct NoMemoryLine {
    struct ErrorLineTag {};
    constexpr NoMemoryLine(std::nullptr_t) noexcept {}
    constexpr NoMemoryLine(const char16_t* line) noexcept : text(line) {}
    constexpr NoMemoryLine(ErrorLineTag) noexcept : error_line(true) {}
    const char16_t* text = nullptr;
    bool error_line = false;
};
inline constexpr NoMemoryLine::ErrorLineTag kErrorLine{};

struct Row {
    const char* name;
    Shape shape;
    unsigned procedure;
    Sim sim;
    Token token;
    LogOn log_on;
    Answer answer;
    Output output;
    NoMemoryLine no_memory;
    const char16_t* error_line;  // with one %08X; null when there is none
};

// The function's return for the status `status` its call ended with and
// the reply's value word `value`.
constexpr uint32_t Answered(const Row& row, uint32_t status, uint32_t value) noexcept {
    switch (row.answer) {
        case Answer::kTruth:
            return status == 0 ? 1 : 0;
        case Answer::kNonzero:
            return status != 0 ? 1 : 0;
        case Answer::kValue:
            return status == 0 ? value : 0;
        case Answer::kStatus:
            break;
    }
    return status;
}

namespace rows {
#define QV_REMOTE(name_, family, shape, procedure, sim, token, logs, answer, output, release, no_memory, line) \
    inline constexpr Row name_{#name_,          Shape::k##shape,    procedure,                  \
                               Sim::k##sim,     Token::k##token,    LogOn::k##logs,             \
                               Answer::k##answer, Output::k##output, no_memory, line};
#include "exports.def"
}  // namespace rows

}  // namespace qv
