#pragma once

#include <cstdint>

// Thousands of held connections need more descriptors than the usual soft limit of 1024.
// Thread-safe (one system call).
namespace DescriptorLimit {

// Raises the soft RLIMIT_NOFILE to the hard limit and returns the soft limit now in force.
std::uint64_t RaiseToHard();

} // namespace DescriptorLimit
