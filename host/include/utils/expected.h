#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace Utils {

template<typename E>
class unexpected
{
public:
    explicit unexpected(E error) : m_error(std::move(error)) {}
    const E &error() const & { return m_error; }
    E &&error() && { return std::move(m_error); }

private:
    E m_error;
};

template<typename E>
unexpected<std::decay_t<E>> make_unexpected(E &&error)
{
    return unexpected<std::decay_t<E>>(std::forward<E>(error));
}

// Either a value or an error text.
template<typename T, typename E>
class expected
{
public:
    expected(const T &value) : m_value(value) {}
    expected(T &&value) : m_value(std::move(value)) {}
    template<typename G>
    expected(const unexpected<G> &error) : m_error(error.error()) {}
    template<typename G>
    expected(unexpected<G> &&error) : m_error(std::move(error).error()) {}

    bool has_value() const { return m_value.has_value(); }
    explicit operator bool() const { return has_value(); }

    const T &value() const & { return *m_value; }
    T &value() & { return *m_value; }
    const T &operator*() const & { return *m_value; }
    T &operator*() & { return *m_value; }
    const T *operator->() const { return &*m_value; }
    T *operator->() { return &*m_value; }

    const E &error() const { return m_error; }

private:
    std::optional<T> m_value;
    E m_error;
};

template<typename E>
class expected<void, E>
{
public:
    expected() = default;
    template<typename G>
    expected(const unexpected<G> &error) : m_error(error.error()), m_ok(false) {}

    bool has_value() const { return m_ok; }
    explicit operator bool() const { return m_ok; }
    const E &error() const { return m_error; }

private:
    E m_error;
    bool m_ok = true;
};

template<typename T>
using expected_str = expected<T, QString>;

} // namespace Utils
