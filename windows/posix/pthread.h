#pragma once
// winpthreads has no pthread_setattr_default_np: a thread it starts without a stack size (as std::thread
// does) gets the reserve the executable's header asks for, which the linker sets (--stack).

#include_next <pthread.h>

/// 0 when threads started without a stack size get at least the stack size of `attributes`, that is,
/// when the executable's stack reserve is as large; EINVAL when not. It cannot change the reserve.
int pthread_setattr_default_np(const pthread_attr_t* attributes);
