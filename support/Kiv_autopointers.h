// Scoped owners: everything created inside an operation is held by one of these until
// ownership passes on.
#pragma once

#include <memory>

namespace Kiv_autopointers {

template <typename T>
using TAutoPointer = std::unique_ptr<T>;

template <typename T, typename Deleter>
using TCustomAutoPointer = std::unique_ptr<T, Deleter>;

template <typename T>
using TAutoArray = std::unique_ptr<T[]>;

} // namespace Kiv_autopointers
