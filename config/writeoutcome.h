#pragma once

// How a configuration write ended: the first exchange took it, the one retry
// took it, or the retry failed as well (-8888 twice).
enum class WriteOutcome { Written, WrittenOnRetry, FailedAfterRetry };
