// The few framework services the program relies on: the base exception with its
// message, the silent abort, the invalid-operation and range errors, the checked
// conversion of an int index, event slots and a small string list.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace Kiv_framework {

// Root of every exception the program raises on purpose; carries one complete sentence.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// The silent abort: a declined question, a cancelled dialog or scan. Shows nothing.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
    explicit EAbort(const std::string& message) : Exception(message) {}
};

class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

// Raised by bounds-checked character and element access.
class ERangeError : public Exception {
public:
    ERangeError() : Exception("Range check error") {}
    using Exception::Exception;
};

[[noreturn]] void Abort();

// An index or a count that the program keeps in an int, as the standard containers take
// it. It is never negative where it is used so; this checks that, in one place, instead
// of a cast at every use. A negative one raises ERangeError.
inline std::size_t ToSize(int value) {
    if (value < 0)
        throw ERangeError();
    return static_cast<std::size_t>(value);
}

// A vector whose elements are numbered by such ints (records, classes, buckets): an int
// index goes through ToSize, an unsigned one is taken as it is.
template <typename T>
class TIntIndexedVector : public std::vector<T> {
public:
    using std::vector<T>::vector;
    using std::vector<T>::operator[];
    TIntIndexedVector() = default;
    explicit TIntIndexedVector(std::vector<T> values) : std::vector<T>(std::move(values)) {}

    decltype(auto) operator[](int index) { return std::vector<T>::operator[](ToSize(index)); }
    decltype(auto) operator[](int index) const { return std::vector<T>::operator[](ToSize(index)); }
};

// Character k (1-based) of a text, bounds-checked.
char CharAt(const std::string& text, std::size_t position);

// An event slot: one subscriber at most, a later assignment replaces the earlier one.
// The sender is passed as the first argument by convention of the callers.
template <typename... Args>
class TEvent {
public:
    using THandler = std::function<void(Args...)>;

    TEvent() = default;
    TEvent& operator=(THandler handler) {
        Handler = std::move(handler);
        return *this;
    }
    // Binds a member function of a receiver, the usual way views subscribe to models.
    template <typename Receiver, typename Method>
    void Bind(Receiver* receiver, Method method) {
        Handler = [receiver, method](Args... args) {
            (receiver->*method)(std::forward<Args>(args)...);
        };
    }
    void Clear() { Handler = nullptr; }
    explicit operator bool() const { return static_cast<bool>(Handler); }
    // Does nothing when the slot is empty.
    void operator()(Args... args) const {
        if (Handler)
            Handler(std::forward<Args>(args)...);
    }

private:
    THandler Handler;
};

// A string list with an optional sorted, duplicate-ignoring mode, and an untyped object
// per line. The operations are virtual so that a derived list with storage of its own
// behaves the same through a reference to this class.
class TStringList {
public:
    enum class TDuplicates { dupAccept, dupIgnore };

    TStringList() = default;
    TStringList(std::initializer_list<std::string> lines);
    virtual ~TStringList() = default;
    TStringList(const TStringList&) = default;
    TStringList& operator=(const TStringList&) = default;

    bool Sorted = false;
    bool CaseSensitive = false;
    TDuplicates Duplicates = TDuplicates::dupAccept;

    virtual int Count() const { return static_cast<int>(Items.size()); }
    virtual const std::string& operator[](int index) const;
    virtual void* Objects(int index) const;

    // Returns the index of the line; a duplicate ignored by a sorted list returns the
    // index of the line already there.
    virtual int Add(const std::string& text, void* object = nullptr);
    virtual void Delete(int index);
    virtual void Clear() { Items.clear(); }
    virtual int IndexOf(const std::string& text) const;
    // Binary search of a sorted list: true when found, index of the line or of the place
    // it would go.
    virtual bool Find(const std::string& text, int& index) const;

    virtual void SetCapacity(int capacity) { Items.reserve(static_cast<std::size_t>(capacity)); }

    virtual std::vector<std::string> Lines() const;

protected:
    // The order and equality of lines; a derived list changes only this.
    virtual int CompareStrings(const std::string& a, const std::string& b) const;

private:
    struct TItem {
        std::string Text;
        void* Object;
    };
    void CheckIndex(int index) const;

    std::vector<TItem> Items;
};

// Tells the processor that this thread is spinning on a flag another thread will set.
inline void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

} // namespace Kiv_framework
