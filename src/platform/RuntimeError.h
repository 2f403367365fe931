#pragma once

#include <exception>
#include <new>
#include <stdexcept>
#include <string>

namespace platform {

// A failure that ends the program through the error box, the way an untrapped run-time error
// does: a classic error number, its description, and an optional line saying what was affected.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, const std::wstring& description, std::wstring detail = {})
        : std::runtime_error("run-time error " + std::to_string(number)),
          number_(number),
          description_(description),
          detail_(std::move(detail)) {}

    int Number() const noexcept { return number_; }
    const std::wstring& Description() const noexcept { return description_; }
    const std::wstring& Detail() const noexcept { return detail_; }

private:
    int number_;
    std::wstring description_;
    std::wstring detail_;
};

// Thrown by Runtime::End(): unwinds to the event boundary, which ends the program without a box.
// Deliberately not a std::exception, so nothing that skips failing statements can swallow it.
struct ProgramEnd {};

// The error texts the program can raise, under their classic numbers.
namespace errors {
inline RuntimeError FileNotFound(std::wstring detail = {}) {
    return {53, L"File not found", std::move(detail)};
}
inline RuntimeError PermissionDenied(std::wstring detail = {}) {
    return {70, L"Permission denied", std::move(detail)};
}
inline RuntimeError PathFileAccess(std::wstring detail = {}) {
    return {75, L"Path/File access error", std::move(detail)};
}
inline RuntimeError PathNotFound(std::wstring detail = {}) {
    return {76, L"Path not found", std::move(detail)};
}
inline RuntimeError DiskFull(std::wstring detail = {}) {
    return {61, L"Disk full", std::move(detail)};
}
inline RuntimeError DeviceIo(std::wstring detail = {}) {
    return {57, L"Device I/O error", std::move(detail)};
}
inline RuntimeError InvalidCall(std::wstring detail = {}) {
    return {5, L"Invalid procedure call or argument", std::move(detail)};
}
inline RuntimeError OutOfMemory() { return {7, L"Out of memory"}; }
}  // namespace errors

// What a failure is reported as: itself when it is a run-time error, "Out of memory" for an
// allocation that failed, an internal error for anything else. May itself run out of memory.
inline RuntimeError ErrorOf(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const RuntimeError& error) {
        return error;
    } catch (const std::bad_alloc&) {
        return errors::OutOfMemory();
    } catch (...) {
        return RuntimeError(51, L"Internal error");
    }
}

// Decimal digits of a small non-negative number, without the printf machinery behind
// std::to_wstring (it would double the size of the program).
inline std::wstring DecimalText(int number) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + number % 10));
        number /= 10;
    } while (number > 0);
    return digits;
}

// The text of the error box: the classic two lines, then what was affected, if known.
inline std::wstring ErrorBoxText(const RuntimeError& error) {
    std::wstring text =
        L"Run-time error '" + DecimalText(error.Number()) + L"':\r\n\r\n" + error.Description();
    if (!error.Detail().empty()) text += L"\r\n\r\n" + error.Detail();
    return text;
}

}  // namespace platform
