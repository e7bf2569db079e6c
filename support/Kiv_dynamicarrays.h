// Reference-counted arrays whose copies share one buffer, the int array builder and
// helpers between vectors, string lists and string arrays.
#pragma once

#include "Kiv_framework.h"

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace Kiv_dynamicarrays {

// Copies share one buffer: a write through one copy is seen through every other.
// SetLength gives this variable a buffer of its own, as a resize must not surprise the
// other holders.
template <typename T>
class DynamicArray {
public:
    DynamicArray() = default;
    explicit DynamicArray(int length) { SetLength(length); }
    DynamicArray(std::initializer_list<T> values) {
        SetLength(static_cast<int>(values.size()));
        std::copy(values.begin(), values.end(), Data.get());
    }

    int Length() const { return Size; }
    bool Empty() const { return Size == 0; }

    // Elements keep their values up to the new length; new elements are value-initialised.
    void SetLength(int length) {
        if (length < 0)
            throw Kiv_framework::ERangeError();
        if (length == 0) {
            Data.reset();
            Size = 0;
            return;
        }
        std::shared_ptr<T[]> fresh(new T[static_cast<std::size_t>(length)]());
        std::move(Data.get(), Data.get() + std::min(Size, length), fresh.get());
        Data = std::move(fresh);
        Size = length;
    }

    T& operator[](int index) const { return Data[index]; }
    // Bounds-checked access.
    T& At(int index) const {
        if (index < 0 || index >= Size)
            throw Kiv_framework::ERangeError();
        return (*this)[index];
    }

    T* begin() const { return Data.get(); }
    T* end() const { return Data.get() + Size; }

    // A copy with a buffer of its own.
    DynamicArray Copy() const {
        DynamicArray result;
        if (Size > 0) {
            result.Data.reset(new T[static_cast<std::size_t>(Size)]());
            std::copy(begin(), end(), result.Data.get());
            result.Size = Size;
        }
        return result;
    }

    bool SharesBufferWith(const DynamicArray& other) const { return Data == other.Data; }

    friend bool operator==(const DynamicArray& a, const DynamicArray& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    std::shared_ptr<T[]> Data;
    int Size = 0;
};

using TIntegerDynArray = DynamicArray<int>;
using TBooleanDynArray = DynamicArray<bool>;
using TStringDynArray = DynamicArray<std::string>;

class EDynamicArrayError : public Kiv_framework::Exception {
public:
    using Exception::Exception;
};

// The out-of-range error of an element access, naming the index and the array length
// (a Kiv_framework::ERangeError).
[[noreturn]] void DynArrayOutOfRange(int index, int length);

template <typename T>
class TDynamicArrayBuilder;

// Grows an int array value by value: capacity 8, then times 1.5 (8, 12, 18, 27, ...).
template <>
class TDynamicArrayBuilder<int> {
public:
    TDynamicArrayBuilder() = default;
    virtual ~TDynamicArrayBuilder() = default;

    virtual int Add(int value) {
        Grow();
        Data[Count] = value;
        return Count++;
    }
    virtual void Clear() {
        if (Count != 0) {
            Count = 0;
            Data = DynamicArray<int>();
        }
    }
    virtual void Grow() {
        if (Capacity() > Count)
            return;
        const int capacity = Capacity();
        SetCapacity(capacity < 8 ? 8 : capacity + capacity / 2);
    }
    virtual DynamicArray<int> Extract() {
        DynamicArray<int> result(Count);
        std::copy(Data.begin(), Data.begin() + Count, result.begin());
        Clear();
        return result;
    }

    int Capacity() const { return Data.Length(); }
    void SetCapacity(int capacity) {
        if (capacity < Count)
            throw EDynamicArrayError("The program cannot set the capacity.");
        Data.SetLength(capacity);
    }
    int GetCount() const { return Count; }

    DynamicArray<int> Data;
    int Count = 0;
};

using TIntegerDynArrayBuilder = TDynamicArrayBuilder<int>;

// The values of a vector, in order, as an array of its own. A vector longer than an array
// can be raises Kiv_framework::ERangeError.
template <typename T>
DynamicArray<T> VectorToArray(std::vector<T> values) {
    if (values.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        throw Kiv_framework::ERangeError();
    DynamicArray<T> result(static_cast<int>(values.size()));
    std::move(values.begin(), values.end(), result.begin());
    return result;
}

TStringDynArray StringsToArray(const Kiv_framework::TStringList& strings);
void ArrayToStrings(const TStringDynArray& array, Kiv_framework::TStringList& strings);
// Lines end at CR LF, a lone CR or a lone LF; a final break adds no empty line; the
// text ends at its first NUL.
TStringDynArray TextToLines(const std::string& text);
TStringDynArray DropEmptyLines(const TStringDynArray& lines);

} // namespace Kiv_dynamicarrays
