#pragma once
// Success or a DeployError, passed up unchanged.
#include <optional>
#include <utility>
#include <variant>

#include "deploy_error.hpp"

namespace autodeploy {

class [[nodiscard]] Status {
public:
    Status() = default;                                      // success
    Status(DeployError error) : error_(std::move(error)) {}  // NOLINT: implicit on purpose

    bool ok() const { return !error_.has_value(); }
    const DeployError& error() const& { return *error_; }
    DeployError&& error() && { return std::move(*error_); }

private:
    std::optional<DeployError> error_;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::in_place_index<0>, std::move(value)) {}            // NOLINT
    Result(DeployError error) : value_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

    bool ok() const { return value_.index() == 0; }
    const T& value() const& { return std::get<0>(value_); }
    T&& value() && { return std::get<0>(std::move(value_)); }
    const DeployError& error() const& { return std::get<1>(value_); }
    DeployError&& error() && { return std::get<1>(std::move(value_)); }

private:
    std::variant<T, DeployError> value_;
};

}  // namespace autodeploy
