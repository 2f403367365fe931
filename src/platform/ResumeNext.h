#pragma once

#include "platform/RuntimeError.h"

namespace platform {

// Runs one statement of a procedure that carries on after failures: a statement that raises
// is abandoned, the targets it would have set keep their values, and the caller goes on with
// the next. Returns whether the statement completed. Ending the program is not a failure and
// passes through.
template <class Statement>
bool ResumeNext(Statement&& statement) {
    try {
        statement();
        return true;
    } catch (const RuntimeError&) {
        return false;
    }
}

}  // namespace platform
