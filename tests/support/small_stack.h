// Runs test code on a thread with a small stack, as the host's plugin thread may have.

#pragma once

#include <cstddef>
#include <functional>

namespace Quarn::test {

// The stack size the decoders and value trees are held to.
inline constexpr std::size_t kSmallStackBytes = 256 * 1024;

// Runs work on a new thread whose stack is kSmallStackBytes and waits for it to finish.
void OnSmallStack(const std::function<void()>& work);

}  // namespace Quarn::test
